#include "platform/fs.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string_view>
#include <utility>

#include "platform/codepage.h"
#include "platform/win32.h"

namespace hvfs {
namespace {

// Room left for ".<name>.hvtmp-XXXXXX" within the 255 characters a file name may have.
constexpr size_t kMaxTempNameStem = 200;

// Win32 failures are kept as negative numbers beside errno values.
int LastWin32Error() {
  return -static_cast<int>(::GetLastError());
}

// Position just after the last "/" or "\" (0 when there is none), multibyte-aware.
size_t NameStart(const std::string& path) {
  size_t slash = cp932::FindLast(path, '/');
  size_t backslash = cp932::FindLast(path, '\\');
  size_t last = slash == cp932::npos       ? backslash
                : backslash == cp932::npos ? slash
                                           : std::max(slash, backslash);
  return last == cp932::npos ? 0 : last + 1;
}

// Seconds since 1970 as a FILETIME (100 ns units since 1601).
FILETIME ToFileTime(int64_t seconds) {
  constexpr int64_t kEpochDifference = 11644473600LL;
  uint64_t ticks = static_cast<uint64_t>(seconds + kEpochDifference) * 10000000ULL;
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

int64_t FromFileTime(const FILETIME& time) {
  constexpr int64_t kEpochDifference = 11644473600LL;
  uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000ULL) - kEpochDifference;
}

// The Last-Modified stamp is the file's creation time, and its last-write time too, so that a
// user's file listing shows it.
bool StampHandle(HANDLE file, int64_t seconds) {
  FILETIME time = ToFileTime(seconds);
  return ::SetFileTime(file, &time, nullptr, &time) != 0;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
    int written = ::_write(fd, data, chunk);
    if (written < 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

std::string RandomSuffix() {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}() ^
                                      (static_cast<uint64_t>(::GetCurrentThreadId()) << 32) ^
                                      static_cast<uint64_t>(::GetTickCount64())};
  std::string suffix(6, 'X');
  for (char& c : suffix) c = kLetters[random() % (sizeof kLetters - 1)];
  return suffix;
}

}  // namespace

bool CreateDirectory(const std::string& path) {
  if (path.empty()) return false;
  return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool FindFirstFile(const std::string& path) {
  if (path.empty()) return false;
  // A folder named with its closing separator: the search would look for an empty name in it.
  if (NameStart(path) == path.size()) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }
  WIN32_FIND_DATAA data{};
  HANDLE find = ::FindFirstFileA(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  // "." and ".." are not entries of the folder's own.
  bool found = false;
  do {
    std::string_view name(data.cFileName);
    if (name != "." && name != "..") found = true;
  } while (!found && ::FindNextFileA(find, &data));
  ::FindClose(find);
  return found;
}

bool GetFileInfo(const std::string& path, FileInfo* info) {
  if (path.empty()) return false;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (info != nullptr) {
    info->size =
        static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    info->time = FromFileTime(data.ftCreationTime);
    info->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  return true;
}

bool CanOpenForReading(const std::string& path) {
  if (path.empty()) return false;
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool regular = ::GetFileType(file) == FILE_TYPE_DISK;
  BY_HANDLE_FILE_INFORMATION info{};
  if (regular && ::GetFileInformationByHandle(file, &info)) {
    regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }
  ::CloseHandle(file);
  return regular;
}

bool SetFileTime(const std::string& path, int64_t seconds) {
  if (path.empty()) return false;
  HANDLE file = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = StampHandle(file, seconds);
  ::CloseHandle(file);
  return ok;
}

std::string DescribeError(int error) {
  if (error < 0) {
    char text[512] = {};
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                               static_cast<DWORD>(-error), 0, text, sizeof text, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
      out.pop_back();
    }
    return out.empty() ? "system error " + std::to_string(-error) : out;
  }
  char text[256] = {};
  if (strerror_s(text, sizeof text, error) != 0) return "error " + std::to_string(error);
  return text;
}

OutputFile::~OutputFile() {
  Abort();
}

bool OutputFile::Fail() {
  error_ = errno;
  failed_ = true;
  return false;
}

std::string OutputFile::ErrorText() const {
  return error_ == 0 ? std::string() : DescribeError(error_);
}

bool OutputFile::Open(const std::string& path) {
  Abort();
  error_ = 0;
  if (path.find('\0') != std::string::npos) {
    errno = EINVAL;
    return Fail();
  }
  const size_t nameStart = NameStart(path);
  if (nameStart >= path.size()) {
    errno = EISDIR;
    return Fail();
  }
  std::string stem = path.substr(nameStart, kMaxTempNameStem);
  const std::string prefix = path.substr(0, nameStart) + "." + stem + ".hvtmp-";
  // _O_EXCL: a new file of our own, never one planted there.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = prefix + RandomSuffix();
    fd = ::_open(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno != EEXIST) return Fail();
  }
  if (fd < 0) return Fail();
  fd_ = fd;
  failed_ = false;
  used_ = 0;
  path_ = path;
  tempPath_ = std::move(temp);
  return true;
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

bool OutputFile::Commit(bool stamp, int64_t time) {
  if (fd_ < 0) return false;
  bool ok = Flush();
  if (ok && stamp) {
    HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_));
    if (file == INVALID_HANDLE_VALUE || !StampHandle(file, time)) {
      error_ = LastWin32Error();
      failed_ = true;
      ok = false;
    }
  }
  if (::_close(fd_) != 0 && ok) ok = Fail();
  fd_ = -1;
  if (ok && !::MoveFileExA(tempPath_.c_str(), path_.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error_ = LastWin32Error();
    failed_ = true;
    ok = false;
  }
  if (!ok) ::DeleteFileA(tempPath_.c_str());
  tempPath_.clear();
  used_ = 0;
  return ok;
}

void OutputFile::Abort() {
  if (fd_ >= 0) {
    ::_close(fd_);
    fd_ = -1;
  }
  if (!tempPath_.empty()) {
    ::DeleteFileA(tempPath_.c_str());
    tempPath_.clear();
  }
  used_ = 0;
  failed_ = false;
}

}  // namespace hvfs
