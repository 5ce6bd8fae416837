#include "platform/textfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hvtext {

std::string_view TrimSpace(std::string_view s) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  size_t first = s.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  size_t last = s.find_last_not_of(kSpace);
  return s.substr(first, last - first + 1);
}

bool TextFile::Open(const std::string& path) {
  Close();
  // O_NONBLOCK keeps the open itself from waiting on a FIFO; such files are refused below.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  file_ = fdopen(fd, "rb");
  if (file_ == nullptr) {
    ::close(fd);
    return false;
  }
  return true;
}

void TextFile::Close() {
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
}

int TextFile::Get() {
  int c = getc_unlocked(file_);
  if (c != '\r') return c;
  int next = getc_unlocked(file_);
  if (next == '\n') return '\n';
  if (next != EOF) ungetc(next, file_);
  return c;
}

bool TextFile::ReadLine(std::string* line, size_t bufferSize) {
  line->clear();
  if (file_ == nullptr || bufferSize < 2) return false;
  while (line->size() < bufferSize - 1) {
    int c = Get();
    if (c == EOF) break;
    line->push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !line->empty();
}

bool TextFile::ReadWholeLine(std::string* line, size_t keep) {
  line->clear();
  if (file_ == nullptr) return false;
  bool any = false;
  for (int c = Get(); c != EOF; c = Get()) {
    any = true;
    if (c == '\n') break;
    if (line->size() < keep) line->push_back(static_cast<char>(c));
  }
  return any;
}

}  // namespace hvtext
