// The accepted URL paths of a job, kept so that memory grows with the distinct text of the paths
// rather than with their number times their length: folders form a tree in a folder table (each
// folder is its parent's number and its own name, so that folders share their prefixes), and
// an item holds its folder's number and its own name. Names live in a store that never moves.
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

  KtWdlUrlRegistry();

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
  // Folder 0 is the root (path ""); any other folder's path is its parent's, its name and "/".
  struct Folder {
    const char* name;
    uint32_t nameLength;
    uint32_t parent;
    uint32_t firstFold;  // the first folder whose path equals this one ignoring case
    std::string_view Name() const { return {name, nameLength}; }
  };

  // The folder of a folder path ("" or ending with "/") by exact text, or kNone.
  uint32_t FindFolder(std::string_view folder) const;
  // The first folder whose path equals folder ignoring case, or kNone.
  uint32_t FindFolderNoCase(std::string_view folder) const;
  // The folder of a folder path, made with its missing ancestors when missing.
  uint32_t AddFolder(std::string_view folder);
  uint32_t FindChild(uint32_t parent, std::string_view name) const;
  uint32_t FindChildNoCase(uint32_t parentFold, std::string_view name) const;
  void AddRoot();
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
  // The latest folder path found, exactly and ignoring case: the links of a page mostly share
  // their folder, whose components need not be looked up again for each of them.
  mutable std::string m_LastFolder;
  mutable uint32_t m_LastFolderId = kNone;
  mutable std::string m_LastFoldedFolder;
  mutable uint32_t m_LastFoldedId = kNone;
  KtWdlIdTable m_ExactFolders;   // folders by parent and name
  KtWdlIdTable m_FoldedFolders;  // first folders by their parent's first folder and name
};

#endif  // HARVO_SITE_URL_REGISTRY_H
