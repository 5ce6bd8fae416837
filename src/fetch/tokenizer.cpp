// The page tokenizer and its token state machine: finds the values of the link attributes
// outside comments and writes the saved copy token by token.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fetch/fetcher.h"
#include "harvo.h"
#include "platform/codepage.h"

namespace {

enum ByteClass : unsigned char { kOrdinary = 0, kSpace = 1, kDelimiter = 2 };

constexpr std::array<unsigned char, 256> MakeClasses() {
  std::array<unsigned char, 256> table{};
  for (unsigned char c : {' ', '\t', '\n', '\r'}) table[c] = kSpace;
  for (unsigned char c : {'<', '>', '"', '=', '#', '?'}) table[c] = kDelimiter;
  return table;
}
constexpr std::array<unsigned char, 256> kClasses = MakeClasses();

inline unsigned char ClassOf(char c) {
  return kClasses[static_cast<unsigned char>(c)];
}

constexpr int kTokenStep = 1024;

// The first delimiter byte in [p, end), or end.
const char* FindDelimiter(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i lt = _mm_set1_epi8('<'), gt = _mm_set1_epi8('>'), quote = _mm_set1_epi8('"');
  const __m128i eq = _mm_set1_epi8('='), hash = _mm_set1_epi8('#'), ask = _mm_set1_epi8('?');
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, lt), _mm_cmpeq_epi8(v, gt));
    hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, eq)));
    hit = _mm_or_si128(hit, _mm_or_si128(_mm_cmpeq_epi8(v, hash), _mm_cmpeq_epi8(v, ask)));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return p + std::countr_zero(mask);
    p += 16;
  }
#endif
  while (p < end && ClassOf(*p) != kDelimiter) ++p;
  return p;
}

}  // namespace

int KtWdlFetcher::IsSpaceChar(unsigned char c) {
  return kClasses[c] == kSpace ? 1 : 0;
}

int KtWdlFetcher::IsDelimiterChar(unsigned char c) {
  return kClasses[c] == kDelimiter ? 1 : 0;
}

void KtWdlFetcher::WriteSpace(unsigned char c, hvfs::OutputFile* out) {
  if (c == '\n') {
    out->Write("\r\n", 2);
  } else {
    out->Write(&c, 1);
  }
}

void KtWdlFetcher::WriteSpaceRun(const char* begin, const char* end, hvfs::OutputFile* out) {
  const char* from = begin;
  while (from < end) {
    const auto* q =
        static_cast<const char*>(std::memchr(from, '\n', static_cast<size_t>(end - from)));
    if (q == nullptr) break;
    out->Write(from, static_cast<size_t>(q - from));
    WriteSpace('\n', out);
    from = q + 1;
  }
  out->Write(from, static_cast<size_t>(end - from));
}

bool KtWdlFetcher::IsPlainText() const {
  return (m_TokenLength | m_InTag | m_InQuote | m_AttributePending | m_AfterEquals | m_InComment |
          m_AfterOpen | m_CommentEndSeen) == 0;
}

void KtWdlFetcher::SkipPlainText(const char** cursor, size_t* count, hvfs::OutputFile* out) {
  const char* begin = *cursor;
  const char* end = begin + *count;
  const char* p = FindDelimiter(begin, end);
  // What token-by-token handling would write: every word unchanged, blanks as they are, a line
  // feed as CR LF.
  if (out != nullptr) WriteSpaceRun(begin, p, out);
  *cursor = p;
  *count = static_cast<size_t>(end - p);
}

void KtWdlFetcher::ResetTokenizer() {
  m_CharsetState = 0;
  m_RawOut = nullptr;
  m_RawHeld.clear();
  m_RawWritten = m_BlockOffset = m_TokenStart = 0;
  m_Block = nullptr;
  m_TokenCapacity = kTokenStep;
  m_InToken = m_TokenLength = m_InTag = m_InQuote = m_AttributePending = 0;
  m_AfterEquals = m_InComment = m_AfterOpen = m_CommentEndSeen = 0;
  m_Token.clear();
  m_TokenOverlong = 0;
  m_TokenEnd.clear();
  m_SpecialKind = kValueNone;
  m_ValueMode = kNoValue;
  m_ValueQuote = 0;
  m_ValueScanner = nullptr;
  m_TagName.clear();
  m_RefreshTag = false;
  m_InStyle = false;
  m_StyleHeld.clear();
}

int KtWdlFetcher::IsLinkAttribute(std::string_view token) const {
  for (const std::string& name : m_AttributeNames) {
    if (cp932::EqualsNoCase(token, name)) return 1;
  }
  return 0;
}

bool KtWdlFetcher::FinishToken() {
  // Blanks collected inside double quotes are not part of the token.
  if (m_InQuote) {
    m_Token.erase(
        std::remove_if(m_Token.begin(), m_Token.end(), [](char c) { return ClassOf(c) == kSpace; }),
        m_Token.end());
  }
  m_TokenLength = 0;
  m_InToken = 0;
  return true;
}

void KtWdlFetcher::AppendToToken(const char* begin, const char* end, hvfs::OutputFile* out) {
  const size_t size = static_cast<size_t>(end - begin);
  m_InToken = 1;
  if (!m_TokenOverlong && m_Token.size() + size <= kMaxTokenLength) {
    m_Token.append(begin, size);
    m_TokenLength += static_cast<int>(size);
    return;
  }
  if (!m_TokenOverlong) {
    // What was collected goes first; the token keeps it only for the state machine's tests.
    m_TokenOverlong = 1;
    SpillToken(m_Token, out);
  }
  SpillToken(std::string_view(begin, size), out);
  // The length counts on, so that the token stays in progress (at 0 NextToken would take the
  // rest of it for a new token, even when the first piece came in one block); it saturates
  // just past the limit, as nothing beyond it is held.
  m_TokenLength =
      static_cast<int>(std::min(static_cast<size_t>(m_TokenLength) + size, kMaxTokenLength + 1));
}

void KtWdlFetcher::SpillToken(std::string_view bytes, hvfs::OutputFile* out) {
  // Whitespace stands in a token only between quotes, where FinishToken would remove it.
  size_t from = 0;
  for (size_t i = 0; i <= bytes.size(); ++i) {
    if (i < bytes.size() && ClassOf(bytes[i]) != kSpace) continue;
    std::string_view piece = bytes.substr(from, i - from);
    from = i + 1;
    if (piece.empty()) continue;
    if (out != nullptr) out->Write(piece.data(), piece.size());
    m_TokenEnd.append(piece.substr(piece.size() > 2 ? piece.size() - 2 : 0));
    if (m_TokenEnd.size() > 2) m_TokenEnd.erase(0, m_TokenEnd.size() - 2);
  }
}

bool KtWdlFetcher::TokenEndsWithDashes() const {
  if (m_TokenOverlong) return m_TokenEnd == "--";
  return m_Token.size() >= 2 && m_Token.compare(m_Token.size() - 2, 2, "--") == 0;
}

int KtWdlFetcher::NextToken(const char** cursor, size_t* count, hvfs::OutputFile* out) {
  // The capacity is bookkeeping only: the storage grows geometrically, so a token of any
  // length is collected in linear time.
  while (m_TokenLength >= m_TokenCapacity) m_TokenCapacity += kTokenStep;
  if (m_TokenLength == 0) {
    m_Token.clear();
    m_InToken = 0;
    m_TokenOverlong = 0;
    m_TokenEnd.clear();
  }
  const char* p = *cursor;
  const char* end = p + *count;
  bool complete = false;
  // With query pages a link value keeps its query: "?" and "=" do not end it.
  const bool queryValue = m_AfterEquals && m_Site->HasOption(HVR_OPT_QUERY_PAGES) == 1;
  auto classOf = [queryValue](char c) {
    return queryValue && (c == '?' || c == '=') ? static_cast<unsigned char>(kOrdinary)
                                                : ClassOf(c);
  };
  while (p < end) {
    unsigned char cls = classOf(*p);
    if (cls == kSpace && !m_InQuote) {
      if (m_InToken) {
        complete = true;
        break;
      }
      // Whitespace between tokens goes to the copy, a line feed as CR LF.
      const char* run = p;
      while (p < end && ClassOf(*p) == kSpace) ++p;
      if (out != nullptr) WriteSpaceRun(run, p, out);
      continue;
    }
    if (cls == kDelimiter) {
      if (m_TokenLength == 0) {
        m_TokenStart = OffsetOf(p);
        m_Token.assign(1, *p++);
      }
      complete = true;
      break;
    }
    // A run of token bytes (inside quotes whitespace counts as one).
    const char* run = p;
    if (m_TokenLength == 0) m_TokenStart = OffsetOf(run);
    while (p < end) {
      unsigned char c = classOf(*p);
      if (c == kDelimiter || (c == kSpace && !m_InQuote)) break;
      ++p;
    }
    AppendToToken(run, p, out);
  }
  *count = static_cast<size_t>(end - p);
  *cursor = p;
  if (!complete) return 0;
  return FinishToken() ? 1 : 0;
}

int KtWdlFetcher::ProcessToken(KtWdlLinkList* links, int depth) {
  const std::string& t = m_Token;
  const char first = t.empty() ? '\0' : t[0];
  const bool tagName = m_AfterOpen != 0;
  const bool moreLinks = m_Site->HasOption(HVR_OPT_MORE_LINKS) == 1;

  if (m_AfterOpen) {
    if (t == "!--" || t == "COMMENT") {
      m_InComment = 1;
      m_CommentEndSeen = 0;
    }
  } else if (m_CommentEndSeen) {
    m_CommentEndSeen = 0;
    if (first == '>') m_InComment = 0;
  } else if (m_InComment) {
    if (TokenEndsWithDashes()) m_CommentEndSeen = 1;
    if (t == "/COMMENT") m_CommentEndSeen = 1;
  }
  m_AfterOpen = 0;
  if (m_InComment) return 0;
  if (moreLinks) NoteTagToken(t, tagName);

  if (first == '<' && !m_InQuote) {
    m_AfterOpen = 1;
    m_InTag = 1;
    m_AfterEquals = 0;
  } else if (first == '>') {
    m_InTag = 0;
    m_AfterEquals = 0;
    m_InQuote = 0;
    if (moreLinks && m_TagName == "style") {
      // The text up to the end tag is a style sheet (ScanStyle).
      m_InStyle = true;
      m_StyleHeld.clear();
      m_Css.Reset(IsShiftJisText());
    }
    m_TagName.clear();
    m_RefreshTag = false;
  } else if (first == '"') {
    m_InQuote ^= 1;
  } else if (first == '#') {
    m_AfterEquals = 0;
    m_AttributePending = 0;
  } else if (first == '=' && m_AttributePending) {
    if (m_SpecialKind != kValueNone) {
      // Its value goes to a value scanner rather than through the tokens (ScanValue).
      m_ValueMode = kValueWait;
    } else {
      m_AfterEquals = 1;
    }
  } else if (m_InTag && !m_InQuote && !m_AttributePending) {
    m_SpecialKind = moreLinks ? SpecialAttribute(t) : kValueNone;
    if (IsLinkAttribute(t) || (moreLinks && cp932::EqualsNoCase(t, "poster"))) {
      m_AttributePending = 1;
    } else if (m_SpecialKind != kValueNone) {
      m_AttributePending = 1;
    }
  } else if (m_AfterEquals) {
    if (!m_TokenOverlong) ProcessLink(links, depth);
    m_AfterEquals = 0;
    m_AttributePending = 0;
  } else {
    m_AfterEquals = 0;
    m_AttributePending = 0;
  }
  return 0;
}

// The label follows "charset", "=" and possibly a quote, inside a tag:
//   <meta http-equiv="Content-Type" content="text/html; charset=EUC-JP">, <meta charset="euc-jp">
bool KtWdlFetcher::RelabelCharset() {
  enum { kNone = 0, kName = 1, kEquals = 2 };
  const std::string& t = m_Token;
  auto endsWithCharset = [&] {
    return t.size() >= 7 &&
           cp932::EqualsNoCase(std::string_view(t).substr(t.size() - 7), "charset");
  };
  if (!IsConverted() || m_InComment || !m_InTag) {
    m_CharsetState = kNone;
    return false;
  }
  switch (m_CharsetState) {
    case kName:
      m_CharsetState = t == "=" ? kEquals : (endsWithCharset() ? kName : kNone);
      return false;
    case kEquals:
      if (t == "\"" || t == "'") return false;
      m_CharsetState = kNone;
      for (const char* label : {"euc-jp", "x-euc-jp", "eucjp", "iso-2022-jp", "csiso2022jp"}) {
        if (cp932::EqualsNoCase(t, label)) {
          m_Token = "Shift_JIS";
          return true;
        }
      }
      return false;
    default: m_CharsetState = endsWithCharset() ? kName : kNone; return false;
  }
}
