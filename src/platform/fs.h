// File-system stand-ins: folder creation, wildcard existence test, file status and time, and
// the output file that replaces a file only when it was written completely.
#ifndef HARVO_PLATFORM_FS_H
#define HARVO_PLATFORM_FS_H

#include <cstddef>
#include <cstdint>
#include <string>

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
};
// False when the path does not exist.
bool GetFileInfo(const std::string& path, FileInfo* info);
// True when the path is a file that can be opened for reading.
bool CanOpenForReading(const std::string& path);
// Sets the file's stamp (what GetFileInfo reads back as time).
bool SetFileTime(const std::string& path, int64_t seconds);

// Writes a file through a temporary file in the same folder (a dot file), buffered. Commit
// flushes, stamps when asked, closes and renames the temporary file into place with the mode of
// any newly created file. A file that is not committed is removed, so a failure never replaces
// an earlier copy.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // Abort() unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file beside path. False when the folder is missing or unwritable.
  bool Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  // False on a write failure (disk full, ...); the file is then left uncommitted.
  bool Write(const void* data, size_t size);
  // Flushes, stamps the file with time (seconds since 1970; skipped when stamp is false) and
  // renames it to the target path. False on failure (the temporary file is then removed).
  bool Commit(bool stamp, int64_t time);
  // Removes the temporary file; the target path is untouched.
  void Abort();
  // Why the latest Open, Write or Commit failed, in the system's words ("No space left on
  // device"); empty when nothing failed.
  std::string ErrorText() const;

 private:
  bool Flush();
  // Keeps errno as the reason of a failure; returns false.
  bool Fail();
  int fd_ = -1;
  bool failed_ = false;
  int error_ = 0;
  std::string path_;
  std::string tempPath_;
  char buffer_[64 * 1024];
  size_t used_ = 0;
};

}  // namespace hvfs

#endif  // HARVO_PLATFORM_FS_H
