// A server that stalls in the middle of a body until the user stops the job. A stop never puts
// the part that arrived in place of an earlier file; a part kept where there was none is taken
// for changed by the next update run; and temporary files left by a run that ended at once are
// cleaned up by a later run without hurting one that goes on beside it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

#include "harvo.h"
#include "hostile_support.h"
#include "platform/fs.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using R = ScriptedResponse;

constexpr int64_t kFirst = 1600000000;
constexpr int64_t kSecond = 1700000000;
constexpr uint64_t kAnnounced = 200000;
constexpr uint64_t kArrives = 1000;
// A read waits for a whole block: blocks this size let the job hold what came before the stall.
constexpr int kBlock = 500;

class StoppedCopyTest : public ::testing::Test {
 protected:
  std::string Root() const { return dir_ / "save/"; }
  std::string Site() const { return Root() + "127.0.0.1/"; }

  // An update run of url into the save folder, compared with itself.
  HvrJobInfo UpdateJob(const std::string& path) const {
    HvrJobInfo job = MakeJob(server_.url(path), Root());
    job.CompareFolder = Root();
    job.Options |= HVR_OPT_UPDATE_ONLY;
    job.BufferSize = kBlock;
    return job;
  }

  // Runs job until the server has stalled and the job holds received bytes (when more than 0:
  // the query waits while a page's read is under way), then stops it.
  // Returns the number of files the job counted as saved. A stop is never withdrawn, so each
  // run has a handle of its own.
  int RunUntilStalledThenStop(HvrJobInfo* job, int received) {
    TestHandle handle;
    const int stallsBefore = server_.stallCount();
    int index = -1;
    EXPECT_EQ(handle.Start(job, &index), 0);
    EXPECT_TRUE(server_.WaitForStalls(stallsBefore + 1));
    if (received > 0) {
      EXPECT_TRUE(WaitFor([&] { return HvrGetDLRestoredSize(handle.get(), index) >= received; }));
    }
    handle.TimedStop(job, index);
    EXPECT_TRUE(handle.WaitIdle());
    int saved = HvrGetDLRestoredNum(handle.get(), index);
    HvrEnd(handle.get(), job, index);
    return saved;
  }
  TestHandle::Outcome Run(HvrJobInfo* job) {
    TestHandle handle;
    return handle.Run(job);
  }

  int64_t StampOf(const std::string& path) const {
    hvfs::FileInfo info;
    return hvfs::GetFileInfo(path, &info) ? info.time : -1;
  }

  mutable ScriptedServer server_;
  TempDir dir_;
};

TEST_F(StoppedCopyTest, AStopDuringAnUpdateKeepsTheCompleteEarlierCopy) {
  // Style sheets are read through their own scanner (with the option that scans them).
  for (const std::string name : {"big.gif", "big.html", "big.css"}) {
    const int32_t options = name.ends_with(".css") ? HVR_OPT_MORE_LINKS : 0;
    server_.Set("/" + name, R::Generated(kAnnounced).LastModified(kFirst));
    HvrJobInfo first = UpdateJob("/" + name);
    first.Options |= options;
    TestHandle::Outcome outcome = Run(&first);
    ASSERT_TRUE(outcome.finished) << name;
    ASSERT_EQ(outcome.restored, 1) << name;
    const std::string earlier = ReadFileText(Site() + name);
    ASSERT_GE(earlier.size(), kAnnounced) << name;

    // The server has a newer file, sends its first bytes and stalls; the user stops the job.
    server_.Set("/" + name, R::Generated(kAnnounced).LastModified(kSecond).StallAfter(kArrives));
    HvrJobInfo update = UpdateJob("/" + name);
    update.Options |= options;
    const int arrived = name.ends_with(".gif") ? static_cast<int>(kArrives) : 0;
    EXPECT_EQ(RunUntilStalledThenStop(&update, arrived), 0) << name;

    // (Compared as a truth value: a difference of 200 KB would flood the output.)
    EXPECT_TRUE(ReadFileText(Site() + name) == earlier) << name;
    EXPECT_EQ(StampOf(Site() + name), kFirst) << name;
    for (const auto& [rel, size] : hostile::FilesBelow(dir_.path())) {
      EXPECT_FALSE(hvfs::IsTemporaryName(fs::path(rel).filename().string())) << rel;
    }
  }
}

TEST_F(StoppedCopyTest, APartKeptByAStopIsChangedForTheNextUpdate) {
  // No earlier copy: what arrived stays, stamped with the server's time, and counts as saved.
  server_.Set("/part.gif", R::Generated(kAnnounced).LastModified(kFirst).StallAfter(kArrives));
  HvrJobInfo stopped = UpdateJob("/part.gif");
  EXPECT_EQ(RunUntilStalledThenStop(&stopped, static_cast<int>(kArrives)), 1);
  EXPECT_EQ(ReadFileText(Site() + "part.gif").size(), kArrives);
  EXPECT_EQ(StampOf(Site() + "part.gif"), kFirst);

  // A server that names no length and stalls before the body leaves an empty part, whose size
  // and stamp match what the server says the next time.
  server_.Set("/empty.gif", R::Ok("").NoContentLength().LastModified(kFirst).StallAfter(0));
  HvrJobInfo emptyStop = UpdateJob("/empty.gif");
  EXPECT_EQ(RunUntilStalledThenStop(&emptyStop, 0), 1);
  ASSERT_TRUE(fs::exists(Site() + "empty.gif"));
  EXPECT_EQ(fs::file_size(Site() + "empty.gif"), 0u);

  // The same files, unchanged on the server, are received again: the parts were not current.
  server_.Set("/part.gif", R::Generated(kAnnounced).LastModified(kFirst));
  server_.Set("/empty.gif", R::Ok("now whole").NoContentLength().LastModified(kFirst));
  for (const char* name : {"part.gif", "empty.gif"}) {
    HvrJobInfo update = UpdateJob(std::string("/") + name);
    TestHandle::Outcome outcome = Run(&update);
    ASSERT_TRUE(outcome.finished) << name;
    EXPECT_EQ(outcome.restored, 1) << name;
    EXPECT_EQ(StampOf(Site() + name), kFirst) << name;
  }
  EXPECT_EQ(ReadFileText(Site() + "part.gif").size(), kAnnounced);
  EXPECT_EQ(ReadFileText(Site() + "empty.gif"), "now whole");

  // Complete now, it is current: a further update run does not receive it. (Without a length
  // from the server a file always counts as changed, so the empty one proves nothing here.)
  HvrJobInfo again = UpdateJob("/part.gif");
  TestHandle::Outcome outcome = Run(&again);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.restored, 0);
}

// Sets a file's modification time to seconds ago.
void Age(const std::string& path, int64_t seconds) {
  ASSERT_TRUE(hvfs::SetFileTime(path, static_cast<int64_t>(std::time(nullptr)) - seconds));
}

TEST_F(StoppedCopyTest, ALaterRunRemovesOnlyStaleTemporaryFilesOfItsSiteFolder) {
  const std::string stale = Site() + "a/b/.x.gif.hvtmp-Ab12Cd";
  const std::string young = Site() + "a/.y.gif.hvtmp-Zz99zz";
  const std::string lookalike = Site() + "a/.z.gif.hvtmp-short";
  const std::string outside = Root() + ".w.gif.hvtmp-Qq11qq";
  const std::string linked = dir_ / "elsewhere/.v.gif.hvtmp-Rr22rr";
  for (const std::string& path : {stale, young, lookalike, outside, linked}) {
    WriteFileText(path, "left behind");
  }
  for (const std::string& path : {stale, lookalike, outside, linked}) Age(path, 3600);
  fs::create_directory_symlink(dir_ / "elsewhere", Site() + "link");
  server_.Set("/index.html", R::Ok("<p>start</p>").LastModified(kFirst));

  HvrJobInfo job = MakeJob(server_.url("/index.html"), Root());
  TestHandle::Outcome outcome = Run(&job);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.restored, 1);
  EXPECT_FALSE(fs::exists(stale));
  for (const std::string& path : {young, lookalike, outside, linked}) {
    EXPECT_EQ(ReadFileText(path), "left behind") << path;
  }

  // A check-only run removes nothing.
  const std::string another = Site() + ".u.gif.hvtmp-Ss33ss";
  WriteFileText(another, "left behind");
  Age(another, 3600);
  HvrJobInfo check = MakeJob(server_.url("/index.html"), Root());
  check.Options |= HVR_OPT_CHECK_ONLY;
  ASSERT_TRUE(Run(&check).finished);
  EXPECT_TRUE(fs::exists(another));
}

// A host that must end the process at once (the command, on a second Ctrl-C) calls quick_exit:
// the file being written disappears with the process instead of staying as a hidden part.
TEST(StoppedCopy, QuickExitWhileAFileArrivesLeavesNoTemporaryFile) {
  // The death test's child runs this test again from its start: it takes the parent's folder
  // from the environment rather than making (and, ending at once, leaving) one of its own.
  static constexpr char kFolderVariable[] = "HARVO_TEST_QUICK_EXIT_FOLDER";
  std::optional<TempDir> own;
  if (std::getenv(kFolderVariable) == nullptr) {
    own.emplace();
    ::setenv(kFolderVariable, own->path().c_str(), 1);
  }
  const std::string folder = std::getenv(kFolderVariable);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ScriptedServer server;
        server.Set("/big.gif", R::Generated(kAnnounced).LastModified(kFirst).StallAfter(kArrives));
        TestHandle handle;
        HvrJobInfo job = MakeJob(server.url("/big.gif"), folder + "save/");
        job.BufferSize = kBlock;
        int index = -1;
        if (handle.Start(&job, &index) != 0 || !server.WaitForStalls(1)) std::_Exit(1);
        if (!WaitFor([&] { return HvrGetDLRestoredSize(handle.get(), index) > 0; })) {
          std::_Exit(2);
        }
        std::quick_exit(7);
      },
      ::testing::ExitedWithCode(7), "");
  ::unsetenv(kFolderVariable);
  ASSERT_TRUE(fs::is_directory(folder + "save/127.0.0.1/"));
  for (const auto& [rel, size] : hostile::FilesBelow(folder)) {
    EXPECT_FALSE(hvfs::IsTemporaryName(fs::path(rel).filename().string())) << rel;
  }
}

}  // namespace
