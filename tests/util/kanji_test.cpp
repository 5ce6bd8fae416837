#include "util/kanji.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

using Converter = int (*)(const unsigned char*, unsigned, unsigned char*, unsigned);

int Detect(std::string_view in) {
  return DetectKanjiCode(reinterpret_cast<const unsigned char*>(in.data()),
                         static_cast<unsigned>(in.size()));
}

// Converts with dstLen = the input length (as the fetcher calls it) unless told otherwise.
std::string Convert(Converter convert, std::string_view in, int dstLen = -1) {
  unsigned len = dstLen < 0 ? static_cast<unsigned>(in.size()) : static_cast<unsigned>(dstLen);
  std::vector<unsigned char> dst(len + 2, 0xCD);
  EXPECT_EQ(convert(reinterpret_cast<const unsigned char*>(in.data()),
                    static_cast<unsigned>(in.size()), dst.data(), len),
            0);
  return std::string(reinterpret_cast<const char*>(dst.data()));
}

std::string Jis(std::string_view in, int dstLen = -1) {
  return Convert(JisToSjis, in, dstLen);
}
std::string Euc(std::string_view in, int dstLen = -1) {
  return Convert(EucToSjis, in, dstLen);
}

TEST(DetectKanjiCode, ClassifiesBlocksByTheirPairs) {
  EXPECT_EQ(Detect(""), KANJI_ASCII);
  EXPECT_EQ(Detect("<html>\r\n\tplain text, long enough for whole words\n"), KANJI_ASCII);
  EXPECT_EQ(Detect(std::string("a\0b\x01", 4)), KANJI_ASCII) << "controls are not 8-bit";
  EXPECT_EQ(Detect("\x1B$B0!\x1B(BA"), KANJI_JIS);
  EXPECT_EQ(Detect("\x82\xA0"), KANJI_SJIS);
  EXPECT_EQ(Detect("\xA4\xA2"), KANJI_EUC);
  // After a Shift_JIS pair, 0xA1-0xCF bytes are half-width katakana, passed over one by one.
  EXPECT_EQ(Detect("\x82\xA0\xA4\xA2"), KANJI_SJIS);
  EXPECT_EQ(Detect("\xA0"
                   "A"),
            KANJI_UNDECIDED);
  EXPECT_EQ(Detect("abc\xA0"), KANJI_UNDECIDED) << "an 8-bit last byte has no pair";
  EXPECT_EQ(Detect("\x1B$B\xA4\xA2"), KANJI_EUC) << "an escape with 8-bit bytes is not JIS";
  EXPECT_EQ(Detect("\x1B\x82\xA0"), KANJI_SJIS);
  // A pair that fits both codes counts as Shift_JIS.
  EXPECT_EQ(Detect("\xE0\xA1"), KANJI_SJIS);
  // The three-byte form of the single shift 0x8F.
  EXPECT_EQ(Detect("\x8F\x21\x21"), KANJI_EUC);
  // An EUC pair anywhere wins over Shift_JIS pairs.
  EXPECT_EQ(Detect("\x82\xA0\xDF\xA2"), KANJI_EUC);
}

TEST(JisCodeToSjis, MapsJisX0208ByArithmetic) {
  struct Case {
    unsigned char j1, j2, s1, s2;
  };
  for (const Case& c :
       {Case{0x30, 0x21, 0x88, 0x9F}, Case{0x24, 0x22, 0x82, 0xA0}, Case{0x21, 0x60, 0x81, 0x80},
        Case{0x5F, 0x21, 0xE0, 0x40}, Case{0x21, 0x21, 0x81, 0x40}, Case{0x74, 0x26, 0xEA, 0xA4},
        Case{0x7E, 0x7E, 0xEF, 0xFC}}) {
    unsigned char s1 = 0, s2 = 0;
    JisCodeToSjis(c.j1, c.j2, &s1, &s2);
    EXPECT_EQ(s1, c.s1) << std::hex << int(c.j1) << " " << int(c.j2);
    EXPECT_EQ(s2, c.s2) << std::hex << int(c.j1) << " " << int(c.j2);
  }
}

TEST(JisToSjis, ConvertsTwoByteModeAndCopiesOneByteMode) {
  EXPECT_EQ(Jis("\x1B$B0!\x1B(BA"),
            "\x88\x9F"
            "A");
  EXPECT_EQ(Jis("\x1B$@0!$\"\x1B(JA"),
            "\x88\x9F\x82\xA0"
            "A")
      << "ESC $ @ and ESC ( J switch too";
  EXPECT_EQ(Jis("abc\r\n\tdef"), "abc\r\n\tdef");
  EXPECT_EQ(Jis("a\x0C"
                "b"),
            "a?b")
      << "a form feed in one-byte mode";
  EXPECT_EQ(Jis(""), "");
  // Every call starts in one-byte mode: the mode of an earlier block does not carry over.
  EXPECT_EQ(Jis("0!"), "0!");
  // The output is never longer than the input; a pair starting at dstLen - 1 is written whole.
  EXPECT_EQ(Jis("A\x1B$B0!", 2), "A\x88\x9F");
  EXPECT_EQ(Jis("abcdef", 3), "abc");
  EXPECT_EQ(Jis("abc", 0), "");
}

TEST(JisToSjis, StrayAndCutUnitsBecomeQuestionMarks) {
  EXPECT_EQ(Jis("a\x82\xA0z"), "a??z") << "8-bit bytes in one-byte mode";
  EXPECT_EQ(Jis("\x1B$B0"), "?") << "a pair cut by the block end";
  EXPECT_EQ(Jis("\x1B$B0\x1B(BA"), "?A") << "a pair cut by an escape keeps the escape";
  EXPECT_EQ(Jis("\x1B$B0!\r\n0!"), "\x88\x9F\r\n\x88\x9F") << "line ends inside two-byte mode";
  EXPECT_EQ(Jis("\x1B$B0\xA1"), "??");
  EXPECT_EQ(Jis("A\x1B"), "A") << "a cut escape writes nothing";
  EXPECT_EQ(Jis("A\x1B$"), "A");
  EXPECT_EQ(Jis("A\x1B$B"), "A");
  // 0x00 in two-byte mode must not end the output early.
  EXPECT_EQ(Jis(std::string("\x1B$B\x00\x60\x1B(Bz", 9)), "??z");
}

TEST(EucToSjis, ConvertsPairsAndSingleShifts) {
  EXPECT_EQ(Euc("\xA4\xA2\xB0\xA1"), "\x82\xA0\x88\x9F");
  EXPECT_EQ(Euc("<a href=\"x\">\xA4\xA2</a>\r\n"), "<a href=\"x\">\x82\xA0</a>\r\n");
  EXPECT_EQ(Euc("\x8E\xB1"), "\xB1") << "half-width katakana";
  EXPECT_EQ(Euc("\xB0"
                "A"),
            "\xB0"
            "A")
      << "an EUC byte before a non-EUC byte is kept";
  EXPECT_EQ(Euc("\xFF"), "?");
  EXPECT_EQ(Euc("a\x01\x80\xA0z"), "a???z");
  EXPECT_EQ(Euc(""), "");
  EXPECT_EQ(Euc("\xA4\xA2\xA4\xA2", 1), "\x82\xA0") << "a pair at dstLen - 1 is written whole";
}

// Long runs of pairs take the word-at-a-time path: every code of the 94 x 94 grid, after prefixes
// of every length mod 8, must come out as JisCodeToSjis gives it pair by pair.
// Appends the JIS code j1 j2 to EUC-JP text, to two-byte JIS text and, converted by
// JisCodeToSjis, to the Shift_JIS text expected from either.
void AppendPair(int j1, int j2, std::string* euc, std::string* jis, std::string* expected) {
  *euc += static_cast<char>(j1 | 0x80);
  *euc += static_cast<char>(j2 | 0x80);
  *jis += static_cast<char>(j1);
  *jis += static_cast<char>(j2);
  unsigned char s1 = 0, s2 = 0;
  JisCodeToSjis(static_cast<unsigned char>(j1), static_cast<unsigned char>(j2), &s1, &s2);
  *expected += static_cast<char>(s1);
  *expected += static_cast<char>(s2);
}

TEST(EucToSjis, LongRunsOfPairsMatchJisCodeToSjisForEveryCode) {
  std::string euc, jis = "\x1B$B", expected;
  for (int j1 = 0x21; j1 <= 0x7E; ++j1) {
    for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
      AppendPair(j1, j2, &euc, &jis, &expected);
    }
  }
  for (const std::string prefix : {"", "a", "ab", "abc", "abcd", "abcde", "abcdef", "abcdefg"}) {
    EXPECT_EQ(Euc(prefix + euc + "z"), prefix + expected + "z") << prefix.size();
    EXPECT_EQ(Jis(prefix + jis + "\x1B(Bz"), prefix + expected + "z") << prefix.size();
  }
}

// Runs of pairs of every length that end in the middle of a block, at every offset, with text
// after them: the end of a run found sixteen bytes at a time must keep exactly its whole pairs.
TEST(EucToSjis, RunsEndingAnywhereInsideTheBlockKeepExactlyTheirPairs) {
  const std::string tail = " and plain text after the run, long enough to read ahead.\n";
  for (size_t offset = 0; offset < 16; ++offset) {
    for (int pairs = 1; pairs <= 20; ++pairs) {
      std::string euc(offset, 'p'), jis(offset, 'p'), expected(offset, 'p');
      jis += "\x1B$B";
      for (int k = 0; k < pairs; ++k) {
        const int j1 = 0x21 + (k * 7 + pairs) % 94, j2 = 0x21 + (k * 13 + offset) % 94;
        AppendPair(j1, j2, &euc, &jis, &expected);
      }
      EXPECT_EQ(Euc(euc + tail), expected + tail) << offset << " " << pairs;
      EXPECT_EQ(Jis(jis + "\x1B(B" + tail), expected + tail) << offset << " " << pairs;
      // A lone EUC byte after the pairs is kept as it is, and the text goes on after it.
      EXPECT_EQ(Euc(euc + "\xB0" + tail), expected + "\xB0" + tail) << offset << " " << pairs;
    }
  }
}

TEST(EucToSjis, StrayAndCutUnitsBecomeQuestionMarks) {
  EXPECT_EQ(Euc("ab\xA4"), "ab?") << "an EUC lead byte cut by the block end";
  EXPECT_EQ(Euc("ab\x8E"), "ab?") << "a single shift cut by the block end";
  // A single shift before anything but half-width katakana writes "?" and keeps the next byte.
  EXPECT_EQ(Euc("\x8E"
                "A"),
            "?A");
  EXPECT_EQ(Euc(std::string("\x8E\x00z", 3)), "??z") << "no zero byte inside the output";
  EXPECT_EQ(Euc("\x8E\xE0"), "??") << "no Shift_JIS lead byte from a single shift";
  // A JIS X 0212 character has no Shift_JIS form: one "?" for its three bytes.
  EXPECT_EQ(Euc("\x8F\xB0\xA1z"), "?z");
  EXPECT_EQ(Euc("\x8F\xB0"), "??") << "cut JIS X 0212 character";
}

}  // namespace

namespace {

bool Utf8(const std::string& text) {
  return IsUtf8Text(reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<unsigned>(text.size()));
}

TEST(IsUtf8Text, AcceptsWellFormedMultiByteTextOnly) {
  EXPECT_TRUE(Utf8("caf\xC3\xA9"));
  EXPECT_TRUE(Utf8("\xE6\x97\xA5\xE6\x9C\xAC"));  // 日本
  EXPECT_TRUE(Utf8("\xF0\x9F\x98\x80 ok"));       // U+1F600
  EXPECT_TRUE(Utf8("abc \xE6\x97"));              // cut by the end of the block
  EXPECT_FALSE(Utf8("plain ascii"));              // no multi-byte sequence at all
  EXPECT_FALSE(Utf8("\xA4\xA2\xA4\xA4"));         // EUC-JP hiragana
  EXPECT_FALSE(Utf8("\xC0\xAF"));                 // overlong
  EXPECT_FALSE(Utf8("\xED\xA0\x80"));             // surrogate
  EXPECT_FALSE(Utf8("\xF4\x90\x80\x80"));         // above U+10FFFF
  EXPECT_FALSE(Utf8("\xC3\xA9 \xA9"));            // a stray continuation byte
  EXPECT_FALSE(IsUtf8Text(nullptr, 0));
}

}  // namespace
