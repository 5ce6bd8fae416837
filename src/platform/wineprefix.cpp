#include "platform/wineprefix.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/codepage.h"

namespace hvwine {
namespace {

// The account entry of the process's user; false when there is none.
bool AccountEntry(std::string* name, std::string* home) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return false;
  if (name != nullptr && found->pw_name != nullptr) *name = found->pw_name;
  if (home != nullptr && found->pw_dir != nullptr) *home = found->pw_dir;
  return true;
}

std::string NonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string BackslashesToSlashes(std::string_view path) {
  std::string out(path);
  for (size_t i = 0; i < out.size(); i += cp932::CharLength(out, i)) {
    if (out[i] == '\\') out[i] = '/';
  }
  return out;
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::string WinePrefix() {
  std::string prefix = NonEmptyEnv("WINEPREFIX");
  if (prefix.empty()) {
    std::string home = NonEmptyEnv("HOME");
    if (home.empty()) AccountEntry(nullptr, &home);
    if (home.empty()) return std::string();
    if (home.back() != '/') home += '/';
    prefix = home + ".wine";
  }
  if (prefix.back() != '/') prefix += '/';
  return prefix;
}

std::string WineUserName() {
  std::string user = NonEmptyEnv("USER");
  if (user.empty()) AccountEntry(&user, nullptr);
  return user;
}

std::string MapWindowsPath(std::string_view path) {
  std::string local = BackslashesToSlashes(path);
  bool drive = path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':';
  bool unc = path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
  if (!drive && !unc) return local;
  std::string prefix = WinePrefix();
  if (prefix.empty()) return local;
  if (unc) return prefix + "dosdevices/unc/" + local.substr(2);
  std::string out = prefix + "dosdevices/";
  out += static_cast<char>(path[0] | 0x20);
  out += ':';
  std::string rest = local.substr(2);
  // "C:" alone or "C:name" (relative to the drive's current folder, which is its root here).
  if (!rest.empty() && rest[0] != '/') out += '/';
  return out + rest;
}

}  // namespace hvwine
