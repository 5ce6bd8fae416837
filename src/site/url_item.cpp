#include "site/url_item.h"

#include "harvo.h"
#include "platform/codepage.h"

int KtWdlUrlItem::IsFailed() const {
  return m_Error == HVR_ERR_FILE ? 1 : 0;
}

int KtWdlUrlItem::Match(const char* path) const {
  return (path != nullptr && cp932::EqualsNoCase(path, m_Path)) ? 1 : 0;
}
