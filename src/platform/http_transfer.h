// The libcurl side of the HTTP layer. A Pool is one libcurl multi handle: the connection cache
// that a CHttpConnection's requests share. A Transfer is one request on it: an easy handle whose
// callbacks collect the final response head and buffer a bounded window of the body, and whose
// waits drive the whole pool, so that other open requests keep moving (or stay paused) meanwhile.
// Everything runs on the thread that calls in; libcurl is never called from a callback.
#ifndef HARVO_PLATFORM_HTTP_TRANSFER_H
#define HARVO_PLATFORM_HTTP_TRANSFER_H

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/http.h"
#include "platform/http_headers.h"

namespace hvhttp {

using Clock = std::chrono::steady_clock;

class Pool {
 public:
  Pool(CInternetSession::Settings settings, std::string server, uint16_t port);
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  const CInternetSession::Settings& settings() const { return settings_; }
  const std::string& server() const { return server_; }
  uint16_t port() const { return port_; }
  CURLM* multi() const { return multi_; }

  // Lets libcurl do whatever is due on every transfer of the pool and tells finished transfers
  // their result. Throws CInternetException when the multi handle itself fails.
  void Drive();
  // Blocks until a socket of the pool is ready or the time has passed.
  void Wait(std::chrono::milliseconds timeout);

 private:
  CInternetSession::Settings settings_;
  std::string server_;
  uint16_t port_;
  CURLM* multi_;
};

class Transfer {
 public:
  Transfer(std::shared_ptr<Pool> pool, std::string verb, std::string object, std::string version,
           bool secure = false);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  void AddHeaders(const std::string& text, bool onlyIfNew);
  void SetSameServerRedirectsOnly(bool on) { sameServerOnly_ = on; }
  void SetCertificateChecks(bool on) { verifyPeer_ = on; }
  void SetAcceptEncoding(bool on) { acceptEncoding_ = on; }
  void Send();
  // The final response's head; empty until Send returned.
  const ResponseHead& head() const { return head_; }
  int Read(void* buffer, unsigned size);
  bool ReadLine(std::string* line);
  void Close();
  size_t bufferedHighWater() const { return highWater_; }

  // From Pool::Drive: libcurl finished the transfer (the handle has left the multi).
  void OnDone(CURLcode result);

 private:
  enum class WaitEnd { kReady, kCancelled };

  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static size_t OnBody(char* data, size_t size, size_t count, void* self);

  void CreateHandle();
  curl_slist* BuildHeaderList() const;
  void Start();
  void Detach();
  // Drives the pool until ready() holds or the transfer ended; kCancelled once the cancel
  // test has been true for the grace time. Throws kTimeout after the stall time without a byte.
  WaitEnd WaitUntil(const std::function<bool()>& ready);
  // True when the head is the one Send waits for: libcurl goes on past a redirect only when it
  // follows redirects itself.
  bool HeadIsFinal() const;
  // After a redirect with same-server redirects only: points the handle at its target and
  // returns true when that lies on the same server; false leaves the redirect as the answer.
  // Throws kRedirect after too many.
  bool FollowSameServerRedirect(int* redirectsLeft);
  // The absolute URL a Location leads to when it lies on the pool's server (the request's own
  // scheme, the same host name and port); nullopt otherwise.
  std::optional<std::string> SameServerTarget(const std::string& location) const;
  bool CancelDue();
  [[noreturn]] void Fail(CURLcode result) const;
  void RequireSent() const;

  // Throws kProtocol when the decoded body outgrew what its received bytes allow.
  void CheckExpansion() const;
  // A Content-Encoding header line that names an encoding other than those asked for.
  bool IsUnaskedEncoding(std::string_view line) const;

  size_t Buffered() const { return body_.size() - bodyStart_; }
  void Consume(size_t count);
  void ResumeIfRoom();
  size_t Limit() const;

  std::shared_ptr<Pool> pool_;
  std::string verb_;
  bool secure_;
  std::string url_;
  long httpVersion_;
  std::vector<std::pair<std::string, std::string>> headers_;  // added by the caller, in order
  bool sameServerOnly_ = false;
  bool verifyPeer_ = true;
  bool acceptEncoding_ = false;
  std::string currentUrl_;  // the URL being asked: url_, or where same-server redirects led

  CURL* easy_ = nullptr;
  curl_slist* headerList_ = nullptr;
  char error_[CURL_ERROR_SIZE] = {};
  bool inMulti_ = false;

  // State of the current attempt.
  ResponseHead head_;
  bool headTooLarge_ = false;
  bool unaskedEncoding_ = false;
  uint64_t decoded_ = 0;      // body bytes handed over by libcurl (decoded when encoded)
  bool anyByte_ = false;      // a response byte arrived (no connect retry after that)
  bool bodyStarted_ = false;  // the final body began: the head is final
  bool sent_ = false;         // Send returned: head_ is the final head
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  bool paused_ = false;
  bool cancelled_ = false;  // a wait ended by cancellation: reads no longer wait
  std::optional<Clock::time_point> cancelSeen_;
  Clock::time_point lastByte_;

  std::vector<char> body_;  // the body window: bytes before bodyStart_ are already read
  size_t bodyStart_ = 0;
  size_t lastBlock_ = 0;
  size_t highWater_ = 0;
};

}  // namespace hvhttp

#endif  // HARVO_PLATFORM_HTTP_TRANSFER_H
