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

void StopWatcher::Disarm() {
  std::unique_lock<std::mutex> lock(mutex_);
  armed_ = false;
  changed_.wait(lock, [this] { return !stopping_; });
  stop_ = nullptr;
  lock.unlock();
  JoinStopper();
}

void StopWatcher::WaitForEvent(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  uint64_t seen = events_;
  changed_.wait_for(lock, timeout, [&] { return events_ != seen; });
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
  if (signal_ != 0) {
    // A second signal while the jobs are still being stopped: the user wants out now.
    if (stopping_) {
      std::fputs("\nharvo: stopped at once by a second signal\n", stderr);
      std::fflush(stderr);
      std::_Exit(128 + received);
    }
    return;
  }
  signal_ = received;
  ++events_;
  changed_.notify_all();
  if (armed_) StartStop();
}
