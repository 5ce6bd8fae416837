#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string_view>
#include <utility>

#include "platform/codepage.h"

namespace hvfs {
namespace {

constexpr char kSeparator = '/';
// Room left for ".<name>.hvtmp-XXXXXX" within the 255 bytes a file name may have.
constexpr size_t kMaxTempNameStem = 200;

bool HasWildcard(std::string_view name) {
  return cp932::FindFirst(name, '*') != cp932::npos || cp932::FindFirst(name, '?') != cp932::npos;
}

// "*" matches any run of characters, "?" exactly one character (a double-byte character counts
// as one); every other character matches itself. Iterative with one backtrack point, so a
// pattern of many stars stays linear per attempt instead of exponential.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0;
  size_t starP = cp932::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starN = n;
      continue;
    }
    if (p < pattern.size()) {
      const size_t pl = cp932::CharLength(pattern, p);
      const size_t nl = cp932::CharLength(name, n);
      if (pattern[p] == '?' && pl == 1) {
        p += 1;
        n += nl;
        continue;
      }
      if (pl == nl && pattern.compare(p, pl, name, n, nl) == 0) {
        p += pl;
        n += nl;
        continue;
      }
    }
    if (starP == cp932::npos) return false;
    // Let the last "*" swallow one more character and retry from there.
    starN += cp932::CharLength(name, starN);
    n = starN;
    p = starP;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

uint64_t RandomSeed() {
  uint64_t seed = 0;
  if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof seed)) {
    return seed;
  }
  // Only uniqueness matters (O_EXCL guards against the rest): time, process and thread.
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 20) ^
         (static_cast<uint64_t>(::getpid()) << 40) ^ static_cast<uint64_t>(::gettid());
}

// A name for a temporary file that no other writer picks: random letters, as mkstemp uses.
std::string RandomSuffix() {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{RandomSeed()};
  std::string suffix(6, 'X');
  for (char& c : suffix) c = kLetters[random() % (sizeof kLetters - 1)];
  return suffix;
}

}  // namespace

bool CreateDirectory(const std::string& path) {
  if (path.empty()) return false;
  return ::mkdir(path.c_str(), 0777) == 0;
}

bool FindFirstFile(const std::string& path) {
  if (path.empty()) return false;
  const size_t slash = cp932::FindLast(path, kSeparator);
  const size_t nameStart = slash == cp932::npos ? 0 : slash + 1;
  const std::string_view pattern = std::string_view(path).substr(nameStart);
  if (!HasWildcard(pattern)) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }
  std::string folder = slash == cp932::npos ? "." : path.substr(0, nameStart);
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool found = false;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;  // not entries of the folder's own
    if (WildcardMatch(pattern, name)) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

bool GetFileInfo(const std::string& path, FileInfo* info) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  if (info != nullptr) {
    info->size = static_cast<int64_t>(st.st_size);
    info->time = static_cast<int64_t>(st.st_mtim.tv_sec);
    info->isDirectory = S_ISDIR(st.st_mode);
  }
  return true;
}

bool CanOpenForReading(const std::string& path) {
  if (path.empty()) return false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return regular;
}

bool SetFileTime(const std::string& path, int64_t seconds) {
  if (path.empty()) return false;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_NOW;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = 0;
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

std::string DescribeError(int error) {
  char text[256] = {};
  // The GNU form returns the text, which may or may not be the buffer.
  return strerror_r(error, text, sizeof text);
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
  // A zero byte would end the name early: a different file than the one asked for.
  if (path.find('\0') != std::string::npos) {
    errno = EINVAL;
    return Fail();
  }
  const size_t slash = cp932::FindLast(path, kSeparator);
  const size_t nameStart = slash == cp932::npos ? 0 : slash + 1;
  if (nameStart >= path.size()) {  // no file name
    errno = EISDIR;
    return Fail();
  }
  std::string stem = path.substr(nameStart, kMaxTempNameStem);
  // The leading "." keeps the half-written file out of wildcard searches and site listings.
  const std::string prefix = path.substr(0, nameStart) + "." + stem + ".hvtmp-";
  // Created with the mode of any new file (the kernel applies the umask and a folder's default
  // ACL); O_EXCL makes sure that it is a new file of our own, never a link planted there.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = prefix + RandomSuffix();
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_NOW;
    times[1].tv_sec = static_cast<time_t>(time);
    times[1].tv_nsec = 0;
    ok = ::futimens(fd_, times) == 0 || Fail();
  }
  // close() may report a delayed write error; the file is then not trusted.
  if (::close(fd_) != 0 && ok) ok = Fail();
  fd_ = -1;
  if (ok) ok = ::rename(tempPath_.c_str(), path_.c_str()) == 0 || Fail();
  if (!ok) ::unlink(tempPath_.c_str());
  tempPath_.clear();
  used_ = 0;
  return ok;
}

void OutputFile::Abort() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
  used_ = 0;
  failed_ = false;
}

}  // namespace hvfs
