// The style-sheet scanner: url() values and @import strings, byte by byte across blocks.
#include <algorithm>

#include "fetch/link_scan.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsLeadByte(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsNameChar(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || b >= 0x80;
}

}  // namespace

void KtWdlCssScanner::Reset(bool shiftJis) {
  m_State = kText;
  m_ShiftJis = shiftJis;
  m_Trail = m_Escape = m_Star = m_Slash = m_Overlong = m_InUrl = false;
  m_Quote = 0;
  m_Recent.fill(' ');
  m_Link.clear();
}

void KtWdlCssScanner::Remember(char c) {
  std::copy(m_Recent.begin() + 1, m_Recent.end(), m_Recent.begin());
  m_Recent.back() = Lower(c);
}

bool KtWdlCssScanner::RecentEndsWith(std::string_view word) const {
  return std::string_view(m_Recent.data(), m_Recent.size()).ends_with(word);
}

bool KtWdlCssScanner::EndLink(KtWdlLinkSink* sink) {
  bool ok = true;
  if (!m_Overlong) {
    // Blanks around an unquoted value are no part of the link.
    ok = sink->Write(sink->Resolve(m_Link));
  }
  m_Link.clear();
  m_Overlong = false;
  m_State = kText;
  Remember(' ');
  return ok;
}

bool KtWdlCssScanner::DropLink(KtWdlLinkSink* sink) {
  m_Overlong = true;
  bool ok = sink->Write(m_Link);
  m_Link.clear();
  m_Link.shrink_to_fit();
  return ok;
}

bool KtWdlCssScanner::Feed(std::string_view text, KtWdlLinkSink* sink) {
  // Text that passes unchanged is written in runs from runStart; a link being collected is held
  // in m_Link (or, once overlong, passed on as it comes).
  size_t runStart = 0;
  auto flushRun = [&](size_t to) {
    bool ok = to <= runStart || sink->Write(text.substr(runStart, to - runStart));
    runStart = to;
    return ok;
  };
  auto collecting = [&] { return (m_State == kUrlQuoted || m_State == kUrlBare) && !m_Overlong; };
  // A byte of a url() value: held with the link, which is passed on once it grows too long.
  auto takeLinkByte = [&](char c, bool lead, size_t i) {
    if (c == '\\') m_Escape = true;
    m_Trail = lead;
    if (m_Overlong) return true;
    m_Link += c;
    if (m_Link.size() <= kMaxLinkLength) return true;
    runStart = i + 1;
    return DropLink(sink);
  };

  // The link ends at position i: an overlong one was passed on up to there, a held one is
  // replaced by what it resolves to; the byte at i starts the next run.
  auto endAt = [&](size_t i, size_t* start, KtWdlLinkSink* out) {
    if (m_Overlong && !flushRun(i)) return false;
    *start = i;
    return EndLink(out);
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (m_Trail) {
      // The second byte of a double-byte character is an ordinary byte wherever it stands.
      m_Trail = false;
      if (collecting()) m_Link += c;
      if (m_State == kText) Remember('a');
      continue;
    }
    const bool lead = m_ShiftJis && IsLeadByte(c);
    if (m_Escape) {
      m_Escape = false;
      m_Trail = lead;
      if (collecting()) m_Link += c;
      continue;
    }
    switch (m_State) {
      case kText:
        if (m_Slash && c == '*') {
          m_State = kComment;
          m_Star = false;
        } else if ((IsBlank(c) || c == '"' || c == '\'') && RecentEndsWith("@import")) {
          m_State = kImportSpace;
        } else if (c == '"' || c == '\'') {
          m_State = kString;
          m_Quote = c;
        } else if (c == '(' && RecentEndsWith("url") &&
                   !IsNameChar(m_Recent[m_Recent.size() - 4])) {
          m_State = kUrlSpace;
        } else if (c == '\\') {
          m_Escape = true;
        }
        m_Slash = c == '/';
        m_Trail = lead;
        if (m_State == kText) Remember(c);
        if (m_State == kImportSpace && c != ' ' && !IsBlank(c)) {
          // A quote right after the keyword opens the imported URL.
          m_InUrl = false;
          m_State = kUrlQuoted;
          m_Quote = c;
          if (!flushRun(i + 1)) return false;
        }
        break;
      case kBadUrl:
        if (c == ')') m_State = kText;
        break;
      case kComment:
        if (m_Star && c == '/') {
          m_State = kText;
          m_Slash = false;
          Remember(' ');
        }
        m_Star = c == '*';
        break;
      case kString:
        if (c == '\\') {
          m_Escape = true;
        } else if (c == m_Quote || c == '\n') {
          // A line feed ends an unterminated string.
          m_State = kText;
          m_Slash = false;
          Remember(' ');
        }
        m_Trail = lead;
        break;
      case kImportSpace:
      case kUrlSpace:
        if (IsBlank(c)) break;
        if (c == '"' || c == '\'') {
          m_InUrl = m_State == kUrlSpace;
          m_State = kUrlQuoted;
          m_Quote = c;
          if (!flushRun(i + 1)) return false;
        } else if (m_State == kImportSpace) {
          // @import url(...) and anything else: back to text, where this byte counts again.
          m_State = kText;
          m_Slash = false;
          Remember(' ');
          --i;
        } else if (c == ')') {
          m_State = kText;
          Remember(' ');
        } else {
          m_State = kUrlBare;
          if (!flushRun(i)) return false;
          --i;
        }
        break;
      case kUrlQuoted:
        if (c == '\n' && !m_Overlong) {
          // A line feed ends an unterminated string, which is no link: it is passed on as it is.
          m_Overlong = true;
          if (!sink->Write(m_Link)) return false;
          runStart = i;
        }
        if (c == m_Quote || c == '\n') {
          if (!endAt(i, &runStart, sink)) return false;
          // A broken url() value goes on up to its ")".
          if (c == '\n' && m_InUrl) m_State = kBadUrl;
          break;
        }
        if (!takeLinkByte(c, lead, i)) return false;
        break;
      case kUrlBare:
        if (IsBlank(c) || c == ')') {
          if (!endAt(i, &runStart, sink)) return false;
          break;
        }
        if (!takeLinkByte(c, lead, i)) return false;
        break;
    }
  }
  // A link still being collected waits for the next piece; everything else is passed on.
  if (collecting()) {
    runStart = text.size();
    return true;
  }
  return flushRun(text.size());
}

bool KtWdlCssScanner::Finish(KtWdlLinkSink* sink) {
  // A link that the end of the text cut: what was held is resolved (a bare value) or passed
  // on (an unterminated string is no link).
  bool ok = true;
  if ((m_State == kUrlQuoted || m_State == kUrlBare) && !m_Overlong) {
    ok = m_State == kUrlBare ? sink->Write(sink->Resolve(m_Link)) : sink->Write(m_Link);
  }
  Reset(m_ShiftJis);
  return ok;
}
