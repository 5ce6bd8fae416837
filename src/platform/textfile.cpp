#include "platform/textfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace hvtext {

std::string_view TrimSpace(std::string_view s) {
  constexpr std::string_view kSpace = " \t\r\n\v\f";
  size_t first = s.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  size_t last = s.find_last_not_of(kSpace);
  return s.substr(first, last - first + 1);
}

namespace {

#ifdef _WIN32
// The file as a binary stream when it is a regular file (not a device, not a pipe).
FILE* OpenRegularFile(const std::string& path) {
  int fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) return nullptr;
  struct _stat64 st {};
  if (::_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
    ::_close(fd);
    return nullptr;
  }
  FILE* file = ::_fdopen(fd, "rb");
  if (file == nullptr) ::_close(fd);
  return file;
}

int GetByte(FILE* file) {
  return _getc_nolock(file);
}
#else
FILE* OpenRegularFile(const std::string& path) {
  // O_NONBLOCK keeps the open itself from waiting on a FIFO; such files are refused below.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE* file = fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}

int GetByte(FILE* file) {
  return getc_unlocked(file);
}
#endif

}  // namespace

bool TextFile::Open(const std::string& path) {
  Close();
  file_ = OpenRegularFile(path);
  return file_ != nullptr;
}

void TextFile::Close() {
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
}

int TextFile::Get() {
  int c = GetByte(file_);
  if (c != '\r') return c;
  int next = GetByte(file_);
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
