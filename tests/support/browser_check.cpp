#include "support/browser_check.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cctype>
#include <chrono>
#include <filesystem>
#include <sstream>

#include "support/child_process.h"
#include "support/link_check.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// The browser's own requests: updates, time, accounts, dictionaries.
bool IsVendorService(const std::string& url) {
  size_t scheme = url.find("://");
  if (scheme == std::string::npos) return false;
  std::string host = url.substr(scheme + 3);
  host = host.substr(0, host.find_first_of(":/?#"));
  for (const char* vendor : {"google.com", "googleapis.com", "gvt1.com", "gstatic.com"}) {
    const std::string suffix = std::string(".") + vendor;
    if (host == vendor || (host.size() > suffix.size() &&
                           host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string FindChromium() {
#ifdef _WIN32
  // Chromium is a Linux program here, which a Windows test process cannot start: copies made
  // under Wine are browsed from the Linux side (tests/windows/CMakeLists.txt).
  return {};
#else
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return {};
#endif
}

void ParseBrowserLog(const std::string& log, BrowserResult* result) {
  static const std::string kFile = "FileURLLoader::Start: ";
  static const std::string kNetwork = "NotifyBeforeURLRequest: ";
  std::istringstream lines(log);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t at = line.find(kFile);
    if (at != std::string::npos) {
      std::string url = line.substr(at + kFile.size());
      if (url.rfind("file://", 0) != 0) continue;
      std::string path = PercentDecode(url.substr(7, url.find_first_of("?#") - 7));
      result->loaded.push_back(path);
      if (!fs::is_regular_file(path)) result->failed.push_back("missing: " + path);
      continue;
    }
    at = line.find(kNetwork);
    if (at != std::string::npos) {
      std::string url = line.substr(at + kNetwork.size());
      if (!IsVendorService(url)) result->failed.push_back("network: " + url);
    }
  }
}

BrowserResult BrowsePage(const std::string& page) {
  BrowserResult result;
  const std::string browser = FindChromium();
  if (browser.empty()) {
    result.error = "chromium is not installed (scripts/setup installs it)";
    return result;
  }
  TempDir profile;
  const std::string url = "file://" + fs::absolute(page).lexically_normal().string();
  std::vector<std::string> argv = {
      browser, "--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + profile.path(),
      "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
      "--disable-component-update", "--disable-sync", "--disable-extensions",
      // Every request to the network goes to a closed port.
      "--proxy-server=127.0.0.1:9", "--proxy-bypass-list=<-loopback>", "--enable-logging=stderr",
      "--v=1", "--dump-dom", url};
  ChildResult child =
      RunCommand(argv, {"HOME=" + profile.path()}, profile.path(), std::chrono::seconds(120));
  if (child.timedOut) {
    result.error = "the browser did not end within 120 s";
    return result;
  }
  ParseBrowserLog(child.err, &result);
  result.ran = !result.loaded.empty();
  if (!result.ran) result.error = "the browser loaded nothing:\n" + child.err.substr(0, 2000);
  return result;
}
