#include "util/kanji.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Every loop below checks i + 1 < srcLen before looking at the byte after x, so nothing at or
// past srcLen is read, and writes at most two bytes while j < dstLen, so the last byte ever
// written is dst[dstLen + 1]. Each unit writes no more bytes than it consumes: the output is
// never longer than the input.
namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kReplacement = '?';

inline bool IsPlain(unsigned char c) {
  return (c >= 0x20 && c <= 0x7F) || c == '\r' || c == '\n' || c == '\t';
}
inline bool IsSjisLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}
inline bool IsSjisTrail(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}
inline bool IsEucByte(unsigned char c) {
  return c >= 0xA1 && c <= 0xFE;
}
inline bool IsJisByte(unsigned char c) {
  return c >= 0x21 && c <= 0x7E;
}
// The half-width katakana of Shift_JIS, the only bytes that may follow the single shift 0x8E.
inline bool IsHalfWidthKana(unsigned char c) {
  return c >= 0xA1 && c <= 0xDF;
}

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighBits = 0x8080808080808080ull;

// True when all eight bytes of w are 0x20-0x7F: no high bit and no byte below 0x20.
inline bool AllPrintable(uint64_t w) {
  return ((w | ((w - kOnes * 0x20) & ~w)) & kHighBits) == 0;
}

inline uint64_t Load8(const unsigned char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// Copies runs of printable ASCII eight bytes at a time; returns with i and j advanced past them.
inline void CopyPrintableRun(const unsigned char* src, size_t srcLen, unsigned char* dst,
                             size_t dstLen, size_t& i, size_t& j) {
  while (i + 8 <= srcLen && j + 8 <= dstLen) {
    uint64_t w = Load8(src + i);
    if (!AllPrintable(w)) return;
    std::memcpy(dst + j, &w, sizeof w);
    i += 8;
    j += 8;
  }
}

inline void WritePair(unsigned char j1, unsigned char j2, unsigned char* out) {
  JisCodeToSjis(j1, j2, out, out + 1);
}

}  // namespace

void JisCodeToSjis(unsigned char j1, unsigned char j2, unsigned char* s1, unsigned char* s2) {
  // Plain int arithmetic: a j1 below 0x21 shifts a negative value, which stays well defined in
  // C++20 and wraps into a byte like the unchecked mapping requires.
  int lead = ((static_cast<int>(j1) - 0x21) >> 1) + 0x81;
  if (lead > 0x9F) lead += 0x40;
  int trail;
  if (j1 & 1) {
    trail = j2 + 0x1F;
    if (trail >= 0x7F) ++trail;
  } else {
    trail = j2 + 0x7E;
  }
  *s1 = static_cast<unsigned char>(lead);
  *s2 = static_cast<unsigned char>(trail);
}

int DetectKanjiCode(const unsigned char* buf, unsigned len) {
  if (len == 0 || buf == nullptr) return KANJI_ASCII;
  bool escape = false, high = false, sjis = false, euc = false;
  const size_t n = len;
  size_t i = 0;
  while (i < n) {
    while (i + 8 <= n && AllPrintable(Load8(buf + i))) i += 8;
    if (i >= n) break;
    const unsigned char x = buf[i];
    if (IsPlain(x)) {
      ++i;
      continue;
    }
    if (x == kEsc) escape = true;
    if (x >= 0x80) high = true;
    const bool hasY = i + 1 < n;
    const unsigned char y = hasY ? buf[i + 1] : 0;
    if (hasY && IsSjisLead(x) && IsSjisTrail(y)) {
      sjis = true;
      i += 2;
    } else if (sjis && !euc && x >= 0xA1 && x <= 0xCF) {
      ++i;
    } else if (x >= 0x80 && hasY && y >= 0x80) {
      euc = true;
      i += 2;
    } else if (x == 0x8F && hasY && IsJisByte(y)) {
      euc = true;
      i += 3;
    } else {
      ++i;
    }
  }
  if (escape && !high) return KANJI_JIS;
  if (high) {
    if (euc) return KANJI_EUC;
    if (sjis) return KANJI_SJIS;
    return KANJI_UNDECIDED;
  }
  return KANJI_ASCII;
}

int JisToSjis(const unsigned char* src, unsigned srcLen, unsigned char* dst, unsigned dstLen) {
  if (dst == nullptr) return 0;
  const size_t n = src == nullptr ? 0 : srcLen;
  const size_t m = dstLen;
  size_t i = 0, j = 0;
  bool twoByte = false;  // every block starts in one-byte mode
  while (i < n && j < m) {
    if (!twoByte) CopyPrintableRun(src, n, dst, m, i, j);
    if (i >= n || j >= m) break;
    const unsigned char x = src[i];
    if (x == kEsc) {
      // ESC $ x switches to two-byte mode, ESC ( x (or anything else) back to one-byte mode.
      // A cut sequence writes nothing; the block ends with it.
      if (i + 1 < n) twoByte = src[i + 1] == '$';
      i += 3;
      continue;
    }
    if (twoByte && IsJisByte(x) && i + 1 < n && IsJisByte(src[i + 1])) {
      WritePair(x, src[i + 1], dst + j);
      i += 2;
      j += 2;
      continue;
    }
    // One-byte mode, or a byte in two-byte mode that cannot begin a JIS X 0208 pair with the
    // byte after it (a pair cut by the block end or an escape, a stray line end): plain bytes are
    // kept so that line structure survives, everything else becomes "?".
    if (twoByte && IsJisByte(x)) {
      dst[j++] = kReplacement;
    } else {
      dst[j++] = IsPlain(x) ? x : kReplacement;
    }
    ++i;
  }
  dst[j] = 0;
  return 0;
}

int EucToSjis(const unsigned char* src, unsigned srcLen, unsigned char* dst, unsigned dstLen) {
  if (dst == nullptr) return 0;
  const size_t n = src == nullptr ? 0 : srcLen;
  const size_t m = dstLen;
  size_t i = 0, j = 0;
  while (i < n && j < m) {
    CopyPrintableRun(src, n, dst, m, i, j);
    if (i >= n || j >= m) break;
    const unsigned char x = src[i];
    if (x < 0x80) {
      dst[j++] = IsPlain(x) ? x : kReplacement;
      ++i;
      continue;
    }
    const bool hasY = i + 1 < n;
    const unsigned char y = hasY ? src[i + 1] : 0;
    if (IsEucByte(x)) {
      if (hasY && IsEucByte(y)) {
        WritePair(static_cast<unsigned char>(x - 0x80), static_cast<unsigned char>(y - 0x80),
                  dst + j);
        i += 2;
        j += 2;
      } else {
        // A lone EUC byte before a non-EUC byte is kept; one cut by the block end becomes "?"
        // so that no Shift_JIS lead byte is left to pair with whatever follows the block.
        dst[j++] = hasY ? x : kReplacement;
        ++i;
      }
      continue;
    }
    if (x == 0x8E && hasY && IsHalfWidthKana(y)) {
      dst[j++] = y;
      i += 2;
      continue;
    }
    if (x == 0x8F && i + 2 < n && IsEucByte(y) && IsEucByte(src[i + 2])) {
      // A JIS X 0212 character has no Shift_JIS form: one "?" for its three bytes.
      dst[j++] = kReplacement;
      i += 3;
      continue;
    }
    dst[j++] = kReplacement;
    ++i;
  }
  dst[j] = 0;
  return 0;
}
