// WinInet's asynchronous mode as the HTTP layer uses it. Each request handle carries a
// RequestState as its context; the session's status callback completes it. A caller starts a
// call and waits for its completion in short slices, looking at its cancel test and the stall
// time between them: a call that should end is abandoned, and the caller then closes the
// handle and goes on. WinInet answers the close with INTERNET_STATUS_HANDLE_CLOSING once it is
// done with the handle, which may be long after (Wine's ends a pending receive only when the
// socket's own time-out passes). The state, and the buffer a pending read writes into, lives
// until both that callback and the caller have let go of it, so nobody waits for it.
#ifndef HARVO_PLATFORM_WININET_ASYNC_WIN_H
#define HARVO_PLATFORM_WININET_ASYNC_WIN_H

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/http.h"
#include "platform/win32.h"
// wininet.h after windows.h.
#include <wininet.h>

namespace hvwininet {

// The status callback of every session handle. Contexts other than those that RequestState
// hands out (zero, kConnectionContext) are ignored.
void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                             DWORD infoLength);
// The context of a connection handle: asynchronous handles take a non-zero one, and nothing
// waits on a connection.
constexpr DWORD_PTR kConnectionContext = 1;

class RequestState : public std::enable_shared_from_this<RequestState> {
 public:
  using Clock = std::chrono::steady_clock;
  enum class End { kDone, kCancelled, kStalled };
  struct Outcome {
    End end = End::kDone;
    BOOL ok = FALSE;
    DWORD error = ERROR_SUCCESS;  // when !ok
    bool pended = false;          // the call completed later, through the callback
  };

  static std::shared_ptr<RequestState> Make();
  ~RequestState();
  RequestState(const RequestState&) = delete;
  RequestState& operator=(const RequestState&) = delete;

  // The context for a handle about to be made: the handle holds a reference until its closing
  // callback. NotAttached gives it back when no handle was made.
  DWORD_PTR Attach();
  void NotAttached();

  // Runs call (a WinInet call on the handle) and, when it goes pending, waits for its
  // completion. kCancelled once cancel has held for the grace time, kStalled when no completion
  // came within stall; after either the caller must close the handle.
  template <typename Call>
  Outcome Run(Call call, const CancelTest& cancel, std::chrono::milliseconds stall) {
    Arm();
    Outcome outcome;
    outcome.ok = call();
    outcome.error = outcome.ok ? ERROR_SUCCESS : ::GetLastError();
    if (outcome.ok || outcome.error != ERROR_IO_PENDING) {
      Disarm();
      return outcome;
    }
    return Wait(cancel, stall);
  }

  // Before the handle is closed: no completion is wanted any more.
  void Abandon();

  // The buffer and counts that a read and a query of the bytes available write into; they stay
  // valid while WinInet may still use them, even after the caller gave up on the call.
  std::vector<char>& ReadBuffer() { return buffer_; }
  DWORD* ReadCount() { return &count_; }
  DWORD* AvailableCount() { return &available_; }

  // Time the cancel test must have held before a pending call is abandoned: long enough for a
  // responsive server to answer, short enough to free a stalled caller quickly.
  static constexpr std::chrono::milliseconds kGrace{500};
  // How often a wait looks at the cancel test.
  static constexpr std::chrono::milliseconds kSlice{50};

 private:
  friend void CALLBACK StatusCallback(HINTERNET, DWORD_PTR, DWORD, LPVOID, DWORD);
  RequestState();
  void Arm();
  void Disarm();
  Outcome Wait(const CancelTest& cancel, std::chrono::milliseconds stall);
  void Complete(const INTERNET_ASYNC_RESULT& result);
  void Closing();

  HANDLE completed_ = nullptr;  // a manual-reset event
  std::mutex mutex_;
  bool armed_ = false;  // a call is pending; its completion is wanted
  BOOL result_ = FALSE;
  DWORD resultError_ = ERROR_SUCCESS;
  std::shared_ptr<RequestState> handleReference_;  // the handle's reference, until it closes
  std::vector<char> buffer_;
  DWORD count_ = 0;
  DWORD available_ = 0;
};

}  // namespace hvwininet

#endif  // HARVO_PLATFORM_WININET_ASYNC_WIN_H
