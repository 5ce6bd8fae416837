#include "platform/dirlist.h"

#include "platform/win32.h"

namespace hvdir {

bool DirListing::Open(const std::string& folder) {
  Close();
  std::string pattern = folder;
  if (!pattern.empty() && pattern.back() != '/' && pattern.back() != '\\') pattern += '\\';
  pattern += "*.*";
  WIN32_FIND_DATAA data{};
  HANDLE find = ::FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  handle_ = find;
  first_ = std::make_unique<DirEntry>();
  first_->name = data.cFileName;
  first_->attributes = data.dwFileAttributes;
  return true;
}

void DirListing::Close() {
  if (handle_ != nullptr) ::FindClose(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  first_.reset();
}

bool DirListing::Next(DirEntry* entry) {
  if (handle_ == nullptr) return false;
  if (first_) {
    *entry = std::move(*first_);
    first_.reset();
    return true;
  }
  WIN32_FIND_DATAA data{};
  if (!::FindNextFileA(static_cast<HANDLE>(handle_), &data)) return false;
  entry->name = data.cFileName;
  entry->attributes = data.dwFileAttributes;
  return true;
}

bool GetFolderId(const std::string& path, FolderId* id) {
  HANDLE file =
      ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  bool ok = ::GetFileInformationByHandle(file, &info) != 0;
  ::CloseHandle(file);
  if (!ok) return false;
  id->device = info.dwVolumeSerialNumber;
  id->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

}  // namespace hvdir
