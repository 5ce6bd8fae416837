// The Opera 5 hotlist "Opera5.adr" in Opera's program folder: folder and URL entries, each a
// marker line followed by key=value lines, with a "-" line closing each folder.
#ifndef HARVO_BOOKMARKS_OPERA_H
#define HARVO_BOOKMARKS_OPERA_H

#include "harvo.h"

// Appends every URL entry of the hotlist, whatever its scheme, in file order, with the label of
// the folders open at that point. 0 when the file was read; -1 when the program folder's
// registry value is missing or empty, or the file cannot be opened.
int ReadOperaHotlist(HvrLinkArray* array, const char* root);

#endif  // HARVO_BOOKMARKS_OPERA_H
