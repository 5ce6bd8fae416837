#include "platform/envexpand.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/codepage.h"
#include "platform/wineprefix.h"

extern char** environ;

namespace hvenv {
namespace {

bool FromProcessEnvironment(std::string_view name, std::string* value) {
  if (const char* exact = std::getenv(std::string(name).c_str())) {
    *value = exact;
    return true;
  }
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    size_t eq = text.find('=');
    if (eq == std::string_view::npos || !cp932::EqualsNoCase(text.substr(0, eq), name)) continue;
    value->assign(text.substr(eq + 1));
    return true;
  }
  return false;
}

// What Wine sets up for every prefix, so that stored values such as %USERPROFILE%\Favorites
// resolve even though the host's own environment knows nothing of Windows.
bool FromWineDefaults(std::string_view name, std::string* value) {
  struct Default {
    const char* name;
    const char* value;  // "%u" stands for the user's profile folder
  };
  static const Default kDefaults[] = {
      {"USERPROFILE", "%u"},
      {"APPDATA", "%u\\AppData\\Roaming"},
      {"LOCALAPPDATA", "%u\\AppData\\Local"},
      {"USERNAME", ""},
      {"PUBLIC", "C:\\users\\Public"},
      {"ALLUSERSPROFILE", "C:\\ProgramData"},
      {"ProgramData", "C:\\ProgramData"},
      {"ProgramFiles", "C:\\Program Files"},
      {"SystemDrive", "C:"},
      {"SystemRoot", "C:\\windows"},
      {"windir", "C:\\windows"},
  };
  for (const Default& d : kDefaults) {
    if (!cp932::EqualsNoCase(name, d.name)) continue;
    std::string_view text(d.value);
    bool perUser = text.empty() || text.starts_with("%u");
    std::string user = perUser ? hvwine::WineUserName() : std::string();
    if (perUser && user.empty()) return false;
    if (text.empty()) {
      *value = user;
    } else if (perUser) {
      *value = "C:\\users\\" + user + std::string(text.substr(2));
    } else {
      *value = std::string(text);
    }
    return true;
  }
  return false;
}

}  // namespace

bool GetVariable(std::string_view name, std::string* value) {
  if (name.empty() || name.find('=') != std::string_view::npos) return false;
  return FromProcessEnvironment(name, value) || FromWineDefaults(name, value);
}

bool ExpandEnvironmentStrings(std::string_view in, size_t bufferSize, std::string* out) {
  out->clear();
  size_t i = 0;
  while (i < in.size()) {
    size_t open = in.find('%', i);
    if (open == std::string_view::npos) {
      out->append(in.substr(i));
      break;
    }
    out->append(in.substr(i, open - i));
    size_t close = in.find('%', open + 1);
    if (close == std::string_view::npos) {
      out->append(in.substr(open));
      break;
    }
    std::string value;
    if (GetVariable(in.substr(open + 1, close - open - 1), &value)) {
      out->append(value);
    } else {
      out->append(in.substr(open, close - open + 1));
    }
    i = close + 1;
    if (out->size() >= bufferSize) return false;
  }
  return out->size() < bufferSize;
}

}  // namespace hvenv
