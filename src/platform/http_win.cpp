// The HTTP layer over WinInet. The session, connection and request objects hold WinInet
// handles in shared holders, child after parent, so that a request outliving its connection
// (or a connection outliving its session object) stays safe to use and to delete. The session
// runs in WinInet's asynchronous mode: a request waits for each call in short slices and, when
// its cancel test or the stall time says so, closes the handle instead of waiting on (a closed
// handle does not end a call blocked in a synchronous receive everywhere).
#include "platform/http.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ca_certificates_win.h"
#include "platform/cookie_store.h"
#include "platform/http_url.h"
#include "platform/wininet_async_win.h"

namespace hvhttp {
// WinInet's own cookie store is the user's, not a file of the session's: a session with a
// cookie file keeps its cookies in a jar of the library's and turns WinInet's off for its
// requests.
class CookieJar : public CookieStore {
  using CookieStore::CookieStore;
};
}  // namespace hvhttp

namespace {

constexpr int kMaxRedirects = 10;
// What a request holds of a body at most while ReadString looks for a line end.
constexpr DWORD kLineChunk = 4096;
// The most a single read asks WinInet for.
constexpr DWORD kReadBlock = 64 * 1024;

struct NativeSession {
  HINTERNET handle = nullptr;
  ~NativeSession() {
    if (handle != nullptr) ::InternetCloseHandle(handle);
  }
};

struct NativeConnection {
  std::shared_ptr<NativeSession> session;
  HINTERNET handle = nullptr;
  ~NativeConnection() {
    if (handle != nullptr) ::InternetCloseHandle(handle);
  }
};

// Refused certificates in words of the library's own, the same on every system (Wine's WinInet
// has no message table: without them a refusal read "WinInet error 12037").
const char* CertificateWords(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return "certificate has expired or is not yet valid";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
      return "no certificate subject name matches target host name";
    case ERROR_INTERNET_INVALID_CA: return "certificate issuer is not trusted";
    case ERROR_INTERNET_SEC_CERT_REVOKED: return "certificate has been revoked";
    case ERROR_INTERNET_SEC_INVALID_CERT: return "certificate is invalid";
    case ERROR_INTERNET_SEC_CERT_ERRORS: return "certificate has errors";
    case ERROR_INTERNET_SEC_CERT_REV_FAILED: return "certificate revocation could not be checked";
    default: return nullptr;
  }
}

std::string ErrorText(DWORD error) {
  if (const char* words = CertificateWords(error)) return words;
  char text[512] = {};
  DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      ::GetModuleHandleA("wininet.dll"), error, 0, text, sizeof text, nullptr);
  std::string out(text, n);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
    out.pop_back();
  }
  return out.empty() ? "WinInet error " + std::to_string(error) : out;
}

[[noreturn]] void Throw(DWORD error, std::string_view what) {
  CInternetException::Cause cause = CInternetException::kOther;
  switch (error) {
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED: cause = CInternetException::kConnect; break;
    case ERROR_INTERNET_TIMEOUT: cause = CInternetException::kTimeout; break;
    case ERROR_INTERNET_OPERATION_CANCELLED:
    case ERROR_INVALID_HANDLE:
    case ERROR_INTERNET_INCORRECT_HANDLE_STATE: cause = CInternetException::kCancelled; break;
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case ERROR_INTERNET_INVALID_URL: cause = CInternetException::kProtocol; break;
    case ERROR_HTTP_REDIRECT_FAILED: cause = CInternetException::kRedirect; break;
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: cause = CInternetException::kSecurity; break;
    default: break;
  }
  throw CInternetException(cause, std::string(what) + ": " + ErrorText(error));
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// Seconds since 1970 of a FILETIME.
int64_t UnixSeconds(const FILETIME& file) {
  const uint64_t ticks = (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
  constexpr int64_t kEpochDifference = 11644473600LL;  // 1601 to 1970, in seconds
  return static_cast<int64_t>(ticks / 10000000ULL) - kEpochDifference;
}

// Seconds since 1970 of a SYSTEMTIME in UTC; false when it is no valid time.
bool UnixSeconds(const SYSTEMTIME& time, int64_t* seconds) {
  FILETIME file{};
  if (!::SystemTimeToFileTime(&time, &file)) return false;
  if (seconds != nullptr) *seconds = UnixSeconds(file);
  return true;
}

int64_t Now() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return UnixSeconds(now);
}

// An HTTP date as WinInet reads it.
bool ReadHttpDate(const std::string& text, int64_t* seconds) {
  SYSTEMTIME time{};
  return !text.empty() && ::InternetTimeToSystemTimeA(text.c_str(), &time, 0) &&
         UnixSeconds(time, seconds);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) {
             return (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c;
           };
           return lower(x) == lower(y);
         });
}

}  // namespace

// ---- CInternetSession ------------------------------------------------------------------------

CInternetSession::CInternetSession(const char* agent, const char* proxy) {
  settings_.agent = agent != nullptr ? agent : "";
  settings_.proxy = proxy != nullptr ? proxy : "";
  auto session = std::make_shared<NativeSession>();
  const bool direct = settings_.proxy.empty();
  session->handle = ::InternetOpenA(settings_.agent.c_str(),
                                    direct ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY,
                                    direct ? nullptr : settings_.proxy.c_str(), nullptr,
                                    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_ASYNC);
  if (session->handle == nullptr) Throw(::GetLastError(), "cannot open an internet session");
  if (::InternetSetStatusCallback(session->handle, &hvwininet::StatusCallback) ==
      INTERNET_INVALID_STATUS_CALLBACK) {
    Throw(::GetLastError(), "cannot install the status callback");
  }
  native_ = std::move(session);
}

CInternetSession::~CInternetSession() {
  Close();
}

void CInternetSession::SetConnectTimeout(int32_t milliseconds) {
  settings_.connectTimeoutMs = milliseconds > 0 ? milliseconds : 0;
  auto* session = static_cast<NativeSession*>(native_.get());
  if (session == nullptr || milliseconds <= 0) return;
  DWORD value = static_cast<DWORD>(milliseconds);
  ::InternetSetOptionExA(session->handle, INTERNET_OPTION_CONNECT_TIMEOUT, &value, sizeof value, 0);
}

void CInternetSession::SetConnectRetries(int32_t retries) {
  settings_.connectRetries = retries > 0 ? retries : 0;
  auto* session = static_cast<NativeSession*>(native_.get());
  if (session == nullptr) return;
  DWORD value = static_cast<DWORD>(settings_.connectRetries);
  ::InternetSetOptionExA(session->handle, INTERNET_OPTION_CONNECT_RETRIES, &value, sizeof value, 0);
}

void CInternetSession::SetCancelTest(CancelTest test) {
  settings_.cancel = std::move(test);
}

void CInternetSession::SetStallTimeout(int seconds) {
  settings_.stallTimeoutSeconds = seconds > 0 ? seconds : 1;
}

// WinInet takes no CA file of its own: the file's certificates are read here and each request
// over TLS is checked against them (CaCertificates).
void CInternetSession::SetCaFile(const std::string& path) {
  settings_.caCertificates =
      path.empty() ? nullptr : std::make_shared<hvhttp::CaCertificates>(path);
  settings_.caFile = path;
}

bool CInternetSession::SetExtraHeaders(const std::vector<std::string>& lines) {
  return hvhttp::ParseHeaderLines(lines, &settings_.extraHeaders);
}

bool CInternetSession::SetCookieFile(const std::string& path) {
  if (path.empty()) {
    settings_.cookies.reset();
    return true;
  }
  auto jar = std::make_shared<hvhttp::CookieJar>(path, &ReadHttpDate);
  if (!jar->Load(Now())) return false;
  settings_.cookies = std::move(jar);
  return true;
}

void CInternetSession::SaveCookies() {
  if (settings_.cookies) settings_.cookies->Save(Now());
}

// ---- CHttpConnection -------------------------------------------------------------------------

struct CHttpConnection::Impl {
  CInternetSession::Settings settings;
  std::shared_ptr<NativeConnection> native;
  std::string server;
  uint16_t port = 0;
};

CHttpConnection* CInternetSession::GetHttpConnection(const char* server, uint16_t port) {
  if (server == nullptr || *server == '\0') {
    throw CInternetException(CInternetException::kConnect, "no server name");
  }
  auto session = std::static_pointer_cast<NativeSession>(native_);
  if (!session) throw CInternetException(CInternetException::kOther, "session closed");
  auto native = std::make_shared<NativeConnection>();
  native->session = session;
  native->handle = ::InternetConnectA(session->handle, server, port, "", "", INTERNET_SERVICE_HTTP,
                                      0, hvwininet::kConnectionContext);
  if (native->handle == nullptr) Throw(::GetLastError(), "cannot connect");
  auto* connection = new CHttpConnection(settings_, server, port);
  connection->impl_->native = std::move(native);
  return connection;
}

void CInternetSession::Close() {
  SaveCookies();
  native_.reset();
}

CHttpConnection::CHttpConnection(const CInternetSession::Settings& settings, std::string server,
                                 uint16_t port)
    : impl_(std::make_unique<Impl>()) {
  impl_->settings = settings;
  impl_->server = std::move(server);
  impl_->port = port;
}

CHttpConnection::~CHttpConnection() = default;

const std::string& CHttpConnection::GetServer() const {
  return impl_->server;
}

uint16_t CHttpConnection::GetPort() const {
  return impl_->port;
}

void CHttpConnection::Close() {
  impl_->native.reset();
}

// ---- CHttpFile -------------------------------------------------------------------------------

struct CHttpFile::Impl {
  CInternetSession::Settings settings;
  std::shared_ptr<NativeConnection> connection;
  std::string verb, object, version;
  uint32_t flags = 0;
  std::vector<std::pair<std::string, DWORD>> headers;  // added by the caller, in order
  bool sameServerOnly = false;
  bool certificateChecks = true;

  // Each request on a connection handle of its own: a redirect to another server may leave the
  // handle it was made on pointed at that server (Wine's WinInet does so), and the connection's
  // later requests must still reach the connection's own server.
  HINTERNET connect = nullptr;
  HINTERNET request = nullptr;
  std::shared_ptr<hvwininet::RequestState> state;  // the context of request
  bool cancelled = false;
  bool sent = false;
  // The body's announced length (-1: none, or not a length the body must reach) and the bytes
  // read of it: a body that ends short is a broken transfer, not a whole file.
  int64_t announced = -1;
  int64_t received = 0;
  bool lastPended = false;  // the last call run completed through the callback
  // A failure that came after a read had already collected bytes: raised by the next read.
  std::exception_ptr deferred;
  std::string pending;  // body bytes read ahead by ReadString
  size_t highWater = 0;

  ~Impl() { CloseRequest(); }

  // Closes the request handle without waiting: the handle's closing callback lets go of the
  // context (and of a pending read's buffer) whenever WinInet is done with them.
  void CloseRequest() {
    if (request != nullptr) {
      state->Abandon();
      ::InternetCloseHandle(request);
    }
    if (connect != nullptr) ::InternetCloseHandle(connect);
    connect = nullptr;
    request = nullptr;
    state.reset();
  }

  // Runs one WinInet call on the request and waits for it. A call abandoned on a stop or a stall
  // closes the request: cancelled, or a time-out thrown.
  template <typename Call>
  BOOL Run(Call call, std::chrono::milliseconds stall) {
    using End = hvwininet::RequestState::End;
    hvwininet::RequestState::Outcome outcome = state->Run(call, settings.cancel, stall);
    lastPended = outcome.pended;
    if (outcome.end == End::kDone) {
      ::SetLastError(outcome.error);
      return outcome.ok;
    }
    CloseRequest();
    cancelled = true;
    if (outcome.end == End::kCancelled) return FALSE;
    throw CInternetException(CInternetException::kTimeout,
                             "no answer from the server within the stall time");
  }

  // The longest wait on one call: WinInet's own time-outs end it first; this one holds should
  // they not.
  std::chrono::milliseconds StallLimit(bool connecting) const {
    using std::chrono::milliseconds;
    milliseconds limit = std::chrono::seconds(settings.stallTimeoutSeconds + 5);
    if (connecting) {
      const int64_t connect = settings.connectTimeoutMs > 0 ? settings.connectTimeoutMs : 60000;
      limit += milliseconds(connect * (settings.connectRetries + 1));
    }
    return limit;
  }

  void Open(const std::string& target, DWORD extraSecurity) {
    CloseRequest();
    // Redirects are followed by hand (Send): WinInet's own following changes the connection
    // handle's server under Wine and never completes some refused ones in asynchronous mode.
    DWORD openFlags = (flags & ~static_cast<DWORD>(INTERNET_FLAG_SECURE)) | INTERNET_FLAG_NO_UI |
                      INTERNET_FLAG_NO_AUTO_REDIRECT;
    if (hostSecure) openFlags |= INTERNET_FLAG_SECURE;
    if (settings.cookies) openFlags |= INTERNET_FLAG_NO_COOKIES;
    const std::string encoded = hvhttp::EncodeObject(target);
    connect = ::InternetConnectA(connection->session->handle, host.c_str(), hostPort, "", "",
                                 INTERNET_SERVICE_HTTP, 0, hvwininet::kConnectionContext);
    if (connect == nullptr) Throw(::GetLastError(), "cannot connect");
    state = hvwininet::RequestState::Make();
    request = ::HttpOpenRequestA(connect, verb.c_str(), encoded.c_str(), version.c_str(), nullptr,
                                 nullptr, openFlags, state->Attach());
    if (request == nullptr) {
      DWORD error = ::GetLastError();
      state->NotAttached();
      state.reset();
      Throw(error, "cannot open a request");
    }
    DWORD stall = static_cast<DWORD>(settings.stallTimeoutSeconds) * 1000;
    ::InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &stall, sizeof stall);
    ::InternetSetOptionA(request, INTERNET_OPTION_SEND_TIMEOUT, &stall, sizeof stall);
    // The checks WinInet leaves out: those of the caller, of the CA file (done after the send),
    // or all of them.
    DWORD ignored = extraSecurity;
    if (CheckedByCaFile()) ignored |= hvhttp::CaCertificates::kRequestFlags;
    if (!certificateChecks) {
      ignored |= SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                 SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_REVOCATION;
    }
    if (ignored != 0) {
      DWORD security = 0, size = sizeof security;
      ::InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &security, &size);
      security |= ignored;
      ::InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
    }
    for (const auto& [text, addFlags] : headers) {
      ::HttpAddRequestHeadersA(request, text.c_str(), static_cast<DWORD>(text.size()), addFlags);
    }
    if (settings.cookies) {
      const std::string cookies = settings.cookies->HeaderFor(host, encoded, hostSecure, Now());
      if (!cookies.empty()) {
        const std::string line = "Cookie: " + cookies + "\r\n";
        ::HttpAddRequestHeadersA(request, line.c_str(), static_cast<DWORD>(line.size()),
                                 HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD);
      }
    }
    // The session's own headers last, each in place of one of that name added before.
    for (const auto& [name, value] : settings.extraHeaders) {
      const std::string line = name + ": " + value + "\r\n";
      ::HttpAddRequestHeadersA(request, line.c_str(), static_cast<DWORD>(line.size()),
                               HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD);
    }
  }

  void Send() {
    if (connection == nullptr || connection->handle == nullptr) {
      throw CInternetException(CInternetException::kOther, "connection closed");
    }
    std::string target = object;
    host = serverName;
    hostPort = port;
    hostSecure = (flags & INTERNET_FLAG_SECURE) != 0;
    for (int redirects = 0;; ++redirects) {
      DWORD error = SendOnce(target, 0);
      if (error == ERROR_INTERNET_SEC_CERT_REV_FAILED) {
        // Wine's WinInet checks revocation before the issuer, so a server of an unknown issuer
        // reads as a failed revocation check: asked once more without that check, the refusal
        // that matters more shows. That answer is never used.
        if (const DWORD other = SendOnce(target, SECURITY_FLAG_IGNORE_REVOCATION)) error = other;
      }
      if (error != 0) Throw(error, "request failed");
      if (CheckedByCaFile()) {
        if (const DWORD refused = settings.caCertificates->Check(request)) {
          Throw(refused, "request failed");
        }
      }
      KeepCookies(hvhttp::EncodeObject(target));
      Redirect next;
      if (!RedirectTarget(&next)) break;
      const bool sameServer =
          next.secure == hostSecure && next.port == hostPort && EqualsIgnoringCase(next.host, host);
      if (sameServerOnly && !sameServer) break;  // handed back as it is
      if (!next.web) {
        throw CInternetException(CInternetException::kRedirect,
                                 "redirect to a URL that is neither http nor https refused");
      }
      if (redirects >= kMaxRedirects) {
        throw CInternetException(CInternetException::kRedirect, "too many redirects");
      }
      host = std::move(next.host);
      hostPort = next.port;
      hostSecure = next.secure;
      object = next.object;
      target = std::move(next.object);
    }
    sent = true;
    announced = AnnouncedLength();
  }

  // Opens the request for target and sends it: 0, or the WinInet error of the failure.
  DWORD SendOnce(const std::string& target, DWORD extraSecurity) {
    Open(target, extraSecurity);
    if (cancelled) throw CInternetException(CInternetException::kCancelled, "cancelled");
    const auto start = std::chrono::steady_clock::now();
    if (Run([&] { return ::HttpSendRequestA(request, nullptr, 0, nullptr, 0); },
            StallLimit(true))) {
      return 0;
    }
    const DWORD error = ::GetLastError();
    if (cancelled) throw CInternetException(CInternetException::kCancelled, "cancelled");
    // Wine's WinInet ends a wait for the answer that outlasted the receive time-out as an
    // aborted connection: after the stall time that is the stall time-out.
    if ((error == ERROR_INTERNET_CONNECTION_ABORTED || error == WSAETIMEDOUT) &&
        std::chrono::steady_clock::now() - start >=
            std::chrono::seconds(settings.stallTimeoutSeconds)) {
      return ERROR_INTERNET_TIMEOUT;
    }
    return error != 0 ? error : ERROR_INTERNET_INTERNAL_ERROR;
  }

  // A request over TLS whose server's chain the session's CA file checks, not WinInet.
  bool CheckedByCaFile() const {
    return hostSecure && certificateChecks && settings.caCertificates != nullptr;
  }

  // Puts the cookies that the answer sets into the session's jar, if it keeps one.
  void KeepCookies(const std::string& encodedTarget) const {
    constexpr DWORD kMaxSetCookies = 1000;
    constexpr DWORD kMaxSetCookieBytes = 64 * 1024;
    if (!settings.cookies || request == nullptr) return;
    const int64_t now = Now();
    std::vector<char> buffer(1024);
    DWORD index = 0;
    while (index < kMaxSetCookies) {
      DWORD size = static_cast<DWORD>(buffer.size());
      DWORD at = index;  // WinInet moves it on only after a header was read
      if (::HttpQueryInfoA(request, HTTP_QUERY_SET_COOKIE, buffer.data(), &size, &at)) {
        settings.cookies->Take(std::string_view(buffer.data(), size), host, encodedTarget,
                               hostSecure, now);
        ++index;
      } else if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return;  // no further header
      } else if (size > kMaxSetCookieBytes) {
        ++index;  // longer than any cookie kept: skipped rather than read
      } else {
        buffer.resize(size + 1);  // the same header again
      }
    }
  }

  // The Content-Length a body must reach: none for HEAD, for answers without a body and for
  // chunked bodies.
  int64_t AnnouncedLength() const {
    const DWORD status = Status();
    std::string text, coding;
    if (EqualsIgnoringCase(verb, "HEAD") || status < 200 || status == 204 || status == 304 ||
        Header("Transfer-Encoding", &coding) || !Header("Content-Length", &text) || text.empty() ||
        text.size() > 18) {
      return -1;
    }
    int64_t number = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return -1;
      number = number * 10 + (c - '0');
    }
    return number;
  }

  struct Redirect {
    bool web = false;  // http or https
    bool secure = false;
    std::string host;
    uint16_t port = 0;
    std::string object;
  };

  // After an answer that redirects (301, 302, 303, 307, 308 with a Location): true with its
  // target, resolved against the URL that was asked for.
  bool RedirectTarget(Redirect* out) const {
    const DWORD status = Status();
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
      return false;
    }
    std::string location;
    if (!Header("Location", &location) || location.empty()) return false;
    const std::string base =
        std::string(hostSecure ? "https://" : "http://") + ServerForUrl() + "/" +
        hvhttp::EncodeObject(object.starts_with("/") ? object.substr(1) : object);
    std::vector<char> combined(8192);
    DWORD length = static_cast<DWORD>(combined.size());
    if (!::InternetCombineUrlA(base.c_str(), location.c_str(), combined.data(), &length,
                               ICU_NO_ENCODE)) {
      return false;
    }
    std::vector<char> hostName(INTERNET_MAX_HOST_NAME_LENGTH + 1);
    std::vector<char> path(8192), extra(8192);
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = hostName.data();
    parts.dwHostNameLength = static_cast<DWORD>(hostName.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!::InternetCrackUrlA(combined.data(), length, 0, &parts)) {
      // A target that cannot be read as a URL is one of no scheme that is followed.
      *out = Redirect{};
      return true;
    }
    out->web = parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS;
    out->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    out->host.assign(hostName.data(), parts.dwHostNameLength);
    if (out->host.size() >= 2 && out->host.front() == '[') {
      out->host = out->host.substr(1, out->host.size() - 2);
    }
    out->port = parts.nPort;
    out->object = std::string(path.data(), parts.dwUrlPathLength) +
                  std::string(extra.data(), parts.dwExtraInfoLength);
    if (out->web && (out->host.empty() || out->object.empty())) out->web = false;
    return true;
  }

  // The server now asked, as a URL names it.
  std::string ServerForUrl() const {
    std::string name = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return name + ":" + std::to_string(hostPort);
  }

  DWORD Status() const {
    DWORD status = 0, size = sizeof status;
    if (request == nullptr ||
        !::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                          nullptr)) {
      return 0;
    }
    return status;
  }

  bool Header(std::string_view name, std::string* value) const {
    if (request == nullptr || name.empty()) return false;
    std::vector<char> buffer(std::max<size_t>(name.size() + 1, 256));
    for (int attempt = 0; attempt < 4; ++attempt) {
      std::fill(buffer.begin(), buffer.end(), '\0');
      std::copy(name.begin(), name.end(), buffer.begin());
      DWORD size = static_cast<DWORD>(buffer.size());
      DWORD index = 0;
      if (::HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, buffer.data(), &size, &index)) {
        *value = std::string(Trim(std::string_view(buffer.data(), size)));
        return true;
      }
      if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
      buffer.resize(std::max<size_t>(size + 1, name.size() + 1));
    }
    return false;
  }

  // Reads what the body has, up to size bytes, from the read-ahead first. 0 at the end (or
  // after a cancellation).
  int ReadSome(char* out, DWORD size) {
    if (!pending.empty()) {
      size_t n = std::min<size_t>(size, pending.size());
      std::copy_n(pending.data(), n, out);
      pending.erase(0, n);
      return static_cast<int>(n);
    }
    if (request == nullptr || cancelled) return 0;
    // Bytes past the announced length are no part of the body (Wine's WinInet hands out what
    // came in the same packet as the body's end).
    if (announced >= 0 && received >= announced) return 0;
    // First wait until some bytes are there (or the body ended): a read then takes only those,
    // and what arrived before a stall is handed out instead of waiting for a full buffer. An
    // answer that came through the callback is asked for again, which then finishes at once.
    DWORD* available = state->AvailableCount();
    for (;;) {
      *available = 0;
      if (!Run([&] { return ::InternetQueryDataAvailable(request, available, 0, 0); },
               StallLimit(false))) {
        DWORD error = ::GetLastError();
        if (cancelled) return 0;
        ThrowReceiveError(error);
      }
      if (!lastPended) break;
    }
    // Into the request state's buffer, which outlives a read abandoned while pending.
    std::vector<char>& buffer = state->ReadBuffer();
    DWORD want = std::min({size, kReadBlock, std::max<DWORD>(*available, 1)});
    if (announced >= 0) want = static_cast<DWORD>(std::min<int64_t>(want, announced - received));
    if (buffer.size() < want) buffer.resize(want);
    DWORD* got = state->ReadCount();
    *got = 0;
    if (!Run([&] { return ::InternetReadFile(request, buffer.data(), want, got); },
             StallLimit(false))) {
      DWORD error = ::GetLastError();
      if (cancelled) return 0;
      ThrowReceiveError(error);
    }
    const DWORD n = std::min(*got, want);
    std::copy_n(buffer.data(), n, out);
    received += n;
    if (n == 0 && announced >= 0 && received < announced) {
      throw CInternetException(CInternetException::kProtocol,
                               "receiving failed: the connection ended " +
                                   std::to_string(announced - received) +
                                   " bytes before the announced end of the body");
    }
    return static_cast<int>(n);
  }

  // A receive that the system's socket timed out is the stall time-out (Wine's WinInet passes
  // the socket's own error on).
  [[noreturn]] static void ThrowReceiveError(DWORD error) {
    if (error == WSAETIMEDOUT || error == ERROR_TIMEOUT) error = ERROR_INTERNET_TIMEOUT;
    Throw(error, "receiving failed");
  }

  void RequireSent() const {
    if (!sent) throw CInternetException(CInternetException::kOther, "request not sent");
  }

  std::string serverName;  // the connection's server
  uint16_t port = 0;
  std::string host;  // the server of the request now sent: the connection's, or a redirect's
  uint16_t hostPort = 0;
  bool hostSecure = false;
};

CHttpFile* CHttpConnection::OpenRequest(const char* verb, const char* object, const char* version,
                                        uint32_t flags) {
  if (!impl_->native) throw CInternetException(CInternetException::kOther, "connection closed");
  auto impl = std::make_unique<CHttpFile::Impl>();
  impl->settings = impl_->settings;
  impl->connection = impl_->native;
  impl->verb = verb != nullptr ? verb : "GET";
  impl->object = object != nullptr ? object : "";
  impl->version = version != nullptr ? version : "HTTP/1.0";
  impl->flags = flags;
  impl->serverName = impl_->server;
  impl->port = impl_->port;
  return new CHttpFile(std::move(impl));
}

CHttpFile::CHttpFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

CHttpFile::~CHttpFile() = default;

void CHttpFile::AddRequestHeaders(const std::string& headers, uint32_t flags) {
  DWORD addFlags = (flags & HTTP_ADDREQ_FLAG_ADD_IF_NEW) != 0 ? HTTP_ADDREQ_FLAG_ADD_IF_NEW
                                                              : HTTP_ADDREQ_FLAG_ADD;
  impl_->headers.emplace_back(headers, addFlags);
}

void CHttpFile::SetSameServerRedirectsOnly(bool sameServerOnly) {
  impl_->sameServerOnly = sameServerOnly;
}

void CHttpFile::SetCertificateChecks(bool on) {
  impl_->certificateChecks = on;
}

// Bodies are asked for without compression: WinInet's own decoding has no bound on how far a
// body may expand, and WinInet tells no reliable count of the encoded bytes received to bound
// it with (Wine's status callback counted no body bytes over a whole body, and where it counts,
// it counts decoded ones; it also drops the Content-Encoding header of a body it decodes). So
// the request keeps the identity encoding and the files come out the same.
void CHttpFile::SetAcceptEncoding(bool /*on*/) {}

void CHttpFile::SendRequest() {
  impl_->Send();
}

int CHttpFile::QueryStatusCode() const {
  return impl_->sent ? static_cast<int>(impl_->Status()) : 0;
}

bool CHttpFile::QueryContentLength(int32_t* value) const {
  std::string text;
  if (!impl_->sent || !impl_->Header("Content-Length", &text) || text.empty()) return false;
  int64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
    if (number > INT32_MAX) return false;
  }
  if (value != nullptr) *value = static_cast<int32_t>(number);
  return true;
}

bool CHttpFile::QueryLastModified(int64_t* value) const {
  if (!impl_->sent || impl_->request == nullptr) return false;
  SYSTEMTIME time{};
  DWORD size = sizeof time;
  if (!::HttpQueryInfoA(impl_->request, HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME,
                        &time, &size, nullptr)) {
    return false;
  }
  return UnixSeconds(time, value);
}

bool CHttpFile::QueryHeader(const char* name, std::string* value) const {
  return name != nullptr && impl_->sent && impl_->Header(name, value);
}

int CHttpFile::Read(void* buffer, unsigned size) {
  impl_->RequireSent();
  if (impl_->deferred) std::rethrow_exception(std::exchange(impl_->deferred, nullptr));
  char* out = static_cast<char*>(buffer);
  unsigned total = 0;
  while (total < size) {
    int n = 0;
    try {
      n = impl_->ReadSome(out + total, size - total);
    } catch (const CInternetException&) {
      // The bytes already taken are handed out; the failure comes with the next read.
      if (total == 0) throw;
      impl_->deferred = std::current_exception();
      break;
    }
    if (n <= 0) break;
    total += static_cast<unsigned>(n);
  }
  return static_cast<int>(total);
}

bool CHttpFile::ReadString(std::string* line) {
  impl_->RequireSent();
  if (impl_->deferred) std::rethrow_exception(std::exchange(impl_->deferred, nullptr));
  line->clear();
  bool any = false;
  for (;;) {
    if (impl_->pending.empty()) {
      char chunk[kLineChunk];
      int n = 0;
      try {
        n = impl_->ReadSome(chunk, sizeof chunk);
      } catch (const CInternetException&) {
        // The line read so far is handed out; the failure comes with the next read.
        if (!any) throw;
        impl_->deferred = std::current_exception();
        break;
      }
      if (n <= 0) break;
      impl_->pending.assign(chunk, static_cast<size_t>(n));
      impl_->highWater = std::max(impl_->highWater, impl_->pending.size());
    }
    any = true;
    size_t end = impl_->pending.find('\n');
    if (end == std::string::npos) {
      line->append(impl_->pending);
      impl_->pending.clear();
      continue;
    }
    line->append(impl_->pending, 0, end);
    impl_->pending.erase(0, end + 1);
    break;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

void CHttpFile::Close() {
  impl_->CloseRequest();
  impl_->pending.clear();
}

size_t CHttpFile::BufferedBytesHighWater() const {
  return impl_->highWater;
}
