#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/win32.h"
#include "wine_prefix.h"

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  DWORD size = ::GetEnvironmentVariableA(name, nullptr, 0);
  if (size > 0) {
    std::string old(size, '\0');
    DWORD length = ::GetEnvironmentVariableA(name, old.data(), size);
    old.resize(length < size ? length : 0);
    old_ = std::move(old);
  }
  ::SetEnvironmentVariableA(name, value);
}

ScopedEnv::~ScopedEnv() {
  ::SetEnvironmentVariableA(name_.c_str(), old_ ? old_->c_str() : nullptr);
}

namespace {

// Tests in other processes (CTest runs several at once) would change the same keys: one test at
// a time holds this for as long as it has the registry changed.
constexpr char kRegistryMutex[] = "HarvoBookmarkTestsRegistry";

HKEY RootOf(bool user) {
  return user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

const char* HiveName(HKEY root) {
  return root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string Backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// What a test changed in the registry and how to take it back.
class RegistryChanges {
 public:
  ~RegistryChanges() { Undo(); }

  // Saves the value as it is (the first time only), then writes the new one.
  void SetValue(HKEY root, const std::string& key, const std::string& name, DWORD type,
                const void* data, DWORD size) {
    HKEY handle = CreateKey(root, key);
    if (handle == nullptr) return;
    Save(root, key, name);
    LONG result =
        ::RegSetValueExA(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    ::RegCloseKey(handle);
    if (result != ERROR_SUCCESS) {
      ADD_FAILURE() << "RegSetValueExA " << HiveName(root) << "\\" << key << " " << name << ": "
                    << result;
    }
  }

  // Saves the value as it is (the first time only), then deletes it. A missing key is left
  // missing.
  void DeleteValue(HKEY root, const std::string& key, const std::string& name) {
    HKEY handle = nullptr;
    if (::RegOpenKeyExA(root, key.c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS) return;
    Save(root, key, name);
    LONG result = ::RegDeleteValueA(handle, name.c_str());
    ::RegCloseKey(handle);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
      ADD_FAILURE() << "RegDeleteValueA " << HiveName(root) << "\\" << key << " " << name << ": "
                    << result;
    }
  }

  // Opens key for setting values, creating it and each missing parent (each noted for
  // deletion); null after a failure, which fails the test.
  HKEY CreateKey(HKEY root, const std::string& key) {
    HKEY handle = nullptr;
    for (size_t end = 0; end != std::string::npos;) {
      end = key.find('\\', end + 1);
      std::string part = key.substr(0, end);
      DWORD disposition = 0;
      bool last = end == std::string::npos;
      LONG result = ::RegCreateKeyExA(root, part.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      last ? KEY_QUERY_VALUE | KEY_SET_VALUE : KEY_QUERY_VALUE,
                                      nullptr, &handle, &disposition);
      if (result != ERROR_SUCCESS) {
        ADD_FAILURE() << "RegCreateKeyExA " << HiveName(root) << "\\" << part << ": " << result;
        return nullptr;
      }
      if (disposition == REG_CREATED_NEW_KEY) created_.push_back({root, part});
      if (!last) ::RegCloseKey(handle);
    }
    return handle;
  }

  // Puts every saved value back (or deletes it where there was none), latest first, then
  // deletes the keys created, the deepest first.
  void Undo() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) Restore(*it);
    saved_.clear();
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
      LONG result = ::RegDeleteKeyA(it->root, it->key.c_str());
      if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        ADD_FAILURE() << "RegDeleteKeyA " << HiveName(it->root) << "\\" << it->key << ": "
                      << result;
      }
    }
    created_.clear();
  }

 private:
  struct SavedValue {
    HKEY root = nullptr;
    std::string key, name;
    bool existed = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
  };
  struct CreatedKey {
    HKEY root;
    std::string key;
  };

  void Save(HKEY root, const std::string& key, const std::string& name) {
    for (const SavedValue& saved : saved_) {
      if (saved.root == root && _stricmp(saved.key.c_str(), key.c_str()) == 0 &&
          _stricmp(saved.name.c_str(), name.c_str()) == 0)
        return;
    }
    SavedValue saved;
    saved.root = root;
    saved.key = key;
    saved.name = name;
    HKEY handle = nullptr;
    if (::RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, &handle) == ERROR_SUCCESS) {
      DWORD size = 0;
      if (::RegQueryValueExA(handle, name.c_str(), nullptr, &saved.type, nullptr, &size) ==
          ERROR_SUCCESS) {
        saved.data.resize(size);
        saved.existed = ::RegQueryValueExA(handle, name.c_str(), nullptr, &saved.type,
                                           saved.data.data(), &size) == ERROR_SUCCESS;
        saved.data.resize(size);
      }
      ::RegCloseKey(handle);
    }
    saved_.push_back(std::move(saved));
  }

  static void Restore(const SavedValue& saved) {
    HKEY handle = nullptr;
    // A key that is gone again (the test's own) holds nothing to restore.
    if (::RegOpenKeyExA(saved.root, saved.key.c_str(), 0, KEY_SET_VALUE, &handle) != ERROR_SUCCESS)
      return;
    LONG result = saved.existed
                      ? ::RegSetValueExA(handle, saved.name.c_str(), 0, saved.type,
                                         saved.data.data(), static_cast<DWORD>(saved.data.size()))
                      : ::RegDeleteValueA(handle, saved.name.c_str());
    ::RegCloseKey(handle);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
      ADD_FAILURE() << "restoring " << HiveName(saved.root) << "\\" << saved.key << " "
                    << saved.name << ": " << result;
    }
  }

  std::vector<SavedValue> saved_;
  std::vector<CreatedKey> created_;
};

// Holds the named mutex from construction to destruction.
class RegistryTurn {
 public:
  RegistryTurn() : mutex_(::CreateMutexA(nullptr, FALSE, kRegistryMutex)) {
    if (mutex_ == nullptr) {
      ADD_FAILURE() << "CreateMutexA: " << ::GetLastError();
      return;
    }
    // WAIT_ABANDONED: a test process ended without giving its turn back; the turn is ours.
    DWORD waited = ::WaitForSingleObject(mutex_, INFINITE);
    owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  ~RegistryTurn() {
    if (owned_) ::ReleaseMutex(mutex_);
    if (mutex_ != nullptr) ::CloseHandle(mutex_);
  }
  RegistryTurn(const RegistryTurn&) = delete;
  RegistryTurn& operator=(const RegistryTurn&) = delete;

 private:
  HANDLE mutex_;
  bool owned_ = false;
};

}  // namespace

// Declared in this order: the turn is taken first and given back last, after the registry
// changes have been undone and the environment restored.
struct WinePrefixTest::Platform {
  explicit Platform(const std::string& drive)
      : drive_(drive),
        profile_("USERPROFILE", Backslashed(drive + "users\\tester").c_str()),
        userName_("USERNAME", "tester") {}

  RegistryTurn turn_;
  RegistryChanges changes_;
  std::string drive_;  // the test's drive folder, ending with "/"

 private:
  ScopedEnv profile_;
  ScopedEnv userName_;
};

WinePrefixTest::WinePrefixTest() : platform_(std::make_unique<Platform>(dir_ / "drive_c/")) {
  std::filesystem::create_directories(dir_ / "drive_c");
}

WinePrefixTest::~WinePrefixTest() = default;

void WinePrefixTest::SetString(Hive hive, const std::string& key, const std::string& name,
                               const std::string& data) {
  platform_->changes_.SetValue(RootOf(hive == Hive::kUser), key, name, REG_SZ, data.c_str(),
                               static_cast<DWORD>(data.size() + 1));
}

void WinePrefixTest::SetExpandString(Hive hive, const std::string& key, const std::string& name,
                                     const std::string& data) {
  platform_->changes_.SetValue(RootOf(hive == Hive::kUser), key, name, REG_EXPAND_SZ, data.c_str(),
                               static_cast<DWORD>(data.size() + 1));
}

void WinePrefixTest::SetDword(Hive hive, const std::string& key, const std::string& name,
                              uint32_t data) {
  DWORD value = data;
  platform_->changes_.SetValue(RootOf(hive == Hive::kUser), key, name, REG_DWORD, &value,
                               sizeof value);
}

void WinePrefixTest::AddKey(Hive hive, const std::string& key) {
  HKEY handle = platform_->changes_.CreateKey(RootOf(hive == Hive::kUser), key);
  if (handle != nullptr) ::RegCloseKey(handle);
}

void WinePrefixTest::RemoveValue(Hive hive, const std::string& key, const std::string& name) {
  platform_->changes_.DeleteValue(RootOf(hive == Hive::kUser), key, name);
}

void WinePrefixTest::ResetRegistry() {
  platform_->changes_.Undo();
}

std::string WinePrefixTest::WinPath(const std::string& relative) const {
  return Backslashed(platform_->drive_ + relative);
}

std::string WinePrefixTest::OnDriveC(const std::string& relative) const {
  return platform_->drive_ + relative;
}

std::string WinePrefixTest::MappedPath(const std::string& relative) const {
  return WinPath(relative);
}

void WinePrefixTest::MarkHidden(const std::string& relative) {
  std::string path = Backslashed(OnDriveC(relative));
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << path;
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN)) << path;
}
