// The link-array exports. Each export catches everything: no exception reaches the host.
#include "bookmarks/link_array.h"

#include <memory>
#include <new>

#include "bookmarks/favorites.h"
#include "bookmarks/mosaic.h"
#include "bookmarks/netscape.h"
#include "bookmarks/opera.h"

void NewLink(HvrLinkArray* array, size_t index, const std::string& folder, const std::string& title,
             const std::string& url) {
  auto link = std::make_unique<HvrLinkInfo>();
  link->Selected = 0;
  link->Folder = folder;
  link->Job.SiteName = title;
  link->Job.Url = url;
  // A failed insertion throws before the array takes the pointer, so the record is not leaked.
  array->InsertAt(index, link.get());
  link.release();
}

namespace {

// The array a reader fills: a new one for append 0 (an earlier pointer is overwritten, not
// freed, as hosts expect), the caller's one otherwise, a new one as well when the caller has
// none yet. Null when no array could be allocated; the caller's variable is then null too.
HvrLinkArray* TargetArray(HvrLinkArray** links, int append) {
  if (append != 0 && *links != nullptr) return *links;
  *links = new (std::nothrow) HvrLinkArray();
  return *links;
}

template <typename Read>
int RunReader(HvrLinkArray** links, int append, Read read) {
  if (links == nullptr) return 0;
  try {
    HvrLinkArray* array = TargetArray(links, append);
    if (array != nullptr) read(array);
  } catch (...) {
    // Out of memory in the middle of a store: what was read so far stays in the array.
  }
  return 0;
}

}  // namespace

HVR_API int HvrGetFavorites(HvrLinkArray** links, const char* root, int append) {
  return RunReader(links, append, [&](HvrLinkArray* array) { ReadFavorites(array, root); });
}

HVR_API int HvrGetBookmarks(const char* file, HvrLinkArray** links, const char* root, int append) {
  return RunReader(links, append,
                   [&](HvrLinkArray* array) { ReadBookmarkFile(file, array, root); });
}

HVR_API int HvrGet4xBookmarks(HvrLinkArray** links, const char* root, int append) {
  return RunReader(links, append, [&](HvrLinkArray* array) {
    std::string path;
    Get4xBookmarkFile(&path);
    ReadBookmarkFile(path.c_str(), array, root);
  });
}

HVR_API int HvrGetHotlists(HvrLinkArray** links, const char* root, int append) {
  return RunReader(links, append, [&](HvrLinkArray* array) { ReadHotlists(array, root); });
}

HVR_API int HvrGetOpera5(HvrLinkArray** links, const char* root, int append) {
  return RunReader(links, append, [&](HvrLinkArray* array) { ReadOperaHotlist(array, root); });
}

HVR_API int HvrGet4xBookmarksPath(std::string* path) {
  if (path == nullptr) return 0;
  try {
    std::string computed;
    if (Get4xBookmarkFile(&computed) == 0) path->swap(computed);
  } catch (...) {
    // The caller's string stays as it was.
  }
  return 0;
}

HVR_API int HvrDelLinkArray(HvrLinkArray** links) {
  if (links == nullptr || *links == nullptr) return 1;
  HvrLinkArray* array = *links;
  size_t count = array->size();
  for (size_t i = 0; i < count; ++i) {
    if (HvrLinkInfo* link = (*array)[i]) link->Job.FailedFiles.clear();
  }
  // Destroying the array destroys and frees every record; Job.Log is not the array's to free.
  delete array;
  *links = nullptr;
  return 0;
}
