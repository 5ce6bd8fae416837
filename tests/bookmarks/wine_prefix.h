// A Wine-style prefix in a temporary folder for one test: registry files, drive_c with its
// dosdevices/c: link, and WINEPREFIX and USER pointing at it while the test runs (restored
// afterwards; the tests of one program run one after the other).
#ifndef HARVO_TESTS_BOOKMARKS_WINE_PREFIX_H
#define HARVO_TESTS_BOOKMARKS_WINE_PREFIX_H

#include <gtest/gtest.h>

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

  // One registry key as Wine writes it: the header line with its name escaped, then lines.
  static std::string Key(const std::string& name, const std::vector<std::string>& lines);
  // Writes user.reg (HKEY_CURRENT_USER) or system.reg (HKEY_LOCAL_MACHINE) with these keys.
  void WriteUserReg(const std::string& keys);
  void WriteSystemReg(const std::string& keys);

  // The prefix folder, ending with "/".
  const std::string& Prefix() const { return dir_.path(); }
  // Where C:\<relative> lies through the dosdevices link ("/" for "\").
  std::string OnDriveC(const std::string& relative) const;

  TempDir dir_;

 private:
  ScopedEnv prefix_;
  ScopedEnv user_;
  ScopedEnv profile_;
  ScopedEnv appData_;
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
