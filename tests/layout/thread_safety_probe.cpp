// Compiled by check_thread_safety.cmake only, never linked: proves that the lock contracts of
// the library's headers are live under clang's analysis. Built with PROBE_LOCKED the guarded
// values are read under their locks and the file must compile; without it the same reads are
// made unlocked and the compiler must refuse them.
#include "platform/mutex.h"
#include "site/site.h"

struct GuardedBySite {
  KtWdlSite* site = nullptr;
  int shown GUARDED_BY(site) = 0;

  int Read() {
#if defined(PROBE_LOCKED)
    hvthread::LockGuard<KtWdlSite> lock(*site);
#endif
    return shown;
  }
};

struct GuardedByMutex {
  hvthread::Mutex lock;
  int value GUARDED_BY(lock) = 0;

  void Write() {
#if defined(PROBE_LOCKED)
    hvthread::LockGuard<hvthread::Mutex> guard(lock);
#endif
    value = 1;
  }
};

int ProbeThreadSafety(GuardedBySite* a, GuardedByMutex* b) {
  b->Write();
  return a->Read();
}
