// "harvo bookmarks": the bookmarks of the browser stores, numbered as "harvo multi" takes them.
#ifndef HARVO_TOOLS_BOOKMARKS_COMMAND_H
#define HARVO_TOOLS_BOOKMARKS_COMMAND_H

#include <CLI/CLI.hpp>

#include <cstdio>

#include "store_options.h"

struct BookmarksOptions {
  StoreOptions stores;
  bool json = false;
};

CLI::App* AddBookmarksCommand(CLI::App* app, BookmarksOptions* options);

// Lists the entries; returns the exit status.
int RunBookmarks(const BookmarksOptions& options);

// One line per entry, "  N. FOLDER | TITLE | URL", every text escaped for a terminal.
void PrintLinkList(FILE* out, const HvrLinkArray* links);

// A JSON array of {"number", "folder", "title", "url"} objects, one per line.
void PrintLinkJson(FILE* out, const HvrLinkArray* links);

#endif  // HARVO_TOOLS_BOOKMARKS_COMMAND_H
