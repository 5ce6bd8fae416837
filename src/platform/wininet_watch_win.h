// Ends blocked WinInet calls of a session once its cancel test has held for a grace time: a
// thread of the session's own looks at every call in progress ten times a second and closes
// the request handle of one that should end, which makes the blocked call return at once.
#ifndef HARVO_PLATFORM_WININET_WATCH_WIN_H
#define HARVO_PLATFORM_WININET_WATCH_WIN_H

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/http.h"
#include "platform/win32.h"
// wininet.h after windows.h.
#include <wininet.h>

namespace hvwininet {

class Watchdog {
 public:
  using Clock = std::chrono::steady_clock;
  struct Call {
    HINTERNET request = nullptr;
    const CancelTest* cancel = nullptr;
    std::optional<Clock::time_point> cancelSeen;
    bool closed = false;  // the watchdog closed the request handle
  };
  using Token = std::list<Call>::iterator;

  Watchdog() = default;
  ~Watchdog();  // stops and joins the thread; no call may be in progress
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Around one blocking call on request: End tells whether the watchdog closed the handle
  // (the caller must then not close it again).
  Token Begin(HINTERNET request, const CancelTest* cancel);
  bool End(Token token);

  // Time the cancel test must have held before a blocked call is ended.
  static constexpr std::chrono::milliseconds kGrace{500};

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::list<Call> calls_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace hvwininet

#endif  // HARVO_PLATFORM_WININET_WATCH_WIN_H
