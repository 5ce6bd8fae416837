#include "platform/wininet_watch_win.h"

namespace hvwininet {

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

Watchdog::Token Watchdog::Begin(HINTERNET request, const CancelTest* cancel) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!thread_.joinable()) thread_ = std::thread(&Watchdog::Loop, this);
  calls_.push_back(Call{request, cancel, std::nullopt, false});
  Token token = std::prev(calls_.end());
  wake_.notify_all();
  return token;
}

bool Watchdog::End(Token token) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool closed = token->closed;
  calls_.erase(token);
  return closed;
}

void Watchdog::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (calls_.empty()) {
      wake_.wait(lock, [this] { return stopping_ || !calls_.empty(); });
      continue;
    }
    wake_.wait_for(lock, std::chrono::milliseconds(100));
    const Clock::time_point now = Clock::now();
    for (Call& call : calls_) {
      if (call.closed || call.cancel == nullptr || !*call.cancel || !(*call.cancel)()) continue;
      if (!call.cancelSeen) {
        call.cancelSeen = now;
      } else if (now - *call.cancelSeen >= kGrace) {
        ::InternetCloseHandle(call.request);
        call.closed = true;
      }
    }
  }
}

}  // namespace hvwininet
