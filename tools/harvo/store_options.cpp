#include "store_options.h"

#include <utility>

void AddStoreOptions(CLI::App* command, StoreOptions* options) {
  command->add_flag("--favorites", options->favorites, "Internet Explorer Favorites");
  command->add_option("--netscape", options->netscapeFiles, "A Netscape bookmark file")
      ->type_name("FILE")
      ->check(CLI::ExistingFile);
  command->add_flag("--netscape4x", options->netscape4x, "The Netscape 4.x user's bookmarks");
  command->add_flag("--mosaic", options->mosaic, "The NCSA Mosaic hotlist");
  command->add_flag("--opera", options->opera, "The Opera 5 hotlist");
  command->add_option("--root", options->root,
                      "Label in front of every folder path (default: the browser's name)");
}

void ReadStores(const StoreOptions& options, LinkArrayHolder* links) {
  bool all = !options.favorites && options.netscapeFiles.empty() && !options.netscape4x &&
             !options.mosaic && !options.opera;
  auto label = [&](const char* own) { return options.root.empty() ? own : options.root.c_str(); };
  // The first reader makes the array, every later one appends to it. Favorites are read first
  // because their reader inserts in front of what the array holds.
  int append = 0;
  auto nextAppend = [&]() { return std::exchange(append, 1); };
  if (all || options.favorites) HvrGetFavorites(links->address(), label("IE"), nextAppend());
  for (const std::string& file : options.netscapeFiles) {
    HvrGetBookmarks(file.c_str(), links->address(), label("Netscape"), nextAppend());
  }
  if (all || options.netscape4x) {
    HvrGet4xBookmarks(links->address(), label("Netscape"), nextAppend());
  }
  if (all || options.mosaic) HvrGetHotlists(links->address(), label("Mosaic"), nextAppend());
  if (all || options.opera) HvrGetOpera5(links->address(), label("Opera"), nextAppend());
}
