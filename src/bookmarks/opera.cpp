#include "bookmarks/opera.h"

#include <string>
#include <string_view>

#include "bookmarks/link_array.h"
#include "bookmarks/store_io.h"
#include "platform/codepage.h"
#include "platform/wineprefix.h"

namespace {

constexpr char kAppPathKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Opera.exe";
constexpr size_t kValueLimit = 270;

// Reads on to the line whose trimmed form begins with key and returns the rest of it in
// *value. With name set, "NAME=" lines met on the way set *name. False at the end of the file.
bool ReadUntilKey(hvtext::TextFile& in, std::string_view key, std::string* value,
                  std::string* name) {
  std::string line;
  while (ReadStoreLine(in, &line)) {
    std::string_view trimmed = hvtext::TrimSpace(line);
    if (trimmed.starts_with(key)) {
      value->assign(trimmed.substr(key.size()));
      return true;
    }
    if (name != nullptr && trimmed.starts_with("NAME=")) name->assign(trimmed.substr(5));
  }
  return false;
}

// The folder path label as folders open and close. A folder whose name would take the label
// past its bound stays out of it, and so does every folder inside it; they are only counted,
// so that each "-" still closes the innermost folder.
class FolderLabel {
 public:
  explicit FolderLabel(const std::string& root) : label_(root + "/") {}
  const std::string& Text() const { return label_; }

  void Open(const std::string& name) {
    if (unlisted_ > 0 || label_.size() + name.size() + 1 > kMaxFolderLabel) {
      ++unlisted_;
      return;
    }
    label_ += name + "/";
  }

  // Drops the innermost name and its "/"; with no folder open this eats into the root label.
  void Close() {
    if (unlisted_ > 0) {
      --unlisted_;
      return;
    }
    size_t last = cp932::FindLast(label_, '/');
    label_.resize(last == cp932::npos ? 0 : last);
    size_t previous = cp932::FindLast(label_, '/');
    label_.resize(previous == cp932::npos ? 0 : previous + 1);
  }

 private:
  std::string label_;
  size_t unlisted_ = 0;
};

}  // namespace

int ReadOperaHotlist(HvrLinkArray* array, const char* root) {
  std::string folder;
  if (ReadStoreValue(hvreg::RegRoot::LocalMachine, kAppPathKey, "Path", kValueLimit, false,
                     &folder) != StoreValue::kRead)
    return -1;
  // An empty value names no folder; reading it would look at the root of the file system.
  if (folder.empty()) return -1;
  std::string path = hvwine::MapWindowsPath(folder);
  if (!cp932::EndsWithChar(path, '/')) path += '/';
  path += "Opera5.adr";
  hvtext::TextFile in;
  if (!in.Open(path)) return -1;

  FolderLabel label(RootLabel(root));
  std::string name, url, line;
  while (ReadStoreLine(in, &line)) {
    if (hvtext::TrimSpace(line).starts_with("#FOLDER")) {
      if (!ReadUntilKey(in, "NAME=", &name, nullptr)) break;
      label.Open(name);
    } else if (line.starts_with("#URL")) {
      if (!ReadUntilKey(in, "URL=", &url, &name)) break;
      AppendLink(array, label.Text(), name, url);
    } else if (line.starts_with("-")) {
      label.Close();
    }
  }
  return 0;
}
