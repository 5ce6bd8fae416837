// Helpers of the hostile-input suites: folder snapshots that prove nothing was written where it
// must not be, and the size of the big cases under sanitizers.
#ifndef HARVO_TESTS_HOSTILE_HOSTILE_SUPPORT_H
#define HARVO_TESTS_HOSTILE_HOSTILE_SUPPORT_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>

// Sanitizer builds run the big cases at a smaller size: they prove the same behaviour, and the
// instrumented build is many times slower per page.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HARVO_HOSTILE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HARVO_HOSTILE_SANITIZED 1
#endif
#endif

namespace hostile {

#ifdef HARVO_HOSTILE_SANITIZED
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// Every entry below root (relative path, "/" after folders) with the size and stamp of files.
// skip, when given, is a relative folder path ("a/b/") whose contents are left out.
struct Entry {
  bool folder = false;
  uintmax_t size = 0;
  int64_t stamp = 0;
  bool operator==(const Entry&) const = default;
};
using Snapshot = std::map<std::string, Entry>;

inline Snapshot Snap(const std::string& root, const std::string& skip = "") {
  namespace fs = std::filesystem;
  Snapshot snapshot;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    // The entries' paths begin with root as given (a plain prefix: resolving each path would
    // cost a walk of every folder above it). "/" between the parts, also where the system's
    // own separator is "\".
    std::string rel = it->path().generic_string().substr(root.size());
    if (!rel.empty() && rel.front() == '/') rel.erase(0, 1);
    Entry entry;
    entry.folder = it->is_directory(ec);
    if (entry.folder) rel += '/';
    if (!skip.empty() && rel.compare(0, skip.size(), skip) == 0 && rel != skip) {
      if (entry.folder) it.disable_recursion_pending();
      continue;
    }
    if (!entry.folder) {
      entry.size = it->file_size(ec);
      entry.stamp = static_cast<int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                             it->last_write_time(ec).time_since_epoch())
                                             .count());
    }
    snapshot[rel] = entry;
  }
  return snapshot;
}

// The files (not folders) below root, as relative paths.
inline std::map<std::string, uintmax_t> FilesBelow(const std::string& root) {
  std::map<std::string, uintmax_t> files;
  for (const auto& [rel, entry] : Snap(root)) {
    if (!entry.folder) files[rel] = entry.size;
  }
  return files;
}

}  // namespace hostile

#endif  // HARVO_TESTS_HOSTILE_HOSTILE_SUPPORT_H
