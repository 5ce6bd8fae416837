// Small path and text utilities of the folder rules. Local paths use the platform separator
// ("/" here); searches step over double-byte characters whole.
#ifndef HARVO_UTIL_FILEUTIL_H
#define HARVO_UTIL_FILEUTIL_H

#include <string>

// Creates every folder along path, top down: each prefix that ends before a separator found at
// position 1 or later. The text after the last separator is not created. Failures are ignored
// (existing folders are passed over). Returns 0.
int CreateFolders(const std::string& path);

// 1 when a file or folder matches path ("*" and "?" in its last component are wildcards).
int FileExists(const char* path);

// Occurrences of sub in text that begin at position 1 or later (overlapping ones included);
// -1 when either is null.
int CountOccurrences(const char* text, const char* sub);

#endif  // HARVO_UTIL_FILEUTIL_H
