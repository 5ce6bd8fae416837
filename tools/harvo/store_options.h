// Which browser bookmark stores to read, as flags shared by "harvo bookmarks" and "harvo multi",
// and reading them into one link array.
#ifndef HARVO_TOOLS_STORE_OPTIONS_H
#define HARVO_TOOLS_STORE_OPTIONS_H

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "harvo.h"

struct StoreOptions {
  bool favorites = false;
  std::vector<std::string> netscapeFiles;
  bool netscape4x = false;
  bool mosaic = false;
  bool opera = false;
  std::string root;  // empty: each store's own label
};

void AddStoreOptions(CLI::App* command, StoreOptions* options);

// Owns a link array variable; frees the array with HvrDelLinkArray.
class LinkArrayHolder {
 public:
  LinkArrayHolder() = default;
  ~LinkArrayHolder() { HvrDelLinkArray(&array_); }
  LinkArrayHolder(const LinkArrayHolder&) = delete;
  LinkArrayHolder& operator=(const LinkArrayHolder&) = delete;

  HvrLinkArray** address() { return &array_; }
  HvrLinkArray* get() const { return array_; }
  size_t size() const { return array_ == nullptr ? 0 : array_->size(); }

 private:
  HvrLinkArray* array_ = nullptr;
};

// Reads the chosen stores, in a fixed order (Internet Explorer Favorites, Netscape files as
// given, the Netscape 4.x user's file, Mosaic, Opera), or every store when none is chosen. The
// numbering of the result is the numbering that "harvo bookmarks" shows and --select takes.
void ReadStores(const StoreOptions& options, LinkArrayHolder* links);

#endif  // HARVO_TOOLS_STORE_OPTIONS_H
