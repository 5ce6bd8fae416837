// Limits for sites that never end: sizes and durations as the user writes them.
#ifndef HARVO_TOOLS_LIMITS_H
#define HARVO_TOOLS_LIMITS_H

#include <cstdint>
#include <string>

// "500K", "20M", "1.5G", "2T" or a number of bytes (binary units, "KiB"/"KB"/"k" alike) in KiB,
// rounded up: the unit of HvrJobInfo::MaxKBytes. False when the text is no size, is zero, or
// does not fit.
bool ParseSizeKiB(const std::string& text, int32_t* kib);

// "90", "90s", "15m", "2h", "1h30m", "500ms" in milliseconds (a bare number is seconds). False
// when the text is no duration or is zero.
bool ParseDurationMs(const std::string& text, int64_t* ms);

#endif  // HARVO_TOOLS_LIMITS_H
