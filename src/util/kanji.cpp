#include "util/kanji.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Every loop below checks i + 1 < srcLen before looking at the byte after x (i + 8 <= srcLen
// before a word), so nothing at or past srcLen is read; it writes at most two bytes while
// j < dstLen (a word only while j + 8 <= dstLen), so the last byte ever written is
// dst[dstLen + 1]. Each unit writes no more bytes than it consumes: the output is never longer
// than the input.
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

// Copies a run of printable ASCII (0x20-0x7F), eight bytes at a time while it lasts, then byte
// by byte; returns with i and j advanced past it.
[[gnu::always_inline]] inline void CopyPrintableRun(const unsigned char* src, size_t srcLen,
                                                    unsigned char* dst, size_t dstLen, size_t& i,
                                                    size_t& j) {
#if defined(__SSE2__)
  // Sixteen at a time: 0x20-0x7F are the signed bytes above 0x1F.
  while (i + 16 <= srcLen && j + 16 <= dstLen) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    if (_mm_movemask_epi8(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x1F))) != 0xFFFF) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), v);
    i += 16;
    j += 16;
  }
#endif
  while (i + 8 <= srcLen && j + 8 <= dstLen) {
    uint64_t w = Load8(src + i);
    if (!AllPrintable(w)) break;
    std::memcpy(dst + j, &w, sizeof w);
    i += 8;
    j += 8;
  }
  while (i < srcLen && j < dstLen && src[i] >= 0x20 && src[i] < 0x80) dst[j++] = src[i++];
}

// JisCodeToSjis for j1, j2 of 0x21-0x7E given as their EUC bytes (0xA1-0xFE). Branch-free:
// the row parity of kanji text is unpredictable, so branches on it would mispredict often.
inline void EucPairToSjis(unsigned x, unsigned y, unsigned char* out) {
  const unsigned lead = ((x - 0xA1) >> 1) + 0x81 + (static_cast<unsigned>(x >= 0xDF) << 6);
  // Odd rows take the lower half of the trail range (skipping 0x7F), even rows the upper half.
  const unsigned odd = 0u - (x & 1);
  const unsigned trail = y - 2 - (odd & 0x5F) + (odd & static_cast<unsigned>(y >= 0xE0));
  out[0] = static_cast<unsigned char>(lead);
  out[1] = static_cast<unsigned char>(trail);
}

// True when every byte of t (high bits clear) is 0x21-0x7E: adding 0x5F sets a byte's high bit
// from 0x21 up, adding 1 only for 0x7F; no byte carries into the next.
inline bool AllLowBytesInJisRange(uint64_t t) {
  return ((t + kOnes * 0x5F) & kHighBits) == kHighBits && ((t + kOnes) & kHighBits) == 0;
}
inline bool AllJisBytes(uint64_t w) {
  return (w & kHighBits) == 0 && AllLowBytesInJisRange(w);
}
inline bool AllEucBytes(uint64_t w) {
  return (w & kHighBits) == kHighBits && AllLowBytesInJisRange(w & ~kHighBits);
}

// EucPairToSjis on four pairs at once, each pair a 16-bit lane of w (little-endian: x in the low
// byte). Every intermediate value stays within its lane for EUC bytes, so lanes never carry.
inline uint64_t EucPairsToSjis(uint64_t w) {
  constexpr uint64_t kLane = 0x0001000100010001ull;
  constexpr uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
  const uint64_t x = w & kLowBytes, y = (w >> 8) & kLowBytes;
  const uint64_t xAbove = ((x + kLane * 0x21) >> 8) & kLane;  // x >= 0xDF
  const uint64_t lead = (((x - kLane * 0xA1) >> 1) & kLowBytes) + kLane * 0x81 + (xAbove << 6);
  const uint64_t odd = x & kLane;
  const uint64_t yAbove = ((y + kLane * 0x20) >> 8) & kLane;  // y >= 0xE0
  const uint64_t trail = y - kLane * 2 - odd * 0x5F + (odd & yAbove);
  return lead | (trail << 8);
}

#if defined(__SSE2__)
// True when all sixteen bytes are EUC bytes (0xA1-0xFE), or JIS bytes (0x21-0x7E) for kJis.
// A bit per byte of v, set for an EUC byte (0xA1-0xFE), or a JIS byte (0x21-0x7E) for kJis.
template <bool kJis>
inline unsigned PairByteMask(__m128i v) {
  // EUC bytes lose their high bit, so both ranges become 0x21-0x7E, positive as signed bytes.
  if constexpr (!kJis) v = _mm_xor_si128(v, _mm_set1_epi8(static_cast<char>(0x80)));
  const __m128i ok =
      _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x20)), _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F)));
  return static_cast<unsigned>(_mm_movemask_epi8(ok));
}

// EucPairToSjis on eight pairs at once, each pair a 16-bit lane (x in the low byte).
inline __m128i EucPairsToSjis(__m128i w) {
  const __m128i x = _mm_and_si128(w, _mm_set1_epi16(0x00FF));
  const __m128i y = _mm_srli_epi16(w, 8);
  __m128i lead = _mm_srli_epi16(_mm_sub_epi16(x, _mm_set1_epi16(0xA1)), 1);
  lead = _mm_add_epi16(lead, _mm_set1_epi16(0x81));
  lead = _mm_add_epi16(
      lead, _mm_and_si128(_mm_cmpgt_epi16(x, _mm_set1_epi16(0xDE)), _mm_set1_epi16(0x40)));
  const __m128i odd = _mm_cmpeq_epi16(_mm_and_si128(x, _mm_set1_epi16(1)), _mm_set1_epi16(1));
  const __m128i yHigh = _mm_cmpgt_epi16(y, _mm_set1_epi16(0xDF));  // y >= 0xE0
  __m128i trail = _mm_sub_epi16(y, _mm_set1_epi16(2));
  trail = _mm_sub_epi16(trail, _mm_and_si128(odd, _mm_set1_epi16(0x5F)));
  trail = _mm_sub_epi16(trail, _mm_and_si128(odd, yHigh));  // a lane of all ones adds 1
  return _mm_or_si128(lead, _mm_slli_epi16(trail, 8));
}
#endif

// Converts the run of JIS (kJis) or EUC pairs that starts at i; returns with i and j advanced
// past it. Eight pairs at a time while sixteen whole bytes qualify (SSE2), four while eight do,
// then pair by pair. Always inlined: called out of line, its i and j would live in memory.
template <bool kJis>
[[gnu::always_inline]] inline void ConvertPairRun(const unsigned char* src, size_t srcLen,
                                                  unsigned char* dst, size_t dstLen, size_t& i,
                                                  size_t& j) {
  constexpr unsigned kToEuc = kJis ? 0x80 : 0;
  for (;;) {
#if defined(__SSE2__)
    while (i + 16 <= srcLen && j + 16 <= dstLen) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
      const unsigned mask = PairByteMask<kJis>(v);
      if constexpr (kJis) v = _mm_or_si128(v, _mm_set1_epi8(static_cast<char>(0x80)));
      const __m128i converted = EucPairsToSjis(v);
      if (mask == 0xFFFF) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), converted);
        i += 16;
        j += 16;
        continue;
      }
      // The run ends inside these sixteen bytes: only its whole pairs are written.
      const size_t run = static_cast<size_t>(std::countr_one(mask)) & ~size_t{1};
      alignas(16) unsigned char pairs[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(pairs), converted);
      std::memcpy(dst + j, pairs, run);
      i += run;
      j += run;
      return;
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
      while (i + 8 <= srcLen && j + 8 <= dstLen) {
        uint64_t w = Load8(src + i);
        if (!(kJis ? AllJisBytes(w) : AllEucBytes(w))) break;
        w = EucPairsToSjis(w | (kJis ? kHighBits : 0));
        std::memcpy(dst + j, &w, sizeof w);
        i += 8;
        j += 8;
      }
    }
    if (i + 1 >= srcLen || j >= dstLen) return;
    const unsigned char x = src[i], y = src[i + 1];
    if (kJis ? !(IsJisByte(x) && IsJisByte(y)) : !(IsEucByte(x) && IsEucByte(y))) return;
    EucPairToSjis(x | kToEuc, y | kToEuc, dst + j);
    i += 2;
    j += 2;
  }
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

namespace {

// Converts src[inAt..n) into dst from outAt on, continuing in two-byte mode when twoByteMode is
// set, while the output stays below m; returns with inAt and outAt past what it converted and
// twoByteMode as the text leaves it. With kHold, it stops at a unit that the end of the input
// cuts (an escape sequence, a pair whose second byte is missing), so that the next block can
// complete it; without kHold such a unit is written as the end of the text.
template <bool kHold>
[[gnu::always_inline]] inline void JisRun(const unsigned char* src, size_t n, unsigned char* dst,
                                          size_t m, size_t& inAt, size_t& outAt,
                                          bool& twoByteMode) {
  // Locals, not the references: a store through dst could alias them, which would keep them out
  // of registers.
  size_t i = inAt, j = outAt;
  bool twoByte = twoByteMode;
  while (i < n && j < m) {
    const unsigned char x = src[i];
    if (x == kEsc) {
      // ESC $ x switches to two-byte mode, ESC ( x (or anything else) back to one-byte mode.
      // A cut sequence writes nothing; the text ends with it.
      if (kHold && i + 3 > n) break;
      if (i + 1 < n) twoByte = src[i + 1] == '$';
      i += 3;
      continue;
    }
    if (twoByte) {
      if (IsJisByte(x) && i + 1 < n && IsJisByte(src[i + 1])) {
        ConvertPairRun<true>(src, n, dst, m, i, j);
        continue;
      }
      if (kHold && i + 1 == n && IsJisByte(x)) break;
      // A byte that cannot begin a pair with the byte after it (a pair cut by the end of the
      // text or an escape, a stray line end): plain bytes other than a pair's first byte are
      // kept so that line structure survives, everything else becomes "?".
      dst[j++] = (IsPlain(x) && !IsJisByte(x)) ? x : kReplacement;
      ++i;
      continue;
    }
    if (x >= 0x20 && x < 0x80) {
      CopyPrintableRun(src, n, dst, m, i, j);
      continue;
    }
    dst[j++] = IsPlain(x) ? x : kReplacement;
    ++i;
  }
  inAt = i;
  outAt = j;
  twoByteMode = twoByte;
}

// A single-shift unit that the end of the input cuts: 0x8E or 0x8F without the byte after it,
// or 0x8F and an EUC byte without the third byte.
inline bool IsCutSingleShift(const unsigned char* src, size_t n, size_t i) {
  if (i + 1 == n) return src[i] == 0x8E || src[i] == 0x8F;
  return i + 2 == n && src[i] == 0x8F && IsEucByte(src[i + 1]);
}

// EucToSjis from src[inAt] and dst[outAt] on, as JisRun: with kHold it stops at an EUC byte, a
// single shift 0x8E or a possible three-byte unit 0x8F that the end of the input cuts.
template <bool kHold>
[[gnu::always_inline]] inline void EucRun(const unsigned char* src, size_t n, unsigned char* dst,
                                          size_t m, size_t& inAt, size_t& outAt) {
  size_t i = inAt, j = outAt;  // locals, as in JisRun
  while (i < n && j < m) {
    const unsigned char x = src[i];
    if (IsEucByte(x)) {
      if (i + 1 < n && IsEucByte(src[i + 1])) {
        ConvertPairRun<false>(src, n, dst, m, i, j);
      } else {
        if (kHold && i + 1 == n) break;
        // A lone EUC byte before a non-EUC byte is kept; one cut by the end of the text becomes
        // "?" so that no Shift_JIS lead byte is left to pair with whatever follows.
        dst[j++] = i + 1 < n ? x : kReplacement;
        ++i;
      }
      continue;
    }
    if (x >= 0x20 && x < 0x80) {
      CopyPrintableRun(src, n, dst, m, i, j);
      continue;
    }
    if (x < 0x80) {
      dst[j++] = IsPlain(x) ? x : kReplacement;
      ++i;
      continue;
    }
    const bool hasY = i + 1 < n;
    const unsigned char y = hasY ? src[i + 1] : 0;
    if (kHold && IsCutSingleShift(src, n, i)) break;
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
  inAt = i;
  outAt = j;
}

}  // namespace

int JisToSjis(const unsigned char* src, unsigned srcLen, unsigned char* dst, unsigned dstLen) {
  if (dst == nullptr) return 0;
  size_t i = 0, j = 0;
  bool twoByte = false;  // every call starts in one-byte mode
  JisRun<false>(src, src == nullptr ? 0 : srcLen, dst, dstLen, i, j, twoByte);
  dst[j] = 0;
  return 0;
}

int EucToSjis(const unsigned char* src, unsigned srcLen, unsigned char* dst, unsigned dstLen) {
  if (dst == nullptr) return 0;
  size_t i = 0, j = 0;
  EucRun<false>(src, src == nullptr ? 0 : srcLen, dst, dstLen, i, j);
  dst[j] = 0;
  return 0;
}

void KanjiConverter::Reset(int code) {
  code_ = code;
  twoByte_ = false;
  heldCount_ = 0;
}

template <bool kHold>
void KanjiConverter::Run(const unsigned char* src, size_t n, unsigned char* dst, size_t& i,
                         size_t& j) {
  // Every unit writes no more bytes than it consumes, so dst never needs more room than the
  // input has bytes left.
  const size_t m = j + (n - i);
  if (code_ == KANJI_JIS) {
    JisRun<kHold>(src, n, dst, m, i, j, twoByte_);
  } else {
    EucRun<kHold>(src, n, dst, m, i, j);
  }
}

unsigned KanjiConverter::Convert(const unsigned char* in, unsigned n, unsigned char* out) {
  if (in == nullptr || n == 0) return 0;
  if (code_ != KANJI_EUC && code_ != KANJI_JIS) {
    std::memcpy(out, in, n);
    return n;
  }
  size_t i = 0, j = 0;
  if (heldCount_ > 0) {
    // The held unit, completed from the new block. No unit is longer than three bytes, so with
    // three new bytes behind it every unit that begins among the held ones is whole here, and
    // converts as it would have in one piece.
    unsigned char joined[kMaxHeld + 3];
    const size_t taken = std::min<size_t>(n, 3);
    std::memcpy(joined, held_, heldCount_);
    std::memcpy(joined + heldCount_, in, taken);
    const size_t joinedLength = heldCount_ + taken;
    size_t k = 0;
    Run<true>(joined, joinedLength, out, k, j);
    if (k < heldCount_) {
      // Still cut: the whole block was too short to complete it.
      heldCount_ = static_cast<unsigned>(joinedLength - k);
      std::memmove(held_, joined + k, heldCount_);
      return static_cast<unsigned>(j);
    }
    i = k - heldCount_;
    heldCount_ = 0;
  }
  Run<true>(in, n, out, i, j);
  heldCount_ = static_cast<unsigned>(n - i);
  std::memcpy(held_, in + i, heldCount_);
  return static_cast<unsigned>(j);
}

unsigned KanjiConverter::Finish(unsigned char* out) {
  size_t i = 0, j = 0;
  if (heldCount_ > 0 && (code_ == KANJI_EUC || code_ == KANJI_JIS)) {
    Run<false>(held_, heldCount_, out, i, j);
  }
  heldCount_ = 0;
  return static_cast<unsigned>(j);
}

bool IsUtf8Text(const unsigned char* buf, unsigned len) {
  if (buf == nullptr) return false;
  bool multiByte = false;
  size_t i = 0;
  while (i < len) {
    const unsigned char x = buf[i];
    if (x < 0x80) {
      ++i;
      continue;
    }
    // Lead byte: its sequence length and the range allowed for the byte after it (no overlong
    // forms, no surrogates, nothing above U+10FFFF).
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (x >= 0xC2 && x <= 0xDF) {
      length = 2;
    } else if (x >= 0xE0 && x <= 0xEF) {
      length = 3;
      if (x == 0xE0) low = 0xA0;
      if (x == 0xED) high = 0x9F;
    } else if (x >= 0xF0 && x <= 0xF4) {
      length = 4;
      if (x == 0xF0) low = 0x90;
      if (x == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    for (size_t k = 1; k < length; ++k) {
      if (i + k >= len) return true;  // a sequence cut by the end of the block
      const unsigned char c = buf[i + k];
      if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return false;
    }
    multiByte = true;
    i += length;
  }
  return multiByte;
}
