// The one way every bookmark reader turns a bookmark into a link record.
#ifndef HARVO_BOOKMARKS_LINK_ARRAY_H
#define HARVO_BOOKMARKS_LINK_ARRAY_H

#include <cstddef>
#include <string>

#include "harvo.h"

// Makes a link record (Selected 0, every other string and list of the job empty) with the
// given folder label, title and URL, and hands it to array before position index (index equal
// to the size appends). The array owns it; on an allocation failure nothing is added.
void NewLink(HvrLinkArray* array, size_t index, const std::string& folder, const std::string& title,
             const std::string& url);

inline void AppendLink(HvrLinkArray* array, const std::string& folder, const std::string& title,
                       const std::string& url) {
  NewLink(array, array->size(), folder, title, url);
}

// The caller's root label; null counts as empty.
inline std::string RootLabel(const char* root) {
  return root != nullptr ? root : "";
}

#endif  // HARVO_BOOKMARKS_LINK_ARRAY_H
