#include "platform/wineprefix.h"

#include "platform/win32.h"

// On Windows the registry and the drives are the system's own: there is no prefix to map into.
namespace hvwine {

std::string WinePrefix() {
  return std::string();
}

std::string WineUserName() {
  char name[257] = {};
  DWORD size = sizeof name;
  if (!::GetUserNameA(name, &size)) return std::string();
  return name;
}

std::string MapWindowsPath(std::string_view path) {
  return std::string(path);
}

}  // namespace hvwine
