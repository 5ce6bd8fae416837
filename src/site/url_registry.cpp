#include "site/url_registry.h"

#include <cstring>
#include <functional>

#include "platform/codepage.h"

namespace {

// Names are copied into blocks of this size; a longer name gets a block of its own.
constexpr size_t kNameBlockSize = 64 * 1024;

// A path split at its last "/": the folder keeps the "/", the name is the rest. Two paths equal
// ignoring case have their last "/" at the same place (folding keeps every character's length),
// so that their folders and their names are equal ignoring case too.
struct SplitPath {
  std::string_view folder;
  std::string_view name;
};

SplitPath Split(std::string_view path) {
  size_t slash = cp932::FindLast(path, '/');
  if (slash == cp932::npos) return {std::string_view(), path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// Spreads a combined hash over the low bits that the tables index by.
size_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  x ^= x >> 31;
  return static_cast<size_t>(x);
}

}  // namespace

size_t KtWdlUrlRegistry::ExactHash(uint32_t folder, std::string_view name) const {
  return Mix(std::hash<std::string_view>{}(name) ^ (uint64_t{folder} * 0x9e3779b97f4a7c15ULL));
}

size_t KtWdlUrlRegistry::FoldedHash(uint32_t folder, std::string_view name) const {
  return Mix(cp932::HashNoCase(name) ^ (uint64_t{folder} * 0x9e3779b97f4a7c15ULL));
}

KtWdlUrlRegistry::KtWdlUrlRegistry() {
  AddRoot();
}

void KtWdlUrlRegistry::AddRoot() {
  m_Folders.push_back({"", 0, kNone, 0});
}

uint32_t KtWdlUrlRegistry::FindChild(uint32_t parent, std::string_view name) const {
  return m_ExactFolders.Find(ExactHash(parent, name), [&](uint32_t id) {
    return m_Folders[id].parent == parent && m_Folders[id].Name() == name;
  });
}

uint32_t KtWdlUrlRegistry::FindChildNoCase(uint32_t parentFold, std::string_view name) const {
  return m_FoldedFolders.Find(FoldedHash(parentFold, name), [&](uint32_t id) {
    return m_Folders[m_Folders[id].parent].firstFold == parentFold &&
           cp932::EqualsNoCase(m_Folders[id].Name(), name);
  });
}

// The components of a folder path are the texts before each "/".
uint32_t KtWdlUrlRegistry::FindFolder(std::string_view folder) const {
  if (m_LastFolderId != kNone && folder == m_LastFolder) return m_LastFolderId;
  uint32_t current = 0;
  for (size_t at = 0; at < folder.size() && current != kNone;) {
    size_t slash = cp932::FindFirst(folder, '/', at);
    if (slash == cp932::npos) return kNone;
    current = FindChild(current, folder.substr(at, slash - at));
    at = slash + 1;
  }
  if (current != kNone) {
    m_LastFolder = folder;
    m_LastFolderId = current;
  }
  return current;
}

uint32_t KtWdlUrlRegistry::FindFolderNoCase(std::string_view folder) const {
  if (m_LastFoldedId != kNone && folder == m_LastFoldedFolder) return m_LastFoldedId;
  uint32_t current = 0;
  for (size_t at = 0; at < folder.size() && current != kNone;) {
    size_t slash = cp932::FindFirst(folder, '/', at);
    if (slash == cp932::npos) return kNone;
    current = FindChildNoCase(current, folder.substr(at, slash - at));
    at = slash + 1;
  }
  if (current != kNone) {
    m_LastFoldedFolder = folder;
    m_LastFoldedId = current;
  }
  return current;
}

uint32_t KtWdlUrlRegistry::AddFolder(std::string_view folder) {
  uint32_t current = FindFolder(folder);
  if (current != kNone) return current;
  current = 0;
  for (size_t at = 0; at < folder.size();) {
    size_t slash = cp932::FindFirst(folder, '/', at);
    if (slash == cp932::npos) slash = folder.size();
    std::string_view name = folder.substr(at, slash - at);
    at = slash + 1;
    uint32_t child = FindChild(current, name);
    if (child == kNone) {
      child = static_cast<uint32_t>(m_Folders.size());
      const uint32_t parentFold = m_Folders[current].firstFold;
      const uint32_t firstFold = FindChildNoCase(parentFold, name);
      m_Folders.push_back({StoreName(name), static_cast<uint32_t>(name.size()), current,
                           firstFold == kNone ? child : firstFold});
      m_ExactFolders.Insert(child, ExactHash(current, name), [&](uint32_t k) {
        return ExactHash(m_Folders[k].parent, m_Folders[k].Name());
      });
      if (firstFold == kNone) {
        m_FoldedFolders.Insert(child, FoldedHash(parentFold, name), [&](uint32_t k) {
          return FoldedHash(m_Folders[m_Folders[k].parent].firstFold, m_Folders[k].Name());
        });
      }
    }
    current = child;
  }
  return current;
}

const char* KtWdlUrlRegistry::StoreName(std::string_view name) {
  if (name.empty()) return "";
  if (name.size() > kNameBlockSize / 4) {
    // A long name gets a block of its own, inserted before the current block so that the
    // current block's free space stays usable.
    auto block = std::make_unique<char[]>(name.size());
    std::memcpy(block.get(), name.data(), name.size());
    const char* stored = block.get();
    m_NameBlocks.insert(m_NameBlocks.empty() ? m_NameBlocks.end() : m_NameBlocks.end() - 1,
                        std::move(block));
    return stored;
  }
  if (m_NameBlockFree < name.size()) {
    m_NameBlocks.push_back(std::make_unique<char[]>(kNameBlockSize));
    m_NameBlockFree = kNameBlockSize;
  }
  char* stored = m_NameBlocks.back().get() + (kNameBlockSize - m_NameBlockFree);
  std::memcpy(stored, name.data(), name.size());
  m_NameBlockFree -= name.size();
  return stored;
}

uint32_t KtWdlUrlRegistry::Add(std::string_view path) {
  SplitPath split = Split(path);
  // Only the first of several paths equal ignoring case is found by the folded index.
  const bool firstOfFold = FindNoCase(path) == kNone;
  uint32_t folder = AddFolder(split.folder);
  uint32_t id = static_cast<uint32_t>(m_Items.size());
  m_Items.emplace_back(folder, std::string_view(StoreName(split.name), split.name.size()));
  m_ExactItems.Insert(id, ExactHash(folder, split.name), [&](uint32_t k) {
    return ExactHash(m_Items[k].GetFolder(), m_Items[k].GetName());
  });
  if (firstOfFold) {
    m_FoldedItems.Insert(id, FoldedHash(m_Folders[folder].firstFold, split.name), [&](uint32_t k) {
      return FoldedHash(m_Folders[m_Items[k].GetFolder()].firstFold, m_Items[k].GetName());
    });
  }
  return id;
}

uint32_t KtWdlUrlRegistry::FindExact(std::string_view path) const {
  SplitPath split = Split(path);
  uint32_t folder = FindFolder(split.folder);
  if (folder == kNone) return kNone;
  return m_ExactItems.Find(ExactHash(folder, split.name), [&](uint32_t id) {
    return m_Items[id].GetFolder() == folder && m_Items[id].GetName() == split.name;
  });
}

uint32_t KtWdlUrlRegistry::FindNoCase(std::string_view path) const {
  SplitPath split = Split(path);
  uint32_t folder = FindFolderNoCase(split.folder);
  if (folder == kNone) return kNone;
  return m_FoldedItems.Find(FoldedHash(folder, split.name), [&](uint32_t id) {
    const KtWdlUrlItem& item = m_Items[id];
    return m_Folders[item.GetFolder()].firstFold == folder &&
           cp932::EqualsNoCase(item.GetName(), split.name);
  });
}

std::string KtWdlUrlRegistry::PathOf(uint32_t id) const {
  const KtWdlUrlItem& item = m_Items[id];
  std::vector<uint32_t> chain;
  size_t length = item.GetName().size();
  for (uint32_t f = item.GetFolder(); f != 0; f = m_Folders[f].parent) {
    chain.push_back(f);
    length += m_Folders[f].nameLength + 1;
  }
  std::string path;
  path.reserve(length);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    path += m_Folders[*it].Name();
    path += '/';
  }
  path += item.GetName();
  return path;
}

void KtWdlUrlRegistry::Clear() {
  m_Items.clear();
  m_Folders.clear();
  m_NameBlocks.clear();
  m_NameBlockFree = 0;
  m_ExactItems.Clear();
  m_FoldedItems.Clear();
  m_ExactFolders.Clear();
  m_FoldedFolders.Clear();
  m_LastFolder.clear();
  m_LastFolderId = kNone;
  m_LastFoldedFolder.clear();
  m_LastFoldedId = kNone;
  AddRoot();
}
