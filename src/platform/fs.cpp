#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/fs_temp_names.h"

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

// The temporary files of the OutputFiles still open, by their folder's descriptor and name, so
// that a process ending through std::quick_exit leaves none behind. Never destroyed: a handler
// may run while static objects are being torn down.
struct LiveTemporaryFiles {
  std::mutex mutex;
  std::map<const void*, std::pair<int, std::string>> files;
  bool exiting = false;
};

LiveTemporaryFiles& Live() {
  static LiveTemporaryFiles* live = new LiveTemporaryFiles;
  return *live;
}

void RemoveLiveTemporaryFiles() {
  LiveTemporaryFiles& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  live.exiting = true;  // an OutputFile opened from now on removes its file at once
  for (const auto& [owner, file] : live.files) ::unlinkat(file.first, file.second.c_str(), 0);
}

// False when the process is ending: the caller then removes its file itself.
bool RegisterTemporaryFile(const void* owner, int folderFd, const std::string& name) {
  static std::once_flag installed;
  std::call_once(installed, [] { std::at_quick_exit(RemoveLiveTemporaryFiles); });
  LiveTemporaryFiles& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  if (live.exiting) return false;
  live.files[owner] = {folderFd, name};
  return true;
}

void UnregisterTemporaryFile(const void* owner) {
  LiveTemporaryFiles& live = Live();
  std::lock_guard<std::mutex> lock(live.mutex);
  live.files.erase(owner);
}

// Opens name in the folder at, as a folder, never through a symbolic link; creates it first
// when asked and missing. The descriptor, or -1 with errno (ELOOP for a symbolic link).
int OpenChildFolder(int at, const std::string& name, bool create) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(at, name.c_str(), flags);
  if (fd < 0 && errno == ENOENT && create) {
    if (::mkdirat(at, name.c_str(), 0777) != 0 && errno != EEXIST) return -1;
    fd = ::openat(at, name.c_str(), flags);
  }
  if (fd >= 0) return fd;
  const int error = errno;
  struct stat st;
  if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
    errno = ELOOP;
  } else {
    errno = error;
  }
  return -1;
}

// The folder components of path, without empty and "." ones; false for a ".." component.
bool SplitFolders(std::string_view path, std::vector<std::string>* parts) {
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != kSeparator) continue;
    std::string_view part = path.substr(start, i - start);
    start = i + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") return false;
    parts->emplace_back(part);
  }
  return true;
}

}  // namespace

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

int OpenFolderBeneath(const std::string& base, const std::string& folder, bool create) {
  if (folder.compare(0, base.size(), base) != 0 || folder.find('\0') != std::string::npos) {
    errno = EINVAL;
    return -1;
  }
  // Folder by folder, the kernel would reach any depth; a path that no other program could open
  // in one piece is refused as it would be in one piece.
  if (folder.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::vector<std::string> parts;
  if (!SplitFolders(std::string_view(folder).substr(base.size()), &parts)) {
    errno = EINVAL;
    return -1;
  }
  int fd = ::open(base.empty() ? "." : base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (size_t i = 0; fd >= 0 && i < parts.size(); ++i) {
    const int next = OpenChildFolder(fd, parts[i], create);
    const int error = errno;
    ::close(fd);
    errno = error;
    fd = next;
  }
  return fd;
}

int CreateFoldersBeneath(const std::string& base, const std::string& folder) {
  const int fd = OpenFolderBeneath(base, folder, true);
  if (fd < 0) return errno;
  ::close(fd);
  return 0;
}

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
    info->partial = S_ISREG(st.st_mode) && st.st_mtim.tv_nsec == kPartialStampNanoseconds;
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

void OutputFile::CloseFolder() {
  if (folderFd_ >= 0) ::close(folderFd_);
  folderFd_ = -1;
}

bool OutputFile::Open(const std::string& path, const std::string* base) {
  Abort();
  error_ = 0;
  beneath_ = base != nullptr;
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
  if (path.size() >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return Fail();
  }
  const std::string folder = path.substr(0, nameStart);
  folderFd_ = base != nullptr ? OpenFolderBeneath(*base, folder, false)
                              : ::open(folder.empty() ? "." : folder.c_str(),
                                       O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd_ < 0) return Fail();
  name_ = path.substr(nameStart);
  // The leading "." keeps the half-written file out of wildcard searches and site listings.
  const std::string prefix = "." + name_.substr(0, kMaxTempNameStem) + std::string(kTempMark);
  // Created with the mode of any new file (the kernel applies the umask and a folder's default
  // ACL); O_EXCL makes sure that it is a new file of our own, never a link planted there.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = prefix + RandomSuffix();
    fd = ::openat(folderFd_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    Fail();
    CloseFolder();
    return false;
  }
  if (!RegisterTemporaryFile(this, folderFd_, temp)) {
    ::close(fd);
    ::unlinkat(folderFd_, temp.c_str(), 0);
    CloseFolder();
    errno = ECANCELED;
    return Fail();
  }
  fd_ = fd;
  failed_ = false;
  used_ = 0;
  tempName_ = std::move(temp);
  return true;
}

bool OutputFile::TargetExists() const {
  struct stat st;
  return folderFd_ >= 0 && ::fstatat(folderFd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool OutputFile::Commit(bool stamp, int64_t time, bool partial) {
  if (fd_ < 0) return false;
  bool ok = Flush();
  if (ok && stamp) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_NOW;
    times[1].tv_sec = static_cast<time_t>(time);
    times[1].tv_nsec = partial ? kPartialStampNanoseconds : 0;
    ok = ::futimens(fd_, times) == 0 || Fail();
  }
  // close() may report a delayed write error; the file is then not trusted.
  if (::close(fd_) != 0 && ok) ok = Fail();
  fd_ = -1;
  // Both names are relative to the folder opened once: the target is replaced where the
  // temporary file lies, whatever became of the path since.
  if (ok) ok = ::renameat(folderFd_, tempName_.c_str(), folderFd_, name_.c_str()) == 0 || Fail();
  if (!ok) ::unlinkat(folderFd_, tempName_.c_str(), 0);
  UnregisterTemporaryFile(this);
  CloseFolder();
  tempName_.clear();
  used_ = 0;
  return ok;
}

void OutputFile::Abort() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!tempName_.empty()) {
    ::unlinkat(folderFd_, tempName_.c_str(), 0);
    tempName_.clear();
  }
  UnregisterTemporaryFile(this);
  CloseFolder();
  used_ = 0;
  failed_ = false;
}

int RemoveStaleTemporaryFiles(const std::string& folder, int64_t maxAgeSeconds,
                              const std::function<bool()>& stop) {
  const int64_t limit = static_cast<int64_t>(std::time(nullptr)) - maxAgeSeconds;
  int removed = 0;
  // Folders still to look into, relative to folder; each is opened afresh from folder without
  // following links, so only one folder is open at a time whatever the depth.
  std::vector<std::string> pending{""};
  while (!pending.empty()) {
    if (stop && stop()) break;
    const std::string relative = std::move(pending.back());
    pending.pop_back();
    const int fd = OpenFolderBeneath(folder, folder + relative, false);
    if (fd < 0) continue;
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
      ::close(fd);
      continue;
    }
    while (struct dirent* entry = ::readdir(dir)) {
      const std::string_view name(entry->d_name);
      if (name == "." || name == "..") continue;
      // The entry's type, where the folder listing gives it, spares a status call for every
      // file of a large copy.
      const bool temporary = IsTemporaryName(name);
      if (entry->d_type == DT_DIR) {
        pending.push_back(relative + std::string(name) + "/");
        continue;
      }
      if (entry->d_type != DT_UNKNOWN && !temporary) continue;
      struct stat st;
      if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        pending.push_back(relative + std::string(name) + "/");
      } else if (temporary && S_ISREG(st.st_mode) &&
                 static_cast<int64_t>(st.st_mtim.tv_sec) < limit &&
                 ::unlinkat(fd, entry->d_name, 0) == 0) {
        ++removed;
      }
    }
    ::closedir(dir);
  }
  return removed;
}

}  // namespace hvfs
