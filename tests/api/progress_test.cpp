// Progress queries: selection of jobs by index, failure results, values seen mid-transfer.
#include <gtest/gtest.h>

#include <cstring>

#include "harvo.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;
using namespace std::chrono_literals;

class ProgressTest : public ::testing::Test {
 protected:
  HvrJobInfo Job(const std::string& path, const std::string& name = "site") {
    HvrJobInfo job = MakeJob(server_.url(path), dir_.path());
    job.SiteName = name;
    return job;
  }
  // A text buffer that shows whether a query wrote into it.
  struct Buffer {
    Buffer() { std::strcpy(text, "untouched"); }
    char text[HVR_TEXT_BUFFER_SIZE + 16];
    std::string str() const { return text; }
  };
  KtWdlManager** h() { return handle_.get(); }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(ProgressTest, EmptyTable_RunsNothingAndFailsEverySelection) {
  Buffer site, url;
  EXPECT_EQ(HvrIsDL(h(), -1), 0);
  EXPECT_EQ(HvrGetDLNum(h()), 0);
  EXPECT_EQ(HvrGetDLSize(h(), -1), 0);
  EXPECT_EQ(HvrGetDLRestoredNum(h(), 0), 0);
  EXPECT_EQ(HvrGetDLSiteName(h(), -1, site.text), 1);
  EXPECT_EQ(site.str(), "");
  EXPECT_EQ(HvrGetDLURL(h(), -1, url.text), 1);
  EXPECT_EQ(url.str(), "untouched");
  // Without a handle the buffers stay as they were.
  KtWdlManager* none = nullptr;
  Buffer untouched;
  EXPECT_EQ(HvrGetDLFileName(&none, 0, untouched.text), 1);
  EXPECT_EQ(untouched.str(), "untouched");
  EXPECT_EQ(HvrGetDLFailedNum(&none, 0), 0);
}

TEST_F(ProgressTest, MidTransfer_ShowsTheCurrentFileAndItsSizes) {
  server_.Set("/dir/big.gif", R::Generated(1 << 20).Paced(8192, 5ms));
  HvrJobInfo job = Job("/dir/big.gif", "My Site");
  int index = -1;
  ASSERT_EQ(handle_.Start(&job, &index), 0);
  ASSERT_TRUE(WaitFor([&] { return HvrGetDLRestoredSize(h(), index) > 16384; }));
  Buffer site, file, url;
  EXPECT_EQ(HvrGetDLSiteName(h(), index, site.text), 0);
  EXPECT_EQ(site.str(), "My Site");
  EXPECT_EQ(HvrGetDLFileName(h(), -1, file.text), 0);
  EXPECT_EQ(file.str(), "big.gif");
  EXPECT_EQ(HvrGetDLURL(h(), index, url.text), 0);
  EXPECT_EQ(url.str(), "dir/");
  EXPECT_EQ(HvrGetDLSize(h(), index), 1 << 20);
  int received = HvrGetDLRestoredSize(h(), -1);
  EXPECT_GT(received, 16384);
  EXPECT_LT(received, 1 << 20);
  EXPECT_EQ(HvrGetDLNum(h()), 1);
  EXPECT_EQ(HvrGetDLRestoredNum(h(), index), 0);
  ASSERT_TRUE(handle_.WaitIdle());
  EXPECT_EQ(HvrGetDLRestoredSize(h(), index), 0);  // finished: no longer selected
  EXPECT_EQ(HvrGetDLRestoredNum(h(), index), 1);   // the counts still answer
  HvrEnd(h(), &job, index);
}

TEST_F(ProgressTest, FinishedAndEndedJobs_AnswerAsTheirStateSays) {
  server_.Set("/a.html", R::Ok("<a href=missing.html>"));
  HvrJobInfo job = Job("/a.html");
  int index = -1;
  ASSERT_EQ(handle_.Start(&job, &index), 0);
  ASSERT_TRUE(handle_.WaitIdle());
  Buffer name;
  EXPECT_EQ(HvrGetDLSiteName(h(), index, name.text), 1);
  EXPECT_EQ(name.str(), "");
  EXPECT_EQ(HvrGetDLSize(h(), index), 0);
  EXPECT_EQ(HvrGetDLRestoredNum(h(), index), 1);
  EXPECT_EQ(HvrGetDLFailedNum(h(), index), 1);
  EXPECT_TRUE(WaitFor([&] { return HvrGetDLNum(h()) == 0; }));
  // An index equal to the number of slots.
  EXPECT_EQ(HvrGetDLRestoredNum(h(), 1), 0);
  EXPECT_EQ(HvrGetDLSiteName(h(), 1, name.text), 1);
  HvrEnd(h(), &job, index);
  EXPECT_EQ(HvrGetDLRestoredNum(h(), index), -1);  // the slot is empty now
  EXPECT_EQ(HvrGetDLFailedNum(h(), index), -1);
  EXPECT_EQ(HvrGetDLSize(h(), index), 0);  // not running: the selection fails first
}

TEST_F(ProgressTest, FailedStart_CountsNoLiveThread) {
  HvrJobInfo job = Job("/");
  job.Url = "no server";
  int index = -1;
  EXPECT_EQ(handle_.Start(&job, &index), 1);
  EXPECT_EQ(HvrGetDLNum(h()), 0);
  EXPECT_EQ(HvrIsDL(h(), index), 0);
  EXPECT_EQ(HvrGetDLRestoredNum(h(), index), 0);
  HvrEnd(h(), &job, index);
}

TEST_F(ProgressTest, LongTexts_AreCutToTheBufferSize) {
  std::string name(5000, 'n');
  server_.Set("/slow.gif", R::Generated(1 << 20).Paced(4096, 10ms));
  HvrJobInfo job = Job("/slow.gif", name);
  int index = -1;
  ASSERT_EQ(handle_.Start(&job, &index), 0);
  ASSERT_TRUE(WaitFor([&] { return HvrGetDLRestoredSize(h(), index) > 0; }));
  Buffer site;
  std::memset(site.text, 'Z', sizeof(site.text));
  ASSERT_EQ(HvrGetDLSiteName(h(), index, site.text), 0);
  EXPECT_EQ(std::strlen(site.text), static_cast<size_t>(HVR_TEXT_BUFFER_SIZE - 1));
  EXPECT_EQ(site.text[HVR_TEXT_BUFFER_SIZE], 'Z');  // nothing written past the bound
  HvrStop(h(), &job, index);
  HvrEnd(h(), &job, index);
}

TEST_F(ProgressTest, MultiSiteRun_NegativeIndexSelectsTheFirstSlot) {
  server_.Set("/one.html", R::Ok("one"));
  server_.Set("/two.gif", R::Generated(1 << 20).Paced(8192, 5ms));
  HvrLinkArray* links = new HvrLinkArray();
  const char* names[] = {"first", "second"};
  const char* paths[] = {"/one.html", "/two.gif"};
  for (int i = 0; i < 2; ++i) {
    auto* link = new HvrLinkInfo();
    link->Selected = 1;
    link->Job.SiteName = names[i];
    link->Job.Url = server_.url(paths[i]);
    links->Add(link);
  }
  HvrJobInfo tmpl = Job("/");
  ASSERT_EQ(HvrMultiStart(h(), &tmpl, &links), 0);
  // Once the second site is being received, the first has finished; -1 still selects it.
  ASSERT_TRUE(WaitFor([&] { return HvrGetDLRestoredSize(h(), 1) > 8192; }));
  Buffer site;
  EXPECT_EQ(HvrGetDLSiteName(h(), -1, site.text), 0);
  EXPECT_EQ(site.str(), "first");
  EXPECT_EQ(HvrIsDL(h(), 0), 1);
  EXPECT_EQ(HvrGetDLNum(h()), 1);  // only the second job's thread is alive
  EXPECT_TRUE(handle_.WaitIdle());
  EXPECT_EQ(HvrMultiEnd(h(), &links), 0);
  HvrDelLinkArray(&links);
}

}  // namespace
