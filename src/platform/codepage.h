// Multibyte text rules of the system code page (932, Shift_JIS). A lead byte and its trail byte
// form one character: searches for single-byte characters step over double-byte characters whole
// (a trail byte 0x5C is never a "\"), and case-insensitive comparisons fold single-byte ASCII
// letters and full-width Latin letters (0x8260-0x8279 / 0x8281-0x829A), never a trail byte.
// Every other module uses these helpers instead of byte-wise searches on text.
#ifndef HARVO_PLATFORM_CODEPAGE_H
#define HARVO_PLATFORM_CODEPAGE_H

#include <cstddef>
#include <string>
#include <string_view>

namespace cp932 {

inline constexpr size_t npos = std::string_view::npos;

// 1 for a Shift_JIS lead byte (0x81-0x9F, 0xE0-0xFC).
inline bool IsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Length in bytes of the character at position i: 2 for a lead byte with a trail byte after it,
// otherwise 1 (a lead byte cut by the end of the text counts as one byte).
inline size_t CharLength(std::string_view s, size_t i) {
  return (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
}

// Position of the first single-byte character ch at or after from (from must begin a
// character), or npos.
size_t FindFirst(std::string_view s, char ch, size_t from = 0);

// Position of the last single-byte character ch, or npos.
size_t FindLast(std::string_view s, char ch);

// Position of the first occurrence of sub that begins on a character boundary at or after from.
size_t FindText(std::string_view s, std::string_view sub, size_t from = 0);

// 1 when the last character of s is the single-byte character ch.
bool EndsWithChar(std::string_view s, char ch);

// A copy of s with every letter folded to lower case.
std::string ToLower(std::string_view s);

// Comparison ignoring case as described above: <0, 0, >0 by folded byte values.
int CompareNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::string_view a, std::string_view b);

// A hash of s that ignores case as EqualsNoCase does: texts equal ignoring case hash alike.
size_t HashNoCase(std::string_view s);

// 1 when s begins with prefix, ignoring case; prefix must end on a character boundary of s.
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

}  // namespace cp932

#endif  // HARVO_PLATFORM_CODEPAGE_H
