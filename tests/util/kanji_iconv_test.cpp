// The conversions against glibc iconv, which we did not write: every JIS X 0208 character of rows
// 1 to 84 and real Japanese paragraphs must come out as iconv's Shift_JIS.
#include <gtest/gtest.h>
#include <iconv.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/kanji.h"

namespace {

// Converts in with iconv; nullopt when iconv rejects any of the input. One descriptor per pair
// of charsets is kept for the whole run: opening one costs more than converting a character.
class IconvDescriptors {
 public:
  ~IconvDescriptors() {
    for (auto& [pair, cd] : open_) {
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
  }
  iconv_t Get(const char* to, const char* from) {
    auto [it, added] = open_.try_emplace({to, from}, nullptr);
    if (added) it->second = iconv_open(to, from);
    return it->second;
  }

 private:
  std::map<std::pair<std::string, std::string>, iconv_t> open_;
};

std::optional<std::string> Iconv(const char* to, const char* from, std::string_view in) {
  static IconvDescriptors descriptors;
  iconv_t cd = descriptors.Get(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial shift state
  std::string out(in.size() * 4 + 16, '\0');
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1);
  // The final call writes the sequence that returns a stateful encoding to ASCII.
  if (ok) ok = iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
  if (!ok || inLeft != 0) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

// iconv's output for text that it must accept.
std::string MustIconv(const char* to, const char* from, std::string_view in) {
  auto out = Iconv(to, from, in);
  if (!out) ADD_FAILURE() << "iconv " << from << " to " << to << " rejected: " << in;
  return out.value_or(std::string());
}

// Shift_JIS bytes of a text in the given encoding: SHIFT_JIS where it holds the character, CP932
// where only that holds it; nullopt when iconv knows it in neither (an unassigned code point).
std::optional<std::string> IconvToSjis(const std::vector<const char*>& fromCharsets,
                                       std::string_view in) {
  for (const char* from : fromCharsets) {
    for (const char* to : {"SHIFT_JIS", "CP932"}) {
      if (auto out = Iconv(to, from, in)) return out;
    }
  }
  return std::nullopt;
}

std::string Convert(int (*convert)(const unsigned char*, unsigned, unsigned char*, unsigned),
                    std::string_view in) {
  std::vector<unsigned char> dst(in.size() + 2, 0xCD);
  convert(reinterpret_cast<const unsigned char*>(in.data()), static_cast<unsigned>(in.size()),
          dst.data(), static_cast<unsigned>(in.size()));
  return std::string(reinterpret_cast<const char*>(dst.data()));
}

int Detect(std::string_view in) {
  return DetectKanjiCode(reinterpret_cast<const unsigned char*>(in.data()),
                         static_cast<unsigned>(in.size()));
}

std::string Hex(std::string_view s) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
    out += ' ';
  }
  return out;
}

// Real Japanese paragraphs: kanji, hiragana, katakana, full-width punctuation, digits and
// letters, mixed with ASCII and line ends.
const std::vector<std::string> kParagraphs = {
    "吾輩は猫である。名前はまだ無い。\n"
    "どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは"
    "記憶している。\r\n",
    "国境の長いトンネルを抜けると雪国であった。夜の底が白くなった。信号所に汽車が止まった。\n",
    "ホームページの「最新情報」を更新しました（２００１年４月１日）。\n"
    "<A HREF=\"news/index.html\">ニュース一覧</A>と<IMG SRC=\"img/top.gif\">を見てください。\n",
    "東京都千代田区 電話：０３・１２３４・５６７８ Ｅメール：ｉｎｆｏ＠ｅｘａｍｐｌｅ．ｊｐ\n"
    "営業時間は午前九時から午後五時まで、土曜・日曜・祝日は休業いたします。\n",
    "春はあけぼの。やうやう白くなりゆく山ぎは、すこしあかりて、紫だちたる雲のほそくたなびきたる。"
    "\n",
};

TEST(KanjiIconv, EveryJisX0208CharacterOfRows1To84ConvertsLikeIconv) {
  int compared = 0, skipped = 0, duplicates = 0;
  // ours must be iconv's bytes. The NEC special characters of row 13 that repeat a symbol of
  // row 2 keep their own code here, while iconv goes through Unicode and comes back with the
  // row 2 code: there both codes must at least be the same character.
  auto check = [&](const std::string& ours, const std::string& expected, int row, int cell,
                   const char* form) {
    if (ours == expected) return;
    ++duplicates;
    EXPECT_EQ(row, 13) << form << " row " << row << " cell " << cell << ": " << Hex(ours) << "vs "
                       << Hex(expected);
    EXPECT_EQ(MustIconv("UTF-8", "CP932", ours), MustIconv("UTF-8", "CP932", expected))
        << form << " row " << row << " cell " << cell;
  };
  for (int row = 1; row <= 84; ++row) {
    for (int cell = 1; cell <= 94; ++cell) {
      const char j1 = static_cast<char>(row + 0x20), j2 = static_cast<char>(cell + 0x20);
      const std::string euc = {static_cast<char>(j1 | 0x80), static_cast<char>(j2 | 0x80)};
      const std::string jis = std::string("\x1B$B") + j1 + j2 + "\x1B(B";
      auto fromEuc = IconvToSjis({"EUC-JP", "EUC-JP-MS"}, euc);
      auto fromJis = IconvToSjis({"ISO-2022-JP", "ISO-2022-JP-3"}, jis);
      if (!fromEuc && !fromJis) {
        ++skipped;  // unassigned in every charset iconv knows
        continue;
      }
      ++compared;
      const std::string ours = Convert(EucToSjis, euc);
      ASSERT_EQ(ours.size(), 2u) << "row " << row << " cell " << cell;
      EXPECT_EQ(Convert(JisToSjis, jis), ours) << "row " << row << " cell " << cell;
      if (fromEuc) check(ours, *fromEuc, row, cell, "EUC-JP");
      if (fromJis) check(ours, *fromJis, row, cell, "ISO-2022-JP");
    }
  }
  // JIS X 0208 assigns 6879 characters in these rows; the NEC row 13 adds more under CP932.
  EXPECT_GE(compared, 6879);
  EXPECT_EQ(compared + skipped, 84 * 94);
  EXPECT_LE(duplicates, 20);
}

TEST(KanjiIconv, JapaneseParagraphsConvertLikeIconv) {
  for (const std::string& utf8 : kParagraphs) {
    const std::string sjis = MustIconv("SHIFT_JIS", "UTF-8", utf8);
    EXPECT_EQ(Convert(EucToSjis, MustIconv("EUC-JP", "UTF-8", utf8)), sjis) << utf8;
    EXPECT_EQ(Convert(JisToSjis, MustIconv("ISO-2022-JP", "UTF-8", utf8)), sjis) << utf8;
  }
  // All paragraphs in one block: many mode switches of ISO-2022-JP in one call.
  std::string all;
  for (const std::string& utf8 : kParagraphs) all += utf8;
  const std::string sjis = MustIconv("SHIFT_JIS", "UTF-8", all);
  EXPECT_EQ(Convert(EucToSjis, MustIconv("EUC-JP", "UTF-8", all)), sjis);
  EXPECT_EQ(Convert(JisToSjis, MustIconv("ISO-2022-JP", "UTF-8", all)), sjis);
}

TEST(KanjiIconv, HalfWidthKatakanaOfEucBecomesSingleShiftJisBytes) {
  const std::string utf8 = "ｶﾀｶﾅとﾊﾝｶｸ ｶﾞｲﾄﾞ｡\n";
  EXPECT_EQ(Convert(EucToSjis, MustIconv("EUC-JP", "UTF-8", utf8)),
            MustIconv("SHIFT_JIS", "UTF-8", utf8));
}

TEST(KanjiIconv, DetectionRecognisesIconvEncodedText) {
  for (const std::string& utf8 : kParagraphs) {
    EXPECT_EQ(Detect(MustIconv("EUC-JP", "UTF-8", utf8)), KANJI_EUC) << utf8;
    EXPECT_EQ(Detect(MustIconv("ISO-2022-JP", "UTF-8", utf8)), KANJI_JIS) << utf8;
    EXPECT_EQ(Detect(MustIconv("SHIFT_JIS", "UTF-8", utf8)), KANJI_SJIS) << utf8;
  }
  EXPECT_EQ(Detect("<HTML><BODY>Plain ASCII page.</BODY></HTML>\r\n"), KANJI_ASCII);
  EXPECT_EQ(Detect(""), KANJI_ASCII);
}

}  // namespace
