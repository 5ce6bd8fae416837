// Multi-site runs beside other work of the same handle: single jobs that were not ended, a job
// whose start failed, and a second run started while the first still goes.
#include <gtest/gtest.h>

#include <algorithm>

#include "harvo.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;
using Targets = std::vector<std::string>;
using namespace std::chrono_literals;

class MultiRunTest : public ::testing::Test {
 protected:
  // A link array with one selected entry per path; freed by the test.
  HvrLinkArray* Links(const Targets& paths) {
    auto* links = new HvrLinkArray();
    for (const std::string& path : paths) {
      auto* link = new HvrLinkInfo();
      link->Selected = 1;
      link->Job.Url = server_.url(path);
      links->Add(link);
    }
    return links;
  }
  HvrJobInfo Template() { return MakeJob(server_.url("/"), dir_.path()); }
  size_t Count(const std::string& target) {
    Targets all = server_.requestTargets();
    return static_cast<size_t>(std::count(all.begin(), all.end(), target));
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(MultiRunTest, BesideJobsThatWereNotEnded_StartsOnlyItsOwnJobs) {
  server_.Set("/single.html", R::Ok("single"));
  server_.Set("/one.html", R::Ok("one"));
  server_.Set("/two.html", R::Ok("two"));
  // A finished single job that stays in the table, and one whose start failed.
  HvrJobInfo single = MakeJob(server_.url("/single.html"), dir_.path());
  int singleIndex = -1;
  ASSERT_EQ(handle_.Start(&single, &singleIndex), 0);
  ASSERT_TRUE(handle_.WaitIdle());
  HvrJobInfo broken = MakeJob("no server", dir_.path());
  int brokenIndex = -1;
  ASSERT_EQ(handle_.Start(&broken, &brokenIndex), 1);
  ASSERT_EQ(broken.Error, HVR_ERR_FILE);
  HvrLogStart(&broken, (dir_ / "logs/broken.log").c_str());

  HvrLinkArray* links = Links({"/one.html", "/two.html"});
  HvrJobInfo tmpl = Template();
  ASSERT_EQ(HvrMultiStart(handle_.get(), &tmpl, &links), 0);
  ASSERT_TRUE(handle_.WaitIdle());

  EXPECT_EQ(ReadFileText(dir_ / "127.0.0.1/one.html"), "one");
  EXPECT_EQ(ReadFileText(dir_ / "127.0.0.1/two.html"), "two");
  EXPECT_EQ(Count("/single.html"), 1u);  // the single job's thread ran once
  // The failed job stayed finished and untouched: same error, no line in its log.
  EXPECT_EQ(HvrIsDL(handle_.get(), brokenIndex), 0);
  EXPECT_EQ(broken.Error, HVR_ERR_FILE);
  HvrLogStop(&broken);
  EXPECT_TRUE(ReadLogBody(dir_ / "logs/broken.log").empty());

  EXPECT_EQ(HvrEnd(handle_.get(), &single, singleIndex), 0);
  EXPECT_EQ(HvrMultiEnd(handle_.get(), &links), 0);
  EXPECT_EQ(HvrDelLinkArray(&links), 0);
  EXPECT_EQ(HvrEnd(handle_.get(), &broken, brokenIndex), 0);
}

TEST_F(MultiRunTest, SecondRunWhileTheFirstGoes_WaitsForIt) {
  server_.Set("/slow.gif", R::Generated(256 << 10).Paced(16384, 10ms));
  server_.Set("/a.html", R::Ok("a"));
  server_.Set("/b.html", R::Ok("b"));
  HvrLinkArray* first = Links({"/slow.gif", "/a.html"});
  HvrLinkArray* second = Links({"/b.html"});
  HvrJobInfo tmpl = Template();
  ASSERT_EQ(HvrMultiStart(handle_.get(), &tmpl, &first), 0);
  ASSERT_TRUE(server_.WaitForRequests(1));
  ASSERT_EQ(HvrMultiStart(handle_.get(), &tmpl, &second), 0);
  ASSERT_TRUE(handle_.WaitIdle());
  // One site at a time over both runs: the second run began after the first had ended.
  EXPECT_EQ(server_.requestTargets(), (Targets{"/slow.gif", "/a.html", "/b.html"}));
  EXPECT_EQ(ReadFileText(dir_ / "127.0.0.1/b.html"), "b");
  EXPECT_EQ(HvrMultiEnd(handle_.get(), &second), 0);
  EXPECT_EQ(HvrMultiEnd(handle_.get(), &first), 0);
  EXPECT_EQ(HvrDelLinkArray(&first), 0);
  EXPECT_EQ(HvrDelLinkArray(&second), 0);
}

TEST_F(MultiRunTest, RunningSingleJob_IsNeitherRestartedNorWaitedFor) {
  server_.Set("/slow.gif", R::Generated(512 << 10).Paced(16384, 10ms));
  server_.Set("/one.html", R::Ok("one"));
  HvrJobInfo single = MakeJob(server_.url("/slow.gif"), dir_.path());
  int index = -1;
  ASSERT_EQ(handle_.Start(&single, &index), 0);
  ASSERT_TRUE(server_.WaitForRequests(1));
  HvrLinkArray* links = Links({"/one.html"});
  HvrJobInfo tmpl = Template();
  ASSERT_EQ(HvrMultiStart(handle_.get(), &tmpl, &links), 0);
  ASSERT_TRUE(handle_.WaitIdle());
  EXPECT_EQ(Count("/slow.gif"), 1u);
  EXPECT_EQ(ReadFileText(dir_ / "127.0.0.1/slow.gif").size(), 512u << 10);
  EXPECT_EQ(ReadFileText(dir_ / "127.0.0.1/one.html"), "one");
  EXPECT_EQ(HvrMultiEnd(handle_.get(), &links), 0);
  EXPECT_EQ(HvrDelLinkArray(&links), 0);
  EXPECT_EQ(HvrEnd(handle_.get(), &single, index), 0);
}

}  // namespace
