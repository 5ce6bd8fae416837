// Update runs that walk an unchanged page's links from its earlier copy
// (HVR_OPT_WALK_UNCHANGED), and the comparison of saved pages with the server's answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "harvo.h"
#include "platform/fs.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;

constexpr int64_t kOld = 1600000000;
constexpr int64_t kNew = 1700000000;
constexpr int32_t kRefresh = HVR_OPT_UPDATE_ONLY | HVR_OPT_WALK_UNCHANGED;

class WalkUnchangedTest : public ::testing::Test {
 protected:
  std::string Site() const { return dir_ / "127.0.0.1/"; }
  void Serve(const std::string& target, const std::string& body, int64_t time) {
    server_.Set(target, R::Ok(body).LastModified(time));
  }
  // A job that copies (or updates, with options) the site from path into the test folder,
  // comparing with the same folder.
  TestHandle::Outcome Copy(const std::string& path, int32_t options, const std::string& log = "") {
    HvrJobInfo job = MakeJob(server_.url(path), dir_.path());
    job.Options = options;
    if (options != 0) job.CompareFolder = dir_.path();
    TestHandle handle;
    return handle.Run(&job, log, log.empty() ? nullptr : &server_);
  }
  // A site whose pages link each other in every form a saved copy rewrites: relative, "./",
  // "../", absolute, and folders saved as their index files (found by probe and by .htaccess).
  void ServeSite(int64_t imageTime, const std::string& image) {
    const std::string base = server_.url("");
    Serve("/docs/index.html",
          "<html>\n<a href=\"guide/\">guide</a>\n<a href=" + base +
              "/docs/api/ref.html>ref</a>\n<a href=\"mailto:a@b\">mail</a>\n</html>\n",
          kOld);
    Serve("/docs/guide/index.htm",
          "<a href=./step.html>\n<a href=\"../api/\">\n<a href=" + base + "/docs/>", kOld);
    Serve("/docs/guide/step.html", "<img src=\"../img/deep.gif\">\n<a href=../index.html>", kOld);
    Serve("/docs/api/.htaccess", "DirectoryIndex start.html\n", kOld);
    Serve("/docs/api/start.html", "<a href=\"" + base + "/docs/guide/step.html\">\n", kOld);
    Serve("/docs/api/ref.html", "<a href=../guide/>", kOld);
    Serve("/docs/img/deep.gif", image, imageTime);
  }

  ScriptedServer server_;
  TempDir dir_;
};

TEST_F(WalkUnchangedTest, UnchangedPagesAreWalkedFromTheirCopyAndAChangedImageIsUpdated) {
  ServeSite(kOld, "GIF-old");
  TestHandle::Outcome first = Copy("/docs/", 0);
  ASSERT_EQ(first.failed, 0);
  ASSERT_EQ(first.restored, 6);
  const std::set<std::string> files = {"/docs/index.html",      "/docs/guide/index.htm",
                                       "/docs/guide/step.html", "/docs/api/start.html",
                                       "/docs/api/ref.html",    "/docs/img/deep.gif"};
  const std::string startCopy = ReadFileText(Site() + "docs/index.html");

  // Two links below the start page the image changed; no page did.
  ServeSite(kNew, "GIF-new, longer");
  const size_t before = server_.requestCount();
  TestHandle::Outcome update = Copy("/docs/", kRefresh, dir_ / "update.log");
  EXPECT_EQ(update.failed, 0);
  EXPECT_EQ(ReadFileText(Site() + "docs/img/deep.gif"), "GIF-new, longer");
  EXPECT_EQ(update.restored, 1);  // only the image was received
  EXPECT_EQ(ReadFileText(Site() + "docs/index.html"), startCopy);

  // Every file of the site was asked for, and nothing else but the start folder's index.
  auto all = server_.requestTargets();
  std::set<std::string> asked(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
  for (const std::string& file : files) EXPECT_EQ(asked.count(file), 1u) << file;
  std::set<std::string> rest;
  std::set_difference(asked.begin(), asked.end(), files.begin(), files.end(),
                      std::inserter(rest, rest.end()));
  EXPECT_EQ(rest, (std::set<std::string>{"/docs/.htaccess"}));

  const auto log = ReadLogBody(dir_ / "update.log");
  EXPECT_NE(std::find(log.begin(), log.end(), "Unchanged(docs/index.html), 0"), log.end());
}

TEST_F(WalkUnchangedTest, RawCopiesAreWalkedByTheirLinksAsReceived) {
  // The copies keep their folder links ("guide/"), which the walk looks up as the page's would.
  ServeSite(kOld, "GIF-old");
  ASSERT_EQ(Copy("/docs/", HVR_OPT_RAW_HTML).restored, 6);
  ServeSite(kNew, "GIF-new, longer");
  TestHandle::Outcome update = Copy("/docs/", kRefresh | HVR_OPT_RAW_HTML);
  EXPECT_EQ(update.failed, 0);
  EXPECT_EQ(update.restored, 1);
  EXPECT_EQ(ReadFileText(Site() + "docs/img/deep.gif"), "GIF-new, longer");
}

TEST_F(WalkUnchangedTest, WithoutTheOptionSavedPagesStillCompareBySize) {
  ServeSite(kOld, "GIF-old");
  ASSERT_EQ(Copy("/docs/", 0).failed, 0);
  ServeSite(kNew, "GIF-new, longer");
  // Every saved page differs in size from the server's (CR LF, rewritten links), so every page
  // counts as changed and is received again.
  TestHandle::Outcome update = Copy("/docs/", HVR_OPT_UPDATE_ONLY);
  EXPECT_EQ(update.failed, 0);
  EXPECT_EQ(update.restored, 6);
  EXPECT_EQ(ReadFileText(Site() + "docs/img/deep.gif"), "GIF-new, longer");
}

TEST_F(WalkUnchangedTest, SavedPagesCompareByTimeAndExactFilesBySize) {
  Serve("/index.html", "<a href=a.html>\n<img src=b.gif><img src=c.gif><a href=d.html>\nnew", kOld);
  Serve("/a.html", "a\n", kOld);
  Serve("/b.gif", "GIF-b, new", kOld);
  Serve("/c.gif", "GIF-c", kOld);
  Serve("/d.html", "page d", kOld);
  // The start page's copy differs in size (CR LF, text) but not in time: it is left alone and
  // walked. a.html has another time; b.gif another size; c.gif is the same; d.html's copy is
  // empty, as a stop before its first block leaves it.
  auto earlier = [&](const std::string& name, const std::string& text, int64_t time) {
    WriteFileText(Site() + name, text);
    hvfs::SetFileTime(Site() + name, time);
  };
  earlier("index.html", "<a href=a.html>\r\n<img src=b.gif><img src=c.gif><a href=d.html>\r\nold",
          kOld);
  earlier("a.html", "old a", kNew);
  earlier("b.gif", "GIF-b", kOld);
  earlier("c.gif", "GIF-C", kOld);
  earlier("d.html", "", kOld);
  TestHandle::Outcome outcome = Copy("/index.html", kRefresh);
  EXPECT_EQ(outcome.failed, 0);
  EXPECT_EQ(ReadFileText(Site() + "index.html"),
            "<a href=a.html>\r\n<img src=b.gif><img src=c.gif><a href=d.html>\r\nold");
  EXPECT_EQ(ReadFileText(Site() + "a.html"), "a\r\n");
  EXPECT_EQ(ReadFileText(Site() + "b.gif"), "GIF-b, new");
  EXPECT_EQ(ReadFileText(Site() + "c.gif"), "GIF-C");
  EXPECT_EQ(ReadFileText(Site() + "d.html"), "page d");
  EXPECT_EQ(outcome.restored, 3);
}

TEST_F(WalkUnchangedTest, RawPagesInTheirCodeCompareBySizeToo) {
  Serve("/index.html", "<a href=a.html>\nnew", kOld);
  Serve("/a.html", "a", kOld);
  WriteFileText(Site() + "index.html", "<a href=a.html>\nold, longer");
  hvfs::SetFileTime(Site() + "index.html", kOld);
  Copy("/index.html", kRefresh | HVR_OPT_RAW_HTML | HVR_OPT_KEEP_CODE);
  EXPECT_EQ(ReadFileText(Site() + "index.html"), "<a href=a.html>\nnew");
  EXPECT_EQ(ReadFileText(Site() + "a.html"), "a");
}

}  // namespace
