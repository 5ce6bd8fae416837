// Japanese text codes: detection of a block's code and conversion of EUC-JP and ISO-2022-JP
// (7-bit JIS) text to Shift_JIS. One pass, caller-owned buffers, no allocation. The free
// functions keep no state between calls; KanjiConverter converts a text that arrives in blocks.
#ifndef HARVO_UTIL_KANJI_H
#define HARVO_UTIL_KANJI_H

#include <cstddef>

enum {
  KANJI_UNDECIDED = 0,  // 8-bit bytes seen, no Shift_JIS or EUC-JP pair recognised
  KANJI_ASCII = 1,      // 7-bit bytes only, no escape (also an empty block)
  KANJI_EUC = 2,        // an EUC-JP pair was recognised
  KANJI_JIS = 3,        // an escape and no 8-bit byte
  KANJI_SJIS = 4,       // a Shift_JIS pair and no EUC-JP pair
};

int DetectKanjiCode(const unsigned char* buf, unsigned len);

// Convert src[0..srcLen) into dst and terminate it with a zero byte; return 0. The output is
// never longer than the input: dstLen is the input length and dst holds at least dstLen + 2
// bytes. Nothing is read at or past srcLen, nothing written past dst[dstLen + 1].
int JisToSjis(const unsigned char* src, unsigned srcLen, unsigned char* dst, unsigned dstLen);
int EucToSjis(const unsigned char* src, unsigned srcLen, unsigned char* dst, unsigned dstLen);

// True when the block holds at least one multi-byte UTF-8 sequence and every byte of 0x80 or
// above belongs to a well-formed one (a sequence cut by the end of the block counts as such).
// Such a block is taken for UTF-8 text rather than for EUC-JP.
bool IsUtf8Text(const unsigned char* buf, unsigned len);

// Converts one EUC-JP or ISO-2022-JP text that arrives in blocks of any size, as it arrives. The
// JIS mode and a unit that the end of a block cuts (a pair, an escape sequence, a single shift
// with its bytes) carry into the next block, so that all blocks and Finish together give what
// one EucToSjis or JisToSjis call gives for the whole text.
class KanjiConverter {
 public:
  // The most bytes of a cut unit held back between blocks.
  static constexpr unsigned kMaxHeld = 2;

  // Starts a new text in code: KANJI_EUC and KANJI_JIS are converted, every other code copied.
  void Reset(int code);
  // Converts the next n bytes of the text into out and returns the number of bytes written,
  // never more than n + Held() (as it was before the call); out holds at least n + kMaxHeld
  // bytes. A unit cut by the end of the block is held back, not written.
  unsigned Convert(const unsigned char* in, unsigned n, unsigned char* out);
  // Ends the text: a unit still held back was cut by the end of the text itself and is written
  // as the one-call converters write a unit cut by the end of their input (each byte of a cut
  // pair or single-shift unit as "?", a cut escape sequence as nothing). out holds kMaxHeld
  // bytes; returns the count.
  unsigned Finish(unsigned char* out);
  unsigned Held() const { return heldCount_; }

 private:
  // Converts src[i..n) to dst from j on; kHold: a unit cut by n is left for the next block.
  template <bool kHold>
  void Run(const unsigned char* src, size_t n, unsigned char* dst, size_t& i, size_t& j);

  int code_ = KANJI_ASCII;
  bool twoByte_ = false;  // JIS: the text is in two-byte mode
  unsigned char held_[kMaxHeld] = {};
  unsigned heldCount_ = 0;
};

// One JIS X 0208 character (two bytes) to its Shift_JIS bytes, by arithmetic.
void JisCodeToSjis(unsigned char j1, unsigned char j2, unsigned char* s1, unsigned char* s2);

#endif  // HARVO_UTIL_KANJI_H
