#include "wine_prefix.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>

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

namespace {

const std::string kUserRegHeader =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0\n\n#arch=win64\n\n";
const std::string kSystemRegHeader =
    "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n";

// One key of a registry file: its name and its value lines, in the order they were set.
struct RegFileKey {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;  // value name, whole line
};

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
      continue;
    }
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

// The values set so far, per registry file; each change writes the file again.
struct WinePrefixTest::Platform {
  explicit Platform(const std::string& prefix)
      : dir_(prefix),
        prefix_("WINEPREFIX", prefix.c_str()),
        user_("USER", "tester"),
        profile_("USERPROFILE", nullptr),
        userName_("USERNAME", nullptr),
        appData_("APPDATA", nullptr) {}

  // Sets one value line of key (an empty line only makes the key exist) and writes the hive's
  // file again.
  void Set(Hive hive, const std::string& key, const std::string& line, const std::string& name);
  void Remove(Hive hive, const std::string& key, const std::string& name);
  void Clear();

 private:
  void Write(Hive hive);

  std::string dir_;
  std::vector<RegFileKey> userKeys_, machineKeys_;
  ScopedEnv prefix_;
  ScopedEnv user_;
  ScopedEnv profile_;
  ScopedEnv userName_;
  ScopedEnv appData_;
};

WinePrefixTest::WinePrefixTest() : platform_(std::make_unique<Platform>(dir_.path())) {
  std::filesystem::create_directories(dir_ / "drive_c");
  std::filesystem::create_directories(dir_ / "dosdevices");
  std::filesystem::create_directory_symlink("../drive_c", dir_ / "dosdevices/c:");
}

WinePrefixTest::~WinePrefixTest() = default;

std::string WinePrefixTest::Key(const std::string& name, const std::vector<std::string>& lines) {
  std::string escaped;
  for (char c : name) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  std::string text = "[" + escaped + "] 1700000000\n#time=1d9a0b0c0d0e0f0\n";
  for (const std::string& line : lines) text += line + "\n";
  return text + "\n";
}

void WinePrefixTest::WriteUserReg(const std::string& keys) {
  WriteFileText(dir_ / "user.reg", kUserRegHeader + keys);
}

void WinePrefixTest::WriteSystemReg(const std::string& keys) {
  WriteFileText(dir_ / "system.reg", kSystemRegHeader + keys);
}

namespace {

// Sets one value line of key (or, with an empty line, only makes the key exist).
void SetLine(std::vector<RegFileKey>& keys, const std::string& key, const std::string& name,
             const std::string& line) {
  auto found =
      std::find_if(keys.begin(), keys.end(), [&](const RegFileKey& k) { return k.name == key; });
  if (found == keys.end()) found = keys.insert(keys.end(), RegFileKey{key, {}});
  if (line.empty()) return;
  for (auto& value : found->values) {
    if (value.first == name) {
      value.second = line;
      return;
    }
  }
  found->values.emplace_back(name, line);
}

std::string ValueLine(const std::string& name, const std::string& data) {
  return (name.empty() ? std::string("@") : Quoted(name)) + "=" + data;
}

}  // namespace

void WinePrefixTest::Platform::Set(Hive hive, const std::string& key, const std::string& line,
                                   const std::string& name) {
  SetLine(hive == Hive::kUser ? userKeys_ : machineKeys_, key, name, line);
  Write(hive);
}

void WinePrefixTest::Platform::Remove(Hive hive, const std::string& key, const std::string& name) {
  for (RegFileKey& k : hive == Hive::kUser ? userKeys_ : machineKeys_) {
    if (k.name != key) continue;
    std::erase_if(k.values, [&](const auto& value) { return value.first == name; });
  }
  Write(hive);
}

void WinePrefixTest::Platform::Write(Hive hive) {
  std::string text;
  for (const RegFileKey& k : hive == Hive::kUser ? userKeys_ : machineKeys_) {
    std::vector<std::string> lines;
    for (const auto& value : k.values) lines.push_back(value.second);
    text += Key(k.name, lines);
  }
  if (hive == Hive::kUser) {
    WriteFileText(dir_ + "user.reg", kUserRegHeader + text);
  } else {
    WriteFileText(dir_ + "system.reg", kSystemRegHeader + text);
  }
}

void WinePrefixTest::Platform::Clear() {
  userKeys_.clear();
  machineKeys_.clear();
  std::filesystem::remove(dir_ + "user.reg");
  std::filesystem::remove(dir_ + "system.reg");
}

void WinePrefixTest::SetString(Hive hive, const std::string& key, const std::string& name,
                               const std::string& data) {
  platform_->Set(hive, key, ValueLine(name, Quoted(data)), name);
}

void WinePrefixTest::SetExpandString(Hive hive, const std::string& key, const std::string& name,
                                     const std::string& data) {
  platform_->Set(hive, key, ValueLine(name, "str(2):" + Quoted(data)), name);
}

void WinePrefixTest::SetDword(Hive hive, const std::string& key, const std::string& name,
                              uint32_t data) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08x", data);
  platform_->Set(hive, key, ValueLine(name, std::string("dword:") + hex), name);
}

void WinePrefixTest::AddKey(Hive hive, const std::string& key) {
  platform_->Set(hive, key, "", "");
}

void WinePrefixTest::RemoveValue(Hive hive, const std::string& key, const std::string& name) {
  platform_->Remove(hive, key, name);
}

void WinePrefixTest::ResetRegistry() {
  platform_->Clear();
}

std::string WinePrefixTest::WinPath(const std::string& relative) const {
  std::string path = "C:\\" + relative;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string WinePrefixTest::OnDriveC(const std::string& relative) const {
  return dir_.path() + "dosdevices/c:/" + relative;
}

std::string WinePrefixTest::MappedPath(const std::string& relative) const {
  std::string local = relative;
  std::replace(local.begin(), local.end(), '\\', '/');
  return OnDriveC(local);
}

void WinePrefixTest::MarkHidden(const std::string& relative) {
  // The name makes it hidden: it has to begin with ".".
  std::string name = std::filesystem::path(relative).filename().string();
  ASSERT_TRUE(name.starts_with(".")) << relative;
}
