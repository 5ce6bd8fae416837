#include "bookmarks/favorites.h"

#include <algorithm>
#include <vector>

#include "bookmarks/link_array.h"
#include "bookmarks/store_io.h"
#include "platform/codepage.h"
#include "platform/dirlist.h"
#include "platform/profile.h"
#include "platform/wineprefix.h"

namespace {

constexpr char kShellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr size_t kPathLimit = 260;
constexpr size_t kUrlBufferSize = 2048;
constexpr std::string_view kShortcutSuffix = ".url";

// The folders being walked, outermost first, so that a symbolic link back into one of them is
// not followed round and round.
class WalkStack {
 public:
  bool Contains(const hvdir::FolderId& id) const {
    return std::find(ids_.begin(), ids_.end(), id) != ids_.end();
  }
  void Push(const hvdir::FolderId& id) { ids_.push_back(id); }
  void Pop() { ids_.pop_back(); }

 private:
  std::vector<hvdir::FolderId> ids_;
};

class WalkEntry {
 public:
  WalkEntry(WalkStack& stack, const hvdir::FolderId& id) : stack_(stack) { stack_.Push(id); }
  ~WalkEntry() { stack_.Pop(); }
  WalkEntry(const WalkEntry&) = delete;
  WalkEntry& operator=(const WalkEntry&) = delete;

 private:
  WalkStack& stack_;
};

bool IsShortcutName(const std::string& name) {
  return name.size() >= kShortcutSuffix.size() &&
         name.compare(name.size() - kShortcutSuffix.size(), kShortcutSuffix.size(),
                      kShortcutSuffix) == 0;
}

// First pass: the folder's own shortcuts, each inserted at its sorted place among the links
// this folder has placed so far. Returns the running count.
int PlaceShortcuts(hvdir::DirListing& listing, const std::string& folder, int start,
                   const std::string& prefix, HvrLinkArray* array) {
  constexpr uint32_t kSkipped =
      hvdir::kAttributeHidden | hvdir::kAttributeSystem | hvdir::kAttributeDirectory;
  std::vector<std::string> titles;  // stands for array[start, start + titles.size())
  hvdir::DirEntry entry;
  while (listing.Next(&entry)) {
    if ((entry.attributes & kSkipped) != 0 || !IsShortcutName(entry.name)) continue;
    std::string url = hvprofile::GetPrivateProfileString("InternetShortcut", "URL", "",
                                                         kUrlBufferSize, folder + entry.name);
    if (cp932::FindText(url, "http://") == cp932::npos) continue;
    std::string title = entry.name.substr(0, entry.name.size() - kShortcutSuffix.size());
    auto place = std::upper_bound(
        titles.begin(), titles.end(), title,
        [](const std::string& a, const std::string& b) { return cp932::CompareNoCase(a, b) < 0; });
    size_t offset = static_cast<size_t>(place - titles.begin());
    NewLink(array, static_cast<size_t>(start) + offset, prefix + "/", title, url);
    titles.insert(titles.begin() + static_cast<std::ptrdiff_t>(offset), title);
  }
  return start + static_cast<int>(titles.size());
}

int WalkFolder(WalkStack& stack, std::string folder, int start, const std::string& prefix,
               HvrLinkArray* array) {
  if (!cp932::EndsWithChar(folder, '/')) folder += '/';
  hvdir::FolderId id;
  if (!hvdir::GetFolderId(folder, &id) || stack.Contains(id)) return start;
  WalkEntry entered(stack, id);

  hvdir::DirListing listing;
  if (!listing.Open(folder)) return start;
  int count = PlaceShortcuts(listing, folder, start, prefix, array);
  listing.Close();

  // The sub-folders come from a listing of their own: the folder may have changed meanwhile.
  if (!listing.Open(folder)) return count;
  hvdir::DirEntry entry;
  while (listing.Next(&entry)) {
    if ((entry.attributes & hvdir::kAttributeDirectory) == 0 || entry.name == "." ||
        entry.name == "..")
      continue;
    count = WalkFolder(stack, folder + entry.name, count, prefix + "/" + entry.name, array);
  }
  return count;
}

}  // namespace

int ReadFavorites(HvrLinkArray* array, const char* root) {
  std::string folder;
  if (ReadStoreValue(hvreg::RegRoot::CurrentUser, kShellFoldersKey, "Favorites", kPathLimit, true,
                     &folder) != StoreValue::kRead)
    return -1;
  // An empty value would make the walk start at the root of the file system.
  if (folder.empty()) return -1;
  ReadFavoritesFolder(hvwine::MapWindowsPath(folder), 0, RootLabel(root), array);
  return 0;
}

int ReadFavoritesFolder(const std::string& folder, int start, const std::string& prefix,
                        HvrLinkArray* array) {
  WalkStack stack;
  return WalkFolder(stack, folder, start, prefix, array);
}
