// Link forms beyond the tokenizer's attributes: srcset, style attributes and blocks, meta
// refresh and style sheets. Their values are passed through the streaming scanners of
// link_scan.h, which hand each link found back here to be resolved like an attribute's link.
#include <algorithm>
#include <cstring>

#include "fetch/fetcher.h"
#include "fetch/page_sink.h"
#include "harvo.h"
#include "platform/codepage.h"
#include "util/kanji.h"

namespace {

constexpr std::string_view kStyleEnd = "</style";
constexpr size_t kLongestTagName = 16;

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// "name:" before any "/", "?" or "#": a link of its own scheme.
bool HasScheme(std::string_view link, std::string_view* scheme) {
  for (size_t i = 0; i < link.size(); ++i) {
    const char c = link[i];
    if (c == ':') {
      *scheme = link.substr(0, i);
      return i > 0;
    }
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    if (!letter && !(i > 0 && other)) return false;
  }
  return false;
}

}  // namespace

int KtWdlFetcher::SpecialAttribute(std::string_view name) const {
  if (cp932::EqualsNoCase(name, "srcset")) return kValueSrcset;
  if (cp932::EqualsNoCase(name, "style")) return kValueStyle;
  if (m_RefreshTag && m_TagName == "meta" && cp932::EqualsNoCase(name, "content")) {
    return kValueRefresh;
  }
  return kValueNone;
}

void KtWdlFetcher::NoteTagToken(std::string_view token, bool tagName) {
  if (tagName) {
    m_TagName.clear();
    m_RefreshTag = false;
    if (token.size() <= kLongestTagName) {
      for (char c : token) m_TagName += Lower(c);
    }
    return;
  }
  // <meta http-equiv="refresh" content="...">: the content that follows holds a URL.
  if (m_InTag && m_TagName == "meta" && cp932::EqualsNoCase(token, "refresh")) {
    m_RefreshTag = true;
  }
}

bool KtWdlFetcher::IsShiftJisText() const {
  return m_KanjiCode == KANJI_SJIS || IsConverted();
}

bool KtWdlFetcher::IsStyleSheet() const {
  return m_Site->HasOption(HVR_OPT_MORE_LINKS) == 1 && cp932::EqualsNoCase(m_Extension, ".css");
}

void KtWdlFetcher::ScanValue(const char** cursor, size_t* count, hvfs::OutputFile* out,
                             KtWdlLinkList* links, int depth) {
  const char* p = *cursor;
  const char* end = p + *count;
  if (m_ValueMode == kValueWait) {
    const char* run = p;
    while (p < end && IsSpaceChar(static_cast<unsigned char>(*p))) ++p;
    if (out != nullptr) WriteSpaceRun(run, p, out);
    if (p < end && *p == '>') {
      // No value after all: the tag ends.
      m_ValueMode = kNoValue;
      m_AttributePending = 0;
    } else if (p < end) {
      m_ValueQuote = (*p == '"' || *p == '\'') ? *p : 0;
      if (m_ValueQuote != 0) {
        if (out != nullptr) out->Write(p, 1);
        ++p;
      }
      m_ValueScanner = m_SpecialKind == kValueSrcset  ? static_cast<KtWdlLinkScanner*>(&m_Srcset)
                       : m_SpecialKind == kValueStyle ? static_cast<KtWdlLinkScanner*>(&m_Css)
                                                      : &m_Refresh;
      m_ValueScanner->Reset(IsShiftJisText());
      m_ValueMode = kValueIn;
    }
  }
  if (m_ValueMode == kValueIn) {
    // A quoted value ends at its quote, an unquoted one at a blank or the tag's end.
    const char* stop = end;
    if (m_ValueQuote != 0) {
      const void* q = std::memchr(p, m_ValueQuote, static_cast<size_t>(end - p));
      if (q != nullptr) stop = static_cast<const char*>(q);
    } else {
      for (const char* q = p; q < end; ++q) {
        if (*q == '>' || IsSpaceChar(static_cast<unsigned char>(*q))) {
          stop = q;
          break;
        }
      }
    }
    PageSink sink(this, out, links, depth, true);
    m_ValueScanner->Feed(std::string_view(p, static_cast<size_t>(stop - p)), &sink);
    p = stop;
    if (p < end) {
      m_ValueScanner->Finish(&sink);
      if (m_ValueQuote != 0) {
        if (out != nullptr) out->Write(p, 1);
        ++p;
      }
      m_ValueMode = kNoValue;
      m_ValueScanner = nullptr;
      m_AttributePending = 0;
      m_AfterEquals = 0;
    }
  }
  *count = static_cast<size_t>(end - p);
  *cursor = p;
}

void KtWdlFetcher::ScanStyle(const char** cursor, size_t* count, hvfs::OutputFile* out,
                             KtWdlLinkList* links, int depth) {
  PageSink sink(this, out, links, depth, true);
  const char* p = *cursor;
  const char* end = p + *count;
  while (p < end) {
    if (!m_StyleHeld.empty()) {
      while (p < end && m_StyleHeld.size() < kStyleEnd.size() &&
             Lower(*p) == kStyleEnd[m_StyleHeld.size()]) {
        m_StyleHeld += *p++;
      }
      if (m_StyleHeld.size() == kStyleEnd.size()) {
        // The end tag: what the tokenizer would have made of its "<" and name.
        m_Css.Finish(&sink);
        if (out != nullptr) out->Write(m_StyleHeld.data(), m_StyleHeld.size());
        m_InStyle = false;
        m_StyleHeld.clear();
        m_InTag = 1;
        m_InQuote = m_AfterOpen = m_AfterEquals = m_AttributePending = 0;
        m_CharsetState = 0;
        m_TagName = "/style";
        break;
      }
      if (p == end) break;
      // Not the end tag: what was held is style text.
      m_Css.Feed(m_StyleHeld, &sink);
      m_StyleHeld.clear();
      continue;
    }
    const void* lt = std::memchr(p, '<', static_cast<size_t>(end - p));
    const char* stop = lt != nullptr ? static_cast<const char*>(lt) : end;
    m_Css.Feed(std::string_view(p, static_cast<size_t>(stop - p)), &sink);
    p = stop;
    if (p < end) m_StyleHeld.assign(p++, 1);
  }
  *count = static_cast<size_t>(end - p);
  *cursor = p;
}

void KtWdlFetcher::FinishValueAndStyle(hvfs::OutputFile* out, KtWdlLinkList* links, int depth) {
  PageSink sink(this, out, links, depth, true);
  if (m_InStyle) {
    m_Css.Feed(m_StyleHeld, &sink);
    m_Css.Finish(&sink);
    m_InStyle = false;
    m_StyleHeld.clear();
  }
  if (m_ValueMode == kValueIn) m_ValueScanner->Finish(&sink);
  m_ValueMode = kNoValue;
  m_ValueScanner = nullptr;
}

std::string KtWdlFetcher::ResolveFoundLink(std::string_view found, KtWdlLinkList* links,
                                           int depth) {
  // A copy: the text may lie in the token, which this replaces for a while.
  const std::string text(found);
  const std::string_view value = text;
  // Links of other schemes (data:, mailto:, ...) are no files of the site.
  std::string_view scheme;
  if (value.empty() || (HasScheme(value, &scheme) && !cp932::EqualsNoCase(scheme, "http") &&
                        !cp932::EqualsNoCase(scheme, "https"))) {
    return std::string(value);
  }
  // The link is the part before its query and fragment, as a tokenizer value is.
  const bool queryPages = m_Site->HasOption(HVR_OPT_QUERY_PAGES) == 1;
  const size_t cut = std::min(value.find_first_of(queryPages ? "#" : "?#"), value.size());
  if (cut == 0) return std::string(value);
  std::string held = std::move(m_Token);
  m_Token.assign(value.substr(0, cut));
  ProcessLink(links, depth);
  std::string result = std::move(m_Token);
  result.append(value.substr(cut));
  m_Token = std::move(held);
  return result;
}
