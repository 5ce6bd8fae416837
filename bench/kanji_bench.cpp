// Text-code detection and conversion to Shift_JIS, side by side with glibc's iconv converting
// the same text. Both work in the job's default blocks of 16 KiB, as a page arrives: the one-call
// converters on each block alone, KanjiConverter and iconv carrying their state across blocks.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cerrno>
#include <string>
#include <vector>

#include "bench_support.h"
#include "util/kanji.h"

namespace {

constexpr size_t kTextSize = 4 << 20;
constexpr size_t kBlock = 16 * 1024;

const std::string& EucText() {
  static const std::string text = bench::MakeEucText(kTextSize);
  return text;
}

const std::string& JisText() {
  static const std::string text = bench::MakeJisText(kTextSize);
  return text;
}

// A page of plain ASCII: detection has to read every byte of it to call it ASCII.
const std::string& AsciiText() {
  static const std::string text = bench::MakePage(kTextSize);
  return text;
}

using Converter = int (*)(const unsigned char*, unsigned, unsigned char*, unsigned);

void Convert(benchmark::State& state, const std::string& text, Converter convert) {
  std::vector<unsigned char> out(kBlock + 10);
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  for (auto _ : state) {
    for (size_t at = 0; at < text.size(); at += kBlock) {
      unsigned size = static_cast<unsigned>(std::min(kBlock, text.size() - at));
      convert(data + at, size, out.data(), size);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// The text as the fetcher converts a page: block by block, the converter's state (JIS mode, a
// unit cut by the end of a block) carried from each block to the next.
void ConvertStream(benchmark::State& state, const std::string& text, int code, size_t block) {
  std::vector<unsigned char> out(block + KanjiConverter::kMaxHeld + 10);
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  KanjiConverter converter;
  for (auto _ : state) {
    converter.Reset(code);
    for (size_t at = 0; at < text.size(); at += block) {
      unsigned size = static_cast<unsigned>(std::min(block, text.size() - at));
      benchmark::DoNotOptimize(converter.Convert(data + at, size, out.data()));
    }
    benchmark::DoNotOptimize(converter.Finish(out.data()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// iconv in the same blocks, its state carried too: a character cut by the end of a block
// (EINVAL) is read again at the start of the next one. The byte counts stay the input's.
void ConvertWithIconv(benchmark::State& state, const std::string& text, const char* from) {
  iconv_t cd = iconv_open("SHIFT_JIS", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    state.SkipWithError("iconv cannot convert to SHIFT_JIS");
    return;
  }
  std::vector<char> out(kBlock * 2 + 16);
  std::string input = text;
  for (auto _ : state) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = input.data();
    char* const end = input.data() + input.size();
    while (in < end) {
      size_t inLeft = std::min(kBlock, static_cast<size_t>(end - in));
      const char* const blockEnd = in + inLeft;
      char* dst = out.data();
      size_t outLeft = out.size();
      iconv(cd, &in, &inLeft, &dst, &outLeft);
      // Past a byte iconv refuses (EILSEQ), and never stuck on a cut unit at the very end.
      if (in != blockEnd && (errno == EILSEQ || blockEnd == end)) ++in;
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  iconv_close(cd);
}

void Detect(benchmark::State& state, const std::string& text) {
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  for (auto _ : state) {
    for (size_t at = 0; at < text.size(); at += kBlock) {
      unsigned size = static_cast<unsigned>(std::min(kBlock, text.size() - at));
      benchmark::DoNotOptimize(DetectKanjiCode(data + at, size));
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_EucToSjis(benchmark::State& state) {
  Convert(state, EucText(), EucToSjis);
}
void BM_KanjiConverterEuc(benchmark::State& state) {
  ConvertStream(state, EucText(), KANJI_EUC, static_cast<size_t>(state.range(0)));
}
void BM_KanjiConverterJis(benchmark::State& state) {
  ConvertStream(state, JisText(), KANJI_JIS, static_cast<size_t>(state.range(0)));
}
void BM_IconvEucToSjis(benchmark::State& state) {
  ConvertWithIconv(state, EucText(), "EUC-JP");
}
void BM_JisToSjis(benchmark::State& state) {
  Convert(state, JisText(), JisToSjis);
}
void BM_IconvJisToSjis(benchmark::State& state) {
  ConvertWithIconv(state, JisText(), "ISO-2022-JP");
}
void BM_DetectKanjiCodeEuc(benchmark::State& state) {
  Detect(state, EucText());
}
void BM_DetectKanjiCodeJis(benchmark::State& state) {
  Detect(state, JisText());
}
void BM_DetectKanjiCodeAscii(benchmark::State& state) {
  Detect(state, AsciiText());
}

BENCHMARK(BM_EucToSjis)->Unit(benchmark::kMillisecond);
// The fetcher's default block, and a small one where block edges are frequent.
BENCHMARK(BM_KanjiConverterEuc)->Arg(kBlock)->Arg(1001)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KanjiConverterJis)->Arg(kBlock)->Arg(1001)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvEucToSjis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JisToSjis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvJisToSjis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectKanjiCodeEuc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectKanjiCodeJis)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectKanjiCodeAscii)->Unit(benchmark::kMillisecond);

}  // namespace
