// The priority of the threads a job runs on: idle unless the job asks for normal priority.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>

#include <cerrno>
#include <string>

#include "harvo.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;

// Threads of this process that run at idle priority: the SCHED_IDLE policy, or the lowest nice
// value where that policy was refused.
int IdleThreads() {
  int idle = 0;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return -1;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    const pid_t tid = static_cast<pid_t>(std::stol(entry->d_name));
    const int policy = sched_getscheduler(tid);
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (policy == SCHED_IDLE || (errno == 0 && nice == 19)) ++idle;
  }
  closedir(tasks);
  return idle;
}

class PriorityTest : public ::testing::Test {
 protected:
  // Runs a job (or a multi-site run of one site) whose start page is held at the server, and
  // counts the idle threads while it waits for it.
  int IdleThreadsWhileRunning(int32_t options, bool multi) {
    server_.Set("/index.html", R::Ok("page"));
    server_.HoldResponses();
    const size_t before = server_.requestCount();
    HvrJobInfo job = MakeJob(server_.url("/index.html"), dir_.path());
    job.Options = options;
    HvrLinkArray* links = nullptr;
    int index = -1;
    if (multi) {
      links = new HvrLinkArray();
      auto* link = new HvrLinkInfo();
      link->Selected = 1;
      link->Job.Url = job.Url;
      links->Add(link);
      EXPECT_EQ(HvrMultiStart(handle_.get(), &job, &links), 0);
    } else {
      EXPECT_EQ(handle_.Start(&job, &index), 0);
    }
    // The worker lowers its priority before its first request.
    EXPECT_TRUE(server_.WaitForRequests(before + 1));
    const int idle = IdleThreads();
    server_.ReleaseResponses();
    EXPECT_TRUE(handle_.WaitIdle());
    if (multi) {
      HvrMultiEnd(handle_.get(), &links);
      HvrDelLinkArray(&links);
    } else {
      HvrEnd(handle_.get(), &job, index);
    }
    return idle;
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(PriorityTest, WorkerRunsIdleUnlessNormalPriorityIsAsked) {
  ASSERT_EQ(IdleThreads(), 0);
  EXPECT_EQ(IdleThreadsWhileRunning(0, false), 1);
  EXPECT_EQ(IdleThreadsWhileRunning(HVR_OPT_NORMAL_PRIORITY, false), 0);
}

TEST_F(PriorityTest, MultiSiteRunTakesItsJobsPriority) {
  // The run's own thread and the job's worker.
  EXPECT_EQ(IdleThreadsWhileRunning(0, true), 2);
  EXPECT_EQ(IdleThreadsWhileRunning(HVR_OPT_NORMAL_PRIORITY, true), 0);
}

}  // namespace
