#include "platform/dirlist.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

namespace hvdir {
namespace {
DIR* AsDir(void* handle) {
  return static_cast<DIR*>(handle);
}
}  // namespace

bool DirListing::Open(const std::string& folder) {
  Close();
  handle_ = opendir(folder.c_str());
  dotsGiven_ = 0;
  return handle_ != nullptr;
}

void DirListing::Close() {
  if (handle_ != nullptr) closedir(AsDir(handle_));
  handle_ = nullptr;
}

bool DirListing::Next(DirEntry* entry) {
  if (handle_ == nullptr) return false;
  // The system's walk relies on "." and ".." being listed; not every file system returns them.
  if (dotsGiven_ < 2) {
    entry->name = dotsGiven_ == 0 ? "." : "..";
    entry->attributes = kAttributeDirectory;
    ++dotsGiven_;
    return true;
  }
  for (;;) {
    const dirent* d = readdir(AsDir(handle_));
    if (d == nullptr) return false;
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    entry->name = d->d_name;
    entry->attributes = d->d_name[0] == '.' ? kAttributeHidden : 0;
    struct stat st {};
    if (fstatat(dirfd(AsDir(handle_)), d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode))
      entry->attributes |= kAttributeDirectory;
    return true;
  }
}

bool GetFolderId(const std::string& path, FolderId* id) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  id->device = static_cast<uint64_t>(st.st_dev);
  id->inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

}  // namespace hvdir
