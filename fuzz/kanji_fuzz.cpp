// Text-code detection and the EUC-JP and JIS converters on arbitrary bytes.
//
// Invariants: the detected code is one of the five; a converter reads nothing at or past srcLen
// (the input lies in a buffer of exactly that size) and writes nothing past dst[dstLen + 1]
// (canaries follow); its output is zero-terminated, no longer than the input, and holds no zero
// byte of its own (every byte written lies before the terminator).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

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
  if (size >= 2) {
    unsigned char s1 = 0, s2 = 0;
    JisCodeToSjis(data[0], data[1], &s1, &s2);
  }
  return 0;
}
