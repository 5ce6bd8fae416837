#include "platform/codepage.h"

#include <functional>

namespace cp932 {
namespace {

// Folds one character starting at p (n bytes) into out[0..n).
inline void FoldChar(const unsigned char* p, size_t n, unsigned char* out) {
  if (n == 1) {
    unsigned char c = p[0];
    out[0] = (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
    return;
  }
  out[0] = p[0];
  out[1] = p[1];
  if (p[0] == 0x82 && p[1] >= 0x60 && p[1] <= 0x79)
    out[1] = static_cast<unsigned char>(p[1] + 0x21);
}

// True when the n bytes from character boundary i end on a character boundary: a match must not
// take only the lead byte of a double-byte character.
inline bool EndsOnBoundary(std::string_view s, size_t i, size_t n) {
  size_t end = i + n;
  while (i < end) i += CharLength(s, i);
  return i == end;
}

}  // namespace

size_t FindFirst(std::string_view s, char ch, size_t from) {
  for (size_t i = from; i < s.size(); i += CharLength(s, i)) {
    if (s[i] == ch) return i;
  }
  return npos;
}

size_t FindLast(std::string_view s, char ch) {
  size_t found = npos;
  for (size_t i = 0; i < s.size(); i += CharLength(s, i)) {
    if (s[i] == ch) found = i;
  }
  return found;
}

size_t FindText(std::string_view s, std::string_view sub, size_t from) {
  if (sub.empty()) return from <= s.size() ? from : npos;
  for (size_t i = 0; i < s.size(); i += CharLength(s, i)) {
    if (i >= from && s.compare(i, sub.size(), sub) == 0 && EndsOnBoundary(s, i, sub.size())) {
      return i;
    }
  }
  return npos;
}

bool EndsWithChar(std::string_view s, char ch) {
  size_t last = npos;
  for (size_t i = 0; i < s.size(); i += CharLength(s, i)) last = i;
  return last != npos && CharLength(s, last) == 1 && s[last] == ch;
}

std::string ToLower(std::string_view s) {
  std::string out(s);
  auto* p = reinterpret_cast<unsigned char*>(out.data());
  for (size_t i = 0; i < out.size();) {
    size_t n = CharLength(out, i);
    FoldChar(p + i, n, p + i);
    i += n;
  }
  return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    size_t na = CharLength(a, i), nb = CharLength(b, j);
    unsigned char fa[2] = {0, 0}, fb[2] = {0, 0};
    FoldChar(pa + i, na, fa);
    FoldChar(pb + j, nb, fb);
    for (size_t k = 0; k < 2; ++k) {
      // A single-byte character compares as its byte followed by nothing.
      int ca = k < na ? fa[k] : -1;
      int cb = k < nb ? fb[k] : -1;
      if (ca != cb) return ca < cb ? -1 : 1;
    }
    i += na;
    j += nb;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

size_t HashNoCase(std::string_view s) {
  // The hash of the folded text, folded on the stack for the usual lengths: no copy on the heap.
  constexpr size_t kStack = 512;
  if (s.size() > kStack) return std::hash<std::string>{}(ToLower(s));
  unsigned char folded[kStack];
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  for (size_t i = 0; i < s.size();) {
    size_t n = CharLength(s, i);
    FoldChar(p + i, n, folded + i);
    i += n;
  }
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char*>(folded), s.size()));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  // Folding keeps every character's length, so texts of different lengths never match.
  if (a.size() != b.size()) return false;
  if (a == b) return true;
  return CompareNoCase(a, b) == 0;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (prefix.size() > s.size()) return false;
  // The prefix must end on a character boundary of s.
  size_t i = 0;
  while (i < prefix.size()) i += CharLength(s, i);
  if (i != prefix.size()) return false;
  return CompareNoCase(s.substr(0, prefix.size()), prefix) == 0;
}

}  // namespace cp932
