// File-system stand-ins: folder creation, wildcard existence test, file status and time, and
// the output file that replaces a file only when it was written completely.
#ifndef HARVO_PLATFORM_FS_H
#define HARVO_PLATFORM_FS_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace hvfs {

// The system's words for an error number (errno), e.g. "No space left on device".
std::string DescribeError(int error);

// Creates one folder (its parent must exist). False when it failed, also when it exists.
bool CreateDirectory(const std::string& path);

// True when a file or folder matches path; "*" and "?" in its last component are wildcards.
bool FindFirstFile(const std::string& path);

struct FileInfo {
  int64_t size = 0;
  int64_t time = 0;  // the file's stamp: modification time, seconds since 1970
  bool isDirectory = false;
  bool partial = false;  // stamped as cut short by a stop (kPartialStampNanoseconds)
};
// False when the path does not exist.
bool GetFileInfo(const std::string& path, FileInfo* info);
// True when the path is a file that can be opened for reading.
bool CanOpenForReading(const std::string& path);
// Sets the file's stamp (what GetFileInfo reads back as time).
bool SetFileTime(const std::string& path, int64_t seconds);

// Folders below a base folder. base itself (the site folder: the user's save root and the
// server's name) is taken as the file system resolves it; every folder after it is opened without
// following a symbolic link, so that a link left in a copy (by any program, or planted in a shared
// folder) never carries a write to another place. folder must begin with base; both end with
// "/" (an empty base stands for the current folder).
//
// Opens folder for use with the *at calls, creating each missing folder when create is true.
// The descriptor, or -1 with errno set: ELOOP when a folder on the way is a symbolic link,
// EINVAL when folder is not below base or has a ".." component.
int OpenFolderBeneath(const std::string& base, const std::string& folder, bool create);
// Creates every missing folder of folder below base, as above. 0, or the errno of the failure.
int CreateFoldersBeneath(const std::string& base, const std::string& folder);
// The words for a failure of the two calls above; ELOOP names the symbolic link as the reason.
std::string DescribeBeneathError(int error);

// A file that a stop cut short is stamped with the server's time plus this fraction of a second:
// the seconds read back stay the server's time, and a later update run knows the file is not
// complete (FileInfo::partial). Half a second survives file systems that keep only milli- or
// centiseconds.
inline constexpr long kPartialStampNanoseconds = 500000000;

// Writes a file through a temporary file in the same folder (a dot file), buffered. Commit
// flushes, stamps when asked, closes and renames the temporary file into place with the mode of
// any newly created file. A file that is not committed is removed, so a failure never replaces
// an earlier copy.
//
// The temporary files of every OutputFile still open are removed when the process ends through
// std::quick_exit (a host that must exit at once calls it rather than _exit).
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // Abort() unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file beside path. False when the folder is missing or unwritable.
  // With a base (see OpenFolderBeneath), the folder of path is reached without following a
  // symbolic link below base.
  bool Open(const std::string& path, const std::string* base = nullptr);
  bool IsOpen() const { return fd_ >= 0; }
  // True when something already lies at the target path (after a successful Open).
  bool TargetExists() const;
  // False on a write failure (disk full, ...); the file is then left uncommitted.
  bool Write(const void* data, size_t size);
  // Flushes, stamps the file with time (seconds since 1970; skipped when stamp is false; marked
  // as cut short when partial is true) and renames it to the target path. False on failure (the
  // temporary file is then removed).
  bool Commit(bool stamp, int64_t time, bool partial = false);
  // Removes the temporary file; the target path is untouched.
  void Abort();
  // Why the latest Open, Write or Commit failed, in the system's words ("No space left on
  // device"); empty when nothing failed.
  std::string ErrorText() const;

 private:
  bool Flush();
  // Keeps errno as the reason of a failure; returns false.
  bool Fail();
  void CloseFolder();
  int fd_ = -1;
  int folderFd_ = -1;  // the target's folder; names below are relative to it
  bool failed_ = false;
  bool beneath_ = false;  // the folder was opened below a base: its errors have own words
  int error_ = 0;
  std::string name_;
  std::string tempName_;
  char buffer_[64 * 1024];
  size_t used_ = 0;
};

// True for the name of an OutputFile's temporary file: "." + name + ".hvtmp-" + six letters or
// digits.
bool IsTemporaryName(std::string_view name);
// Removes the temporary files older than maxAgeSeconds in folder and every folder below it,
// left behind by a run that ended at once. Symbolic links are neither followed nor removed;
// a younger temporary file may belong to a run going on beside this one and stays. stop, when
// given, is asked between folders and ends the walk early. Returns the number of files removed.
int RemoveStaleTemporaryFiles(const std::string& folder, int64_t maxAgeSeconds,
                              const std::function<bool()>& stop = nullptr);

}  // namespace hvfs

#endif  // HARVO_PLATFORM_FS_H
