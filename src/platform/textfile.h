// Text-mode reading of local files, as the C runtime's text streams deliver them: CR LF reads as
// one line end ("\n"); a lone CR stays as it is. Only regular files open, so a device or a pipe
// given as a store path can never block or feed a reader without end.
#ifndef HARVO_PLATFORM_TEXTFILE_H
#define HARVO_PLATFORM_TEXTFILE_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace hvtext {

// s without the white space (space, tab, CR, LF, vertical tab, form feed) at both ends. No
// trail byte of a double-byte character is white space, so this is safe on any text.
std::string_view TrimSpace(std::string_view s);

class TextFile {
 public:
  TextFile() = default;
  ~TextFile() { Close(); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Opens path for reading. False when it is missing, unreadable or not a regular file.
  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  void Close();

  // Like fgets with a buffer of bufferSize bytes: reads up to and including the next "\n",
  // but at most bufferSize - 1 characters, so a longer line comes in several reads. The text
  // may hold NUL bytes. False at the end of the file (or on a read error) with nothing read.
  bool ReadLine(std::string* line, size_t bufferSize);

  // Reads one whole line and returns it without its line end, keeping only its first keep
  // characters (the rest of the line is read and dropped). False at the end of the file.
  bool ReadWholeLine(std::string* line, size_t keep);

 private:
  // Next character with CR LF folded into "\n"; EOF at the end or on a read error.
  int Get();

  FILE* file_ = nullptr;  // stdio buffers the reads
};

}  // namespace hvtext

#endif  // HARVO_PLATFORM_TEXTFILE_H
