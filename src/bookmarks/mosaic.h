// NCSA Mosaic hotlists: a profile-style file whose sections are menus, one of them marked as the
// top level; items are documents (title,URL,...) or sub-menus (MENU,section).
#ifndef HARVO_BOOKMARKS_MOSAIC_H
#define HARVO_BOOKMARKS_MOSAIC_H

#include <string>

#include "harvo.h"

// Finds the current hotlist through the registry and its top-level menu (the section of the
// first "Menu_Type ... TOPLEVEL" line, else the last section), and appends that menu's
// documents. 0 when a top-level section was found and read; -1 when the registry value or the
// file is missing or the file has no section.
int ReadHotlists(HvrLinkArray* array, const char* root);

// Appends the documents of the menu in section of file ("http://" on their line), and at the
// place of each sub-menu item that sub-menu's documents, depth-first. prefix is the folder
// label; depth is 0 for the top level, whose menu name does not go into the label. -1 when the
// file cannot be opened, else 0 (also when the section does not exist). A sub-menu that names a
// menu being read is not followed again; nor is one deeper than 32 levels, and one walk reads
// at most a million lines in all, so that no hotlist can keep it busy without end.
int ReadHotlistMenu(HvrLinkArray* array, const std::string& file, const std::string& section,
                    const std::string& prefix, int depth);

#endif  // HARVO_BOOKMARKS_MOSAIC_H
