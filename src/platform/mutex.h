// Locks with their contracts written for the compiler's thread-safety analysis: a mutex, a
// recursive mutex (the framework's critical section, which its owner may enter again) and a
// scoped holder for either.
#ifndef HARVO_PLATFORM_MUTEX_H
#define HARVO_PLATFORM_MUTEX_H

#include <mutex>

#include "platform/thread_annotations.h"

namespace hvthread {

class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { m_Mutex.lock(); }
  void unlock() RELEASE() { m_Mutex.unlock(); }
  // For condition variables: the standard mutex underneath (held whenever this one is).
  std::mutex& native() { return m_Mutex; }

 private:
  std::mutex m_Mutex;
};

class CAPABILITY("mutex") RecursiveMutex {
 public:
  void lock() ACQUIRE() { m_Mutex.lock(); }
  void unlock() RELEASE() { m_Mutex.unlock(); }

 private:
  std::recursive_mutex m_Mutex;
};

// Holds a lock for its scope.
template <typename Lock>
class SCOPED_CAPABILITY LockGuard {
 public:
  explicit LockGuard(Lock& lock) ACQUIRE(lock) : m_Lock(lock) { m_Lock.lock(); }
  ~LockGuard() RELEASE() { m_Lock.unlock(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& m_Lock;
};

}  // namespace hvthread

#endif  // HARVO_PLATFORM_MUTEX_H
