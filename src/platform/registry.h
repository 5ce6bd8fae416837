// The registry as the bookmark readers see it, read from the registry files of the Wine prefix
// (hvwine::WinePrefix()): "user.reg" is HKEY_CURRENT_USER, "system.reg" is HKEY_LOCAL_MACHINE.
// The files are only read, never written. Key paths use "\" between names; key and value names
// compare without regard to case.
#ifndef HARVO_PLATFORM_REGISTRY_H
#define HARVO_PLATFORM_REGISTRY_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace hvreg {

enum class RegRoot { CurrentUser, LocalMachine };

// An open key (RegOpenKeyA / RegQueryValueExA / RegCloseKey). Opening reads the values of that
// one key into memory; nothing stays open on the file.
class RegKey {
 public:
  // False when the key does not exist or the registry file cannot be read. A key that the file
  // lists only through its sub-keys exists, with no values.
  bool Open(RegRoot root, std::string_view subKey);
  bool IsOpen() const { return open_; }
  void Close();

  // Reads a string value (REG_SZ or REG_EXPAND_SZ, unexpanded) as a buffer of bufferSize bytes
  // would receive it: false when the key is not open, the value is missing or not a string, or
  // it needs more than bufferSize bytes with its terminating zero (ERROR_MORE_DATA). An empty
  // name is the key's default value. Text is in the system code page; characters it cannot
  // hold read as "?". The value ends at its first NUL.
  bool QueryString(std::string_view name, size_t bufferSize, std::string* value) const;

 private:
  struct Value {
    std::string name;
    bool isString = false;
    std::string data;  // the whole string in the system code page, NULs included
  };
  bool ParseValueLine(std::string_view line);

  bool open_ = false;
  std::vector<Value> values_;
};

}  // namespace hvreg

#endif  // HARVO_PLATFORM_REGISTRY_H
