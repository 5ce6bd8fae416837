// HTTP platform layer: the internet session, connection and request objects that the system
// uses, over libcurl's multi interface. Only this layer knows libcurl.
//
//  * A session carries the agent name, the proxy (empty: direct), the connect time-out and
//    connect retries, and an optional cancel test. Connections are opened from it.
//  * A connection stands for one server and port. Any number of requests may be open on it at
//    once; each is its own transfer, and finished transfers leave their connection in the
//    connection's pool, so sequential requests reuse one keep-alive connection when the server
//    allows it.
//  * A request (CHttpFile) is pulled: SendRequest waits for the final response's status line and
//    headers (redirects to http/https are followed, at most 10; a request may keep them to its
//    own server, see SetSameServerRedirectsOnly), Read returns body bytes in blocks of the
//    caller's size. At most a few blocks are buffered whatever the body's size.
//  * Failures of connecting, sending and reading the body raise CInternetException. Every
//    blocking wait checks the session's cancel test; once it is true, a wait that is still
//    blocked about half a second later ends: SendRequest throws, Read returns 0 (end).
//  * TLS: a request opened with INTERNET_FLAG_SECURE goes to https://server:port. Certificates
//    are verified against the system's store (or the session's CA file) unless the request
//    turns the checks off; a failed check raises kSecurity with the reason in words
//    ("certificate has expired").
//  * Session-wide request settings (CA file, cookie file, extra headers) are read by
//    connections opened afterwards: set them before the first GetHttpConnection.
//  * Objects are used by one thread at a time (the job's worker); they may be created on one
//    thread and used on another after a happens-before (thread start).
#ifndef HARVO_PLATFORM_HTTP_H
#define HARVO_PLATFORM_HTTP_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace hvhttp {
class CookieJar;
class CaCertificates;
}  // namespace hvhttp

// Flags of the WinInet-style interface; accepted for their documented meaning (no cache is ever
// used, so they need no further action).
inline constexpr uint32_t INTERNET_FLAG_RELOAD = 0x80000000u;
inline constexpr uint32_t INTERNET_FLAG_EXISTING_CONNECT = 0x20000000u;
inline constexpr uint32_t INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000u;
inline constexpr uint32_t HTTP_ADDREQ_FLAG_ADD_IF_NEW = 0x10000000u;
// OpenRequest: the request goes over TLS (https).
inline constexpr uint32_t INTERNET_FLAG_SECURE = 0x00800000u;

// A transport failure: could not connect, time-out, cancelled, protocol error, bad redirect,
// TLS handshake or certificate refused (kSecurity).
class CInternetException : public std::exception {
 public:
  enum Cause { kConnect = 1, kTimeout, kCancelled, kRedirect, kProtocol, kOther, kSecurity };
  CInternetException(Cause cause, std::string message)
      : cause_(cause), message_(std::move(message)) {}
  Cause GetCause() const { return cause_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  Cause cause_;
  std::string message_;
};

// Returns true once waits should be cut short. Called often; must be cheap and thread-safe.
using CancelTest = std::function<bool()>;

class CHttpConnection;
class CHttpFile;

class CInternetSession {
 public:
  // agent: User-Agent value (may be empty). proxy: null or empty for a direct session, otherwise
  // "host:port" (or any proxy text libcurl accepts). Throws CInternetException when the
  // underlying library cannot be initialised.
  CInternetSession(const char* agent, const char* proxy);
  virtual ~CInternetSession();
  CInternetSession(const CInternetSession&) = delete;
  CInternetSession& operator=(const CInternetSession&) = delete;

  // Connect time-out in milliseconds (<= 0: libcurl's default) and further connect attempts
  // after a failed one (< 0 counts as 0). Affect connections opened afterwards.
  void SetConnectTimeout(int32_t milliseconds);
  void SetConnectRetries(int32_t retries);
  // Installed before any connection is opened; shared by every request of the session.
  void SetCancelTest(CancelTest test);
  // Seconds without a received byte after which a body read fails (default 60).
  void SetStallTimeout(int seconds);
  // A PEM file of CA certificates that TLS requests trust besides the system's store (empty:
  // the store only). libcurl takes it in place of its bundle file and still looks in its CA
  // folder, which holds the system's store. (WinInet: the file's certificates are read now,
  // CInternetException when it holds none, and the chain that the server shows is checked
  // against them after each request over TLS; platform/ca_certificates_win.h.)
  void SetCaFile(const std::string& path);
  // Request headers ("Name: value") sent with every request of the session, each in place of a
  // header of that name that the request added itself. False, and nothing set, when a line is
  // no header: a name of token characters, a colon, and a value without control characters
  // other than tab. (WinInet: HttpAddRequestHeaders with HTTP_ADDREQ_FLAG_REPLACE | _ADD.)
  bool SetExtraHeaders(const std::vector<std::string>& lines);
  // A Netscape-format cookie file: read now (a missing file is an empty one), its cookies sent
  // with the requests they match, and the cookies that responses set kept with them; the file
  // is written back by SaveCookies and Close. False when the path exists but cannot be read
  // as a file. (WinInet: a jar of the library's own, platform/cookie_store.h, in place of
  // WinInet's store, which is the user's.)
  bool SetCookieFile(const std::string& path);
  // Writes the session's cookies to its cookie file, if it has one. Thread-safe.
  void SaveCookies();

  // A connection to server:port. Never contacts the server itself; connect failures surface in
  // SendRequest. Throws CInternetException for an empty server name. The caller owns it.
  CHttpConnection* GetHttpConnection(const char* server, uint16_t port);

  // Writes the cookie file back and releases the session's resources; no connection may be
  // used afterwards.
  void Close();

  // What connections read from their session.
  struct Settings {
    std::string agent;
    std::string proxy;
    int32_t connectTimeoutMs = 0;
    int32_t connectRetries = 0;
    int stallTimeoutSeconds = 60;
    CancelTest cancel;
    std::string caFile;
    std::vector<std::pair<std::string, std::string>> extraHeaders;
    std::shared_ptr<hvhttp::CookieJar> cookies;
    // The CA file's certificates, read where the transport checks them itself (WinInet).
    std::shared_ptr<hvhttp::CaCertificates> caCertificates;
  };
  const Settings& GetSettings() const { return settings_; }

 private:
  Settings settings_;
  // The transport's own session object where it keeps one (WinInet), shared with the
  // connections opened from it; empty otherwise.
  std::shared_ptr<void> native_;
};

class CHttpConnection {
 public:
  ~CHttpConnection();
  CHttpConnection(const CHttpConnection&) = delete;
  CHttpConnection& operator=(const CHttpConnection&) = delete;

  // Opens a request for the object name (a URL path; a leading "/" is optional) with the verb
  // (only "GET" is used) and the version ("HTTP/1.0"); with INTERNET_FLAG_SECURE among the
  // flags it goes over TLS. Nothing is sent yet. The caller owns it and deletes it (before the
  // connection).
  CHttpFile* OpenRequest(const char* verb, const char* object, const char* version, uint32_t flags);

  const std::string& GetServer() const;
  uint16_t GetPort() const;
  void Close();

 private:
  friend class CInternetSession;
  friend class CHttpFile;
  struct Impl;
  CHttpConnection(const CInternetSession::Settings& settings, std::string server, uint16_t port);
  std::unique_ptr<Impl> impl_;
};

class CHttpFile {
 public:
  ~CHttpFile();  // closes the request
  CHttpFile(const CHttpFile&) = delete;
  CHttpFile& operator=(const CHttpFile&) = delete;

  // Adds header lines "Name:value\r\n..." (the value may be empty). With
  // HTTP_ADDREQ_FLAG_ADD_IF_NEW a header already added is not replaced.
  void AddRequestHeaders(const std::string& headers, uint32_t flags);

  // Called before SendRequest with true: redirects are followed only while they stay on the
  // connection's server (scheme http, the same host name and port; at most 10). A redirect
  // anywhere else is not followed and its target is never asked: the redirect itself is then
  // the final response (its 3xx status, headers and body). Default false: every http/https
  // redirect is followed. (WinInet: open the request with INTERNET_FLAG_NO_AUTO_REDIRECT and
  // follow same-server Location headers in a loop.)
  void SetSameServerRedirectsOnly(bool sameServerOnly);

  // Called before SendRequest with false: a TLS request (and any https redirect it follows)
  // accepts whatever certificate the server shows: unknown issuer, expired, other host name.
  // Default true. (WinInet: INTERNET_OPTION_SECURITY_FLAGS with SECURITY_FLAG_IGNORE_UNKNOWN_CA,
  // _CERT_CN_INVALID, _CERT_DATE_INVALID and _REVOCATION.)
  void SetCertificateChecks(bool on);

  // Called before SendRequest with true: asks for a compressed body (gzip or deflate) and reads
  // it decoded. The headers stay the server's: Content-Length, when sent, counts the encoded
  // bytes. A response in an encoding that was not asked for (brotli, zstd) fails the request,
  // as does a body that decodes to more than kMaxExpansion times the bytes received once past
  // kExpansionAllowance decoded bytes (a decompression bomb): Read throws kProtocol.
  // (WinInet: an Accept-Encoding header and INTERNET_OPTION_HTTP_DECODING.)
  void SetAcceptEncoding(bool on);
  static constexpr uint64_t kMaxExpansion = 100;
  static constexpr uint64_t kExpansionAllowance = 1 << 20;

  // Sends the request and waits for the final response's headers. Throws CInternetException.
  void SendRequest();

  // The final status (after SendRequest), e.g. 200.
  int QueryStatusCode() const;
  // Content-Length of the final response; false when absent or not a number that fits.
  bool QueryContentLength(int32_t* value) const;
  // Last-Modified of the final response as seconds since 1970 (UTC); false when absent or
  // unreadable.
  bool QueryLastModified(int64_t* value) const;
  // Any response header's raw value (first occurrence, name compared ignoring case).
  bool QueryHeader(const char* name, std::string* value) const;

  // Reads up to size body bytes; waits until size bytes, the end of the body, or a
  // cancellation. Returns the count, 0 at the end. Throws CInternetException on a transport
  // failure mid-body (reset, stall beyond the stall time-out).
  int Read(void* buffer, unsigned size);
  // Reads the next body line without its line end (LF or CR LF); false at the end of the body.
  bool ReadString(std::string* line);

  // Ends the request. A body that was not read to its end is not drained: its connection is
  // closed instead of being reused.
  void Close();

  // The most body bytes this request has held at once (tests prove reads stay bounded).
  size_t BufferedBytesHighWater() const;

 private:
  friend class CHttpConnection;
  struct Impl;
  explicit CHttpFile(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

#endif  // HARVO_PLATFORM_HTTP_H
