#include "platform/winthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

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

int CountNotEnded(const std::vector<std::shared_ptr<const CWinThread::Life>>& lives) {
  int count = 0;
  for (const auto& life : lives) {
    if (life->load() != CWinThread::kEnded) ++count;
  }
  return count;
}

// Threads started one right after the other, each ending before its creator is back: every
// thread that was reported started runs its work and ends. (A thread that never ran would stay
// "still active" for ever, and whoever waits for it, as a handle waits for its jobs, with it.)
TEST(WinThread, EveryStartedThreadRunsEvenWhenTheOneBeforeEndedAtOnce) {
  constexpr int kThreads = 3000;
  std::atomic<int> runs{0};
  std::vector<std::shared_ptr<const CWinThread::Life>> lives;
  lives.reserve(kThreads);
  for (int i = 0; i < kThreads; ++i) {
    auto thread = std::make_unique<CountingThread>(&runs);
    lives.push_back(thread->GetLife());
    // idle as the jobs' threads, and not, alternately.
    ASSERT_TRUE(thread->CreateThread(i % 2 == 0)) << "thread " << i;
    (void)thread.release();  // deletes itself when its thread ends
  }
  // Generous: the threads do nothing, so only a thread that never runs is still waited for.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (CountNotEnded(lives) > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(CountNotEnded(lives), 0) << "threads that were started but never ended";
  EXPECT_EQ(runs.load(), kThreads);
}

}  // namespace
