#include "platform/envexpand.h"

#include <vector>

#include "platform/win32.h"

namespace hvenv {

bool GetVariable(std::string_view name, std::string* value) {
  if (name.empty() || name.find('=') != std::string_view::npos) return false;
  const std::string key(name);
  DWORD size = ::GetEnvironmentVariableA(key.c_str(), nullptr, 0);
  if (size <= 1) return false;
  std::vector<char> text(size);
  DWORD length = ::GetEnvironmentVariableA(key.c_str(), text.data(), size);
  if (length == 0 || length >= size) return false;
  value->assign(text.data(), length);
  return true;
}

bool ExpandEnvironmentStrings(std::string_view in, size_t bufferSize, std::string* out) {
  out->clear();
  if (bufferSize == 0) return false;
  const std::string source(in);
  // The system's own expansion, into a buffer of the caller's size: a result that needs more
  // (its terminating zero included) does not fit.
  std::vector<char> buffer(bufferSize);
  DWORD needed =
      ::ExpandEnvironmentStringsA(source.c_str(), buffer.data(), static_cast<DWORD>(bufferSize));
  if (needed == 0 || needed > bufferSize) return false;
  out->assign(buffer.data());
  return true;
}

}  // namespace hvenv
