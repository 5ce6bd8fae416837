#include "platform/thread.h"

#include "platform/win32.h"

namespace hvthread {

void SetCurrentThreadIdle() {
  ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_IDLE);
}

void SleepMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
  ::Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace hvthread
