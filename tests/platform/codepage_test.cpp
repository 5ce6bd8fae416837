#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// 0x95 0x5C is a kanji whose trail byte is the byte of "\"; 0x83 0x41 is a katakana whose trail
// byte is "A"; 0x82 0x60 / 0x82 0x81 are full-width "A" / "a".
const std::string kKanjiWithBackslashTrail = "\x95\x5C";
const std::string kKatakanaWithATrail = "\x83\x41";

TEST(CodePage, LeadBytesAreTheShiftJisRanges) {
  EXPECT_FALSE(cp932::IsLeadByte(0x80));
  EXPECT_TRUE(cp932::IsLeadByte(0x81));
  EXPECT_TRUE(cp932::IsLeadByte(0x9F));
  EXPECT_FALSE(cp932::IsLeadByte(0xA0));
  EXPECT_FALSE(cp932::IsLeadByte(0xDF));
  EXPECT_TRUE(cp932::IsLeadByte(0xE0));
  EXPECT_TRUE(cp932::IsLeadByte(0xFC));
  EXPECT_FALSE(cp932::IsLeadByte(0xFD));
  EXPECT_FALSE(cp932::IsLeadByte('\\'));

  EXPECT_EQ(cp932::CharLength(kKanjiWithBackslashTrail, 0), 2u);
  EXPECT_EQ(cp932::CharLength("a\x95", 1), 1u) << "a lead byte cut by the end is one byte";
}

TEST(CodePage, SearchesNeverTakeATrailByteForASeparator) {
  const std::string path = "dir" + kKanjiWithBackslashTrail + "\\x.txt";
  EXPECT_EQ(cp932::FindFirst(path, '\\'), 5u);
  EXPECT_EQ(cp932::FindLast(path, '\\'), 5u);
  EXPECT_EQ(cp932::FindLast(kKanjiWithBackslashTrail, '\\'), cp932::npos);
  EXPECT_EQ(cp932::FindFirst("a/b/c", '/', 2), 3u);
  EXPECT_EQ(cp932::FindLast("a.b.c", '.'), 3u);
  EXPECT_EQ(cp932::FindFirst("", '/'), cp932::npos);

  EXPECT_TRUE(cp932::EndsWithChar("dir\\", '\\'));
  EXPECT_FALSE(cp932::EndsWithChar("dir" + kKanjiWithBackslashTrail, '\\'));
  EXPECT_FALSE(cp932::EndsWithChar("", '\\'));
}

TEST(CodePage, FindTextMatchesWholeCharactersOnly) {
  const std::string text = kKanjiWithBackslashTrail + "\\\\";
  EXPECT_EQ(cp932::FindText(text, "\\"), 2u);
  EXPECT_EQ(cp932::FindText(text, "\\\\"), 2u);
  EXPECT_EQ(cp932::FindText("a/b/c", "/", 2), 3u);
  EXPECT_EQ(cp932::FindText("abc", "abcd"), cp932::npos);
  EXPECT_EQ(cp932::FindText("abc", "", 1), 1u);
  // A match may not end between a lead byte and its trail byte.
  EXPECT_EQ(cp932::FindText("a" + kKatakanaWithATrail, "a\x83"), cp932::npos);
  EXPECT_EQ(cp932::FindText("a" + kKatakanaWithATrail, "a" + kKatakanaWithATrail), 0u);
  // The trail byte "A" of the katakana is no match for "A".
  EXPECT_EQ(cp932::FindText(kKatakanaWithATrail + "A", "A"), 2u);
}

TEST(CodePage, CaseFoldingCoversAsciiAndFullWidthLettersButNeverTrailBytes) {
  EXPECT_EQ(cp932::ToLower("Index.HTML"), "index.html");
  EXPECT_EQ(cp932::ToLower("\x82\x60\x82\x79"), "\x82\x81\x82\x9A");
  EXPECT_EQ(cp932::ToLower(kKatakanaWithATrail), kKatakanaWithATrail);

  EXPECT_EQ(cp932::CompareNoCase("ABC", "abc"), 0);
  EXPECT_TRUE(cp932::EqualsNoCase("\x82\x60", "\x82\x81"));
  EXPECT_FALSE(cp932::EqualsNoCase(kKatakanaWithATrail, "\x83\x61"));
  EXPECT_LT(cp932::CompareNoCase("abc", "ABD"), 0);
  EXPECT_GT(cp932::CompareNoCase("abd", "ABC"), 0);
  EXPECT_LT(cp932::CompareNoCase("ab", "AB" + kKatakanaWithATrail), 0);
  EXPECT_GT(cp932::CompareNoCase("abc", "AB"), 0);
  EXPECT_EQ(cp932::CompareNoCase("", ""), 0);
}

TEST(CodePage, HashNoCaseAgreesWithEqualsNoCase) {
  EXPECT_EQ(cp932::HashNoCase("Dir/Index.HTML"), cp932::HashNoCase("dir/index.html"));
  EXPECT_EQ(cp932::HashNoCase("\x82\x60/a"), cp932::HashNoCase("\x82\x81/A"));
  EXPECT_EQ(cp932::HashNoCase(""), cp932::HashNoCase(""));
  // A trail byte in the range of a capital letter is not folded, so the texts differ.
  EXPECT_NE(cp932::HashNoCase(kKatakanaWithATrail), cp932::HashNoCase("\x83\x61"));
  EXPECT_NE(cp932::HashNoCase("a.html"), cp932::HashNoCase("b.html"));
  EXPECT_NE(cp932::HashNoCase("ab"), cp932::HashNoCase("ba"));
}

TEST(CodePage, StartsWithNoCaseNeedsAPrefixEndingOnACharacter) {
  EXPECT_TRUE(cp932::StartsWithNoCase("HTTP://host/", "http://"));
  EXPECT_TRUE(cp932::StartsWithNoCase("abc", ""));
  EXPECT_FALSE(cp932::StartsWithNoCase("ab", "abc"));
  EXPECT_FALSE(cp932::StartsWithNoCase(kKatakanaWithATrail + "x", "\x83"));
  EXPECT_TRUE(cp932::StartsWithNoCase("\x82\x60x", "\x82\x81X"));
}

}  // namespace
