#include "platform/input_file.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/fs.h"
#include "platform/win32.h"

namespace hvfs {

bool InputFile::Open(const std::string& path) {
  Close();
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = -static_cast<int>(::GetLastError());
    return false;
  }
  // Only a file on disk: a pipe or a device could block the reader or feed it without end.
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error_ = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EISDIR : EINVAL;
    ::CloseHandle(file);
    return false;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    error_ = EMFILE;
    ::CloseHandle(file);
    return false;
  }
  fd_ = fd;
  error_ = 0;
  return true;
}

void InputFile::Close() {
  if (fd_ < 0) return;
  ::_close(fd_);
  fd_ = -1;
}

int64_t InputFile::Read(void* data, size_t size) {
  if (fd_ < 0) return -1;
  const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
  const int n = ::_read(fd_, data, chunk);
  if (n >= 0) return n;
  error_ = errno;
  return -1;
}

std::string InputFile::ErrorText() const {
  return error_ == 0 ? std::string() : DescribeError(error_);
}

}  // namespace hvfs
