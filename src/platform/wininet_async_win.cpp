#include "platform/wininet_async_win.h"

namespace hvwininet {

void CALLBACK StatusCallback(HINTERNET /*handle*/, DWORD_PTR context, DWORD status, LPVOID info,
                             DWORD infoLength) {
  if (context == 0 || context == kConnectionContext) return;
  auto* state = reinterpret_cast<RequestState*>(context);
  switch (status) {
    case INTERNET_STATUS_REQUEST_COMPLETE:
      if (info != nullptr && infoLength >= sizeof(INTERNET_ASYNC_RESULT)) {
        state->Complete(*static_cast<const INTERNET_ASYNC_RESULT*>(info));
      }
      break;
    case INTERNET_STATUS_HANDLE_CLOSING: state->Closing(); break;
    default: break;
  }
}

std::shared_ptr<RequestState> RequestState::Make() {
  return std::shared_ptr<RequestState>(new RequestState());
}

RequestState::RequestState() : completed_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  if (completed_ == nullptr) {
    throw CInternetException(CInternetException::kOther, "cannot create an event");
  }
}

RequestState::~RequestState() {
  ::CloseHandle(completed_);
}

DWORD_PTR RequestState::Attach() {
  std::lock_guard<std::mutex> lock(mutex_);
  handleReference_ = shared_from_this();
  return reinterpret_cast<DWORD_PTR>(this);
}

void RequestState::NotAttached() {
  std::shared_ptr<RequestState> reference;
  std::lock_guard<std::mutex> lock(mutex_);
  reference.swap(handleReference_);
  // Released after the lock (declared before it).
}

void RequestState::Arm() {
  std::lock_guard<std::mutex> lock(mutex_);
  ::ResetEvent(completed_);
  armed_ = true;
  result_ = FALSE;
  resultError_ = ERROR_SUCCESS;
}

void RequestState::Disarm() {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_ = false;
  ::ResetEvent(completed_);
}

void RequestState::Complete(const INTERNET_ASYNC_RESULT& result) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A completion that no pending call waits for (one of a call that finished at once) is
  // not taken for the next call's.
  if (!armed_) return;
  armed_ = false;
  result_ = result.dwResult != 0 ? TRUE : FALSE;
  resultError_ = result_ ? ERROR_SUCCESS : result.dwError;
  ::SetEvent(completed_);
}

void RequestState::Closing() {
  std::shared_ptr<RequestState> reference;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reference.swap(handleReference_);
  }
  // The handle's reference goes here, outside the lock; the state may end with it.
}

RequestState::Outcome RequestState::Wait(const CancelTest& cancel,
                                         std::chrono::milliseconds stall) {
  const Clock::time_point start = Clock::now();
  Clock::time_point cancelSeen{};
  bool cancelling = false;
  for (;;) {
    if (::WaitForSingleObject(completed_, static_cast<DWORD>(kSlice.count())) == WAIT_OBJECT_0) {
      std::lock_guard<std::mutex> lock(mutex_);
      return Outcome{End::kDone, result_, resultError_, true};
    }
    const Clock::time_point now = Clock::now();
    if (cancel && cancel()) {
      if (!cancelling) cancelSeen = now;
      cancelling = true;
      if (now - cancelSeen >= kGrace) return Outcome{End::kCancelled, FALSE, ERROR_SUCCESS, true};
    } else {
      cancelling = false;
    }
    if (now - start >= stall) return Outcome{End::kStalled, FALSE, ERROR_SUCCESS, true};
  }
}

void RequestState::Abandon() {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_ = false;
}

}  // namespace hvwininet
