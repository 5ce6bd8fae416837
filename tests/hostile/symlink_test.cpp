// Symbolic links inside a copy (left by an earlier run of any program, or planted in a shared
// folder) never carry a write out of the site folder: a file whose folder is reached through a
// link fails with that reason, and the rest of the site is copied.
#include <gtest/gtest.h>

#include <filesystem>
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

class SymlinkTest : public ::testing::Test {
 protected:
  SymlinkTest() {
    server_.SetHandler([](const ScriptedRequest& r) -> std::optional<ScriptedResponse> {
      if (r.target.ends_with("/.htaccess")) return std::nullopt;
      return R::Ok("leaf " + r.target).LastModified(1600000000);
    });
  }
  std::string Root() const { return dir_ / "save/"; }
  std::string Site() const { return Root() + "127.0.0.1/"; }
  void StartPage(const std::vector<std::string>& links) {
    std::string page;
    for (const std::string& link : links) page += "<a href=\"" + link + "\">x</a>\n";
    server_.Set("/index.html", R::Ok(page).LastModified(1600000000));
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(SymlinkTest, AFolderOfTheCopyThatIsASymbolicLinkIsNeverWrittenThrough) {
  const std::string outside = dir_ / "outside/";
  fs::create_directories(outside);
  WriteFileText(outside + "keep.gif", "outside");
  fs::create_directories(Site() + "a");
  fs::create_directory_symlink(outside, Site() + "sub");
  fs::create_directory_symlink(outside, Site() + "a/b");
  // A link in place of a file is replaced by the file, never written through.
  fs::create_symlink(outside + "keep.gif", Site() + "file.gif");
  StartPage({"sub/x.html", "sub/new/y.gif", "a/b/z.gif", "a/ok.gif", "file.gif"});

  HvrJobInfo job = MakeJob(server_.url("/index.html"), Root());
  TestHandle::Outcome outcome = handle_.Run(&job);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(std::set<std::string>(outcome.failedFiles.begin(), outcome.failedFiles.end()),
            (std::set<std::string>{"sub/x.html", "sub/new/y.gif", "a/b/z.gif"}));
  ASSERT_EQ(outcome.failedReasons.size(), outcome.failedFiles.size());
  for (const std::string& reason : outcome.failedReasons) {
    EXPECT_NE(reason.find("symbolic link"), std::string::npos) << reason;
  }
  EXPECT_EQ(outcome.restored, 3);
  EXPECT_EQ(ReadFileText(Site() + "a/ok.gif"), "leaf /a/ok.gif");
  EXPECT_EQ(ReadFileText(Site() + "file.gif"), "leaf /file.gif");
  EXPECT_FALSE(fs::is_symlink(Site() + "file.gif"));
  // The folder the links lead to holds what it held, and the links are still there.
  EXPECT_EQ(hostile::FilesBelow(outside), (std::map<std::string, uintmax_t>{{"keep.gif", 7}}));
  EXPECT_FALSE(fs::exists(outside + "new"));
  EXPECT_TRUE(fs::is_symlink(Site() + "sub"));
  EXPECT_TRUE(fs::is_symlink(Site() + "a/b"));
}

TEST_F(SymlinkTest, ASiteFolderThatIsALinkOfTheUsersIsFollowed) {
  // The save root and the server's folder are the user's own paths: a link there is a choice
  // (a copy kept on another disk), not something a server could have arranged.
  const std::string disk = dir_ / "other-disk/";
  fs::create_directories(disk);
  fs::create_directories(Root());
  fs::create_directory_symlink(disk, Site().substr(0, Site().size() - 1));
  StartPage({"dir/a.gif"});

  HvrJobInfo job = MakeJob(server_.url("/index.html"), Root());
  TestHandle::Outcome outcome = handle_.Run(&job);
  ASSERT_TRUE(outcome.finished);
  EXPECT_TRUE(outcome.failedFiles.empty());
  EXPECT_EQ(outcome.restored, 2);
  EXPECT_EQ(ReadFileText(disk + "dir/a.gif"), "leaf /dir/a.gif");
}

}  // namespace
