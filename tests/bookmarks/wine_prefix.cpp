#include "wine_prefix.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) old_ = old;
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

WinePrefixTest::WinePrefixTest()
    : prefix_("WINEPREFIX", dir_.path().c_str()),
      user_("USER", "tester"),
      profile_("USERPROFILE", nullptr),
      appData_("APPDATA", nullptr) {
  std::filesystem::create_directories(dir_ / "drive_c");
  std::filesystem::create_directories(dir_ / "dosdevices");
  std::filesystem::create_directory_symlink("../drive_c", dir_ / "dosdevices/c:");
}

std::string WinePrefixTest::Key(const std::string& name, const std::vector<std::string>& lines) {
  std::string escaped;
  for (char c : name) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  std::string text = "[" + escaped + "] 1700000000\n#time=1d9a0b0c0d0e0f0\n";
  for (const std::string& line : lines) text += line + "\n";
  return text + "\n";
}

void WinePrefixTest::WriteUserReg(const std::string& keys) {
  WriteFileText(dir_ / "user.reg",
                "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0\n\n"
                "#arch=win64\n\n" +
                    keys);
}

void WinePrefixTest::WriteSystemReg(const std::string& keys) {
  WriteFileText(
      dir_ / "system.reg",
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n" + keys);
}

std::string WinePrefixTest::OnDriveC(const std::string& relative) const {
  return dir_.path() + "dosdevices/c:/" + relative;
}

std::vector<std::string> Describe(const HvrLinkArray* links) {
  std::vector<std::string> out;
  if (links == nullptr) return out;
  for (size_t i = 0; i < links->size(); ++i) {
    const HvrLinkInfo* link = (*links)[i];
    out.push_back(link->Folder + "|" + link->Job.SiteName + "|" + link->Job.Url);
  }
  return out;
}
