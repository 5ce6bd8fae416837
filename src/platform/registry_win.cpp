#include "platform/registry.h"

#include <vector>

#include "platform/codepage.h"
#include "platform/win32.h"

namespace hvreg {
namespace {

// Longest value name the registry allows, with its terminating zero.
constexpr DWORD kMaxValueName = 16384;

HKEY RootKey(RegRoot root) {
  return root == RegRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

}  // namespace

bool RegKey::Open(RegRoot root, std::string_view subKey) {
  Close();
  HKEY key = nullptr;
  if (::RegOpenKeyA(RootKey(root), std::string(subKey).c_str(), &key) != ERROR_SUCCESS) {
    return false;
  }
  // The key's values are read once: nothing stays open on the registry.
  std::vector<char> name(kMaxValueName);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = kMaxValueName;
    LONG found =
        ::RegEnumValueA(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (found == ERROR_NO_MORE_ITEMS) break;
    if (found != ERROR_SUCCESS) continue;
    Value value;
    value.name.assign(name.data(), nameLength);
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key, value.name.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      continue;
    }
    value.isString = type == REG_SZ || type == REG_EXPAND_SZ;
    if (value.isString) {
      std::vector<BYTE> data(size + 1);
      DWORD got = size;
      if (::RegQueryValueExA(key, value.name.c_str(), nullptr, &type, data.data(), &got) !=
          ERROR_SUCCESS) {
        continue;
      }
      value.data.assign(reinterpret_cast<const char*>(data.data()), got);
      // The stored terminating zero is not part of the text.
      if (!value.data.empty() && value.data.back() == '\0') value.data.pop_back();
    }
    values_.push_back(std::move(value));
  }
  ::RegCloseKey(key);
  open_ = true;
  return true;
}

void RegKey::Close() {
  open_ = false;
  values_.clear();
}

bool RegKey::QueryString(std::string_view name, size_t bufferSize, std::string* value) const {
  if (!open_) return false;
  for (const Value& v : values_) {
    if (!cp932::EqualsNoCase(v.name, name)) continue;
    if (!v.isString || v.data.size() + 1 > bufferSize) return false;
    *value = v.data.substr(0, v.data.find('\0'));
    return true;
  }
  return false;
}

}  // namespace hvreg
