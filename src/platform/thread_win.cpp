#include "platform/thread.h"

#include <process.h>

#include <memory>
#include <utility>

#include "platform/win32.h"

namespace hvthread {

namespace {

unsigned __stdcall DetachedThreadEntry(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return 0;
}

}  // namespace

// A thread of the C runtime's own, not a detached std::thread. The winpthreads under std::thread
// keeps one record per thread and hands it to the next thread it creates once the thread is
// detached and has ended; but a thread that ends before its creator detaches it is still exiting
// then, and its exit goes on to clear the record, now the next thread's: that thread ended
// without running its function. (Seen under Wine, one start in some hundreds under load: a job
// whose thread never ran stayed "running", and HvrStop and HvrEnd waited for it for ever.)
bool StartDetachedThread(std::function<void()> body) {
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  const uintptr_t handle =
      ::_beginthreadex(nullptr, 0, &DetachedThreadEntry, owned.get(), 0, nullptr);
  if (handle == 0) return false;
  (void)owned.release();  // the thread's now
  ::CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}

void SetCurrentThreadIdle() {
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_IDLE);
}

void SleepMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
  ::Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace hvthread
