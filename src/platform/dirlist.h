// Folder listings with Windows-style attributes (FindFirstFileA / FindNextFileA / FindClose on
// "<folder>*.*"), and the identity of a folder for telling when a walk comes back to it.
#ifndef HARVO_PLATFORM_DIRLIST_H
#define HARVO_PLATFORM_DIRLIST_H

#include <cstdint>
#include <memory>
#include <string>

namespace hvdir {

inline constexpr uint32_t kAttributeHidden = 0x2;
inline constexpr uint32_t kAttributeSystem = 0x4;  // never set here
inline constexpr uint32_t kAttributeDirectory = 0x10;

struct DirEntry {
  std::string name;         // the entry's own name, no folder
  uint32_t attributes = 0;  // kAttribute* bits
};

// Lists every entry of one folder, "." and ".." first. A name beginning with "." (other than
// those two) is hidden; an entry is a directory when it is one after following symbolic links,
// as a junction would appear. The order of the other entries is the file system's.
class DirListing {
 public:
  DirListing() = default;
  ~DirListing() { Close(); }
  DirListing(const DirListing&) = delete;
  DirListing& operator=(const DirListing&) = delete;

  // False when the folder is missing or cannot be read.
  bool Open(const std::string& folder);
  // The next entry; false after the last one.
  bool Next(DirEntry* entry);
  void Close();

 private:
  void* handle_ = nullptr;  // the open listing: a DIR* or a find handle
  int dotsGiven_ = 0;
  std::unique_ptr<DirEntry> first_;  // an entry that opening the listing already read
};

// Device and inode of a folder (symbolic links followed).
struct FolderId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FolderId&) const = default;
};
// False when the path cannot be examined.
bool GetFolderId(const std::string& path, FolderId* id);

}  // namespace hvdir

#endif  // HARVO_PLATFORM_DIRLIST_H
