// The Windows side of the bookmark tests' fixture changes the real registry: what it set has to
// be gone when a test ends, and what the user had there has to be back.
#include <string>

#include "platform/win32.h"
#include "wine_prefix.h"

namespace {

// Apart from the keys of the other tests, which may run at the same time: this one changes the
// registry before it takes its turn.
constexpr char kKey[] = "Software\\Harvo Restore Test\\Restore";

// The fixture on its own, outside a test of its kind.
class Fixture : public WinePrefixTest {
 public:
  void TestBody() override {}
  using WinePrefixTest::Hive;
  using WinePrefixTest::ResetRegistry;
  using WinePrefixTest::SetDword;
  using WinePrefixTest::SetString;
};

// The string value, or "(none)" when the value or its key is missing.
std::string ReadValue(const char* key, const char* name) {
  char data[256] = {};
  DWORD size = sizeof data - 1;
  DWORD type = 0;
  HKEY handle = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
    return "(none)";
  LONG result =
      ::RegQueryValueExA(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  ::RegCloseKey(handle);
  if (result != ERROR_SUCCESS) return "(none)";
  return type == REG_SZ ? std::string(data) : "(not a string)";
}

bool KeyExists(const char* key) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
    return false;
  ::RegCloseKey(handle);
  return true;
}

class RegistryRestoreTest : public ::testing::Test {
 protected:
  // A value of the user's own, made without the fixture.
  RegistryRestoreTest() {
    HKEY handle = nullptr;
    EXPECT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    if (handle == nullptr) return;
    static const char kBefore[] = "before";
    EXPECT_EQ(::RegSetValueExA(handle, "Kept", 0, REG_SZ, reinterpret_cast<const BYTE*>(kBefore),
                               sizeof kBefore),
              ERROR_SUCCESS);
    ::RegCloseKey(handle);
  }
  ~RegistryRestoreTest() override {
    ::RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Harvo Restore Test");
  }
};

TEST_F(RegistryRestoreTest, EarlierValuesComeBackAndCreatedKeysGo) {
  {
    Fixture fixture;
    fixture.SetString(Fixture::Hive::kUser, kKey, "Kept", "during");
    fixture.SetString(Fixture::Hive::kUser, kKey, "Kept", "later");  // saved once
    fixture.SetDword(Fixture::Hive::kUser, kKey, "Added", 5);
    fixture.SetString(Fixture::Hive::kUser, "Software\\Harvo Restore Test\\Restore\\New\\Deeper",
                      "X", "1");
    EXPECT_EQ(ReadValue(kKey, "Kept"), "later");
    EXPECT_EQ(ReadValue(kKey, "Added"), "(not a string)");
    EXPECT_EQ(ReadValue("Software\\Harvo Restore Test\\Restore\\New\\Deeper", "X"), "1");

    fixture.ResetRegistry();
    EXPECT_EQ(ReadValue(kKey, "Kept"), "before");
    EXPECT_FALSE(KeyExists("Software\\Harvo Restore Test\\Restore\\New"));
    fixture.SetString(Fixture::Hive::kUser, kKey, "Kept", "again");
    fixture.SetString(Fixture::Hive::kUser, "Software\\Harvo Restore Test\\Restore\\New", "X", "2");
  }
  EXPECT_EQ(ReadValue(kKey, "Kept"), "before");
  EXPECT_EQ(ReadValue(kKey, "Added"), "(none)");
  EXPECT_FALSE(KeyExists("Software\\Harvo Restore Test\\Restore\\New"));
}

}  // namespace
