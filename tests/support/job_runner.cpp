#include "support/job_runner.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/scripted_server.h"
#include "support/temp_dir.h"

TestHandle::TestHandle(const std::string& agent) {
  info_.Agent = agent;
  info_.ConnectTimeout = 5000;
  HvrOpen(&handle_, &info_);
}

TestHandle::~TestHandle() {
  if (handle_ != nullptr) HvrClose(&handle_, &info_);
}

int TestHandle::Start(HvrJobInfo* job, int* index) {
  return HvrStart(&handle_, job, index);
}

std::chrono::steady_clock::duration TestHandle::TimedStop(HvrJobInfo* job, int index) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HvrStop(&handle_, job, index), 0);
  return std::chrono::steady_clock::now() - start;
}

bool TestHandle::WaitIdle(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (HvrIsDL(&handle_, -1) == 1) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TestHandle::Outcome TestHandle::Run(HvrJobInfo* job, const std::string& logPath,
                                    ScriptedServer* server) {
  Outcome outcome;
  const bool hold = server != nullptr && !logPath.empty();
  if (hold) server->HoldResponses();
  outcome.start = Start(job, &outcome.index);
  if (!logPath.empty()) HvrLogStart(job, logPath.c_str());
  if (hold) server->ReleaseResponses();
  outcome.finished = WaitIdle();
  if (!outcome.finished) HvrStop(&handle_, job, outcome.index);
  outcome.restored = HvrGetDLRestoredNum(&handle_, outcome.index);
  outcome.failed = HvrGetDLFailedNum(&handle_, outcome.index);
  outcome.failedFiles = job->FailedFiles;
  outcome.failedReasons = job->FailedReasons;
  HvrEnd(&handle_, job, outcome.index);
  return outcome;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

HvrJobInfo MakeJob(const std::string& url, const std::string& folder, bool allTypes) {
  HvrJobInfo job;
  job.SiteName = "test site";
  job.Url = url;
  job.SaveFolder = folder;
  job.AllTypes = allTypes ? 1 : 0;
  job.BufferSize = 4096;
  return job;
}

std::vector<std::string> ReadLogBody(const std::string& path) {
  std::string text = ReadFileText(path);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  if (lines.size() >= 2) lines = std::vector<std::string>(lines.begin() + 1, lines.end() - 1);
  return lines;
}
