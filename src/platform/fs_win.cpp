#include "platform/fs.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/fs_temp_names.h"
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
FILETIME ToFileTime(int64_t seconds, bool partial = false) {
  constexpr int64_t kEpochDifference = 11644473600LL;
  uint64_t ticks = static_cast<uint64_t>(seconds + kEpochDifference) * 10000000ULL;
  if (partial) ticks += static_cast<uint64_t>(kPartialStampNanoseconds) / 100;
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
bool StampHandle(HANDLE file, int64_t seconds, bool partial = false) {
  FILETIME time = ToFileTime(seconds, partial);
  return ::SetFileTime(file, &time, nullptr, &time) != 0;
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

// 100 ns ticks per second, and the stamp fraction that marks a file cut short.
constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kPartialTicks = static_cast<uint64_t>(kPartialStampNanoseconds) / 100;

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// The folder components of path (split at "/" and "\", a double-byte character kept whole),
// without empty and "." ones; false for a ".." component.
bool SplitFolders(std::string_view path, std::vector<std::string>* parts) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); i += (i < path.size() ? cp932::CharLength(path, i) : 1)) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    std::string_view part = path.substr(start, i - start);
    start = i + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    parts->emplace_back(part);
  }
  return true;
}

// Checks (and, when create is true, makes) each folder of folder below base, one component at
// a time: a reparse point (a symbolic link or junction) on the way is never entered. 0, or the
// errno-style reason: ELOOP for a reparse point, EINVAL for a folder not below base.
int WalkBeneath(const std::string& base, const std::string& folder, bool create) {
  if (folder.compare(0, base.size(), base) != 0 || folder.find('\0') != std::string::npos) {
    return EINVAL;
  }
  if (folder.size() >= MAX_PATH) return ENAMETOOLONG;
  std::vector<std::string> parts;
  if (!SplitFolders(std::string_view(folder).substr(base.size()), &parts)) return EINVAL;
  std::string path = base;
  for (const std::string& part : parts) {
    if (!path.empty() && !IsSeparator(path.back())) path += '\\';
    path += part;
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES && create) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return LastWin32Error();
      if (!::CreateDirectoryA(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return LastWin32Error();
      }
      attributes = ::GetFileAttributesA(path.c_str());
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) return ENOENT;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return ELOOP;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
  }
  return 0;
}

// Opens a folder for as long as a file is written in it. Without FILE_SHARE_DELETE nobody can
// rename it or put a link in its place meanwhile. A handle, or INVALID_HANDLE_VALUE.
HANDLE OpenFolderHandle(const std::string& folder) {
  const std::string path = folder.empty() ? std::string(".") : folder;
  return ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A folder handle as a C runtime descriptor (closed with _close), or -1 with errno set.
int FolderDescriptor(const std::string& folder) {
  HANDLE handle = OpenFolderHandle(folder);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = ENOENT;
    return -1;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    ::CloseHandle(handle);
    errno = link ? ELOOP : ENOTDIR;
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY);
  if (fd < 0) {
    ::CloseHandle(handle);
    errno = EMFILE;
  }
  return fd;
}

}  // namespace

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
    const uint64_t ticks = (static_cast<uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) |
                           data.ftCreationTime.dwLowDateTime;
    info->partial = !info->isDirectory && ticks % kTicksPerSecond == kPartialTicks;
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

int OpenFolderBeneath(const std::string& base, const std::string& folder, bool create) {
  const int error = WalkBeneath(base, folder, create);
  if (error != 0) {
    errno = error > 0 ? error : EACCES;
    return -1;
  }
  return FolderDescriptor(folder);
}

int CreateFoldersBeneath(const std::string& base, const std::string& folder) {
  return WalkBeneath(base, folder, true);
}

void OutputFile::CloseFolder() {
  if (folderFd_ >= 0) ::_close(folderFd_);
  folderFd_ = -1;
}

// On this side name_ and tempName_ hold whole paths; folderFd_ keeps the target's folder open
// (see OpenFolderHandle) until the file is committed or given up.
bool OutputFile::Open(const std::string& path, const std::string* base) {
  Abort();
  error_ = 0;
  beneath_ = base != nullptr;
  if (path.find('\0') != std::string::npos) {
    errno = EINVAL;
    return Fail();
  }
  const size_t nameStart = NameStart(path);
  if (nameStart >= path.size()) {
    errno = EISDIR;
    return Fail();
  }
  if (path.size() >= MAX_PATH) {
    errno = ENAMETOOLONG;
    return Fail();
  }
  const std::string folder = path.substr(0, nameStart);
  if (base != nullptr) {
    folderFd_ = OpenFolderBeneath(*base, folder, false);
    if (folderFd_ < 0) return Fail();
  }
  std::string stem = path.substr(nameStart, kMaxTempNameStem);
  const std::string prefix = folder + "." + stem + std::string(kTempMark);
  // _O_EXCL: a new file of our own, never one planted there.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = prefix + RandomSuffix();
    fd = ::_open(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    Fail();
    CloseFolder();
    return false;
  }
  fd_ = fd;
  failed_ = false;
  used_ = 0;
  name_ = path;
  tempName_ = std::move(temp);
  return true;
}

bool OutputFile::TargetExists() const {
  return fd_ >= 0 && ::GetFileAttributesA(name_.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool OutputFile::Commit(bool stamp, int64_t time, bool partial) {
  if (fd_ < 0) return false;
  bool ok = Flush();
  if (ok && stamp) {
    HANDLE file = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_));
    if (file == INVALID_HANDLE_VALUE || !StampHandle(file, time, partial)) {
      error_ = LastWin32Error();
      failed_ = true;
      ok = false;
    }
  }
  if (::_close(fd_) != 0 && ok) ok = Fail();
  fd_ = -1;
  if (ok && !::MoveFileExA(tempName_.c_str(), name_.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error_ = LastWin32Error();
    failed_ = true;
    ok = false;
  }
  if (!ok) ::DeleteFileA(tempName_.c_str());
  CloseFolder();
  tempName_.clear();
  used_ = 0;
  return ok;
}

void OutputFile::Abort() {
  if (fd_ >= 0) {
    ::_close(fd_);
    fd_ = -1;
  }
  if (!tempName_.empty()) {
    ::DeleteFileA(tempName_.c_str());
    tempName_.clear();
  }
  CloseFolder();
  used_ = 0;
  failed_ = false;
}

int RemoveStaleTemporaryFiles(const std::string& folder, int64_t maxAgeSeconds,
                              const std::function<bool()>& stop) {
  const int64_t limit = static_cast<int64_t>(std::time(nullptr)) - maxAgeSeconds;
  int removed = 0;
  std::string root = folder;
  if (!root.empty() && !IsSeparator(root.back())) root += '\\';
  // Folders still to look into, relative to root. A reparse point is neither entered nor removed.
  std::vector<std::string> pending{""};
  while (!pending.empty()) {
    if (stop && stop()) break;
    const std::string relative = std::move(pending.back());
    pending.pop_back();
    const std::string here = root + relative;
    if (WalkBeneath(root, here, false) != 0) continue;
    WIN32_FIND_DATAA data{};
    HANDLE find = ::FindFirstFileA((here + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      const std::string_view name(data.cFileName);
      if (name == "." || name == "..") continue;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        pending.push_back(relative + std::string(name) + "\\");
        continue;
      }
      // A file that another run is still writing was written to lately.
      if (IsTemporaryName(name) && FromFileTime(data.ftLastWriteTime) < limit &&
          ::DeleteFileA((here + std::string(name)).c_str())) {
        ++removed;
      }
    } while (::FindNextFileA(find, &data));
    ::FindClose(find);
  }
  return removed;
}

}  // namespace hvfs
