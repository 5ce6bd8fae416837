// Faults of the local disk: a save folder that cannot be created, files that cannot be written,
// a log that cannot be opened. The job records each failed file with its code and goes on with
// the next one; an earlier copy is never replaced by a broken one; nothing crashes.
//
// Tests may run as root, where permission bits do not bite: the faults are made with paths whose
// parent is a regular file, names beyond the file system's limits, /proc, and the file-size limit
// of the test's own process.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "harvo.h"
#include "hostile_support.h"
#include "platform/fs.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using R = ScriptedResponse;

constexpr int64_t kOld = 1500000000;

class LocalFaultTest : public ::testing::Test {
 protected:
  LocalFaultTest() {
    server_.SetHandler([](const ScriptedRequest& r) -> std::optional<ScriptedResponse> {
      if (r.target.ends_with("/.htaccess")) return std::nullopt;
      return R::Ok("leaf " + r.target).LastModified(1600000000);
    });
  }
  std::string Site() const { return dir_ / "save/127.0.0.1/"; }
  void StartPage(const std::vector<std::string>& links) {
    std::string page;
    for (const std::string& link : links) page += "<a href=\"" + link + "\">x</a>\n";
    server_.Set("/index.html", R::Ok(page).LastModified(1600000000));
  }
  static std::set<std::string> Set(const std::vector<std::string>& items) {
    return {items.begin(), items.end()};
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(LocalFaultTest, ASaveFolderThatCannotBeCreatedFailsTheStartPageWithACode) {
  WriteFileText(dir_ / "plain.txt", "a file, not a folder");
  server_.Set("/index.html", R::Ok("<a href=a.html>"));
  for (const std::string& root : {dir_ / "plain.txt/mirror/", std::string("/proc/hvx-harvo/")}) {
    HvrJobInfo job = MakeJob(server_.url("/index.html"), root);
    TestHandle::Outcome outcome = handle_.Run(&job);
    EXPECT_TRUE(outcome.finished) << root;
    EXPECT_EQ(outcome.restored, 0) << root;
    // Recorded by the walk and once more as the job's start page.
    EXPECT_EQ(outcome.failed, 2) << root;
    EXPECT_EQ(outcome.failedFiles, (std::vector<std::string>{"index.html", "index.html"})) << root;
    EXPECT_EQ(job.Error, HVR_ERR_FILE) << root;
  }
  EXPECT_EQ(ReadFileText(dir_ / "plain.txt"), "a file, not a folder");
  EXPECT_FALSE(fs::exists("/proc/hvx-harvo"));
  // The page was asked for each time, but nothing else.
  EXPECT_EQ(server_.requestTargets(), (std::vector<std::string>{"/index.html", "/index.html"}));
}

TEST_F(LocalFaultTest, FilesThatCannotBeWrittenFailOneByOneAndTheWalkGoesOn) {
  WriteFileText(Site() + "blocked", "a file where a folder should be");
  fs::create_directories(Site() + "folder.gif/inside");
  const std::string longName(300, 'n');
  std::string deepPath;
  while (deepPath.size() < 4200) deepPath += "deep/";
  StartPage({"blocked/x.gif", longName + ".gif", std::string(300, 'd') + "/x.gif",
             deepPath + "x.gif", "folder.gif", "ok.gif"});

  HvrJobInfo job = MakeJob(server_.url("/index.html"), dir_ / "save/");
  TestHandle::Outcome outcome = handle_.Run(&job, dir_ / "job.log", &server_);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(Set(outcome.failedFiles), (std::set<std::string>{"blocked/x.gif", longName + ".gif",
                                                             std::string(300, 'd') + "/x.gif",
                                                             deepPath + "x.gif", "folder.gif"}));
  EXPECT_EQ(outcome.failed, 5);
  EXPECT_EQ(outcome.restored, 2);
  EXPECT_EQ(ReadFileText(Site() + "ok.gif"), "leaf /ok.gif");
  EXPECT_EQ(ReadFileText(Site() + "blocked"), "a file where a folder should be");
  EXPECT_TRUE(fs::is_directory(Site() + "folder.gif/inside"));
  std::vector<std::string> log = ReadLogBody(dir_ / "job.log");
  std::set<std::string> lines(log.begin(), log.end());
  for (const std::string& failed : outcome.failedFiles) {
    EXPECT_EQ(lines.count("Error(80010000):" + failed), 1u) << failed;
  }
  for (const auto& [rel, size] : hostile::FilesBelow(dir_.path())) {
    EXPECT_EQ(rel.find(".hvtmp-"), std::string::npos) << rel;
  }
}

// A file-size limit on this process makes writes past it fail, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    applied_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  bool applied() const { return applied_; }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
  bool applied_ = false;
};

TEST_F(LocalFaultTest, AWriteThatFailsMidwayKeepsTheEarlierCopyAndTheWalkGoesOn) {
  server_.Set("/big.gif", R::Generated(3 << 20).LastModified(1600000000));
  server_.Set("/big.html", R::Generated(3 << 20).LastModified(1600000000));
  for (const char* name : {"big.gif", "big.html"}) {
    WriteFileText(Site() + name, std::string("earlier ") + name);
    hvfs::SetFileTime(Site() + name, kOld);
  }
  StartPage({"big.gif", "big.html", "ok.gif"});
  HvrJobInfo job = MakeJob(server_.url("/index.html"), dir_ / "save/");
  TestHandle::Outcome outcome;
  {
    FileSizeLimit limit(1 << 20);
    ASSERT_TRUE(limit.applied());
    outcome = handle_.Run(&job);
  }
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(Set(outcome.failedFiles), (std::set<std::string>{"big.gif", "big.html"}));
  for (const char* name : {"big.gif", "big.html"}) {
    EXPECT_EQ(ReadFileText(Site() + name), std::string("earlier ") + name);
    hvfs::FileInfo info;
    ASSERT_TRUE(hvfs::GetFileInfo(Site() + name, &info));
    EXPECT_EQ(info.time, kOld);
  }
  EXPECT_EQ(ReadFileText(Site() + "ok.gif"), "leaf /ok.gif");
  for (const auto& [rel, size] : hostile::FilesBelow(dir_.path())) {
    EXPECT_EQ(rel.find(".hvtmp-"), std::string::npos) << rel;
  }
}

TEST_F(LocalFaultTest, ALogThatCannotBeOpenedLeavesTheJobWorking) {
  WriteFileText(dir_ / "plain.txt", "a file, not a folder");
  fs::create_directories(dir_ / "folder.log");
  StartPage({"a.gif", "b.html"});
  for (const std::string& log :
       {dir_ / "plain.txt/job.log", dir_ / "folder.log", std::string("/proc/hvx-harvo/job.log"),
        dir_ / (std::string(300, 'l') + ".log")}) {
    HvrJobInfo job = MakeJob(server_.url("/index.html"), dir_ / "save/");
    TestHandle::Outcome outcome = handle_.Run(&job, log, &server_);
    EXPECT_TRUE(outcome.finished) << log;
    EXPECT_EQ(outcome.restored, 3) << log;
    EXPECT_EQ(outcome.failed, 0) << log;
    EXPECT_EQ(job.Error, 0) << log;
  }
  EXPECT_EQ(ReadFileText(dir_ / "plain.txt"), "a file, not a folder");
  EXPECT_TRUE(fs::is_directory(dir_ / "folder.log"));
  EXPECT_EQ(ReadFileText(Site() + "b.html"), "leaf /b.html");
}

}  // namespace
