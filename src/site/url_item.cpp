#include "site/url_item.h"

#include "harvo.h"

int KtWdlUrlItem::IsFailed() const {
  return m_Error == HVR_ERR_FILE ? 1 : 0;
}
