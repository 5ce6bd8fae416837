// One accepted URL path of a job, with its saved flag and the last error reported for it.
#ifndef HARVO_SITE_URL_ITEM_H
#define HARVO_SITE_URL_ITEM_H

#include <cstdint>
#include <string>
#include <utility>

class KtWdlUrlItem {
 public:
  KtWdlUrlItem() = default;
  virtual ~KtWdlUrlItem() = default;

  void SetPath(std::string path) {
    m_Path = std::move(path);
    m_Restored = 0;
  }
  const std::string& GetPath() const { return m_Path; }
  void SetRestored() { m_Restored = 1; }
  int IsRestored() const { return m_Restored; }
  void SetError(int32_t code) { m_Error = code; }
  int32_t GetError() const { return m_Error; }
  int IsFailed() const;
  // 1 when path is not null and equals the item's path ignoring case.
  int Match(const char* path) const;

 private:
  std::string m_Path;
  int m_Restored = 0;
  int32_t m_Error = 0;
};

#endif  // HARVO_SITE_URL_ITEM_H
