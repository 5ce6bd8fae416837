#include "util/fileutil.h"

#include <string_view>

#include "platform/codepage.h"
#include "platform/fs.h"

namespace {
constexpr char kSeparator = '/';
}  // namespace

int CreateFolders(const std::string& path) {
  // Nearly every call names a folder that a file before it already needed: one look at the
  // deepest folder saves a failing mkdir for each of its parents.
  const size_t last = cp932::FindLast(path, kSeparator);
  hvfs::FileInfo info;
  if (last != cp932::npos && last > 0 && hvfs::GetFileInfo(path.substr(0, last), &info) &&
      info.isDirectory) {
    return 0;
  }
  // A separator at position 0 names the root, not a folder to create.
  size_t b = cp932::FindFirst(path, kSeparator, 0);
  if (b == 0) b = cp932::FindFirst(path, kSeparator, 1);
  while (b != cp932::npos) {
    hvfs::CreateDirectory(path.substr(0, b));  // existing folders fail harmlessly
    b = cp932::FindFirst(path, kSeparator, b + 1);
  }
  return 0;
}

int FileExists(const char* path) {
  if (path == nullptr || *path == '\0') return 0;
  return hvfs::FindFirstFile(path) ? 1 : 0;
}

int CountOccurrences(const char* text, const char* sub) {
  if (text == nullptr || sub == nullptr) return -1;
  const std::string_view t(text), s(sub);
  if (t.empty() || s.empty()) return 0;  // an empty sub has no occurrence to count
  // Position 1 is a character boundary unless text begins with a double-byte character, whose
  // trail byte must not start a match.
  size_t from = cp932::CharLength(t, 0) == 2 ? 2 : 1;
  int count = 0;
  for (size_t at = cp932::FindText(t, s, from); at != cp932::npos && at < t.size();
       at = cp932::FindText(t, s, at + cp932::CharLength(t, at))) {
    ++count;
  }
  return count;
}
