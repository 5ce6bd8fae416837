#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fs.h"

namespace hvfs {

bool InputFile::Open(const std::string& path) {
  Close();
  // Non-blocking only for the open itself: a FIFO must not wait for a writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error_ = errno;
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error_ = !S_ISREG(st.st_mode) ? (S_ISDIR(st.st_mode) ? EISDIR : EINVAL) : errno;
    ::close(fd);
    return false;
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  fd_ = fd;
  error_ = 0;
  return true;
}

void InputFile::Close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

int64_t InputFile::Read(void* data, size_t size) {
  if (fd_ < 0) return -1;
  while (true) {
    ssize_t n = ::read(fd_, data, size);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    error_ = errno;
    return -1;
  }
}

std::string InputFile::ErrorText() const {
  return error_ == 0 ? std::string() : DescribeError(error_);
}

}  // namespace hvfs
