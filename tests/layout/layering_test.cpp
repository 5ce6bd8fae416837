// The include arrows of the library and the command run one way, and platform conditionals stay
// in the platform layer. Reads the sources, so the next inversion fails here, not in review.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kSource = HARVO_SOURCE_DIR;

// The folders of src/ from the top of the order down; a file may include its own folder and any
// folder after it, never one before it. Bookmarks stand beside the job layers and reach only
// util and platform.
const std::vector<std::string> kOrder = {"api", "job", "fetch", "site", "util", "platform"};
const std::map<std::string, std::vector<std::string>> kExtra = {
    {"bookmarks", {"bookmarks", "util", "platform"}},
};

std::vector<std::string> AllowedFrom(const std::string& layer) {
  auto extra = kExtra.find(layer);
  if (extra != kExtra.end()) return extra->second;
  auto at = std::find(kOrder.begin(), kOrder.end(), layer);
  if (at == kOrder.end()) return {};
  return {at, kOrder.end()};
}

struct Include {
  fs::path file;
  int line;
  std::string target;
};

std::vector<Include> QuotedIncludes(const fs::path& file) {
  static const std::regex kInclude(R"re(^\s*#\s*include\s*"([^"]+)")re");
  std::vector<Include> found;
  std::ifstream in(file);
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    std::smatch match;
    if (std::regex_search(text, match, kInclude)) found.push_back({file, line, match[1]});
  }
  return found;
}

std::vector<fs::path> SourcesBelow(const fs::path& root) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string ext = entry.path().extension().string();
    if (entry.is_regular_file() && (ext == ".h" || ext == ".cpp")) files.push_back(entry.path());
  }
  return files;
}

std::string Where(const Include& include) {
  return fs::relative(include.file, kSource).string() + ":" + std::to_string(include.line) +
         " includes \"" + include.target + "\"";
}

// The wrong-way arrows of the library's folders.
std::vector<std::string> LibraryViolations() {
  std::vector<std::string> wrong;
  for (const fs::path& file : SourcesBelow(kSource / "src")) {
    const std::string layer = fs::relative(file, kSource / "src").begin()->string();
    const std::vector<std::string> allowed = AllowedFrom(layer);
    for (const Include& include : QuotedIncludes(file)) {
      if (include.target == "harvo.h") continue;
      const size_t slash = include.target.find('/');
      const std::string target = slash == std::string::npos ? "" : include.target.substr(0, slash);
      if (std::find(allowed.begin(), allowed.end(), target) == allowed.end()) {
        wrong.push_back(Where(include));
      }
    }
  }
  return wrong;
}

// The command sees the public header and its own files only.
std::vector<std::string> CommandViolations() {
  std::vector<std::string> wrong;
  for (const fs::path& file : SourcesBelow(kSource / "tools")) {
    for (const Include& include : QuotedIncludes(file)) {
      if (include.target == "harvo.h") continue;
      if (include.target.find('/') == std::string::npos &&
          fs::exists(file.parent_path() / include.target)) {
        continue;
      }
      wrong.push_back(Where(include));
    }
  }
  return wrong;
}

TEST(LayeringTest, IncludeArrowsRunOneWay) {
  EXPECT_EQ(LibraryViolations(), std::vector<std::string>{});
  EXPECT_EQ(CommandViolations(), std::vector<std::string>{});
}

TEST(LayeringTest, OrderRulesAreTheIntendedOnes) {
  // The rules themselves, so that a loosened table does not pass silently.
  EXPECT_EQ(AllowedFrom("site"), (std::vector<std::string>{"site", "util", "platform"}));
  EXPECT_EQ(AllowedFrom("platform"), std::vector<std::string>{"platform"});
  EXPECT_EQ(AllowedFrom("bookmarks"), (std::vector<std::string>{"bookmarks", "util", "platform"}));
  EXPECT_TRUE(AllowedFrom("tools").empty());
}

TEST(LayeringTest, PlatformConditionalsStayInThePlatformLayer) {
  static const std::regex kConditional(
      R"(^\s*#\s*(if|ifdef|ifndef|elif)\b.*\b(_WIN32|_WIN64|__linux__|__unix__|__APPLE__|__MINGW\w*|_MSC_VER)\b)");
  std::vector<std::string> wrong;
  for (const fs::path& file : SourcesBelow(kSource / "src")) {
    if (fs::relative(file, kSource / "src").begin()->string() == "platform") continue;
    std::ifstream in(file);
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
      if (std::regex_search(text, kConditional)) {
        wrong.push_back(fs::relative(file, kSource).string() + ":" + std::to_string(line));
      }
    }
  }
  EXPECT_EQ(wrong, std::vector<std::string>{});
}

}  // namespace
