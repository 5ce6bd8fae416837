// Jobs that obey the site's robots.txt (HVR_OPT_ROBOTS), against the scripted server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "harvo.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;
using Targets = std::vector<std::string>;

class RobotsWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Set("/index.html",
                R::Ok("<a href=a.html>a</a> <a href=private/b.html>b</a> <a href=private/>p</a>"
                      " <img src=pic.gif> <a href=open/>o</a>"));
    server_.Set("/a.html", R::Ok("a"));
    server_.Set("/private/b.html", R::Ok("b"));
    server_.Set("/private/index.html", R::Ok("p"));
    server_.Set("/pic.gif", R::Ok("GIF89a"));
    server_.Set("/open/index.html", R::Ok("o"));
  }
  HvrJobInfo Job(const std::string& path, int32_t options) {
    HvrJobInfo job = MakeJob(server_.url(path), dir_.path());
    job.Options = options;
    return job;
  }
  static bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(RobotsWalkTest, DisallowedLinksAreNeitherRequestedNorFailedAndAreLogged) {
  server_.Set("/robots.txt", R::Ok("User-agent: *\nDisallow: /private/\nDisallow: /*.gif$\n"));
  HvrJobInfo job = Job("/index.html", HVR_OPT_ROBOTS);
  const std::string log = dir_ / "job.log";
  auto outcome = handle_.Run(&job, log, &server_);

  auto targets = server_.requestTargets();
  ASSERT_FALSE(targets.empty());
  EXPECT_EQ(targets[0], "/robots.txt");
  EXPECT_EQ(server_.requestCount("/robots.txt"), 1u);
  for (const char* refused :
       {"/private/b.html", "/private/", "/private/.htaccess", "/private/index.html", "/pic.gif"}) {
    EXPECT_EQ(server_.requestCount(refused), 0u) << refused;
  }
  EXPECT_EQ(server_.requestCount("/a.html"), 1u);
  EXPECT_EQ(outcome.restored, 3);
  EXPECT_EQ(outcome.failed, 0);
  EXPECT_NE(job.Error, HVR_ERR_FILE);
  auto lines = ReadLogBody(log);
  EXPECT_TRUE(Has(lines, "\tRobots(private/b.html)"));
  EXPECT_TRUE(Has(lines, "\tRobots(private/)"));
  EXPECT_TRUE(Has(lines, "\tRobots(pic.gif)"));
  EXPECT_TRUE(Has(lines, "\ta.html"));
  // robots.txt itself is not saved: it is no page of the copy.
  EXPECT_FALSE(std::filesystem::exists(dir_ / "127.0.0.1/robots.txt"));
}

// While robots.txt is awaited, the host's progress queries answer at once and a stop ends the
// job promptly (the site's lock is not held over the request).
TEST_F(RobotsWalkTest, AStalledRobotsTxtHoldsNeitherProgressQueriesNorTheStop) {
  using namespace std::chrono_literals;
  server_.Set("/robots.txt", R::Ok("User-agent: *\n").StallBeforeStatus());
  HvrJobInfo job = Job("/index.html", HVR_OPT_ROBOTS);
  int index = -1;
  ASSERT_EQ(handle_.Start(&job, &index), 0);
  ASSERT_TRUE(server_.WaitForStalls(1));
  const auto start = std::chrono::steady_clock::now();
  char name[1024] = {};
  HvrGetDLFileName(handle_.get(), index, name);
  HvrGetDLURL(handle_.get(), index, name);
  EXPECT_EQ(HvrGetDLRestoredNum(handle_.get(), index), 0);
  EXPECT_EQ(HvrIsDL(handle_.get(), index), 1);
  // A blocked query would wait for the stall time-out (a minute).
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_LT(handle_.TimedStop(&job, index), 2s);
  // The stop ends the job there, as a stop during the start page does: nothing more is asked.
  EXPECT_EQ(server_.requestTargets(), Targets{"/robots.txt"});
  EXPECT_EQ(HvrGetDLRestoredNum(handle_.get(), index), 0);
  EXPECT_EQ(job.Error, HVR_ERR_FILE);
  HvrEnd(handle_.get(), &job, index);

  // A job started after the stop asks for its start page alone, as a job without the rules.
  TestHandle::Outcome after = handle_.Run(&job);
  EXPECT_TRUE(after.finished);
  EXPECT_EQ(server_.requestTargets(), (Targets{"/robots.txt", "/index.html"}));
}

TEST_F(RobotsWalkTest, WithoutTheOptionRobotsTxtIsNeverAsked) {
  server_.Set("/robots.txt", R::Ok("User-agent: *\nDisallow: /\n"));
  HvrJobInfo job = Job("/index.html", 0);
  auto outcome = handle_.Run(&job);
  EXPECT_EQ(server_.requestCount("/robots.txt"), 0u);
  EXPECT_EQ(server_.requestCount("/private/b.html"), 1u);
  EXPECT_EQ(outcome.failed, 0);
}

TEST_F(RobotsWalkTest, MissingOrFailingRobotsTxtAllowsEverything) {
  for (R answer :
       {R::Status(404), R::Status(500), R::Ok("User-agent: *\nDisallow: /").ResetAfter(20)}) {
    server_.Set("/robots.txt", answer);
    TempDir dir;
    HvrJobInfo job = MakeJob(server_.url("/index.html"), dir.path());
    job.Options = HVR_OPT_ROBOTS;
    TestHandle handle;
    auto outcome = handle.Run(&job);
    EXPECT_EQ(outcome.restored, 6);
    EXPECT_EQ(outcome.failed, 0);
  }
}

TEST_F(RobotsWalkTest, TheStartPageIsFetchedEvenWhenDisallowed) {
  server_.Set("/robots.txt", R::Ok("User-agent: harvo-test\nDisallow: /\n"));
  HvrJobInfo job = Job("/index.html", HVR_OPT_ROBOTS);
  auto outcome = handle_.Run(&job);
  EXPECT_EQ(server_.requestTargets(), (Targets{"/robots.txt", "/index.html"}));
  EXPECT_EQ(outcome.restored, 1);
  EXPECT_EQ(outcome.failed, 0);
}

TEST_F(RobotsWalkTest, IndexProbesAndIndexNamesObeyTheRules) {
  // The folder is allowed, its .htaccess and index.html are not: the probes skip them, and the
  // index name the probes arrive at is requested only when allowed.
  server_.Set("/robots.txt",
              R::Ok("User-agent: *\nDisallow: /open/.htaccess\nDisallow: /open/index.html\n"
                    "Disallow: /*/secret.html\n"));
  server_.Set("/index.html", R::Ok("<a href=open/>o</a> <a href=named/>n</a>"));
  server_.Set("/open/index.htm", R::Ok("htm"));
  server_.Set("/named/.htaccess", R::Ok("DirectoryIndex secret.html\n"));
  server_.Set("/named/secret.html", R::Ok("s"));
  HvrJobInfo job = Job("/index.html", HVR_OPT_ROBOTS);
  auto outcome = handle_.Run(&job);
  auto targets = server_.requestTargets();
  EXPECT_EQ(std::count(targets.begin(), targets.end(), "/open/.htaccess"), 0);
  EXPECT_EQ(std::count(targets.begin(), targets.end(), "/open/index.html"), 0);
  EXPECT_EQ(std::count(targets.begin(), targets.end(), "/named/secret.html"), 0);
  EXPECT_GE(std::count(targets.begin(), targets.end(), "/open/index.htm"), 1);
  // The server named a disallowed index file: the folder could not be copied, and says why.
  EXPECT_EQ(outcome.failedFiles, (Targets{"named/"}));
  EXPECT_EQ(outcome.failedReasons, (Targets{"disallowed by robots.txt"}));
}

}  // namespace
