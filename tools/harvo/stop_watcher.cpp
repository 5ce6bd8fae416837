#include "stop_watcher.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

void StopWatcher::Arm(std::function<void()> stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  stop_ = std::move(stop);
  armed_ = true;
  if (signal_ != 0 && !stopped_) StartStop();
}

void StopWatcher::StopAt(std::chrono::steady_clock::time_point deadline) {
  timer_ = std::thread([this, deadline] {
    std::unique_lock<std::mutex> lock(mutex_);
    // Disarming or quitting ends the wait early; the deadline itself is the only timeout.
    if (changed_.wait_until(lock, deadline, [this] { return !armed_ || quit_; })) return;
    timeUp_ = true;
    ++events_;
    changed_.notify_all();
    if (!stopped_) StartStop();
  });
}

bool StopWatcher::timeUp() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return timeUp_;
}

void StopWatcher::Disarm() {
  std::unique_lock<std::mutex> lock(mutex_);
  armed_ = false;
  changed_.notify_all();  // ends the timer's wait
  changed_.wait(lock, [this] { return !stopping_; });
  stop_ = nullptr;
  lock.unlock();
  if (timer_.joinable()) timer_.join();
  JoinStopper();
}

void StopWatcher::EndOnSignal() {
  std::lock_guard<std::mutex> lock(mutex_);
  endOnSignal_ = true;
  // A signal that came while no stop function was armed asked for the end as well.
  if (signal_ != 0 && !stopped_) EndNow(signal_);
}

void StopWatcher::EndNow(int signal) {
  std::fputs("\nharvo: ended by a signal\n", stderr);
  std::fflush(stderr);
  std::_Exit(128 + signal);
}

bool StopWatcher::WaitForEvent(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  uint64_t seen = events_;
  return changed_.wait_for(lock, timeout, [&] { return events_ != seen; });
}

int StopWatcher::signal() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signal_;
}

void StopWatcher::StartStop() {
  stopping_ = true;
  stopped_ = true;
  stopper_ = std::thread([this, stop = stop_] {
    stop();
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = false;
    ++events_;
    changed_.notify_all();
  });
}

void StopWatcher::JoinStopper() {
  std::thread stopper;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !stopping_; });
    stopper = std::move(stopper_);
  }
  if (stopper.joinable()) stopper.join();
}

void StopWatcher::Receive(int received) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (endOnSignal_) EndNow(received);
  if (signal_ != 0) {
    // A second signal while the jobs are still being stopped: the user wants out now.
    if (stopping_) {
      std::fputs("\nharvo: stopped at once by a second signal\n", stderr);
      std::fflush(stderr);
      ExitAtOnce(128 + received);
    }
    return;
  }
  signal_ = received;
  ++events_;
  changed_.notify_all();
  // A stop already made (by RequestStop) is not made twice.
  if (armed_ && !stopped_) StartStop();
}
