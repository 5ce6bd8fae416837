// Links and index names that try to lead a saved file out of the site folder. Whatever a page
// or a server says, nothing is written outside the site folder, and every file inside lies
// where its URL path says.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "harvo.h"
#include "hostile_support.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using R = ScriptedResponse;

// Names no other program leaves in a temporary folder or the file-system root.
constexpr const char* kMarker = "hvx-";

// True when any component of target, split at "/" and "\", is "..".
bool Climbs(const std::string& target) {
  size_t start = 0;
  for (size_t i = 0; i <= target.size(); ++i) {
    if (i < target.size() && target[i] != '/' && target[i] != '\\') continue;
    if (target.compare(start, i - start, "..") == 0 && i - start == 2) return true;
    start = i + 1;
  }
  return false;
}

bool IsIndexProbe(const std::string& target) {
  for (const char* name : {"/.htaccess", "/index.html", "/index.htm"}) {
    if (target.ends_with(name)) return true;
  }
  return false;
}

std::string CollapseSlashes(std::string path) {
  path.erase(
      std::unique(path.begin(), path.end(), [](char a, char b) { return a == '/' && b == '/'; }),
      path.end());
  return path;
}

class EscapeTest : public ::testing::Test {
 protected:
  EscapeTest() {
    // The save root lies several folders down, so that most climbs would still land inside the
    // temporary folder and show up in its snapshot.
    WriteFileText(Root() + "canary/keep.txt", "canary");
    WriteFileText(SaveRoot() + "keep.txt", "beside the site");
    fs::create_directories(SiteFolder());
    WriteFileText(dir_ / "top.txt", "top");
    // Every request is answered, so that a request that should not have been made also leaves
    // a file to find: leaves say which target they answered.
    server_.SetHandler([](const ScriptedRequest& r) -> std::optional<ScriptedResponse> {
      if (r.target.ends_with("/.htaccess")) return std::nullopt;
      return R::Ok("T:" + r.target).LastModified(1600000000);
    });
  }

  std::string Root() const { return dir_ / "deep/a/b/c/"; }
  std::string SaveRoot() const { return Root() + "save/"; }
  std::string SiteFolder() const { return SaveRoot() + "127.0.0.1/"; }
  std::string SiteSkip() const { return "deep/a/b/c/save/127.0.0.1/"; }

  static std::string Page(const std::vector<std::string>& links) {
    std::string page = "<html><body>\n";
    for (const std::string& link : links) page += "<a href=\"" + link + "\">x</a>\n";
    return page + "</body></html>\n";
  }

  // The checks that hold after any job of this suite.
  void ExpectNothingEscaped(const hostile::Snapshot& before) {
    EXPECT_EQ(hostile::Snap(dir_.path(), SiteSkip()), before);
    EXPECT_EQ(ReadFileText(Root() + "canary/keep.txt"), "canary");
    std::error_code ec;
    for (const fs::path& place : {fs::temp_directory_path(), fs::path("/")}) {
      for (const auto& entry : fs::directory_iterator(place, ec)) {
        EXPECT_NE(entry.path().filename().string().rfind(kMarker, 0), 0u) << entry.path();
      }
    }
    // The walk never asks for a path that climbs. (Rewriting a link to a folder asks the server
    // for that folder's index name wherever the link points; those probes save nothing.)
    std::vector<std::string> targets = server_.requestTargets();
    for (const std::string& target : targets) {
      if (IsIndexProbe(target)) continue;
      EXPECT_FALSE(Climbs(target)) << target;
    }
    std::set<std::string> asked;
    for (const std::string& target : targets) asked.insert(CollapseSlashes(target));
    for (const auto& [rel, size] : hostile::FilesBelow(SiteFolder())) {
      EXPECT_EQ(asked.count("/" + rel), 1u) << rel << " was saved but never asked for";
      std::string text = ReadFileText(SiteFolder() + rel);
      if (text.rfind("T:", 0) == 0) {
        EXPECT_EQ(CollapseSlashes(text.substr(2)), "/" + rel);
      }
    }
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(EscapeTest, ClimbingLinksAndIndexNamesNeverLeaveTheSiteFolder) {
  const std::string abs = server_.url("");
  server_.Set("/index.html",
              R::Ok(Page({
                        // Relative climbs in every position; from the root page the first "../"
                        // stops at the root, further ones drop the link.
                        "../hvx-up1.html",
                        "../../hvx-up2.html",
                        "../../../../../../../../../../hvx-up10.html",
                        "a/../../hvx-rel1.html",
                        "a/b/../../../hvx-rel2.html",
                        "./../../hvx-rel3.html",
                        "sub/./../../hvx-rel4.html",
                        "a/..",
                        "a/../..",
                        "../",
                        "..",
                        // Backslashes and mixed separators.
                        "..\\hvx-bs1.html",
                        "..\\..\\hvx-bs2.html",
                        "a\\..\\..\\hvx-bs3.html",
                        "..\\/hvx-bs4.html",
                        "../\\hvx-bs5.html",
                        "a/..\\../hvx-bs6.html",
                        "a\\../../hvx-bs7.html",
                        // Escaped dots stay literal names inside the site.
                        "%2e%2e/hvx-enc1.html",
                        "%2e%2e%2f%2e%2e%2fhvx-enc2.html",
                        ".%2e/hvx-enc3.html",
                        // Absolute links to this server whose path climbs or is absolute.
                        abs + "/../../hvx-abs1.html",
                        abs + "/a/../../../hvx-abs2.html",
                        abs + "/..",
                        abs + "/../",
                        abs + "//hvx-abs3.html",
                        abs + "///hvx-abs4.html",
                        abs + "/..\\..\\hvx-abs5.html",
                        abs + "/./../hvx-abs6.html",
                        // A lead byte of a double-byte character before a "/".
                        "\x81/../../hvx-mb1.html",
                        "a\x81/../../hvx-mb2.html",
                        "\x81/../hvx-mb3.html",
                        // Deeper pages and folders whose index names climb.
                        "sub/deeper/page.html",
                        "dots1/",
                        "dots2/",
                        "dots3/",
                        "dots4/",
                        "dots5/",
                    }))
                  .LastModified(1600000000));
  server_.Set("/sub/deeper/page.html",
              R::Ok(Page({"../../../../hvx-deep1.html", "../../hvx-deep2.html",
                          "../x/../../../hvx-deep3.html", "./../../../hvx-deep4.html"})));
  server_.Set("/dots1/.htaccess", R::Ok("DirectoryIndex ../../hvx-idx1.html\n"));
  server_.Set("/dots2/.htaccess", R::Ok("DirectoryIndex ..\\..\\hvx-idx2.html\n"));
  server_.Set("/dots3/.htaccess", R::Ok("DirectoryIndex /hvx-idx3.html\n"));
  server_.Set("/dots4/.htaccess", R::Ok("DirectoryIndex sub/../../../hvx-idx4.html\n"));
  server_.Set("/dots5/.htaccess", R::Ok("DirectoryIndex ..\n"));
  const hostile::Snapshot before = hostile::Snap(dir_.path(), SiteSkip());

  HvrJobInfo job = MakeJob(server_.url("/"), SaveRoot());
  TestHandle::Outcome outcome = handle_.Run(&job);
  ASSERT_TRUE(outcome.finished);

  ExpectNothingEscaped(before);
  // What stays inside is kept, under the name its URL gives it.
  EXPECT_EQ(ReadFileText(SiteFolder() + "%2e%2e/hvx-enc1.html"), "T:/%2e%2e/hvx-enc1.html");
  EXPECT_EQ(ReadFileText(SiteFolder() + "hvx-up1.html"), "T:/hvx-up1.html");
  EXPECT_EQ(ReadFileText(SiteFolder() + "hvx-deep2.html"), "T:/hvx-deep2.html");
  EXPECT_EQ(ReadFileText(SiteFolder() + "dots3/hvx-idx3.html"), "T:/dots3//hvx-idx3.html");
  EXPECT_TRUE(fs::exists(SiteFolder() + "sub/deeper/page.html"));
  // What would climb out is refused with a code, and the walk goes on past it.
  std::set<std::string> failed(outcome.failedFiles.begin(), outcome.failedFiles.end());
  for (const char* path :
       {"a/../../hvx-rel1.html", "a\\..\\..\\hvx-bs3.html", "../../hvx-abs1.html", "dots1/",
        "dots2/", "dots4/", "dots5/", "sub/x/../../../hvx-deep3.html"}) {
    EXPECT_EQ(failed.count(path), 1u) << path;
  }
  EXPECT_EQ(outcome.failed, static_cast<int>(outcome.failedFiles.size()));
  EXPECT_EQ(static_cast<size_t>(outcome.restored), hostile::FilesBelow(SiteFolder()).size());
}

TEST_F(EscapeTest, AClimbingStartPathOrRootIndexNameSavesNothing) {
  const hostile::Snapshot before = hostile::Snap(dir_.path(), SiteSkip());
  server_.Set("/.htaccess", R::Ok("DirectoryIndex ../../../hvx-root.html\n"));
  for (const char* start :
       {"/", "/../../hvx-start.html", "/a/../../../hvx-start2.html", "/..\\..\\hvx-start3.html"}) {
    HvrJobInfo job = MakeJob(server_.url(start), SaveRoot());
    TestHandle::Outcome outcome = handle_.Run(&job);
    EXPECT_TRUE(outcome.finished) << start;
    EXPECT_EQ(outcome.restored, 0) << start;
    EXPECT_EQ(job.Error, HVR_ERR_FILE) << start;
  }
  ExpectNothingEscaped(before);
  EXPECT_TRUE(hostile::FilesBelow(SiteFolder()).empty());
}

// Start URLs come from the host or from a bookmark store that anyone may have written. Through
// a proxy (here the scripted server) any server name is asked for, so only the folder rules stand
// between such a name and the file system.
TEST_F(EscapeTest, ServerNamesThatAreNoFolderNameAreRefused) {
  using namespace std::string_literals;
  const std::vector<std::string> names = {"..", "%2e%2e", ".", "...", "1\x83", "a.\x9f"};
  std::string bookmarks = "<DL><p>\n";
  for (const std::string& name : names) {
    bookmarks += "<DT><A HREF=\"http://" + name + "/hvx-start.html\">x</A>\n";
  }
  WriteFileText(dir_ / "bookmark.htm", bookmarks + "</DL><p>\n");
  const hostile::Snapshot before = hostile::Snap(dir_.path(), SiteSkip());

  HvrOpenInfo info;
  info.Agent = "harvo-test";
  info.Proxy = "127.0.0.1:" + std::to_string(server_.port());
  KtWdlManager* handle = nullptr;
  ASSERT_EQ(HvrOpen(&handle, &info), 0);
  for (const std::string& name : names) {
    HvrJobInfo job = MakeJob("http://" + name + "/hvx-start.html", SaveRoot());
    int index = -1;
    EXPECT_EQ(HvrStart(&handle, &job, &index), 1) << name;
    EXPECT_EQ(job.Error, HVR_ERR_FILE) << name;  // what a refused start reports
    HvrEnd(&handle, &job, index);
  }
  HvrLinkArray* links = nullptr;
  ASSERT_EQ(HvrGetBookmarks((dir_ / "bookmark.htm").c_str(), &links, "B", 0), 0);
  ASSERT_EQ(links->size(), names.size());
  for (size_t i = 0; i < links->size(); ++i) links->at(i)->Selected = 1;
  HvrJobInfo tmpl = MakeJob("", SaveRoot());
  EXPECT_EQ(HvrMultiStart(&handle, &tmpl, &links), 1);
  HvrMultiEnd(&handle, &links);
  HvrDelLinkArray(&links);
  HvrClose(&handle, &info);

  EXPECT_EQ(server_.requestCount(), 0u);
  ExpectNothingEscaped(before);
  EXPECT_TRUE(hostile::FilesBelow(SaveRoot()) ==
              (std::map<std::string, uintmax_t>{{"keep.txt", 15}}));
}

}  // namespace
