// Brute force over random and adversarial blocks: the conversions never write past
// dst[dstLen + 1], always terminate the output within bounds and never make it longer than the
// input. Each source block lives in an allocation of exactly its length, so the ASan build also
// catches any read at or past srcLen.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "util/kanji.h"

namespace {

using Converter = int (*)(const unsigned char*, unsigned, unsigned char*, unsigned);

constexpr unsigned char kCanary = 0xCD;
constexpr size_t kGuard = 16;

// Runs one conversion and checks its bounds; returns false (after reporting) on a violation.
bool CheckBounds(Converter convert, const char* name, const std::string& block, unsigned dstLen) {
  const size_t n = block.size();
  std::unique_ptr<unsigned char[]> src(new unsigned char[n]);
  if (n > 0) std::memcpy(src.get(), block.data(), n);
  std::vector<unsigned char> dst(dstLen + 2 + kGuard, kCanary);
  convert(src.get(), static_cast<unsigned>(n), dst.data(), dstLen);
  for (size_t k = dstLen + 2; k < dst.size(); ++k) {
    if (dst[k] != kCanary) {
      ADD_FAILURE() << name << " wrote dst[" << k << "] with dstLen " << dstLen << ", block of "
                    << n << " bytes";
      return false;
    }
  }
  const void* zero = std::memchr(dst.data(), 0, dstLen + 2);
  if (zero == nullptr) {
    ADD_FAILURE() << name << " left no zero within dst[0.." << dstLen + 1 << "]";
    return false;
  }
  const size_t outLen = static_cast<const unsigned char*>(zero) - dst.data();
  if (outLen > n) {
    ADD_FAILURE() << name << " wrote " << outLen << " bytes for " << n << " input bytes";
    return false;
  }
  DetectKanjiCode(src.get(), static_cast<unsigned>(n));  // reads only: ASan watches it
  return true;
}

// Every prefix of block (each cut position), with dstLen the prefix length and some smaller ones.
bool CheckAllCuts(const std::string& block) {
  for (size_t cut = 0; cut <= block.size(); ++cut) {
    const std::string prefix = block.substr(0, cut);
    for (unsigned dstLen : {static_cast<unsigned>(cut), static_cast<unsigned>(cut / 2), 1u, 0u}) {
      if (!CheckBounds(EucToSjis, "EucToSjis", prefix, dstLen)) return false;
      if (!CheckBounds(JisToSjis, "JisToSjis", prefix, dstLen)) return false;
    }
  }
  return true;
}

TEST(KanjiBounds, EveryByteValueAtTheEndOfABlock) {
  for (int b = 0; b < 256; ++b) {
    const std::string last(1, static_cast<char>(b));
    for (const std::string& head :
         {std::string(), std::string("ab"), std::string("\x1B$B"), std::string("\x1B$B0"),
          std::string("\xA4"), std::string("\x8E"), std::string("\x8F"), std::string("\x8F\xB0"),
          std::string("\x1B")}) {
      ASSERT_TRUE(CheckAllCuts(head + last)) << "last byte " << b;
    }
  }
}

TEST(KanjiBounds, AdversarialBlocksCutAtEveryPosition) {
  const std::vector<std::string> blocks = {
      "\x1B$B0!$\"\x1B(BABC\x1B$@\x30\x21\x1B(J\r\n",
      "\xA4\xA2\xB0\xA1\x8E\xB1\x8F\xB0\xA1plain text\xFF\x80",
      std::string("\x1B$B\x00\x7F\xFF\x1B", 8) + "\x1B$",
      "\x8E\x8E\x8E\x8F\x8F\x8F\xA1\xA1\xA1",
      "0123456789abcdef0123456789abcdef\xA4\xA2"
      "0123456789abcdef\x1B$B",
      std::string(40, '\x1B'),
      std::string(40, '\xA4'),
  };
  for (const std::string& block : blocks) ASSERT_TRUE(CheckAllCuts(block));
}

TEST(KanjiBounds, RandomBlocks) {
  std::mt19937 rng(20240611);
  // Bytes that start or end units are drawn more often than chance would.
  const std::vector<unsigned char> special = {0x1B, '$',  '(',  'B',  '@',  0x8E, 0x8F, 0xA1,
                                              0xDF, 0xFE, 0xFF, 0x80, 0x00, '\r', '\n', 0x21,
                                              0x7E, 0x7F, 0x20, 0x82, 0xA0, 0xE0, 0xFC};
  std::uniform_int_distribution<int> lengthDist(0, 80), byteDist(0, 255), pick(0, 3);
  std::uniform_int_distribution<size_t> specialDist(0, special.size() - 1);
  for (int round = 0; round < 20000; ++round) {
    const int length = lengthDist(rng);
    std::string block;
    for (int k = 0; k < length; ++k) {
      block += static_cast<char>(pick(rng) == 0 ? byteDist(rng) : special[specialDist(rng)]);
    }
    const unsigned n = static_cast<unsigned>(block.size());
    for (unsigned dstLen : {n, n / 2, n / 3 + 1}) {
      ASSERT_TRUE(CheckBounds(EucToSjis, "EucToSjis", block, dstLen)) << "round " << round;
      ASSERT_TRUE(CheckBounds(JisToSjis, "JisToSjis", block, dstLen)) << "round " << round;
    }
  }
}

}  // namespace
