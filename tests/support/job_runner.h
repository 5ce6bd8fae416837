// Runs jobs through the exports for tests: a handle that closes itself, and waits with limits.
#ifndef HARVO_TESTS_SUPPORT_JOB_RUNNER_H
#define HARVO_TESTS_SUPPORT_JOB_RUNNER_H

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "harvo.h"

class ScriptedServer;

class TestHandle {
 public:
  explicit TestHandle(const std::string& agent = "harvo-test");
  ~TestHandle();
  TestHandle(const TestHandle&) = delete;
  TestHandle& operator=(const TestHandle&) = delete;

  KtWdlManager** get() { return &handle_; }
  HvrOpenInfo& info() { return info_; }

  // HvrStart; returns its result and keeps the index.
  int Start(HvrJobInfo* job, int* index);
  // HvrStop, which must succeed (a test failure otherwise); returns how long the call took.
  std::chrono::steady_clock::duration TimedStop(HvrJobInfo* job, int index);
  // Waits until no job of the handle runs; false when the limit passed first.
  bool WaitIdle(std::chrono::milliseconds limit = std::chrono::seconds(30));
  // Start, wait, and end the job (HvrEnd clears FailedFiles, so they are copied first).
  struct Outcome {
    int start = -1;
    int index = -1;
    bool finished = false;
    int restored = 0;
    int failed = 0;
    std::vector<std::string> failedFiles;
    std::vector<std::string> failedReasons;
  };
  // With a log and a server, the server's answers are held until the log is open, so that the
  // log sees the job's first request (a job starts before its log can be opened).
  Outcome Run(HvrJobInfo* job, const std::string& logPath = "", ScriptedServer* server = nullptr);

 private:
  HvrOpenInfo info_;
  KtWdlManager* handle_ = nullptr;
};

// Polls condition every few milliseconds until it holds; false when the limit passed first.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

// A job record for url saving below folder, every type wanted unless told otherwise.
HvrJobInfo MakeJob(const std::string& url, const std::string& folder, bool allTypes = true);

// The lines of a log file without their CR LF ends, without the stamped first and last lines.
std::vector<std::string> ReadLogBody(const std::string& path);

#endif  // HARVO_TESTS_SUPPORT_JOB_RUNNER_H
