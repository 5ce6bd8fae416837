#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// The C runtime has no mkdtemp: a random name, created only when it is new.
char* MakeTempFolder(char* pattern) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  std::string text(pattern);
  const size_t stem = text.size() - 6;
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = stem; i < text.size(); ++i)
      text[i] = "abcdefghijklmnopqrstuvwxyz"[random() % 26];
    std::error_code ec;
    if (fs::create_directory(text, ec)) {
      text.copy(pattern, text.size());
      return pattern;
    }
  }
  return nullptr;
}
#else
char* MakeTempFolder(char* pattern) {
  return mkdtemp(pattern);
}
#endif

}  // namespace

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "harvo-test-XXXXXX").string();
  if (MakeTempFolder(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  // Folders made read-only by a test are made writable again so that they can be removed.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileText(const std::string& path, const std::string& content) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void CopyFolderContents(const std::string& from, const std::string& to) {
  std::string target = to;
  while (target.size() > 1 && (target.back() == '/' || target.back() == '\\')) target.pop_back();
  fs::copy(from, target, fs::copy_options::recursive);
}
