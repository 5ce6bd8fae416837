// The walk's limits (MaxFiles, MaxKBytes) against the scripted server.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harvo.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;

class LimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string index;
    for (int i = 1; i <= 5; ++i) {
      index += "<a href=p" + std::to_string(i) + ".html>x</a>";
      server_.Set("/p" + std::to_string(i) + ".html", R::Ok(std::string(600, 'a' + i)));
    }
    server_.Set("/index.html", R::Ok(index));
  }
  HvrJobInfo Job() { return MakeJob(server_.url("/index.html"), dir_.path()); }
  size_t PagesRequested() const {
    auto targets = server_.requestTargets();
    return static_cast<size_t>(std::count_if(targets.begin(), targets.end(),
                                             [](auto& t) { return t.rfind("/p", 0) == 0; }));
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(LimitsTest, MaxFilesEndsTheWalkAfterExactlyThatManySavedFiles) {
  HvrJobInfo job = Job();
  job.MaxFiles = 3;
  const std::string log = dir_ / "job.log";
  auto outcome = handle_.Run(&job, log, &server_);
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.restored, 3);
  EXPECT_EQ(outcome.failed, 0);
  EXPECT_EQ(PagesRequested(), 2u);  // the start page and two of its links
  EXPECT_EQ(job.LimitReached, HVR_LIMIT_FILES);
  auto lines = ReadLogBody(log);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Limit(files)"), 1);
}

TEST_F(LimitsTest, MaxKBytesEndsTheWalkOnceTheBodiesReachIt) {
  HvrJobInfo job = Job();
  job.MaxKBytes = 1;  // the start page (105 bytes) and two 600-byte pages pass 1024 bytes
  auto outcome = handle_.Run(&job);
  EXPECT_EQ(job.LimitReached, HVR_LIMIT_SIZE);
  EXPECT_EQ(outcome.restored, 3);
  EXPECT_EQ(PagesRequested(), 2u);
}

TEST_F(LimitsTest, NoLimitsOrNegativeOnesLeaveTheWalkAlone) {
  HvrJobInfo job = Job();
  job.MaxFiles = -1;
  job.MaxKBytes = 0;
  auto outcome = handle_.Run(&job);
  EXPECT_EQ(outcome.restored, 6);
  EXPECT_EQ(job.LimitReached, HVR_LIMIT_NONE);
}

TEST_F(LimitsTest, AnEndlessBodyStopsAtTheSizeLimit) {
  server_.Set("/index.html", R::Ok("<a href=endless.bin>e</a>"));
  server_.Set("/endless.bin", R::Endless());
  HvrJobInfo job = Job();
  job.MaxKBytes = 256;
  auto outcome = handle_.Run(&job);
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(job.LimitReached, HVR_LIMIT_SIZE);
}

TEST_F(LimitsTest, AMultiSiteRunGivesEachSiteTheTemplatesLimits) {
  server_.Set("/second.html", R::Ok("<a href=p4.html>4</a> <a href=p5.html>5</a>"));
  auto* links = new HvrLinkArray();
  for (const char* path : {"/index.html", "/second.html"}) {
    auto* link = new HvrLinkInfo();
    link->Selected = 1;
    link->Job.Url = server_.url(path);
    links->Add(link);
  }
  HvrJobInfo tmpl = Job();
  tmpl.MaxFiles = 2;
  ASSERT_EQ(HvrMultiStart(handle_.get(), &tmpl, &links), 0);
  ASSERT_TRUE(handle_.WaitIdle());
  for (size_t i = 0; i < links->size(); ++i) {
    EXPECT_EQ(links->at(i)->Job.MaxFiles, 2) << i;
    EXPECT_EQ(links->at(i)->Job.LimitReached, HVR_LIMIT_FILES) << i;
    EXPECT_EQ(HvrGetDLRestoredNum(handle_.get(), static_cast<int>(i)), 2) << i;
  }
  EXPECT_EQ(HvrMultiEnd(handle_.get(), &links), 0);
  EXPECT_EQ(HvrDelLinkArray(&links), 0);
}

}  // namespace
