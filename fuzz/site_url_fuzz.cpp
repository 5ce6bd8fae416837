// Start-URL parsing and the site folders: KtWdlSite::SetUrl, SetSaveFolder and PageFolder on
// arbitrary text. The input holds the URL, the save root and a URL path, separated by line feeds.
//
// Invariants: no crash; a parsed URL has a server name; the site folder is the save root and one
// folder below it named after the server (never ".", "..", or more than one folder); the page
// folder of a URL path without ".." components and without a leading "/" lies in the site folder
// and ends with "/".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "harvo.h"
#include "site/site.h"

namespace {

std::vector<std::string_view> SplitBytes(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != separator) continue;
    parts.push_back(text.substr(start, i - start));
    start = i + 1;
  }
  return parts;
}

// A path the fetcher would save: no leading "/", no ".." component at any "/" byte.
bool StaysBelow(std::string_view path) {
  if (!path.empty() && path.front() == '/') return false;
  for (std::string_view part : SplitBytes(path, '/')) {
    if (part == "..") return false;
  }
  return true;
}

void CheckSiteFolder(const std::string& root, const std::string& folder,
                     const std::string& detail) {
  if (root.empty()) {
    FUZZ_CHECK(folder.empty(), detail);
    return;
  }
  FUZZ_CHECK(folder.compare(0, root.size(), root) == 0, detail);
  FUZZ_CHECK(folder.back() == '/', detail);
  // As the file system reads it: empty parts ("//") do not count.
  std::vector<std::string_view> names;
  for (std::string_view name : SplitBytes(std::string_view(folder).substr(root.size()), '/')) {
    if (!name.empty()) names.push_back(name);
  }
  FUZZ_CHECK(names.size() == 1 && names[0] != "." && names[0] != "..",
             "the site folder is not one folder below the root: " + detail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t first = text.find('\n');
  size_t second = first == std::string_view::npos ? first : text.find('\n', first + 1);
  // Texts reach these calls as C strings: each part ends at its first zero byte.
  auto part = [&](size_t from, size_t to) {
    std::string_view piece =
        from >= text.size() ? std::string_view() : text.substr(from, to - from);
    return std::string(piece.substr(0, piece.find('\0')));
  };
  const std::string url = part(0, first);
  const std::string root = first == std::string_view::npos ? "" : part(first + 1, second);
  const std::string path = second == std::string_view::npos ? "" : part(second + 1, text.size());

  HvrJobInfo job;
  job.Url = url;
  job.SaveFolder = root;
  job.CompareFolder = root;
  KtWdlSite site(nullptr, &job);
  const bool parsed = site.SetUrl(url.c_str()) == 0;
  FUZZ_CHECK(parsed == (job.Error != HVR_ERR_SETTING), url);
  if (!parsed) return 0;
  const std::string server = site.GetServer();
  FUZZ_CHECK(!server.empty(), url);
  const std::string detail = "url=" + url + " root=" + root + " server=" + server;
  CheckSiteFolder(root, site.GetSaveFolder(), detail);
  CheckSiteFolder(root, site.GetCompareFolder(), detail);

  const std::string siteFolder = site.GetSaveFolder();
  for (const std::string& urlPath : {path, std::string(site.GetStartPath())}) {
    if (siteFolder.empty() || !StaysBelow(urlPath)) continue;
    const std::string folder = PageFolder(siteFolder, urlPath);
    FUZZ_CHECK(folder.compare(0, siteFolder.size(), siteFolder) == 0,
               "the page folder left the site folder: " + detail + " path=" + urlPath);
    FUZZ_CHECK(folder.back() == '/', detail + " path=" + urlPath);
  }
  return 0;
}
