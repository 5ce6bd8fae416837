// The system the bookmark readers look at, set up for one test: registry values and a drive
// folder inside a temporary folder. Two sides, chosen by the build:
// - POSIX (wine_prefix.cpp): a Wine-style prefix in the temporary folder, its registry files
//   (user.reg, system.reg) written from the values set, drive_c with its dosdevices/c: link,
//   and WINEPREFIX and USER pointing at it while the test runs.
// - Windows (wine_prefix_win.cpp): the real registry of the current user and machine. Every key
//   and value a test sets is put back as it was when the test ends (earlier values saved,
//   created keys deleted); the "drive" is a folder in the temporary folder, and USERPROFILE and
//   USERNAME point there. Tests of several processes take turns through a named mutex.
// The tests of one program run one after the other (environment variables are per process).
#ifndef HARVO_TESTS_BOOKMARKS_WINE_PREFIX_H
#define HARVO_TESTS_BOOKMARKS_WINE_PREFIX_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "harvo.h"
#include "support/temp_dir.h"

// Sets (or, with a null value, removes) one environment variable until destroyed.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

class WinePrefixTest : public ::testing::Test {
 protected:
  WinePrefixTest();
  ~WinePrefixTest() override;

  // HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE.
  enum class Hive { kUser, kMachine };

  // Sets a value of key (created with its missing parents when needed), replacing the value of
  // that name. An empty name is the key's default value.
  void SetString(Hive hive, const std::string& key, const std::string& name,
                 const std::string& data);
  void SetExpandString(Hive hive, const std::string& key, const std::string& name,
                       const std::string& data);
  void SetDword(Hive hive, const std::string& key, const std::string& name, uint32_t data);
  // Makes key exist, with no values set by the test.
  void AddKey(Hive hive, const std::string& key);
  // Removes one value of key (as the test found it or as it set it); the key stays.
  void RemoveValue(Hive hive, const std::string& key, const std::string& name);
  // Takes back every key and value set so far: the registry is again as the test found it.
  void ResetRegistry();

  // The Windows path of <drive>\<relative> ("\" between names), for registry values: C:\ of the
  // prefix on POSIX, a folder in the test's temporary folder on Windows.
  std::string WinPath(const std::string& relative) const;
  // Where the test writes <drive>\<relative> ("/" between names in relative).
  std::string OnDriveC(const std::string& relative) const;
  // The path the library opens for WinPath(relative): through the prefix's dosdevices on POSIX,
  // the Windows path itself on Windows.
  std::string MappedPath(const std::string& relative) const;
  // Makes a file written through OnDriveC hidden, as a name beginning with "." is on POSIX and
  // under Wine.
  void MarkHidden(const std::string& relative);

  // POSIX only, for the tests of the registry-file reader: one registry key as Wine writes it
  // (the header line with its name escaped, then lines), and user.reg / system.reg written
  // whole with these keys.
  static std::string Key(const std::string& name, const std::vector<std::string>& lines);
  void WriteUserReg(const std::string& keys);
  void WriteSystemReg(const std::string& keys);
  // The prefix folder, ending with "/".
  const std::string& Prefix() const { return dir_.path(); }

  TempDir dir_;

 private:
  struct Platform;
  std::unique_ptr<Platform> platform_;
};

// The links of an array as "Folder|SiteName|Url" lines, for whole-result comparisons.
std::vector<std::string> Describe(const HvrLinkArray* links);

// Owns a link-array variable and frees it with HvrDelLinkArray.
struct LinkArrayVar {
  LinkArrayVar() = default;
  ~LinkArrayVar() { HvrDelLinkArray(&array); }
  LinkArrayVar(const LinkArrayVar&) = delete;
  LinkArrayVar& operator=(const LinkArrayVar&) = delete;
  HvrLinkArray* array = nullptr;
};

#endif  // HARVO_TESTS_BOOKMARKS_WINE_PREFIX_H
