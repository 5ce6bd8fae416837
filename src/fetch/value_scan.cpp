// The attribute-value scanners: srcset candidates and the URL of a meta refresh.
#include <string>

#include "fetch/link_scan.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

}  // namespace

// ---- srcset ----

void KtWdlSrcsetScanner::Reset(bool) {
  m_State = kGap;
  m_Overlong = false;
  m_Link.clear();
}

bool KtWdlSrcsetScanner::EndUrl(KtWdlLinkSink* sink) {
  bool ok = true;
  if (!m_Overlong) {
    // Commas that end the URL end its candidate, which then has no descriptors.
    size_t end = m_Link.find_last_not_of(',');
    end = end == std::string::npos ? 0 : end + 1;
    std::string_view link = std::string_view(m_Link).substr(0, end);
    ok = (link.empty() || sink->Write(sink->Resolve(link))) &&
         sink->Write(std::string_view(m_Link).substr(end));
    m_State = end < m_Link.size() ? kGap : kDescriptor;
  } else {
    m_State = kDescriptor;
  }
  m_Link.clear();
  m_Overlong = false;
  return ok;
}

bool KtWdlSrcsetScanner::Feed(std::string_view text, KtWdlLinkSink* sink) {
  size_t runStart = 0;
  auto flushRun = [&](size_t to) {
    bool ok = to <= runStart || sink->Write(text.substr(runStart, to - runStart));
    runStart = to;
    return ok;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (m_State) {
      case kGap:
        if (IsBlank(c) || c == ',') break;
        if (!flushRun(i)) return false;
        m_State = kUrl;
        [[fallthrough]];
      case kUrl:
        if (IsBlank(c)) {
          if (m_Overlong && !flushRun(i)) return false;
          runStart = i;
          if (!EndUrl(sink)) return false;
          break;
        }
        if (m_Overlong) break;
        m_Link += c;
        if (m_Link.size() > kMaxLinkLength) {
          m_Overlong = true;
          if (!sink->Write(m_Link)) return false;
          m_Link.clear();
          runStart = i + 1;
        }
        break;
      case kDescriptor:
        if (c == ',') m_State = kGap;
        break;
    }
  }
  if (m_State == kUrl && !m_Overlong) return true;
  return flushRun(text.size());
}

bool KtWdlSrcsetScanner::Finish(KtWdlLinkSink* sink) {
  bool ok = m_State != kUrl || EndUrl(sink);
  Reset(false);
  return ok;
}

// ---- meta refresh ----

void KtWdlRefreshScanner::Reset(bool) {
  m_Overlong = false;
  m_Value.clear();
}

bool KtWdlRefreshScanner::Feed(std::string_view text, KtWdlLinkSink* sink) {
  if (m_Overlong) return sink->Write(text);
  m_Value.append(text);
  if (m_Value.size() <= kMaxLinkLength) return true;
  m_Overlong = true;
  bool ok = sink->Write(m_Value);
  m_Value.clear();
  m_Value.shrink_to_fit();
  return ok;
}

bool KtWdlRefreshScanner::Finish(KtWdlLinkSink* sink) {
  if (m_Overlong) {
    Reset(false);
    return true;
  }
  const std::string value = std::move(m_Value);
  Reset(false);
  // The delay, then ";" or ",", blanks, an optional "url" and "=", an optional quote, the URL.
  size_t at = value.find_first_of(";,");
  if (at == std::string::npos) return sink->Write(value);
  ++at;
  while (at < value.size() && IsBlank(value[at])) ++at;
  if (value.size() - at >= 3 && EqualsNoCase(std::string_view(value).substr(at, 3), "url")) {
    size_t eq = at + 3;
    while (eq < value.size() && IsBlank(value[eq])) ++eq;
    if (eq < value.size() && value[eq] == '=') {
      at = eq + 1;
      while (at < value.size() && IsBlank(value[at])) ++at;
    }
  }
  size_t end = value.size();
  if (at < end && (value[at] == '\'' || value[at] == '"')) {
    size_t close = value.find(value[at], at + 1);
    ++at;
    if (close != std::string::npos) end = close;
  }
  while (end > at && IsBlank(value[end - 1])) --end;
  if (at >= end) return sink->Write(value);
  std::string_view v(value);
  return sink->Write(v.substr(0, at)) && sink->Write(sink->Resolve(v.substr(at, end - at))) &&
         sink->Write(v.substr(end));
}
