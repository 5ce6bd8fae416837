// The accepted URL paths of a job, kept so that memory grows with the distinct text of the paths
// rather than with their number times their length: each folder ("dir/sub/") is stored once in
// a folder table, and an item holds its folder's number and its own name, which lives in a
// store of names that never moves.
//
// Items keep their acceptance order and are named by their number in it. Lookups find the item
// of a path by exact text, or the first item accepted whose path equals it ignoring case, in
// O(1) on average.
#ifndef HARVO_SITE_URL_REGISTRY_H
#define HARVO_SITE_URL_REGISTRY_H

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "site/id_table.h"
#include "site/url_item.h"

class KtWdlUrlRegistry {
 public:
  static constexpr uint32_t kNone = KtWdlIdTable::kNone;

  // Accepts path (which must not be listed yet) and returns its number.
  uint32_t Add(std::string_view path);
  // The number of the item whose path is exactly path, or kNone.
  uint32_t FindExact(std::string_view path) const;
  // The number of the first item whose path equals path ignoring case, or kNone.
  uint32_t FindNoCase(std::string_view path) const;

  KtWdlUrlItem& Item(uint32_t id) { return m_Items[id]; }
  const KtWdlUrlItem& Item(uint32_t id) const { return m_Items[id]; }
  // The item's whole path, made on demand.
  std::string PathOf(uint32_t id) const;
  size_t Size() const { return m_Items.size(); }
  size_t FolderCount() const { return m_Folders.size(); }
  void Clear();

 private:
  struct Folder {
    std::string path;    // "" for the root, else ends with "/"
    uint32_t firstFold;  // the first folder whose path equals this one ignoring case
  };

  // The folder of a path by exact text, or kNone; Add makes it when missing.
  uint32_t FindFolder(std::string_view folder) const;
  uint32_t FindFolderNoCase(std::string_view folder) const;
  uint32_t AddFolder(std::string_view folder);
  // A copy of name in the store of names, which is never moved.
  const char* StoreName(std::string_view name);

  size_t ExactHash(uint32_t folder, std::string_view name) const;
  size_t FoldedHash(uint32_t folder, std::string_view name) const;

  std::deque<KtWdlUrlItem> m_Items;
  std::deque<Folder> m_Folders;
  std::vector<std::unique_ptr<char[]>> m_NameBlocks;
  size_t m_NameBlockFree = 0;  // bytes left in the last block of names
  KtWdlIdTable m_ExactItems;   // items by folder and name
  KtWdlIdTable m_FoldedItems;  // items by first equal folder and name, ignoring case
  KtWdlIdTable m_ExactFolders;
  KtWdlIdTable m_FoldedFolders;  // only the first folder of each path ignoring case
};

#endif  // HARVO_SITE_URL_REGISTRY_H
