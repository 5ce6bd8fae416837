#include "bench_support.h"

#include <iconv.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace bench {
namespace {

constexpr std::array<const char*, 24> kWords = {
    "archive", "board",  "catalogue", "chapter", "contents", "design",  "detail",  "document",
    "edition", "essay",  "example",   "feature", "gallery",  "guide",   "history", "journal",
    "lecture", "manual", "network",   "project", "record",   "summary", "station", "weather"};

// Raw engine output only: the distributions of the standard library differ between vendors.
class Rng {
 public:
  explicit Rng(uint32_t seed) : engine_(seed) {}
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(engine_() % n); }
  const char* Word() { return kWords[Below(kWords.size())]; }

 private:
  std::mt19937 engine_;
};

void AppendWords(Rng* rng, std::string* out, int count) {
  for (int i = 0; i < count; ++i) {
    *out += rng->Word();
    *out += ' ';
  }
}

// One link value in one of the forms a page uses.
std::string LinkValue(Rng* rng) {
  std::string name = std::string(rng->Word()) + std::to_string(rng->Below(500)) + ".html";
  switch (rng->Below(6)) {
    case 0: return name;
    case 1: return "./" + name;
    case 2: return "../" + std::string(rng->Word()) + "/" + name;
    case 3: return "http://host/" + std::string(rng->Word()) + "/" + name;
    case 4: return std::string(rng->Word()) + "/" + name;
    default: return "http://elsewhere.example/" + name;
  }
}

// A defined JIS X 0208 character as its two EUC-JP bytes.
void AppendEucChar(Rng* rng, std::string* out) {
  unsigned row, cell;
  switch (rng->Below(8)) {
    case 0:
    case 1:
    case 2: row = 0xA4, cell = 0xA1 + rng->Below(0xF3 - 0xA1 + 1); break;  // hiragana
    case 3: row = 0xA5, cell = 0xA1 + rng->Below(0xF6 - 0xA1 + 1); break;  // katakana
    case 4: row = 0xA1, cell = 0xA2 + rng->Below(4); break;                // 、。，．
    default: row = 0xB0 + rng->Below(0xCE - 0xB0 + 1), cell = 0xA1 + rng->Below(94); break;
  }
  out->push_back(static_cast<char>(row));
  out->push_back(static_cast<char>(cell));
}

}  // namespace

std::string MakePage(size_t size) {
  Rng rng(20240601);
  std::string page =
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n<html>\n<head>\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\n"
      "<title>Benchmark page</title>\n</head>\n"
      "<body background=\"images/bg.gif\" bgcolor=\"#ffffff\">\n<h1>Contents</h1>\n";
  while (page.size() < size) {
    page += "<p>";
    AppendWords(&rng, &page, 20 + static_cast<int>(rng.Below(40)));
    switch (rng.Below(8)) {
      case 0:
        page += "<img src=\"images/" + std::string(rng.Word()) + std::to_string(rng.Below(99)) +
                ".gif\" alt=\"picture\" width=\"120\" height=\"80\">\n";
        break;
      case 1: page += "<!-- old: <a href=\"" + LinkValue(&rng) + "\">gone</a> -->\n"; break;
      case 2: page += "<A HREF=" + LinkValue(&rng) + ">" + rng.Word() + "</A>\n"; break;
      case 3: page += "<applet code=\"Clock.class\" width=\"120\" height=\"60\"></applet>\n"; break;
      default: break;
    }
    page += "<a href=\"" + LinkValue(&rng) + "\" title=\"" + rng.Word() + "\">";
    AppendWords(&rng, &page, 1 + static_cast<int>(rng.Below(3)));
    page += "</a>\n";
    AppendWords(&rng, &page, 5 + static_cast<int>(rng.Below(20)));
    page += "</p>\n";
  }
  page += "</body>\n</html>\n";
  return page;
}

std::string MakeEucText(size_t size) {
  Rng rng(20240602);
  std::string text =
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-JP\">"
      "<title>";
  for (int i = 0; i < 8; ++i) AppendEucChar(&rng, &text);
  text += "</title></head>\n<body>\n";
  while (text.size() < size) {
    text += "<p>";
    int chars = 30 + static_cast<int>(rng.Below(90));
    for (int i = 0; i < chars; ++i) AppendEucChar(&rng, &text);
    if (rng.Below(3) == 0) {
      text += " <a href=\"" + std::string(rng.Word()) + ".html\">";
      for (int i = 0; i < 4; ++i) AppendEucChar(&rng, &text);
      text += "</a> ";
    }
    text += "</p>\n";
  }
  text += "</body></html>\n";
  return text;
}

std::string MakeJisText(size_t size) {
  std::string euc = MakeEucText(size);
  iconv_t cd = iconv_open("ISO-2022-JP", "EUC-JP");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: no ISO-2022-JP");
  std::string jis(euc.size() * 2 + 64, '\0');
  char* in = euc.data();
  size_t inLeft = euc.size();
  char* out = jis.data();
  size_t outLeft = jis.size();
  size_t done = iconv(cd, &in, &inLeft, &out, &outLeft);
  if (done != static_cast<size_t>(-1)) done = iconv(cd, nullptr, nullptr, &out, &outLeft);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1)) throw std::runtime_error("iconv: EUC-JP to ISO-2022-JP");
  jis.resize(jis.size() - outLeft);
  return jis;
}

ScratchDir::ScratchDir() {
  // Memory-backed where there is such a folder: the benchmarks time our code, not the disk.
  std::error_code ignored;
  std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ignored)
                                   ? std::filesystem::path("/dev/shm")
                                   : std::filesystem::temp_directory_path();
  std::string pattern = (base / "harvo-bench.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a scratch folder");
  path_ = pattern + "/";
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace bench
