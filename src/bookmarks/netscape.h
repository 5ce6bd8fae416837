// Netscape bookmark files: HTML of nested definition lists, read line by line for a few fixed
// tags (case-sensitive), and the bookmark file of the current Netscape 4.x user.
#ifndef HARVO_BOOKMARKS_NETSCAPE_H
#define HARVO_BOOKMARKS_NETSCAPE_H

#include <string>

#include "harvo.h"

// Appends the bookmarks of file ("http://" somewhere on their line) to array in file order,
// with folder labels from the enclosing folder headers. 0 when the file was read; -1 when file
// is null or cannot be opened.
int ReadBookmarkFile(const char* file, HvrLinkArray* array, const char* root);

// Sets *path to the Netscape 4.x user's "bookmark.htm": the installation folder up to its last
// separator ("/" or "\"), then "Users/<current user>/bookmark.htm". 0 on success; -1 (and *path
// unchanged) when a registry key is missing.
int Get4xBookmarkFile(std::string* path);

#endif  // HARVO_BOOKMARKS_NETSCAPE_H
