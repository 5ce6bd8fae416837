// Thread stand-ins: idle priority and sleeping.
#ifndef HARVO_PLATFORM_THREAD_H
#define HARVO_PLATFORM_THREAD_H

namespace hvthread {

// Lowers the calling thread to idle priority (SCHED_IDLE; the lowest nice value when that is
// refused).
void SetCurrentThreadIdle();

// Sleeps the calling thread; 0 or less returns at once.
void SleepMilliseconds(int milliseconds);

}  // namespace hvthread

#endif  // HARVO_PLATFORM_THREAD_H
