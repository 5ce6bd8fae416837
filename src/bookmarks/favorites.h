// Internet Explorer Favorites: a folder tree of Internet shortcut files (".url"), read into link
// records sorted by title within each folder and placed in front of the array's earlier links.
#ifndef HARVO_BOOKMARKS_FAVORITES_H
#define HARVO_BOOKMARKS_FAVORITES_H

#include <string>

#include "harvo.h"

// Finds the Favorites folder of the current user through the registry and walks it, placing
// the links from index 0. 0 after a walk; -1 when the folder's registry value is missing,
// unreadable or empty (nothing is added).
int ReadFavorites(HvrLinkArray* array, const char* root);

// Walks folder and everything below it: the folder's own shortcuts whose URL holds "http://",
// sorted by title without regard to case, go to array from index start on; then each
// sub-folder's subtree, in listing order. prefix is the folder's label (without the final "/").
// Returns start plus the number of links placed. A folder reached again through a link while
// it is being walked adds nothing.
int ReadFavoritesFolder(const std::string& folder, int start, const std::string& prefix,
                        HvrLinkArray* array);

#endif  // HARVO_BOOKMARKS_FAVORITES_H
