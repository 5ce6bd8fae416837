// The parts of the file layer that do not depend on the operating system: failure words of the
// guarded folder walk, the output file's buffer and error state, and the temporary-name test.
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/fs.h"
#include "platform/fs_temp_names.h"

namespace hvfs {

std::string DescribeBeneathError(int error) {
  if (error == ELOOP) return "a folder in the copy is a symbolic link, which is not followed";
  if (error == EINVAL) return "a folder outside the site folder";
  return DescribeError(error);
}

OutputFile::~OutputFile() {
  Abort();
}

bool OutputFile::Write(const void* data, size_t size) {
  if (fd_ < 0 || failed_) return false;
  const char* p = static_cast<const char*>(data);
  if (used_ + size <= sizeof buffer_) {
    std::memcpy(buffer_ + used_, p, size);
    used_ += size;
    return true;
  }
  if (!Flush()) return false;
  if (size >= sizeof buffer_) return WriteAll(fd_, p, size) || Fail();
  std::memcpy(buffer_, p, size);
  used_ = size;
  return true;
}

bool OutputFile::Flush() {
  if (failed_) return false;
  bool ok = used_ == 0 || WriteAll(fd_, buffer_, used_) || Fail();
  used_ = 0;
  return ok;
}

bool OutputFile::Fail() {
  error_ = errno;
  failed_ = true;
  return false;
}

std::string OutputFile::ErrorText() const {
  if (error_ == 0) return std::string();
  return beneath_ ? DescribeBeneathError(error_) : DescribeError(error_);
}

bool IsTemporaryName(std::string_view name) {
  if (name.size() < 2 + kTempMark.size() + kTempSuffixLength || name.front() != '.') return false;
  const size_t mark = name.size() - kTempSuffixLength - kTempMark.size();
  if (name.substr(mark, kTempMark.size()) != kTempMark) return false;
  for (char c : name.substr(name.size() - kTempSuffixLength)) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letter) return false;
  }
  return true;
}

}  // namespace hvfs
