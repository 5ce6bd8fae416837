// Reading a local file in blocks, for files that are read whole but must never be held whole.
#ifndef HARVO_PLATFORM_INPUT_FILE_H
#define HARVO_PLATFORM_INPUT_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace hvfs {

class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens path for reading. False when it is missing, unreadable or not a regular file (a
  // device or a pipe could block the reader or feed it without end).
  bool Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  void Close();

  // Reads up to size bytes into data: the count read, 0 at the end of the file, -1 on a read
  // error (ErrorText says why).
  int64_t Read(void* data, size_t size);
  std::string ErrorText() const;

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace hvfs

#endif  // HARVO_PLATFORM_INPUT_FILE_H
