// Every bookmark reader on a store whose content is the input. A Wine-style prefix is built
// once: registry files that point at a Mosaic hotlist, an Opera 5 hotlist, the Favorites folder
// and a Netscape 4.x user; each input becomes one of those stores, a Netscape bookmark file read
// by name, or the user's registry file itself (whose values are then looked up).
//
// Invariants: no crash, no leak, no hang; each reader returns 0 and leaves a link array that
// HvrDelLinkArray frees.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "bookmarks/store_io.h"
#include "fuzz_support.h"
#include "harvo.h"
#include "platform/wineprefix.h"

namespace {

std::string Prefix() {
  return fuzz::ScratchFolder() + "prefix/";
}
std::string DriveC(const std::string& relative) {
  return Prefix() + "drive_c/" + relative;
}

std::string Key(const std::string& name, const std::string& line) {
  std::string escaped;
  for (char c : name) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return "[" + escaped + "] 1700000000\n#time=1d9a0b0c0d0e0f0\n" + line + "\n\n";
}

const std::string& UserReg() {
  static const std::string text =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0\n\n#arch=win64\n\n" +
      Key("Software\\NCSA\\Mosaic\\Hotlist Manager",
          R"("CurrentHotfile"="C:\\Mosaic\\hotlist.ini")") +
      Key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
          R"("Favorites"=str(2):"%USERPROFILE%\\Favorites")") +
      Key("Software\\Netscape\\Netscape Navigator\\Main",
          R"("Install Directory"="C:\\Netscape\\Program")") +
      Key("Software\\Netscape\\Netscape Navigator\\biff", R"("CurrentUser"="fuzzer")");
  return text;
}

void BuildPrefix() {
  std::filesystem::create_directories(DriveC("Mosaic"));
  std::filesystem::create_directories(DriveC("Program Files/Opera"));
  std::filesystem::create_directories(DriveC("users/tester/Favorites"));
  std::filesystem::create_directories(DriveC("Netscape/Users/fuzzer"));
  std::filesystem::create_directories(Prefix() + "dosdevices");
  std::filesystem::create_directory_symlink("../drive_c", Prefix() + "dosdevices/c:");
  fuzz::WriteFile(Prefix() + "user.reg", UserReg());
  fuzz::WriteFile(
      Prefix() + "system.reg",
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n" +
          Key("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Opera.exe",
              R"("Path"="C:\\Program Files\\Opera")"));
  setenv("WINEPREFIX", Prefix().c_str(), 1);
  setenv("USER", "tester", 1);
  unsetenv("USERPROFILE");
  unsetenv("APPDATA");
}

// The values the readers look up in the current user's registry.
const std::pair<const char*, const char*> kRegistryValues[] = {
    {"Software\\NCSA\\Mosaic\\Hotlist Manager", "CurrentHotfile"},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", "Favorites"},
    {"Software\\Netscape\\Netscape Navigator\\Main", "Install Directory"},
    {"Software\\Netscape\\Netscape Navigator\\biff", "CurrentUser"},
};

// Calls a reader the way a host does and frees what it made.
template <typename Read>
void Check(Read read, bool append) {
  HvrLinkArray* links = nullptr;
  if (append) {
    FUZZ_CHECK(HvrGetBookmarks("/nonexistent/bookmark.htm", &links, "X", 0) == 0, "");
  }
  FUZZ_CHECK(read(&links, append ? 1 : 0) == 0, "a reader did not return 0");
  FUZZ_CHECK(links != nullptr, "no link array");
  FUZZ_CHECK(HvrDelLinkArray(&links) == 0 && links == nullptr, "");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  BuildPrefix();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int store = input.ConsumeIntegralInRange<int>(0, 5);
  const bool append = input.ConsumeBool();
  const char* root = input.ConsumeBool() ? "ROOT" : nullptr;
  const std::string content = input.ConsumeRemainingBytesAsString();

  switch (store) {
    case 0: {
      const std::string file = fuzz::ScratchFolder() + "bookmark.htm";
      fuzz::WriteFile(file, content);
      Check([&](HvrLinkArray** l, int a) { return HvrGetBookmarks(file.c_str(), l, root, a); },
            append);
      break;
    }
    case 1:
      fuzz::WriteFile(DriveC("Mosaic/hotlist.ini"), content);
      Check([&](HvrLinkArray** l, int a) { return HvrGetHotlists(l, root, a); }, append);
      break;
    case 2:
      fuzz::WriteFile(DriveC("Program Files/Opera/Opera5.adr"), content);
      Check([&](HvrLinkArray** l, int a) { return HvrGetOpera5(l, root, a); }, append);
      break;
    case 3: {
      // A shortcut, and the same text once more as a shortcut in a folder.
      fuzz::WriteFile(DriveC("users/tester/Favorites/a.url"), content);
      fuzz::MakeFolders(DriveC("users/tester/Favorites/sub/b.url"));
      fuzz::WriteFile(DriveC("users/tester/Favorites/sub/b.url"), content);
      Check([&](HvrLinkArray** l, int a) { return HvrGetFavorites(l, root, a); }, append);
      break;
    }
    case 4:
      fuzz::WriteFile(DriveC("Netscape/Users/fuzzer/bookmark.htm"), content);
      Check([&](HvrLinkArray** l, int a) { return HvrGet4xBookmarks(l, root, a); }, append);
      break;
    default: {
      // The registry itself is the store. Its values may name any file or folder, the file
      // system's root or an endless device included, and a reader reads whatever its store's
      // value names; so here the values are looked up, expanded and mapped as the readers do it,
      // without reading what they name.
      fuzz::WriteFile(Prefix() + "user.reg", content);
      std::string value;
      for (const auto& [key, name] : kRegistryValues) {
        if (ReadStoreValue(hvreg::RegRoot::CurrentUser, key, name, 260, true, &value) ==
            StoreValue::kRead) {
          hvwine::MapWindowsPath(value);
        }
      }
      std::string path;
      FUZZ_CHECK(HvrGet4xBookmarksPath(&path) == 0, "");
      fuzz::WriteFile(Prefix() + "user.reg", UserReg());
      break;
    }
  }
  return 0;
}
