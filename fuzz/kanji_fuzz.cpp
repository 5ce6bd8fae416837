// Text-code detection and the EUC-JP and JIS converters on arbitrary bytes.
//
// Invariants: the detected code is one of the five; a converter reads nothing at or past srcLen
// (the input lies in a buffer of exactly that size) and writes nothing past dst[dstLen + 1]
// (canaries follow); its output is zero-terminated, no longer than the input, and holds no zero
// byte of its own (every byte written lies before the terminator). KanjiConverter, fed the same
// bytes in blocks of sizes that the input chooses, gives what one call gives for the whole text;
// each block's output stays within the room it is given (n + kMaxHeld bytes) and is never longer
// than the block and what was held back before it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "util/kanji.h"

namespace {

constexpr size_t kCanaries = 16;
constexpr unsigned char kCanary = 0xA5;

using Converter = int (*)(const unsigned char*, unsigned, unsigned char*, unsigned);

// Runs the converter over a destination prefilled with fill; returns the destination (dstLen + 2
// bytes of room, then the canaries).
std::unique_ptr<unsigned char[]> Convert(Converter convert, const unsigned char* src, unsigned n,
                                         unsigned char fill) {
  auto dst = std::make_unique<unsigned char[]>(n + 2 + kCanaries);
  std::memset(dst.get(), fill, n + 2);
  std::memset(dst.get() + n + 2, kCanary, kCanaries);
  FUZZ_CHECK(convert(src, n, dst.get(), n) == 0, "");
  for (size_t i = 0; i < kCanaries; ++i) {
    FUZZ_CHECK(dst[n + 2 + i] == kCanary, "written past dst[dstLen + 1]");
  }
  return dst;
}

void CheckConverter(Converter convert, const unsigned char* src, unsigned n, const char* name) {
  // Two runs with different fillings tell written bytes from untouched ones.
  auto first = Convert(convert, src, n, 0x00);
  auto second = Convert(convert, src, n, 0xFF);
  size_t length = strnlen(reinterpret_cast<const char*>(first.get()), n + 2);
  FUZZ_CHECK(length <= n, std::string(name) + ": output longer than its input");
  FUZZ_CHECK(std::memcmp(first.get(), second.get(), length + 1) == 0,
             std::string(name) + ": output depends on the destination's old content");
  for (size_t i = length + 1; i < n + 2; ++i) {
    FUZZ_CHECK(first[i] != second[i], std::string(name) + ": a byte written after the terminator");
  }
}

// The text through KanjiConverter in blocks whose sizes come from the end of the input.
void CheckStreamed(int code, Converter convert, const uint8_t* data, size_t size,
                   const char* name) {
  const unsigned n = static_cast<unsigned>(size);
  auto whole = std::make_unique<unsigned char[]>(n + 2);
  convert(data, n, whole.get(), n);
  const std::string expected(reinterpret_cast<const char*>(whole.get()));

  FuzzedDataProvider sizes(data, size);
  KanjiConverter converter;
  converter.Reset(code);
  std::string out;
  size_t at = 0;
  while (at < size) {
    const size_t block = std::min(sizes.ConsumeIntegralInRange<size_t>(1, 9), size - at);
    // Input and room in allocations of their exact size: ASan sees any step past either.
    std::vector<unsigned char> in(data + at, data + at + block);
    auto room = std::make_unique<unsigned char[]>(block + KanjiConverter::kMaxHeld);
    const unsigned held = converter.Held();
    const unsigned length = converter.Convert(in.data(), static_cast<unsigned>(block), room.get());
    FUZZ_CHECK(length <= block + held, std::string(name) + ": block output too long");
    FUZZ_CHECK(converter.Held() <= KanjiConverter::kMaxHeld, name);
    out.append(reinterpret_cast<const char*>(room.get()), length);
    at += block;
  }
  auto tail = std::make_unique<unsigned char[]>(KanjiConverter::kMaxHeld);
  const unsigned held = converter.Held();
  const unsigned length = converter.Finish(tail.get());
  FUZZ_CHECK(length <= held, std::string(name) + ": end output too long");
  out.append(reinterpret_cast<const char*>(tail.get()), length);
  FUZZ_CHECK(out == expected, std::string(name) + ": blocks differ from the whole conversion");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input in a buffer of its exact size, so that any read past it is caught.
  const unsigned n = static_cast<unsigned>(size);
  auto src = std::make_unique<unsigned char[]>(size == 0 ? 1 : size);
  if (size > 0) std::memcpy(src.get(), data, size);

  int code = DetectKanjiCode(src.get(), n);
  FUZZ_CHECK(code >= KANJI_UNDECIDED && code <= KANJI_SJIS, std::to_string(code));
  CheckConverter(EucToSjis, src.get(), n, "EucToSjis");
  CheckConverter(JisToSjis, src.get(), n, "JisToSjis");
  CheckStreamed(KANJI_EUC, EucToSjis, data, size, "EUC blocks");
  CheckStreamed(KANJI_JIS, JisToSjis, data, size, "JIS blocks");
  if (size >= 2) {
    unsigned char s1 = 0, s2 = 0;
    JisCodeToSjis(data[0], data[1], &s1, &s2);
  }
  return 0;
}
