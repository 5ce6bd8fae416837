// What the POSIX and Windows sides of the file layer share inside it: how the output files'
// temporary names are made (a leading ".", the target's name, this mark and a suffix of letters
// and digits), and the whole-block write that each side makes with its own call.
#ifndef HARVO_PLATFORM_FS_TEMP_NAMES_H
#define HARVO_PLATFORM_FS_TEMP_NAMES_H

#include <cstddef>
#include <string_view>

namespace hvfs {

inline constexpr std::string_view kTempMark = ".hvtmp-";
inline constexpr size_t kTempSuffixLength = 6;

// Writes size bytes of data to the descriptor; false (errno set) when a write fails.
bool WriteAll(int fd, const char* data, size_t size);

}  // namespace hvfs

#endif  // HARVO_PLATFORM_FS_TEMP_NAMES_H
