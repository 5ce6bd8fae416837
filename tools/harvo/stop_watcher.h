// Turns Ctrl-C (SIGINT) and SIGTERM into one stop request for the running jobs. (Windows: the
// console's Ctrl-C, Ctrl-Break and close events, delivered by the system on a thread of its own.)
//
// The progress queries can block while a job's worker holds its lock for a whole request, so the
// polling thread cannot be relied on to notice a signal in time. A dedicated thread waits for the
// signals with sigwait and calls the stop function itself; the library allows HvrStop and
// HvrMultiStop from a second thread while the first polls, as long as neither starts or ends
// jobs meanwhile, which Disarm guarantees before the jobs are ended.
#ifndef HARVO_TOOLS_STOP_WATCHER_H
#define HARVO_TOOLS_STOP_WATCHER_H

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class StopWatcher {
 public:
  // Blocks SIGINT, SIGTERM and SIGUSR1 in the calling thread, and so in every thread started
  // after it (construct it before any other thread exists), then starts the watching thread.
  // The signals stay blocked after destruction: the process is about to end by then.
  StopWatcher();
  // Wakes the watching thread (SIGUSR1) and joins it.
  ~StopWatcher();
  StopWatcher(const StopWatcher&) = delete;
  StopWatcher& operator=(const StopWatcher&) = delete;

  // From now on the first SIGINT or SIGTERM calls stop, on a thread of its own so that the
  // watching thread stays free to take a second signal, which ends the process at once. A signal
  // that came before Arm starts the stop at once.
  void Arm(std::function<void()> stop);
  // Calls stop at deadline, as a signal would but without recording one, unless the watcher
  // was disarmed first. A thread of its own waits for the deadline: the polling thread can be
  // held up by a progress query for as long as a server stalls a request. Call after Arm, once.
  void StopAt(std::chrono::steady_clock::time_point deadline);
  // True once the deadline of StopAt came while armed.
  bool timeUp() const;
  // No further calls of stop; returns once a call that is under way has returned.
  void Disarm();
  // From now on SIGINT or SIGTERM ends the process at once with status 128 + signal. For when
  // the jobs have ended and only the summary is left, which the user may cut short. A signal
  // that came after Disarm without having stopped anything ends the process at once.
  void EndOnSignal();

  // Waits up to timeout, returning early (true) when a signal arrives or a stop call returns.
  bool WaitForEvent(std::chrono::milliseconds timeout);

  // 0, or the first SIGINT / SIGTERM received.
  int signal() const;

  // A SIGINT or SIGTERM arrived (from the platform's signal source): the first one stops the
  // jobs once armed; a second one while they are being stopped ends the process at once.
  void Receive(int received);

 private:
  void Watch();
  // Writes a line to stderr and ends the process with 128 + signal.
  [[noreturn]] static void EndNow(int signal);
  // Ends the process at once with status, letting the library remove the temporary files it
  // was writing where the platform allows it (defined beside the platform's signal source).
  [[noreturn]] static void ExitAtOnce(int status);
  // Starts the stopping thread; mutex_ is held.
  void StartStop();
  // Joins the stopping thread once it has ended.
  void JoinStopper();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> stop_;  // guarded by mutex_
  bool armed_ = false;          // guarded by mutex_
  bool stopping_ = false;       // guarded by mutex_: stop_ is running
  bool stopped_ = false;        // guarded by mutex_: stop_ was called
  bool quit_ = false;           // guarded by mutex_
  bool endOnSignal_ = false;    // guarded by mutex_
  int signal_ = 0;              // guarded by mutex_
  bool timeUp_ = false;         // guarded by mutex_
  std::thread timer_;
  uint64_t events_ = 0;  // guarded by mutex_
  std::thread stopper_;  // guarded by mutex_ until joined
  std::thread thread_;
};

#endif  // HARVO_TOOLS_STOP_WATCHER_H
