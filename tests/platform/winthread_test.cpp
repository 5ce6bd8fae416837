#include "platform/winthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

// A thread whose work ends at once, as a job's does when its start is refused.
class CountingThread : public CWinThread {
 public:
  explicit CountingThread(std::atomic<int>* runs) : runs_(runs) {}
  bool InitInstance() override {
    runs_->fetch_add(1);
    return true;
  }

 private:
  std::atomic<int>* runs_;
};

// Starts count threads one after the other, each as soon as the one before has done its work
// and is on its way out. The number of the first thread that did not end within a generous
// time (the threads do nothing), or -1.
int StartOneAfterTheOther(int count, std::atomic<int>* runs) {
  for (int i = 0; i < count; ++i) {
    auto thread = std::make_unique<CountingThread>(runs);
    const std::shared_ptr<const CWinThread::Life> life = thread->GetLife();
    // Idle as a job's thread, and not, by turns.
    if (!thread->CreateThread(i % 2 == 0)) return i;
    (void)thread.release();  // deletes itself when its thread ends
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (life->load() != CWinThread::kEnded && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    if (life->load() != CWinThread::kEnded) return i;
  }
  return -1;
}

// Every thread that was reported started runs its work and ends, also while the thread started
// before it is still exiting. (A thread that never ran would stay "still active" for ever, and
// whoever waits for it, as a handle waits for its jobs, with it.) Two starters at once, as two
// handles' jobs.
TEST(WinThread, EachStartedThreadRunsWhileTheOneBeforeIsStillExiting) {
  constexpr int kThreads = 1000;
  std::atomic<int> runs{0};
  int failed[2] = {-1, -1};
  std::thread other([&] { failed[1] = StartOneAfterTheOther(kThreads, &runs); });
  failed[0] = StartOneAfterTheOther(kThreads, &runs);
  other.join();
  EXPECT_EQ(failed[0], -1) << "the first starter's thread that never ended";
  EXPECT_EQ(failed[1], -1) << "the second starter's thread that never ended";
  EXPECT_EQ(runs.load(), 2 * kThreads);
}

}  // namespace
