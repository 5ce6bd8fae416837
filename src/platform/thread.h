// Thread stand-ins: detached threads, idle priority and sleeping.
#ifndef HARVO_PLATFORM_THREAD_H
#define HARVO_PLATFORM_THREAD_H

#include <atomic>
#include <cstdint>
#include <functional>

namespace hvthread {

// A stop request shared between threads: set once, never withdrawn, read without a lock (a
// single 32-bit value; a reader sees the change at its next test).
class StopFlag {
 public:
  void Set() { m_Value.store(1, std::memory_order_relaxed); }
  bool IsSet() const { return m_Value.load(std::memory_order_relaxed) == 1; }

 private:
  std::atomic<int32_t> m_Value{0};
};

// Runs body on a thread of its own that nobody joins; the thread ends when body returns. body
// must not throw. False when no thread could be made (body is then dropped without running).
bool StartDetachedThread(std::function<void()> body);

// Lowers the calling thread to idle priority (SCHED_IDLE; the lowest nice value when that is
// refused).
void SetCurrentThreadIdle();

// Sleeps the calling thread; 0 or less returns at once.
void SleepMilliseconds(int milliseconds);

}  // namespace hvthread

#endif  // HARVO_PLATFORM_THREAD_H
