#include "bookmarks/mosaic.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bookmarks/link_array.h"
#include "bookmarks/store_io.h"
#include "platform/codepage.h"
#include "platform/wineprefix.h"

namespace {

constexpr char kHotlistKey[] = "Software\\NCSA\\Mosaic\\Hotlist Manager";
constexpr size_t kValueLimit = 270;
// Every menu level keeps its own handle on the file open: 33 at the deepest point.
constexpr int kMaxMenuDepth = 32;
// Menus shared by several parents are read once per reference, so crafted files could make the
// work grow with the product of the fan-outs; real hotlists need a tiny fraction of this.
constexpr int64_t kMaxMenuLines = 1'000'000;

// State shared by all menu reads of one walk.
class MenuWalk {
 public:
  bool IsOpen(std::string_view section) const {
    return std::any_of(open_.begin(), open_.end(),
                       [&](const std::string& s) { return cp932::EqualsNoCase(s, section); });
  }
  void Enter(const std::string& section) { open_.push_back(section); }
  void Leave() { open_.pop_back(); }
  // The next line piece, counted against the walk's budget; false at the end of the file or
  // of the budget.
  bool Next(hvtext::TextFile& file, std::string* line) {
    if (linesLeft_ <= 0) return false;
    --linesLeft_;
    return ReadStoreLine(file, line);
  }

 private:
  std::vector<std::string> open_;  // sections being read, outermost first
  int64_t linesLeft_ = kMaxMenuLines;
};

class OpenSection {
 public:
  OpenSection(MenuWalk& walk, const std::string& section) : walk_(walk) { walk_.Enter(section); }
  ~OpenSection() { walk_.Leave(); }
  OpenSection(const OpenSection&) = delete;
  OpenSection& operator=(const OpenSection&) = delete;

 private:
  MenuWalk& walk_;
};

bool IsHeader(const std::string& line) {
  return !line.empty() && line[0] == '[';
}

// The section name of a header line: the text after "[" up to the last "]", spaces removed.
// A header without "]" gives the rest of the line as read (line end included) and false.
bool SectionName(std::string_view line, std::string* name) {
  std::string_view rest = line.substr(1);
  size_t close = cp932::FindLast(rest, ']');
  if (close == cp932::npos) {
    name->assign(rest);
    return false;
  }
  name->clear();
  std::string_view body = rest.substr(0, close);
  for (size_t i = 0; i < body.size();) {
    size_t n = cp932::CharLength(body, i);
    if (n != 1 || body[i] != ' ') name->append(body.substr(i, n));
    i += n;
  }
  return true;
}

// The first "Menu_Name" line (or the next, while the name is still empty): the text between its
// first "=" and its line end. At depth 1 or more it goes into the label with a "/".
void TakeMenuName(std::string_view line, int depth, std::string* menuName, std::string* label) {
  std::string_view text = line.substr(9);
  size_t eq = cp932::FindFirst(text, '=');
  if (eq == cp932::npos) return;
  size_t end = cp932::FindFirst(text, '\n', eq + 1);
  if (end == cp932::npos) return;
  menuName->assign(text.substr(eq + 1, end - eq - 1));
  if (depth >= 1 && label->size() + menuName->size() + 1 <= kMaxFolderLabel)
    *label += *menuName + "/";
}

int ReadMenu(MenuWalk& walk, HvrLinkArray* array, const std::string& file,
             const std::string& section, const std::string& prefix, int depth);

// One "Item" line of a menu: a sub-menu is read at this point, a document is appended.
void HandleItem(MenuWalk& walk, HvrLinkArray* array, const std::string& file, std::string_view line,
                const std::string& label, int depth) {
  std::string_view text = line.substr(4);
  size_t eq = cp932::FindFirst(text, '=');
  if (eq == cp932::npos) return;
  size_t comma = cp932::FindFirst(text, ',', eq + 1);
  if (comma == cp932::npos) return;
  std::string_view first = text.substr(eq + 1, comma - eq - 1);
  std::string_view rest = text.substr(comma + 1);
  if (cp932::EqualsNoCase(first, "MENU")) {
    size_t end = cp932::FindFirst(rest, '\n');
    if (end == cp932::npos) return;
    std::string sub(rest.substr(0, end));
    if (depth + 1 > kMaxMenuDepth || walk.IsOpen(sub)) return;
    ReadMenu(walk, array, file, sub, label, depth + 1);
    return;
  }
  size_t urlEnd = cp932::FindFirst(rest, ',');
  if (urlEnd == cp932::npos || cp932::FindText(line, "http://") == cp932::npos) return;
  AppendLink(array, label, std::string(first), std::string(rest.substr(0, urlEnd)));
}

int ReadMenu(MenuWalk& walk, HvrLinkArray* array, const std::string& file,
             const std::string& section, const std::string& prefix, int depth) {
  hvtext::TextFile in;
  if (!in.Open(file)) return -1;
  std::string line, name;
  bool found = false;
  while (!found && walk.Next(in, &line)) {
    found = IsHeader(line) && SectionName(line, &name) && cp932::EqualsNoCase(name, section);
  }
  if (!found) return 0;

  OpenSection reading(walk, section);
  std::string label = prefix;
  std::string menuName;
  while (walk.Next(in, &line) && !IsHeader(line)) {
    if (cp932::StartsWithNoCase(line, "Menu_Name")) {
      if (menuName.empty()) TakeMenuName(line, depth, &menuName, &label);
    } else if (cp932::StartsWithNoCase(line, "Item")) {
      HandleItem(walk, array, file, line, label, depth);
    }
  }
  return 0;
}

}  // namespace

int ReadHotlists(HvrLinkArray* array, const char* root) {
  std::string value;
  if (ReadStoreValue(hvreg::RegRoot::CurrentUser, kHotlistKey, "CurrentHotfile", kValueLimit, false,
                     &value) != StoreValue::kRead)
    return -1;
  std::string file = hvwine::MapWindowsPath(value);
  hvtext::TextFile in;
  if (!in.Open(file)) return -1;
  std::string current, line;
  while (ReadStoreLine(in, &line)) {
    if (IsHeader(line)) {
      SectionName(line, &current);
    } else if (cp932::StartsWithNoCase(line, "Menu_Type") &&
               cp932::FindText(line, "TOPLEVEL") != cp932::npos) {
      break;
    }
  }
  in.Close();
  if (current.empty()) return -1;
  ReadHotlistMenu(array, file, current, RootLabel(root) + "/", 0);
  return 0;
}

int ReadHotlistMenu(HvrLinkArray* array, const std::string& file, const std::string& section,
                    const std::string& prefix, int depth) {
  MenuWalk walk;
  return ReadMenu(walk, array, file, section, prefix, depth);
}
