#include "fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fuzz {
namespace {

std::string MakeScratch() {
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : nullptr;
  std::string pattern =
      (base != nullptr ? std::filesystem::path(base) : std::filesystem::temp_directory_path()) /
      "harvo-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp", pattern);
  return pattern + "/";
}

void RemoveScratch() {
  std::error_code ec;
  std::filesystem::remove_all(ScratchFolder(), ec);
}

}  // namespace

const std::string& ScratchFolder() {
  // Never destroyed, so that it outlives the exit handler that removes the folder.
  static const std::string* folder = [] {
    auto* path = new std::string(MakeScratch());
    std::atexit(RemoveScratch);
    return path;
  }();
  return *folder;
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void MakeFolders(const std::string& path) {
  std::filesystem::path p(path);
  std::error_code ec;
  std::filesystem::create_directories(p.parent_path(), ec);
}

void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s\n%s\n", what, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz
