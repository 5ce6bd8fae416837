// Japanese text codes: detection of a block's code and conversion of EUC-JP and ISO-2022-JP
// (7-bit JIS) blocks to Shift_JIS. One pass, caller-owned buffers, no allocation, no state kept
// between calls: a unit cut by the end of a block is not carried into the next block.
#ifndef HARVO_UTIL_KANJI_H
#define HARVO_UTIL_KANJI_H

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

// One JIS X 0208 character (two bytes) to its Shift_JIS bytes, by arithmetic.
void JisCodeToSjis(unsigned char j1, unsigned char j2, unsigned char* s1, unsigned char* s2);

#endif  // HARVO_UTIL_KANJI_H
