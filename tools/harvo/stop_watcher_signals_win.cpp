// Windows: Ctrl-C and Ctrl-Break arrive through the console's control handler, which the system
// calls on a thread of its own; closing the console window counts as SIGTERM. The handler does
// what the POSIX watching thread does with a signal.
#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <mutex>

#include "stop_watcher.h"

namespace {

StopWatcher* g_watcher = nullptr;  // the one watcher of the process, set while it lives
std::mutex g_watcherMutex;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  int received = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
  std::lock_guard<std::mutex> lock(g_watcherMutex);
  if (g_watcher == nullptr) return FALSE;
  g_watcher->Receive(received);
  return TRUE;
}

}  // namespace

StopWatcher::StopWatcher() {
  std::lock_guard<std::mutex> lock(g_watcherMutex);
  g_watcher = this;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopWatcher::~StopWatcher() {
  {
    std::lock_guard<std::mutex> lock(g_watcherMutex);
    g_watcher = nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
    changed_.notify_all();  // ends a time limit's wait
  }
  if (timer_.joinable()) timer_.join();
  JoinStopper();
}

void StopWatcher::ExitAtOnce(int status) {
  // The C runtime here has no quick_exit: the temporary files being written stay behind, and
  // the next run into the same site folder removes them as stale.
  std::_Exit(status);
}
