// Profile (INI) file reading as GetPrivateProfileStringA does it for one key.
#ifndef HARVO_PLATFORM_PROFILE_H
#define HARVO_PLATFORM_PROFILE_H

#include <cstddef>
#include <string>
#include <string_view>

namespace hvprofile {

// The value of key in section of file: section and key names compare without regard to case
// and with the white space around them trimmed; the first matching section and, in it, the
// first matching key win; the value is trimmed and loses one pair of enclosing quotes ("..." or
// '...'). def when the file, the section or the key is missing. The result is cut to
// bufferSize - 1 bytes, never inside a double-byte character.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, size_t bufferSize,
                                    const std::string& file);

}  // namespace hvprofile

#endif  // HARVO_PLATFORM_PROFILE_H
