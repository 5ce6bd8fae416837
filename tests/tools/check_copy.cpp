// harvo_check_copy: checks a saved copy the way the end-to-end tests do.
//
//   harvo_check_copy COPY-FOLDER [START-PAGE]
//
// Lists every local reference of a saved page or stylesheet that names no saved file, and, with
// a start page, every resource that headless Chromium could not load when it opened the page
// from file:// with the network unreachable. Exit status 0 when nothing is broken, 1 otherwise,
// 2 on bad arguments or when the browser could not run.
#include <cstdio>
#include <filesystem>

#include "support/browser_check.h"
#include "support/link_check.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || !std::filesystem::is_directory(argv[1])) {
    std::fprintf(stderr, "usage: %s COPY-FOLDER [START-PAGE]\n", argv[0]);
    return 2;
  }
  size_t checked = 0;
  auto broken = CheckSavedCopy(argv[1], &checked);
  std::printf("link check: %zu local references, %zu broken\n%s", checked, broken.size(),
              DescribeBroken(broken).c_str());
  size_t failed = 0;
  if (argc == 3) {
    BrowserResult browsed = BrowsePage(argv[2]);
    if (!browsed.ran) {
      std::fprintf(stderr, "browser check: %s\n", browsed.error.c_str());
      return 2;
    }
    failed = browsed.failed.size();
    std::printf("browser check: %zu files loaded, %zu failed\n", browsed.loaded.size(), failed);
    for (const std::string& failure : browsed.failed) std::printf("  %s\n", failure.c_str());
  }
  return broken.empty() && failed == 0 ? 0 : 1;
}
