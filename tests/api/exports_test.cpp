// Handle lifecycle and job control through the exports, where no crawl is needed.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "harvo.h"

namespace {

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(HvrOpen(&handle_, &open_), 0); }
  void TearDown() override {
    if (handle_ != nullptr) {
      EXPECT_EQ(HvrClose(&handle_, &open_), 0);
    }
  }
  // Waits (bounded) until the handle reports no running job.
  bool WaitIdle(std::chrono::seconds limit = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (HvrIsDL(&handle_, -1) == 1) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  HvrOpenInfo open_;
  KtWdlManager* handle_ = nullptr;
};

TEST(ExportsArgumentsTest, NullArgumentsFailWithoutWritingAnything) {
  KtWdlManager* handle = nullptr;
  EXPECT_EQ(HvrOpen(&handle, nullptr), 1);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(HvrOpen(nullptr, nullptr), 1);

  HvrJobInfo job;
  job.Error = 12345;
  int index = 77;
  EXPECT_EQ(HvrStart(nullptr, &job, &index), 1);
  EXPECT_EQ(HvrStart(&handle, &job, &index), 1);  // the variable holds no handle
  EXPECT_EQ(job.Error, 12345);
  EXPECT_EQ(index, 77);
  EXPECT_EQ(HvrEnd(&handle, &job, 0), 1);
  EXPECT_EQ(HvrStop(&handle, &job, 0), 1);
  EXPECT_EQ(HvrMultiStop(&handle), 1);
  EXPECT_EQ(HvrMultiStart(&handle, &job, nullptr), 1);
  EXPECT_EQ(HvrMultiEnd(&handle, nullptr), 1);
  EXPECT_EQ(HvrClose(&handle, &job), 1);
  EXPECT_EQ(HvrClose(nullptr, &job), 1);
  EXPECT_EQ(HvrIsDL(&handle, -1), 0);
  EXPECT_EQ(HvrGetDLNum(nullptr), 0);
}

TEST_F(ExportsTest, CloseNeedsItsSecondArgumentAndClearsTheHandle) {
  EXPECT_EQ(HvrClose(&handle_, nullptr), 1);
  EXPECT_NE(handle_, nullptr);
  EXPECT_EQ(HvrClose(&handle_, &open_), 0);
  EXPECT_EQ(handle_, nullptr);
}

TEST_F(ExportsTest, StartWithoutServerFailsWithItsIndexAndDoesNotCountAsRunning) {
  HvrJobInfo job;
  job.Url = "/no/server";
  int index = -1;
  EXPECT_EQ(HvrStart(&handle_, &job, &index), 1);
  EXPECT_EQ(job.Error, HVR_ERR_FILE);
  EXPECT_EQ(index, 0);
  ASSERT_NE(job.Log, nullptr);  // a fresh, closed log
  EXPECT_EQ(HvrIsDL(&handle_, -1), 0);
  EXPECT_EQ(HvrGetDLNum(&handle_), 0);
  HvrJobInfo second;
  second.Url = "";
  EXPECT_EQ(HvrStart(&handle_, &second, &index), 1);
  EXPECT_EQ(index, 1);
  // Ending a job that never ran returns at once; its log is deleted.
  EXPECT_EQ(HvrEnd(&handle_, &job, -1), 0);
  EXPECT_EQ(job.Log, nullptr);
  EXPECT_EQ(HvrEnd(&handle_, &second, 1), 0);
}

TEST_F(ExportsTest, EndBeyondTheTableFailsWithTheIndexCode) {
  HvrJobInfo job;
  job.Url = "bad";
  int index = -1;
  HvrStart(&handle_, &job, &index);
  HvrJobInfo other;
  EXPECT_EQ(HvrEnd(&handle_, &other, 1), 1);
  EXPECT_EQ(other.Error, HVR_ERR_BAD_INDEX);
  EXPECT_EQ(HvrEnd(&handle_, &job, 0), 0);
  // The slot stays, empty: ending it again succeeds and a new job takes the next slot.
  EXPECT_EQ(HvrEnd(&handle_, &job, 0), 0);
  EXPECT_EQ(HvrStart(&handle_, &job, &index), 1);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(HvrEnd(&handle_, &job, 1), 0);
}

TEST_F(ExportsTest, MultiStartWithoutSelectionRunsItsThreadUntilItEnds) {
  HvrLinkArray* links = new HvrLinkArray();
  links->Add(new HvrLinkInfo());
  links->at(0)->Job.Url = "http://127.0.0.1:9/";
  HvrJobInfo tmpl;
  EXPECT_EQ(HvrMultiStart(&handle_, &tmpl, &links), 0);
  EXPECT_TRUE(WaitIdle());
  EXPECT_EQ(HvrMultiEnd(&handle_, &links), 0);
  EXPECT_EQ(HvrDelLinkArray(&links), 0);
}

TEST_F(ExportsTest, MultiStartWithAnUnusableEntryFailsAndStartsNothing) {
  HvrLinkArray* links = new HvrLinkArray();
  for (const char* url : {"http://127.0.0.1:9/", "no server", "http://127.0.0.1:9/x/"}) {
    links->Add(new HvrLinkInfo());
    links->at(links->size() - 1)->Job.Url = url;
    links->at(links->size() - 1)->Selected = 1;
  }
  HvrJobInfo tmpl;
  tmpl.SaveFolder = "unused";
  EXPECT_EQ(HvrMultiStart(&handle_, nullptr, &links), 1);  // a selection needs a template
  EXPECT_EQ(HvrMultiStart(&handle_, &tmpl, &links), 1);
  EXPECT_EQ(links->at(1)->Job.Error, HVR_ERR_SETTING);
  EXPECT_EQ(links->at(2)->Job.Error, HVR_ERR_FILE);  // the last entry carries the failure
  EXPECT_EQ(links->at(0)->Job.SaveFolder, "unused");
  EXPECT_EQ(HvrIsDL(&handle_, -1), 0);
  EXPECT_EQ(HvrGetDLNum(&handle_), 0);
  EXPECT_EQ(HvrMultiEnd(&handle_, &links), 0);
  EXPECT_EQ(links->at(0)->Job.Log, nullptr);
  EXPECT_EQ(HvrDelLinkArray(&links), 0);
}

}  // namespace
