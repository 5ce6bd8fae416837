#include "support/gzip_body.h"

#include <algorithm>
#include <array>

namespace {

uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t size) {
  static const std::array<uint32_t, 256> kTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    return table;
  }();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = kTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutLe32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

const std::string kHeader("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);

// Deflate's bit order: values least significant bit first, Huffman codes most significant
// bit first.
class BitWriter {
 public:
  void Bits(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
  }
  void Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  std::string Finish() {
    if (used_ > 0) out_.push_back(static_cast<char>(current_));
    return std::move(out_);
  }

 private:
  void Bit(uint32_t bit) {
    current_ |= bit << used_;
    if (++used_ == 8) {
      out_.push_back(static_cast<char>(current_));
      current_ = 0;
      used_ = 0;
    }
  }
  std::string out_;
  uint32_t current_ = 0;
  int used_ = 0;
};

}  // namespace

std::string GzipStored(const std::string& text) {
  std::string out = kHeader;
  size_t at = 0;
  do {
    size_t size = std::min<size_t>(text.size() - at, 65535);
    bool last = at + size == text.size();
    out.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00, then byte-aligned
    out.push_back(static_cast<char>(size & 0xFF));
    out.push_back(static_cast<char>(size >> 8));
    out.push_back(static_cast<char>(~size & 0xFF));
    out.push_back(static_cast<char>((~size >> 8) & 0xFF));
    out.append(text, at, size);
    at += size;
  } while (at < text.size());
  PutLe32(&out, Crc32(0, reinterpret_cast<const unsigned char*>(text.data()), text.size()));
  PutLe32(&out, static_cast<uint32_t>(text.size()));
  return out;
}

uint64_t GzipZerosDecodedLength(uint64_t decodedBytes) {
  uint64_t refs = decodedBytes <= 1 ? 0 : (decodedBytes - 1 + 257) / 258;
  return 1 + 258 * refs;
}

std::string GzipZeros(uint64_t decodedBytes) {
  const uint64_t length = GzipZerosDecodedLength(decodedBytes);
  BitWriter bits;
  bits.Bits(1, 1);     // BFINAL
  bits.Bits(1, 2);     // fixed Huffman codes
  bits.Code(0x30, 8);  // literal 0
  for (uint64_t i = 1; i < length; i += 258) {
    bits.Code(0xC5, 8);  // length 258 (symbol 285)
    bits.Code(0, 5);     // distance 1
  }
  bits.Code(0, 7);  // end of block
  std::string out = kHeader + bits.Finish();
  uint32_t crc = 0;
  const unsigned char zeros[4096] = {};
  for (uint64_t left = length; left > 0;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, sizeof zeros));
    crc = Crc32(crc, zeros, n);
    left -= n;
  }
  PutLe32(&out, crc);
  PutLe32(&out, static_cast<uint32_t>(length));
  return out;
}
