#include "platform/http.h"

#include <curl/curl.h>

#include <mutex>

#include "platform/http_cookies.h"
#include "platform/http_headers.h"
#include "platform/http_transfer.h"
#include "platform/http_url.h"

namespace {

// libcurl's global set-up is not thread-safe and must happen once before any handle exists.
CURLcode InitCurlOnce() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result;
}

// Callers catch CInternetException only: anything else (running out of memory) is turned into
// one so that it cannot escape past them.
template <typename Body>
auto Guarded(Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const CInternetException&) {
    throw;
  } catch (const std::exception& e) {
    throw CInternetException(CInternetException::kOther, e.what());
  }
}

}  // namespace

// ---- CInternetSession ------------------------------------------------------------------------

CInternetSession::CInternetSession(const char* agent, const char* proxy) {
  CURLcode code = InitCurlOnce();
  if (code != CURLE_OK) {
    throw CInternetException(
        CInternetException::kOther,
        std::string("cannot initialise the HTTP library: ") + curl_easy_strerror(code));
  }
  settings_.agent = agent != nullptr ? agent : "";
  settings_.proxy = proxy != nullptr ? proxy : "";
}

CInternetSession::~CInternetSession() {
  Close();
}

void CInternetSession::SetConnectTimeout(int32_t milliseconds) {
  settings_.connectTimeoutMs = milliseconds > 0 ? milliseconds : 0;
}

void CInternetSession::SetConnectRetries(int32_t retries) {
  settings_.connectRetries = retries > 0 ? retries : 0;
}

void CInternetSession::SetCancelTest(CancelTest test) {
  settings_.cancel = std::move(test);
}

void CInternetSession::SetStallTimeout(int seconds) {
  settings_.stallTimeoutSeconds = seconds > 0 ? seconds : 1;
}

void CInternetSession::SetCaFile(const std::string& path) {
  // A file without a certificate would fail every request over TLS later, in words about the
  // server's certificate: it fails here instead.
  if (!path.empty() && !hvhttp::HoldsPemCertificate(path)) {
    throw CInternetException(CInternetException::kOther,
                             "CA file " + path + ": holds no certificate");
  }
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
  auto jar = Guarded([&] { return std::make_shared<hvhttp::CookieJar>(path); });
  if (!jar->Load()) return false;
  settings_.cookies = std::move(jar);
  return true;
}

void CInternetSession::SaveCookies() {
  if (settings_.cookies) settings_.cookies->Save();
}

CHttpConnection* CInternetSession::GetHttpConnection(const char* server, uint16_t port) {
  if (server == nullptr || *server == '\0') {
    throw CInternetException(CInternetException::kConnect, "no server name");
  }
  return Guarded([&] { return new CHttpConnection(settings_, server, port); });
}

// Connections carry their own copy of the settings and own their libcurl state (the cookie jar
// is shared with them and lives as long as the last of them), so there is nothing else of the
// session's to release.
void CInternetSession::Close() {
  SaveCookies();
}

// ---- CHttpConnection -------------------------------------------------------------------------

struct CHttpConnection::Impl {
  // Shared with the connection's requests, so that a request outliving its connection stays
  // safe to use and to delete.
  std::shared_ptr<hvhttp::Pool> pool;
  std::string server;
  uint16_t port = 0;
};

CHttpConnection::CHttpConnection(const CInternetSession::Settings& settings, std::string server,
                                 uint16_t port)
    : impl_(std::make_unique<Impl>()) {
  impl_->pool = std::make_shared<hvhttp::Pool>(settings, server, port);
  impl_->server = std::move(server);
  impl_->port = port;
}

CHttpConnection::~CHttpConnection() = default;

// Of the flags only INTERNET_FLAG_SECURE matters: no cache exists to bypass.
CHttpFile* CHttpConnection::OpenRequest(const char* verb, const char* object, const char* version,
                                        uint32_t flags) {
  if (!impl_->pool) throw CInternetException(CInternetException::kOther, "connection closed");
  return Guarded([&] {
    auto impl = std::make_unique<CHttpFile::Impl>(
        impl_->pool, verb != nullptr ? verb : "GET", object != nullptr ? object : "",
        version != nullptr ? version : "HTTP/1.0", (flags & INTERNET_FLAG_SECURE) != 0);
    return new CHttpFile(std::move(impl));
  });
}

const std::string& CHttpConnection::GetServer() const {
  return impl_->server;
}

uint16_t CHttpConnection::GetPort() const {
  return impl_->port;
}

void CHttpConnection::Close() {
  impl_->pool.reset();
}

// ---- CHttpFile -------------------------------------------------------------------------------

struct CHttpFile::Impl : hvhttp::Transfer {
  using Transfer::Transfer;
};

CHttpFile::CHttpFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

CHttpFile::~CHttpFile() = default;

void CHttpFile::AddRequestHeaders(const std::string& headers, uint32_t flags) {
  Guarded([&] { impl_->AddHeaders(headers, (flags & HTTP_ADDREQ_FLAG_ADD_IF_NEW) != 0); });
}

void CHttpFile::SetSameServerRedirectsOnly(bool sameServerOnly) {
  impl_->SetSameServerRedirectsOnly(sameServerOnly);
}

void CHttpFile::SetCertificateChecks(bool on) {
  impl_->SetCertificateChecks(on);
}

void CHttpFile::SetAcceptEncoding(bool on) {
  impl_->SetAcceptEncoding(on);
}

void CHttpFile::SendRequest() {
  Guarded([&] { impl_->Send(); });
}

int CHttpFile::QueryStatusCode() const {
  return impl_->head().status();
}

bool CHttpFile::QueryContentLength(int32_t* value) const {
  return impl_->head().ContentLength(value);
}

bool CHttpFile::QueryLastModified(int64_t* value) const {
  return impl_->head().LastModified(value);
}

bool CHttpFile::QueryHeader(const char* name, std::string* value) const {
  return name != nullptr && impl_->head().Find(name, value);
}

int CHttpFile::Read(void* buffer, unsigned size) {
  return Guarded([&] { return impl_->Read(buffer, size); });
}

bool CHttpFile::ReadString(std::string* line) {
  return Guarded([&] { return impl_->ReadLine(line); });
}

void CHttpFile::Close() {
  impl_->Close();
}

size_t CHttpFile::BufferedBytesHighWater() const {
  return impl_->bufferedHighWater();
}
