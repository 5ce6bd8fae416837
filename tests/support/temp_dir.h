// A temporary folder for one test, removed with everything in it when the object goes.
#ifndef HARVO_TESTS_SUPPORT_TEMP_DIR_H
#define HARVO_TESTS_SUPPORT_TEMP_DIR_H

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's path, ending with "/".
  const std::string& path() const { return path_; }
  // path() + relative.
  std::string operator/(const std::string& relative) const { return path_ + relative; }

 private:
  std::string path_;
};

// Reads a whole file (tests only); empty when it cannot be read.
std::string ReadFileText(const std::string& path);
// Writes a whole file, creating missing folders.
void WriteFileText(const std::string& path, const std::string& content);
// Copies the files and folders inside from into the folder to (which may end with "/": mingw's
// std::filesystem::copy copies nothing into a target named so).
void CopyFolderContents(const std::string& from, const std::string& to);

#endif  // HARVO_TESTS_SUPPORT_TEMP_DIR_H
