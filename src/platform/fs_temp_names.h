// How the output files' temporary names are made, shared by the POSIX and Windows sides: a
// leading ".", the target's name, this mark and a suffix of letters and digits.
#ifndef HARVO_PLATFORM_FS_TEMP_NAMES_H
#define HARVO_PLATFORM_FS_TEMP_NAMES_H

#include <cstddef>
#include <string_view>

namespace hvfs {

inline constexpr std::string_view kTempMark = ".hvtmp-";
inline constexpr size_t kTempSuffixLength = 6;

}  // namespace hvfs

#endif  // HARVO_PLATFORM_FS_TEMP_NAMES_H
