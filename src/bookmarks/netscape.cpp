#include "bookmarks/netscape.h"

#include <climits>
#include <vector>

#include "bookmarks/link_array.h"
#include "bookmarks/store_io.h"
#include "platform/codepage.h"
#include "platform/wineprefix.h"

namespace {

constexpr char kMainKey[] = "Software\\Netscape\\Netscape Navigator\\Main";
constexpr char kBiffKey[] = "Software\\Netscape\\Netscape Navigator\\biff";
constexpr size_t kValueLimit = 260;
// Deeper nesting than this only comes from damaged files; its headers are passed over so that
// the stack (and the cost of every label built from it) stays bounded.
constexpr size_t kMaxFolderDepth = 256;

bool Contains(std::string_view line, std::string_view tag) {
  return cp932::FindText(line, tag) != cp932::npos;
}

// The folder stack: entry 0 is the root label with "/", then one "<name>/" per enclosing folder.
class FolderStack {
 public:
  explicit FolderStack(const std::string& root) : entries_{root + "/"}, length_(root.size() + 1) {}

  // "</DL>" at the new depth removes the entry there, if any.
  void Close(int depth) {
    if (depth < 0 || static_cast<size_t>(depth) >= entries_.size()) return;
    length_ -= entries_[static_cast<size_t>(depth)].size();
    entries_.erase(entries_.begin() + depth);
  }

  // A header inserts "<name>/" at index depth (0 for a negative depth), filling a short stack
  // with empty entries first. A header past the bounds on depth or label length is ignored.
  void Open(int depth, std::string_view name) {
    size_t index = depth < 0 ? 0 : static_cast<size_t>(depth);
    if (index >= kMaxFolderDepth || entries_.size() >= kMaxFolderDepth ||
        length_ + name.size() + 1 > kMaxFolderLabel)
      return;
    if (entries_.size() < index) entries_.resize(index);
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(index), std::string(name) + "/");
    length_ += name.size() + 1;
  }

  std::string Label() const {
    std::string label;
    label.reserve(length_);
    for (const std::string& entry : entries_) label += entry;
    return label;
  }

 private:
  std::vector<std::string> entries_;
  size_t length_;  // the length of Label()
};

// The name of a folder header: the text between the first ">" and the first "<" after the "<"
// of "<H3". False when either is missing.
bool HeaderName(std::string_view line, size_t h3, std::string* name) {
  std::string_view rest = line.substr(h3 + 1);
  size_t gt = cp932::FindFirst(rest, '>');
  size_t lt = cp932::FindFirst(rest, '<');
  if (gt == cp932::npos || lt == cp932::npos) return false;
  *name = lt > gt ? std::string(rest.substr(gt + 1, lt - gt - 1)) : std::string();
  return true;
}

// URL between the first two double quotes, title between the next ">" and the "<" after it.
bool BookmarkParts(std::string_view line, std::string* url, std::string* title) {
  size_t open = cp932::FindFirst(line, '"');
  if (open == cp932::npos) return false;
  size_t close = cp932::FindFirst(line, '"', open + 1);
  if (close == cp932::npos) return false;
  size_t gt = cp932::FindFirst(line, '>', close + 1);
  if (gt == cp932::npos) return false;
  size_t lt = cp932::FindFirst(line, '<', gt + 1);
  if (lt == cp932::npos) return false;
  *url = line.substr(open + 1, close - open - 1);
  *title = line.substr(gt + 1, lt - gt - 1);
  return true;
}

// The value of a Netscape registry string, expanded; empty when it cannot be read. False when
// the key is missing.
bool NetscapeValue(const char* key, const char* name, std::string* value) {
  StoreValue read =
      ReadStoreValue(hvreg::RegRoot::CurrentUser, key, name, kValueLimit, true, value);
  if (read == StoreValue::kNoKey) return false;
  if (read == StoreValue::kNoValue) value->clear();
  return true;
}

// The end of the folder part of an installation path: its last separator, "/" in a path mapped
// to the host's files, "\" in a path that is the system's own.
size_t LastSeparator(std::string_view path) {
  size_t slash = cp932::FindLast(path, '/');
  size_t backslash = cp932::FindLast(path, '\\');
  if (slash == cp932::npos) return backslash;
  if (backslash == cp932::npos) return slash;
  return slash > backslash ? slash : backslash;
}

}  // namespace

int ReadBookmarkFile(const char* file, HvrLinkArray* array, const char* root) {
  if (file == nullptr) return -1;
  hvtext::TextFile in;
  if (!in.Open(file)) return -1;
  int depth = 0;
  FolderStack stack(RootLabel(root));
  std::string line;
  while (ReadStoreLine(in, &line)) {
    // Saturating, so that no file, however long, can overflow the count.
    if (Contains(line, "<DL>")) {
      if (depth < INT_MAX) ++depth;
    } else if (Contains(line, "</DL>")) {
      if (depth > INT_MIN) --depth;
      stack.Close(depth);
    }
    if (!Contains(line, "<DT>")) continue;
    size_t h3 = cp932::FindText(line, "<H3");
    if (h3 != cp932::npos) {
      std::string name;
      if (HeaderName(line, h3, &name)) stack.Open(depth, name);
      continue;
    }
    if (!Contains(line, "<A HREF") || !Contains(line, "http://")) continue;
    std::string url, title;
    if (BookmarkParts(line, &url, &title)) AppendLink(array, stack.Label(), title, url);
  }
  return 0;
}

int Get4xBookmarkFile(std::string* path) {
  std::string install, user;
  if (!NetscapeValue(kMainKey, "Install Directory", &install)) return -1;
  if (!NetscapeValue(kBiffKey, "CurrentUser", &user)) return -1;
  std::string result = hvwine::MapWindowsPath(install);
  size_t slash = LastSeparator(result);
  result.resize(slash == cp932::npos ? 0 : slash + 1);
  result += "Users/" + user + "/bookmark.htm";
  *path = std::move(result);
  return 0;
}
