// POSIX: a dedicated thread takes SIGINT and SIGTERM with sigwait.
#include <pthread.h>
#include <signal.h>

#include <cstdlib>

#include "stop_watcher.h"

namespace {

// SIGINT and SIGTERM, and SIGUSR1, which wakes the watching thread at the end.
sigset_t WatchedSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);
  return signals;
}

}  // namespace

StopWatcher::StopWatcher() {
  const sigset_t signals = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  thread_ = std::thread([this] { Watch(); });
}

StopWatcher::~StopWatcher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    changed_.notify_all();  // ends a time limit's wait
  }
  // The thread may be in sigwait: a directed SIGUSR1 (blocked everywhere, so only sigwait can
  // take it) wakes it; it then sees quit_.
  pthread_kill(thread_.native_handle(), SIGUSR1);
  thread_.join();
  if (timer_.joinable()) timer_.join();
  JoinStopper();
}

void StopWatcher::Watch() {
  const sigset_t signals = WatchedSignals();
  while (true) {
    int received = 0;
    if (sigwait(&signals, &received) != 0) continue;
    if (received == SIGUSR1) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quit_) return;
      continue;
    }
    Receive(received);
  }
}

void StopWatcher::ExitAtOnce(int status) {
  // quick_exit, unlike _exit, lets the library remove the files it was writing.
  std::quick_exit(status);
}
