#include "bookmarks/store_io.h"

#include "platform/envexpand.h"

bool ReadStoreLine(hvtext::TextFile& file, std::string* line) {
  if (!file.ReadLine(line, kStoreLineBuffer)) return false;
  size_t nul = line->find('\0');
  if (nul != std::string::npos) line->resize(nul);
  return true;
}

StoreValue ReadStoreValue(hvreg::RegRoot root, std::string_view key, std::string_view name,
                          size_t limit, bool expand, std::string* value) {
  hvreg::RegKey regKey;
  if (!regKey.Open(root, key)) return StoreValue::kNoKey;
  std::string raw;
  if (!regKey.QueryString(name, limit, &raw)) return StoreValue::kNoValue;
  regKey.Close();
  if (!expand) {
    *value = std::move(raw);
    return StoreValue::kRead;
  }
  std::string expanded;
  if (!hvenv::ExpandEnvironmentStrings(raw, limit, &expanded)) return StoreValue::kNoValue;
  *value = std::move(expanded);
  return StoreValue::kRead;
}
