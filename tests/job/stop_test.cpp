// Stopping jobs: during a body, during a stalled response, after a stop, in a multi-site run;
// and waits that cover every job of the handle.
#include <gtest/gtest.h>

#include <chrono>

#include "harvo.h"
#include "platform/fs.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int64_t kModified = 1650000000;

class StopTest : public ::testing::Test {
 protected:
  std::string Site() const { return dir_ / "127.0.0.1/"; }
  HvrJobInfo Job(const std::string& path) {
    HvrJobInfo job = MakeJob(server_.url(path), dir_.path());
    job.Interval = 60000;  // a stop must not wait for the pause after a file
    return job;
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(StopTest, DuringABody_LeavesAPartialStampedCountedFile) {
  server_.Set("/big.gif", R::Generated(4 << 20).Paced(4096, 5ms).LastModified(kModified));
  HvrJobInfo job = Job("/big.gif");
  int index = -1;
  ASSERT_EQ(handle_.Start(&job, &index), 0);
  ASSERT_TRUE(WaitFor([&] { return HvrGetDLRestoredSize(handle_.get(), index) > 8192; }));
  EXPECT_LT(handle_.TimedStop(&job, index), 2s);
  EXPECT_EQ(HvrIsDL(handle_.get(), index), 0);
  EXPECT_EQ(HvrGetDLRestoredNum(handle_.get(), index), 1);
  hvfs::FileInfo info;
  ASSERT_TRUE(hvfs::GetFileInfo(Site() + "big.gif", &info));
  EXPECT_GT(info.size, 8192);
  EXPECT_LT(info.size, 4 << 20);
  EXPECT_EQ(info.time, kModified);
  std::string data = ReadFileText(Site() + "big.gif");
  EXPECT_TRUE(GeneratedBody::Matches(0, data.data(), data.size()));
  HvrEnd(handle_.get(), &job, index);
}

TEST_F(StopTest, DuringAPageBody_EndsTheWalk) {
  std::string page = "<a href=a.html>" + std::string(200000, ' ') + "<a href=b.html>";
  server_.Set("/index.html", R::Ok(page).Paced(1000, 5ms));
  HvrJobInfo job = Job("/index.html");
  int index = -1;
  ASSERT_EQ(handle_.Start(&job, &index), 0);
  ASSERT_TRUE(WaitFor([&] { return HvrGetDLRestoredSize(handle_.get(), index) > 4000; }));
  EXPECT_LT(handle_.TimedStop(&job, index), 2s);
  EXPECT_EQ(server_.requestTargets(), std::vector<std::string>{"/index.html"});
  HvrEnd(handle_.get(), &job, index);
}

TEST_F(StopTest, DuringAStalledResponse_ReturnsPromptly) {
  server_.Set("/index.html", R::Ok("x").StallBeforeStatus());
  HvrJobInfo job = Job("/index.html");
  int index = -1;
  ASSERT_EQ(handle_.Start(&job, &index), 0);
  ASSERT_TRUE(server_.WaitForStalls(1));
  EXPECT_LT(handle_.TimedStop(&job, index), 2s);
  EXPECT_EQ(job.Error, HVR_ERR_FILE);
  HvrEnd(handle_.get(), &job, index);
}

TEST_F(StopTest, AfterAStop_ANewJobRequestsOnlyItsStartPageAndLeavesItEmpty) {
  server_.Set("/index.html", R::Ok("<a href=a.html>").LastModified(kModified));
  server_.Set("/a.html", R::Ok("a"));
  HvrStop(handle_.get(), nullptr, 0);
  HvrJobInfo job = Job("/index.html");
  auto outcome = handle_.Run(&job);
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(server_.requestTargets(), std::vector<std::string>{"/index.html"});
  hvfs::FileInfo info;
  ASSERT_TRUE(hvfs::GetFileInfo(Site() + "index.html", &info));
  EXPECT_EQ(info.size, 0);
  EXPECT_EQ(info.time, kModified);
}

TEST_F(StopTest, MultiSiteRun_StoppedInTheFirstJobEndsEveryJobAfterItsStartPage) {
  server_.Set("/one/index.html", R::Generated(4 << 20).Paced(4096, 5ms));
  server_.Set("/two/index.html", R::Ok("<a href=x.html>"));
  server_.Set("/three/index.html", R::Ok("<a href=y.html>"));
  HvrLinkArray* links = new HvrLinkArray();
  for (const char* path : {"/one/index.html", "/two/index.html", "/three/index.html"}) {
    auto* link = new HvrLinkInfo();
    link->Selected = 1;
    link->Job.Url = server_.url(path);
    links->Add(link);
  }
  HvrJobInfo tmpl = Job("/");
  ASSERT_EQ(HvrMultiStart(handle_.get(), &tmpl, &links), 0);
  ASSERT_TRUE(server_.WaitForRequests(1));
  EXPECT_EQ(HvrIsDL(handle_.get(), 2), 1);  // every slot counts while the run lives
  EXPECT_LT(handle_.TimedStop(&tmpl, -1), 3s);
  EXPECT_EQ(server_.requestTargets(),
            (std::vector<std::string>{"/one/index.html", "/two/index.html", "/three/index.html"}));
  EXPECT_EQ(ReadFileText(Site() + "two/index.html"), "");
  EXPECT_EQ(ReadFileText(Site() + "three/index.html"), "");
  EXPECT_EQ(HvrMultiEnd(handle_.get(), &links), 0);
  EXPECT_EQ(HvrDelLinkArray(&links), 0);
}

TEST_F(StopTest, EndOfOneJob_WaitsForEveryJobOfTheHandle) {
  server_.Set("/fast.html", R::Ok("fast"));
  server_.Set("/slow.gif", R::Generated(256 << 10).Paced(16384, 20ms));
  HvrJobInfo fast = Job("/fast.html");
  HvrJobInfo slow = Job("/slow.gif");
  fast.Interval = slow.Interval = 0;
  int first = -1, second = -1;
  ASSERT_EQ(handle_.Start(&slow, &second), 0);
  ASSERT_EQ(handle_.Start(&fast, &first), 0);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(HvrEnd(handle_.get(), &fast, first), 0);
  // The slow job has finished too by the time HvrEnd returned.
  EXPECT_EQ(HvrIsDL(handle_.get(), second), 0);
  EXPECT_EQ(HvrGetDLRestoredNum(handle_.get(), second), 1);
  EXPECT_EQ(ReadFileText(Site() + "slow.gif").size(), 256u << 10);
  EXPECT_EQ(HvrEnd(handle_.get(), &slow, second), 0);
  int third = -1;
  HvrJobInfo again = Job("/fast.html");
  again.Interval = 0;
  handle_.Start(&again, &third);
  EXPECT_EQ(third, 2);
  HvrEnd(handle_.get(), &again, third);
}

}  // namespace

namespace {

TEST(CloseTest, CloseWithARunningJob_StopsItWaitsAndFreesIt) {
  ScriptedServer server;
  server.Set("/index.html", ScriptedResponse::Ok("x").StallBeforeStatus());
  TempDir dir;
  HvrOpenInfo info;
  KtWdlManager* handle = nullptr;
  ASSERT_EQ(HvrOpen(&handle, &info), 0);
  HvrJobInfo job = MakeJob(server.url("/index.html"), dir.path());
  int index = -1;
  ASSERT_EQ(HvrStart(&handle, &job, &index), 0);
  ASSERT_TRUE(server.WaitForStalls(1));
  auto start = Clock::now();
  EXPECT_EQ(HvrClose(&handle, &info), 0);
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_EQ(handle, nullptr);
  // The jobs that were never ended are ended with the handle: their logs are gone.
  EXPECT_EQ(job.Log, nullptr);
  EXPECT_EQ(job.Error, HVR_ERR_FILE);
}

}  // namespace
