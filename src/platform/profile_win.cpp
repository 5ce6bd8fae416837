#include "platform/profile.h"

#include <vector>

#include "platform/win32.h"

namespace hvprofile {

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, size_t bufferSize,
                                    const std::string& file) {
  if (bufferSize == 0) return std::string();
  std::vector<char> buffer(bufferSize);
  const std::string sectionText(section), keyText(key), defText(def);
  DWORD length =
      ::GetPrivateProfileStringA(sectionText.c_str(), keyText.c_str(), defText.c_str(),
                                 buffer.data(), static_cast<DWORD>(bufferSize), file.c_str());
  return std::string(buffer.data(), length < bufferSize ? length : bufferSize - 1);
}

}  // namespace hvprofile
