// The registry as the bookmark readers see it, with the values a test sets: Wine's registry
// files on POSIX, the system's registry on Windows. Both sides have to read alike.
#include <string>

#include "platform/registry.h"
#include "wine_prefix.h"

namespace {

using RegistryTest = WinePrefixTest;

constexpr char kMain[] = "Software\\Harvo Tests\\Main";

TEST_F(RegistryTest, StringsReadAsStoredWithNamesInAnyCase) {
  SetString(Hive::kUser, kMain, "Plain", "C:\\Program Files\\Nav");
  SetString(Hive::kUser, kMain, "Quoted", "say \"hi\"\tnow\n");
  SetExpandString(Hive::kUser, kMain, "Expand", "%USERPROFILE%\\Favorites");
  SetString(Hive::kUser, kMain, "", "the default");
  SetString(Hive::kUser, kMain, "Empty", "");
  SetDword(Hive::kUser, kMain, "Number", 16);
  SetString(Hive::kUser, "Software\\Harvo Tests\\Other", "Plain", "other key");

  hvreg::RegKey key;
  ASSERT_TRUE(key.Open(hvreg::RegRoot::CurrentUser, "software\\HARVO TESTS\\main"));
  std::string value;
  EXPECT_TRUE(key.QueryString("plain", 260, &value));
  EXPECT_EQ(value, "C:\\Program Files\\Nav");
  EXPECT_TRUE(key.QueryString("Quoted", 260, &value));
  EXPECT_EQ(value, "say \"hi\"\tnow\n");
  EXPECT_TRUE(key.QueryString("EXPAND", 260, &value));
  EXPECT_EQ(value, "%USERPROFILE%\\Favorites");  // not expanded
  EXPECT_TRUE(key.QueryString("", 260, &value));
  EXPECT_EQ(value, "the default");
  EXPECT_TRUE(key.QueryString("Empty", 1, &value));
  EXPECT_EQ(value, "");

  value = "unchanged";
  EXPECT_FALSE(key.QueryString("Number", 260, &value));
  EXPECT_FALSE(key.QueryString("Missing", 260, &value));
  EXPECT_EQ(value, "unchanged");
  // "C:\Program Files\Nav" is 20 characters: it needs 21 bytes with its zero.
  EXPECT_TRUE(key.QueryString("Plain", 21, &value));
  EXPECT_FALSE(key.QueryString("Plain", 20, &value));

  key.Close();
  EXPECT_FALSE(key.QueryString("Plain", 260, &value));
}

TEST_F(RegistryTest, KeysAreFoundByTheirWholePathInTheirOwnHive) {
  SetString(Hive::kUser, kMain, "X", "1");
  SetString(Hive::kUser, "Software\\Harvo Tests\\Deep\\Only\\Leaf", "X", "1");
  hvreg::RegKey key;
  EXPECT_FALSE(key.Open(hvreg::RegRoot::CurrentUser, "Software\\Harvo Tests\\Mai"));
  EXPECT_FALSE(key.Open(hvreg::RegRoot::LocalMachine, kMain));
  // A key that only has sub-keys exists, without values.
  ASSERT_TRUE(key.Open(hvreg::RegRoot::CurrentUser, "Software\\Harvo Tests\\Deep"));
  std::string value;
  EXPECT_FALSE(key.QueryString("X", 260, &value));

  SetString(Hive::kMachine, kMain, "X", "machine");
  ASSERT_TRUE(key.Open(hvreg::RegRoot::LocalMachine, kMain));
  EXPECT_TRUE(key.QueryString("X", 260, &value));
  EXPECT_EQ(value, "machine");

  // A removed value is gone; its key stays.
  RemoveValue(Hive::kUser, kMain, "X");
  ASSERT_TRUE(key.Open(hvreg::RegRoot::CurrentUser, kMain));
  EXPECT_FALSE(key.QueryString("X", 260, &value));

  // Once taken back, neither hive has the keys.
  ResetRegistry();
  EXPECT_FALSE(key.Open(hvreg::RegRoot::CurrentUser, kMain));
  EXPECT_FALSE(key.Open(hvreg::RegRoot::CurrentUser, "Software\\Harvo Tests"));
  EXPECT_FALSE(key.Open(hvreg::RegRoot::LocalMachine, kMain));
}

}  // namespace
