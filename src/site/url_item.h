// One accepted URL path of a job, with its saved flag and the last error reported for it. The
// path is held as the number of its folder in the registry's folder table and its own name, so
// that an item costs a few bytes beside the name.
#ifndef HARVO_SITE_URL_ITEM_H
#define HARVO_SITE_URL_ITEM_H

#include <cstdint>
#include <string_view>

class KtWdlUrlItem {
 public:
  // name: the path's part after its last "/", kept by the registry for the item's lifetime.
  KtWdlUrlItem(uint32_t folder, std::string_view name)
      : m_Name(name.data()), m_NameLength(static_cast<uint32_t>(name.size())), m_Folder(folder) {}

  uint32_t GetFolder() const { return m_Folder; }
  std::string_view GetName() const { return {m_Name, m_NameLength}; }
  void SetRestored() { m_Restored = 1; }
  int IsRestored() const { return m_Restored; }
  void SetError(int32_t code) { m_Error = code; }
  int32_t GetError() const { return m_Error; }
  int IsFailed() const;

 private:
  const char* m_Name;
  uint32_t m_NameLength;
  uint32_t m_Folder;
  int32_t m_Error = 0;
  uint8_t m_Restored = 0;
};

#endif  // HARVO_SITE_URL_ITEM_H
