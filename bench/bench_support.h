// What the micro benchmarks share: deterministic sample texts and a scratch folder.
#ifndef HARVO_BENCH_BENCH_SUPPORT_H
#define HARVO_BENCH_BENCH_SUPPORT_H

#include <cstddef>
#include <string>

namespace bench {

// A page that looks like the pages of a real site: paragraphs of words, anchors with relative,
// "./", "../" and absolute links (none to a directory: the scan runs without a server), images,
// a body background, an applet, comments with links, upper-case tags and unquoted values.
// About size bytes; the same bytes on every call.
std::string MakePage(size_t size);

// EUC-JP text of about size bytes: Japanese prose (kanji, hiragana, katakana, full-width
// punctuation) in HTML markup, every pair a defined JIS X 0208 character.
std::string MakeEucText(size_t size);

// The same kind of text in ISO-2022-JP (escapes into and out of JIS X 0208), made from
// MakeEucText by glibc's iconv so that both converters see the same characters.
std::string MakeJisText(size_t size);

// A folder below /dev/shm (else the system's temporary folder), removed with its contents.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  // Ends with "/".
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace bench

#endif  // HARVO_BENCH_BENCH_SUPPORT_H
