// KanjiConverter: a text converted block by block, with blocks of any size, must come out as the
// one-call conversion of the whole text gives it.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "util/kanji.h"

namespace {

const unsigned char* Bytes(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// The whole text in one call of the one-call converter.
std::string Whole(int code, std::string_view text) {
  std::vector<unsigned char> dst(text.size() + 2, 0xCD);
  const unsigned n = static_cast<unsigned>(text.size());
  (code == KANJI_JIS ? JisToSjis : EucToSjis)(Bytes(text), n, dst.data(), n);
  return std::string(reinterpret_cast<const char*>(dst.data()));
}

// The text through one converter in blocks of the given sizes (repeated; the last size covers
// the rest), then Finish. Every call is held to its bounds: the output of a block is never longer
// than the block and what was held back before it, nothing is held beyond kMaxHeld, and no byte
// is written past the room the caller has to give.
std::string Streamed(KanjiConverter& converter, int code, std::string_view text,
                     const std::vector<size_t>& blocks) {
  converter.Reset(code);
  constexpr unsigned char kCanary = 0xA5;
  std::string out;
  size_t at = 0, k = 0;
  while (at < text.size()) {
    const size_t n = std::min(blocks[std::min(k++, blocks.size() - 1)], text.size() - at);
    std::vector<unsigned char> dst(n + KanjiConverter::kMaxHeld + 8, kCanary);
    const unsigned heldBefore = converter.Held();
    const unsigned length =
        converter.Convert(Bytes(text.substr(at, n)), static_cast<unsigned>(n), dst.data());
    EXPECT_LE(length, n + heldBefore) << "block at " << at;
    EXPECT_LE(converter.Held(), KanjiConverter::kMaxHeld) << "block at " << at;
    for (size_t c = n + KanjiConverter::kMaxHeld; c < dst.size(); ++c) {
      EXPECT_EQ(dst[c], kCanary) << "written past the room, block at " << at;
    }
    out.append(reinterpret_cast<const char*>(dst.data()), length);
    at += n;
  }
  unsigned char tail[KanjiConverter::kMaxHeld];
  const unsigned heldBefore = converter.Held();
  const unsigned length = converter.Finish(tail);
  EXPECT_LE(length, heldBefore);
  EXPECT_EQ(converter.Held(), 0u);
  out.append(reinterpret_cast<const char*>(tail), length);
  return out;
}

std::string Streamed(int code, std::string_view text, const std::vector<size_t>& blocks) {
  KanjiConverter converter;
  return Streamed(converter, code, text, blocks);
}

// A page of about 36 KB in EUC-JP and in ISO-2022-JP with the Shift_JIS text that both stand
// for, built unit by unit: ASCII words, CR LF and LF line ends, JIS X 0208 characters of every
// row, and in EUC-JP half-width katakana (0x8E) and JIS X 0212 characters (0x8F, no Shift_JIS
// form: "?"); the JIS text switches to two-byte mode with ESC $ B or ESC $ @ and back with ESC ( B
// or ESC ( J.
struct Page {
  std::string euc, jis, sjisFromEuc, sjisFromJis;
};

Page MakePage(unsigned seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
  Page page;
  bool twoByte = false;
  auto jisMode = [&](bool wanted) {
    if (twoByte == wanted) return;
    page.jis += wanted ? (pick(0, 1) ? "\x1B$B" : "\x1B$@") : (pick(0, 1) ? "\x1B(B" : "\x1B(J");
    twoByte = wanted;
  };
  auto ascii = [&](const std::string& text) {
    jisMode(false);
    page.jis += text;
    page.euc += text;
    page.sjisFromEuc += text;
    page.sjisFromJis += text;
  };
  for (int line = 0; line < 300; ++line) {
    ascii("<p>");
    while (page.euc.size() < (line + 1) * 120u) {
      switch (pick(0, 5)) {
        case 0:
        case 1: {
          std::string word(static_cast<size_t>(pick(1, 9)), static_cast<char>(pick('a', 'z')));
          ascii(word + ' ');
          break;
        }
        case 2:
        case 3: {
          jisMode(true);
          for (int k = pick(1, 12); k > 0; --k) {
            const int j1 = pick(0x21, 0x7E), j2 = pick(0x21, 0x7E);
            unsigned char s1 = 0, s2 = 0;
            JisCodeToSjis(static_cast<unsigned char>(j1), static_cast<unsigned char>(j2), &s1, &s2);
            const std::string sjis = {static_cast<char>(s1), static_cast<char>(s2)};
            page.euc += {static_cast<char>(j1 | 0x80), static_cast<char>(j2 | 0x80)};
            page.jis += {static_cast<char>(j1), static_cast<char>(j2)};
            page.sjisFromEuc += sjis;
            page.sjisFromJis += sjis;
          }
          break;
        }
        case 4: {
          const char kana = static_cast<char>(pick(0xA1, 0xDF));
          page.euc += {'\x8E', kana};
          page.sjisFromEuc += kana;
          break;
        }
        case 5:
          page.euc +=
              {'\x8F', static_cast<char>(pick(0xA1, 0xFE)), static_cast<char>(pick(0xA1, 0xFE))};
          page.sjisFromEuc += '?';
          break;
      }
    }
    ascii(line % 2 ? "</p>\r\n" : "</p>\n");
  }
  return page;
}

const std::vector<size_t> kBlockSizes = {1, 2, 3, 7, 1001, 4096, 16384};

TEST(KanjiConverter, PagesComeOutTheSameForEveryBlockSize) {
  for (unsigned seed : {1u, 2u, 3u}) {
    const Page page = MakePage(seed);
    ASSERT_GT(page.euc.size(), 36000u);
    ASSERT_EQ(Whole(KANJI_EUC, page.euc), page.sjisFromEuc);
    ASSERT_EQ(Whole(KANJI_JIS, page.jis), page.sjisFromJis);
    for (size_t block : kBlockSizes) {
      EXPECT_EQ(Streamed(KANJI_EUC, page.euc, {block}), page.sjisFromEuc) << block;
      EXPECT_EQ(Streamed(KANJI_JIS, page.jis, {block}), page.sjisFromJis) << block;
    }
    EXPECT_EQ(Streamed(KANJI_EUC, page.euc, {page.euc.size()}), page.sjisFromEuc);
    EXPECT_EQ(Streamed(KANJI_JIS, page.jis, {page.jis.size()}), page.sjisFromJis);
    // Blocks of changing sizes, so that every unit is cut at every one of its bytes somewhere.
    std::mt19937 rng(seed);
    std::vector<size_t> blocks;
    for (int k = 0; k < 20000; ++k) blocks.push_back(1 + rng() % 9);
    EXPECT_EQ(Streamed(KANJI_EUC, page.euc, blocks), page.sjisFromEuc);
    EXPECT_EQ(Streamed(KANJI_JIS, page.jis, blocks), page.sjisFromJis);
  }
}

// Arbitrary bytes, broken units and units cut by the end of the text included: any split gives
// the one-call result, the end of the text written by Finish as the one-call converter writes it.
TEST(KanjiConverter, AnyBytesInAnySplitMatchTheOneCallConversion) {
  std::mt19937 rng(20261208);
  const std::string special = std::string("\x1B$(B@J\x8E\x8F\xA1\xDF\xFE\xFF\x80\r\n!~\x7F ") +
                              std::string(1, '\0') + "\x82\xA0\xE0";
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int k = static_cast<int>(rng() % 48); k > 0; --k) {
      text += rng() % 4 == 0 ? static_cast<char>(rng()) : special[rng() % special.size()];
    }
    std::vector<size_t> blocks;
    for (int k = 0; k < 48; ++k) blocks.push_back(1 + rng() % 5);
    for (int code : {KANJI_EUC, KANJI_JIS}) {
      ASSERT_EQ(Streamed(code, text, blocks), Whole(code, text))
          << "code " << code << " round " << round;
    }
  }
}

TEST(KanjiConverter, HoldsACutUnitUntilTheNextBlockOrTheEnd) {
  // Each byte alone: the unit is held until it is whole.
  EXPECT_EQ(Streamed(KANJI_EUC, "a\xA4\xA2\x8E\xB1\x8F\xB0\xA1z", {1}), "a\x82\xA0\xB1?z");
  EXPECT_EQ(Streamed(KANJI_JIS, "\x1B$B0!\x1B(J\\", {1}), "\x88\x9F\\");
  // Cut by the end of the text: written as the one-call converters write it.
  EXPECT_EQ(Streamed(KANJI_EUC, "ab\xA4", {1}), "ab?");
  EXPECT_EQ(Streamed(KANJI_EUC, "\x8F\xB0", {1}), "??");
  EXPECT_EQ(Streamed(KANJI_JIS, "\x1B$B0", {2}), "?");
  EXPECT_EQ(Streamed(KANJI_JIS, "A\x1B$", {2}), "A");
  // Reset starts the next text in one-byte mode and drops what the last one held.
  KanjiConverter converter;
  converter.Reset(KANJI_JIS);
  unsigned char out[8];
  EXPECT_EQ(converter.Convert(Bytes("\x1B$B0"), 4, out), 0u);
  EXPECT_EQ(converter.Held(), 1u);
  EXPECT_EQ(Streamed(converter, KANJI_JIS, "0!", {1}), "0!");
  // Codes that are not converted are copied.
  EXPECT_EQ(Streamed(KANJI_SJIS, "\x82\xA0\x1B$B", {3}), "\x82\xA0\x1B$B");
}

}  // namespace
