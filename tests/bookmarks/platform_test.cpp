// The POSIX stand-ins the bookmark readers see the system through.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/dirlist.h"
#include "platform/envexpand.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/textfile.h"
#include "platform/wineprefix.h"
#include "wine_prefix.h"

namespace {

std::vector<std::string> ReadPieces(const std::string& path, size_t bufferSize = 1024) {
  hvtext::TextFile file;
  std::vector<std::string> pieces;
  if (!file.Open(path)) return pieces;
  std::string line;
  while (file.ReadLine(&line, bufferSize)) pieces.push_back(line);
  return pieces;
}

using PlatformTest = WinePrefixTest;

TEST_F(PlatformTest, TextFile_ReadsLikeFgetsInTextMode) {
  std::string longLine(1500, 'x');
  WriteFileText(dir_ / "a.txt", "a\r\nb\rc\n" + longLine + "\r\n" + std::string(1023, 'y') + "\n" +
                                    std::string(1022, 'z') + "\r\nlast");
  std::vector<std::string> expected = {"a\n",
                                       "b\rc\n",
                                       std::string(1023, 'x'),
                                       std::string(477, 'x') + "\n",
                                       std::string(1023, 'y'),
                                       "\n",
                                       std::string(1022, 'z') + "\n",
                                       "last"};
  EXPECT_EQ(ReadPieces(dir_ / "a.txt"), expected);

  WriteFileText(dir_ / "b.txt", "one\n");
  EXPECT_EQ(ReadPieces(dir_ / "b.txt"), std::vector<std::string>{"one\n"});
  WriteFileText(dir_ / "empty.txt", "");
  EXPECT_TRUE(ReadPieces(dir_ / "empty.txt").empty());
}

TEST_F(PlatformTest, TextFile_OpensOnlyRegularFiles) {
  hvtext::TextFile file;
  EXPECT_FALSE(file.Open(dir_ / "missing.txt"));
  EXPECT_FALSE(file.Open(dir_.path()));
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(file.Open(dir_ / "fifo"));  // would block for a writer otherwise
  EXPECT_FALSE(file.Open("/dev/zero"));    // would never end otherwise
}

// What the registry files hold beyond what a test can set through the fixture (registry_test.cpp
// covers that on both sides): Wine's escapes, embedded NULs, values of other types.
TEST_F(PlatformTest, Registry_ReadsWineEscapesAndRefusesOtherTypes) {
  WriteUserReg(
      Key("Software\\Test\\Main",
          {R"("Quoted"="say \"hi\"\tnow\n")", R"("Unicode"="A\x3042\x00e9\xd83d\xde00")",
           R"("Nul"="ab\0cd")", R"("Binary"=hex:01,02,03)", R"("Multi"=hex(7):41,00,00,00)"}));
  hvreg::RegKey key;
  ASSERT_TRUE(key.Open(hvreg::RegRoot::CurrentUser, "Software\\Test\\Main"));
  std::string value;
  EXPECT_TRUE(key.QueryString("Quoted", 260, &value));
  EXPECT_EQ(value, "say \"hi\"\tnow\n");
  // U+3042 in Shift_JIS; U+00E9 and U+1F600 have no place in it.
  EXPECT_TRUE(key.QueryString("Unicode", 260, &value));
  EXPECT_EQ(value, "A\x82\xA0??");
  EXPECT_TRUE(key.QueryString("Nul", 260, &value));
  EXPECT_EQ(value, "ab");

  value = "unchanged";
  EXPECT_FALSE(key.QueryString("Binary", 260, &value));
  EXPECT_FALSE(key.QueryString("Multi", 260, &value));
  EXPECT_EQ(value, "unchanged");
  EXPECT_FALSE(key.Open(hvreg::RegRoot::LocalMachine, "Software\\Test\\Main"));  // no system.reg
}

TEST_F(PlatformTest, Registry_RefusesFilesThatAreNotWineRegistries) {
  WriteFileText(dir_ / "user.reg", "REGEDIT4\n\n[Software\\\\Test]\n\"A\"=\"b\"\n");
  hvreg::RegKey key;
  EXPECT_FALSE(key.Open(hvreg::RegRoot::CurrentUser, "Software\\Test"));
  // A damaged line (unterminated string) is passed over; the rest of the key still reads.
  WriteUserReg(Key("Software\\Test", {R"("Broken"="no end)", R"("Good"="yes")"}));
  ASSERT_TRUE(key.Open(hvreg::RegRoot::CurrentUser, "Software\\Test"));
  std::string value;
  EXPECT_FALSE(key.QueryString("Broken", 260, &value));
  EXPECT_TRUE(key.QueryString("Good", 260, &value));
  EXPECT_EQ(value, "yes");
}

TEST_F(PlatformTest, EnvExpand_ReplacesKnownNamesAndKeepsTheRest) {
  ScopedEnv var("HARVO_TEST_DIR", "D:\\data");
  std::string out;
  EXPECT_TRUE(hvenv::ExpandEnvironmentStrings("%harvo_test_dir%\\x", 260, &out));
  EXPECT_EQ(out, "D:\\data\\x");
  EXPECT_TRUE(hvenv::ExpandEnvironmentStrings("%NO_SUCH_VAR_X%\\%HARVO_TEST_DIR%", 260, &out));
  EXPECT_EQ(out, "%NO_SUCH_VAR_X%\\D:\\data");
  EXPECT_TRUE(hvenv::ExpandEnvironmentStrings("100%%done%", 260, &out));
  EXPECT_EQ(out, "100%%done%");
  EXPECT_TRUE(hvenv::ExpandEnvironmentStrings("%HARVO_TEST_DIR", 260, &out));
  EXPECT_EQ(out, "%HARVO_TEST_DIR");

  // Wine's per-user values, used while the environment has none.
  EXPECT_TRUE(hvenv::ExpandEnvironmentStrings("%USERPROFILE%\\Favorites", 260, &out));
  EXPECT_EQ(out, "C:\\users\\tester\\Favorites");
  EXPECT_TRUE(hvenv::ExpandEnvironmentStrings("%AppData%", 260, &out));
  EXPECT_EQ(out, "C:\\users\\tester\\AppData\\Roaming");
  ScopedEnv own("USERPROFILE", "E:\\me");
  EXPECT_TRUE(hvenv::ExpandEnvironmentStrings("%USERPROFILE%", 260, &out));
  EXPECT_EQ(out, "E:\\me");

  // The result has to fit the buffer with its terminating zero.
  EXPECT_TRUE(hvenv::ExpandEnvironmentStrings(std::string(259, 'a'), 260, &out));
  EXPECT_FALSE(hvenv::ExpandEnvironmentStrings(std::string(260, 'a'), 260, &out));
  EXPECT_TRUE(
      hvenv::ExpandEnvironmentStrings(std::string(252, 'a') + "%HARVO_TEST_DIR%", 260, &out));
  EXPECT_FALSE(
      hvenv::ExpandEnvironmentStrings(std::string(253, 'a') + "%HARVO_TEST_DIR%", 260, &out));
}

TEST_F(PlatformTest, MapWindowsPath_GoesThroughTheDosDevicesOfThePrefix) {
  EXPECT_EQ(hvwine::MapWindowsPath("C:\\Program Files\\Nav"),
            Prefix() + "dosdevices/c:/Program Files/Nav");
  EXPECT_EQ(hvwine::MapWindowsPath("d:\\"), Prefix() + "dosdevices/d:/");
  EXPECT_EQ(hvwine::MapWindowsPath("E:"), Prefix() + "dosdevices/e:");
  EXPECT_EQ(hvwine::MapWindowsPath("\\\\server\\share\\f"),
            Prefix() + "dosdevices/unc/server/share/f");
  EXPECT_EQ(hvwine::MapWindowsPath("rel\\path"), "rel/path");
  EXPECT_EQ(hvwine::MapWindowsPath("/already/local"), "/already/local");
  // 0x95 0x5C is one double-byte character: its trail byte is no separator.
  EXPECT_EQ(hvwine::MapWindowsPath("C:\\\x95\x5C\\a"), Prefix() + "dosdevices/c:/\x95\x5C/a");

  ScopedEnv noPrefix("WINEPREFIX", nullptr);
  ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(hvwine::WinePrefix(), "/home/someone/.wine/");
}

TEST_F(PlatformTest, DirListing_GivesWindowsAttributes) {
  namespace fs = std::filesystem;
  WriteFileText(dir_ / "list/file.url", "");
  WriteFileText(dir_ / "list/.hidden.url", "");
  fs::create_directories(dir_ / "list/sub");
  fs::create_directories(dir_ / "list/.secret");
  fs::create_directory_symlink(dir_ / "list/sub", dir_ / "list/junction");
  fs::create_symlink(dir_ / "list/nowhere", dir_ / "list/dangling");

  hvdir::DirListing listing;
  ASSERT_TRUE(listing.Open(dir_ / "list/"));
  std::vector<std::string> names;
  std::map<std::string, uint32_t> attributes;
  hvdir::DirEntry entry;
  while (listing.Next(&entry)) {
    names.push_back(entry.name);
    attributes[entry.name] = entry.attributes;
  }
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], ".");
  EXPECT_EQ(names[1], "..");
  EXPECT_EQ(names.size(), 8u);
  EXPECT_EQ(attributes["file.url"], 0u);
  EXPECT_EQ(attributes[".hidden.url"], hvdir::kAttributeHidden);
  EXPECT_EQ(attributes["sub"], hvdir::kAttributeDirectory);
  EXPECT_EQ(attributes[".secret"], hvdir::kAttributeDirectory | hvdir::kAttributeHidden);
  EXPECT_EQ(attributes["junction"], hvdir::kAttributeDirectory);
  EXPECT_EQ(attributes["dangling"], 0u);
  EXPECT_FALSE(listing.Open(dir_ / "missing/"));

  hvdir::FolderId a, b;
  ASSERT_TRUE(hvdir::GetFolderId(dir_ / "list/sub", &a));
  ASSERT_TRUE(hvdir::GetFolderId(dir_ / "list/junction/", &b));
  EXPECT_EQ(a, b);
}

TEST_F(PlatformTest, Profile_ReadsTheFirstMatchingKeyOfTheFirstMatchingSection) {
  std::string path = dir_ / "a.url";
  WriteFileText(path,
                "[Other]\r\nURL=http://wrong/\r\n"
                "  [ internetshortcut ]  \r\n"
                "IconIndex=0\r\n"
                "  url  =  http://right/  \r\n"
                "URL=http://second/\r\n"
                "[InternetShortcut]\r\nURL=http://third/\r\n");
  auto get = [&](const char* section, const char* key) {
    return hvprofile::GetPrivateProfileString(section, key, "", 2048, path);
  };
  EXPECT_EQ(get("InternetShortcut", "URL"), "http://right/");
  EXPECT_EQ(get("InternetShortcut", "Missing"), "");
  EXPECT_EQ(get("Missing", "URL"), "");
  EXPECT_EQ(hvprofile::GetPrivateProfileString("Other", "URL", "def", 2048, dir_ / "none.url"),
            "def");

  WriteFileText(path, "[InternetShortcut]\nURL=\"http://quoted/\"\nX=" + std::string(3000, 'u'));
  EXPECT_EQ(get("InternetShortcut", "URL"), "http://quoted/");
  EXPECT_EQ(get("InternetShortcut", "X"), std::string(2047, 'u'));
  // A cut never splits a double-byte character.
  WriteFileText(path, "[InternetShortcut]\nURL=" + std::string(2046, 'u') + "\x82\xA0");
  EXPECT_EQ(get("InternetShortcut", "URL"), std::string(2046, 'u'));
}

}  // namespace
