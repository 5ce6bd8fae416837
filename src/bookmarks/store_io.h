// What the bookmark readers share in reading their stores: line pieces of the size the readers
// work with, registry strings with their read limits, and the bound on folder labels.
#ifndef HARVO_BOOKMARKS_STORE_IO_H
#define HARVO_BOOKMARKS_STORE_IO_H

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "platform/textfile.h"

// One read takes at most this many bytes minus one; a longer line is read as several.
inline constexpr size_t kStoreLineBuffer = 1024;

// A folder label never grows beyond this many bytes: a deeper folder is not added to it. Real
// stores stay far below; without the bound a crafted store could make every link carry a label
// as long as the file itself.
inline constexpr size_t kMaxFolderLabel = 1024;

// The next line piece of a store (up to and including "\n", at most 1023 characters), as the
// readers see it: text after an embedded NUL is dropped. False at the end of the file.
bool ReadStoreLine(hvtext::TextFile& file, std::string* line);

enum class StoreValue { kNoKey, kNoValue, kRead };

// Reads the string value name of key under root into *value, in at most limit bytes with its
// terminating zero; with expand, its %NAME% references are then expanded, and a result that
// does not fit limit characters with its zero counts as unreadable (kNoValue).
StoreValue ReadStoreValue(hvreg::RegRoot root, std::string_view key, std::string_view name,
                          size_t limit, bool expand, std::string* value);

#endif  // HARVO_BOOKMARKS_STORE_IO_H
