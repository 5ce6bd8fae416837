#include "platform/http_transfer.h"

#include <algorithm>
#include <cstring>

#include "platform/http_cookies.h"
#include "platform/http_url.h"

namespace hvhttp {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kPollSlice{100};
// How long a wait goes on after the cancel test turned true: long enough for a responsive server
// to answer a request that began after a stop, short enough to free a stalled caller quickly.
constexpr milliseconds kCancelGrace{500};
constexpr size_t kMinWindow = 64 * 1024;
constexpr size_t kDefaultBlock = 16 * 1024;
// A single line longer than this is handed out in pieces rather than collected whole.
constexpr size_t kMaxLine = 64 * 1024;
constexpr int kMaxRedirects = 10;

std::string TrimBlanks(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool IsConnectFailure(CURLcode code) {
  return code == CURLE_COULDNT_CONNECT || code == CURLE_OPERATION_TIMEDOUT;
}

CInternetException::Cause CauseOf(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return CInternetException::kConnect;
    case CURLE_OPERATION_TIMEDOUT: return CInternetException::kTimeout;
    case CURLE_TOO_MANY_REDIRECTS: return CInternetException::kRedirect;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING: return CInternetException::kProtocol;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE: return CInternetException::kSecurity;
    default: return CInternetException::kOther;
  }
}

void SetOption(CURL* easy, CURLoption option, long value) {
  curl_easy_setopt(easy, option, value);
}
void SetOption(CURL* easy, CURLoption option, const char* value) {
  curl_easy_setopt(easy, option, value);
}

}  // namespace

// ---- Pool ----------------------------------------------------------------------------------

Pool::Pool(CInternetSession::Settings settings, std::string server, uint16_t port)
    : settings_(std::move(settings)),
      server_(std::move(server)),
      port_(port),
      multi_(curl_multi_init()) {
  if (multi_ == nullptr) {
    throw CInternetException(CInternetException::kOther, "cannot create an HTTP connection pool");
  }
}

Pool::~Pool() {
  curl_multi_cleanup(multi_);
}

void Pool::Drive() {
  int running = 0;
  CURLMcode code = curl_multi_perform(multi_, &running);
  if (code != CURLM_OK) {
    throw CInternetException(CInternetException::kOther, curl_multi_strerror(code));
  }
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    CURL* easy = message->easy_handle;
    CURLcode result = message->data.result;  // the message is gone once the handle leaves
    Transfer* transfer = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &transfer);
    curl_multi_remove_handle(multi_, easy);
    if (transfer != nullptr) transfer->OnDone(result);
  }
}

void Pool::Wait(milliseconds timeout) {
  curl_multi_poll(multi_, nullptr, 0, static_cast<int>(timeout.count()), nullptr);
}

// ---- Transfer: set-up ------------------------------------------------------------------------

Transfer::Transfer(std::shared_ptr<Pool> pool, std::string verb, std::string object,
                   std::string version, bool secure)
    : pool_(std::move(pool)),
      verb_(std::move(verb)),
      secure_(secure),
      url_(BuildUrl(pool_->server(), pool_->port(), object, secure)),
      httpVersion_(version == "HTTP/1.1" ? CURL_HTTP_VERSION_1_1 : CURL_HTTP_VERSION_1_0) {
  if (verb_.empty()) verb_ = "GET";
}

Transfer::~Transfer() {
  Close();
}

void Transfer::AddHeaders(const std::string& text, bool onlyIfNew) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = TrimBlanks(line.substr(0, colon));
    if (name.empty()) continue;
    std::string value = TrimBlanks(line.substr(colon + 1));
    auto same = std::find_if(headers_.begin(), headers_.end(), [&](const auto& header) {
      return EqualsIgnoringCase(header.first, name);
    });
    if (same == headers_.end()) {
      headers_.emplace_back(std::move(name), std::move(value));
    } else if (!onlyIfNew) {
      same->second = std::move(value);
    }
  }
}

curl_slist* Transfer::BuildHeaderList() const {
  std::vector<std::pair<std::string, std::string>> all = headers_;
  auto has = [&](const char* name) {
    return std::any_of(all.begin(), all.end(),
                       [&](const auto& header) { return EqualsIgnoringCase(header.first, name); });
  };
  // The session's own headers win over the request's.
  for (const auto& [name, value] : pool_->settings().extraHeaders) {
    auto same = std::find_if(all.begin(), all.end(), [&, &n = name](const auto& header) {
      return EqualsIgnoringCase(header.first, n);
    });
    if (same == all.end()) {
      all.emplace_back(name, value);
    } else {
      same->second = value;
    }
  }
  // The session's agent goes out on every request, even when empty: libcurl must neither
  // leave the header out nor put its own text in.
  if (!has("User-Agent")) all.emplace_back("User-Agent", pool_->settings().agent);
  if (!has("Connection")) all.emplace_back("Connection", "keep-alive");
  curl_slist* list = nullptr;
  for (const auto& [name, value] : all) {
    // "Name;" is libcurl's way to send a header with an empty value.
    std::string line = value.empty() ? name + ";" : name + ": " + value;
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) {
      curl_slist_free_all(list);
      throw CInternetException(CInternetException::kOther, "out of memory for request headers");
    }
    list = grown;
  }
  return list;
}

void Transfer::CreateHandle() {
  const CInternetSession::Settings& settings = pool_->settings();
  easy_ = curl_easy_init();
  if (easy_ == nullptr) {
    throw CInternetException(CInternetException::kOther, "cannot create an HTTP request");
  }
  SetOption(easy_, CURLOPT_URL, url_.c_str());
  SetOption(easy_, CURLOPT_PATH_AS_IS, 1L);
  SetOption(easy_, CURLOPT_HTTP_VERSION, httpVersion_);
  SetOption(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
  SetOption(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  SetOption(easy_, CURLOPT_FOLLOWLOCATION, 1L);
  SetOption(easy_, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects));
  SetOption(easy_, CURLOPT_HTTP09_ALLOWED, 0L);
  SetOption(easy_, CURLOPT_NOSIGNAL, 1L);
  // An empty proxy text keeps libcurl from taking one from the environment; a set proxy takes
  // every request, whatever a no_proxy variable says.
  SetOption(easy_, CURLOPT_PROXY, settings.proxy.c_str());
  SetOption(easy_, CURLOPT_NOPROXY, "");
  if (!settings.caFile.empty()) SetOption(easy_, CURLOPT_CAINFO, settings.caFile.c_str());
  if (settings.cookies) settings.cookies->Attach(easy_);
  if (settings.connectTimeoutMs > 0) {
    SetOption(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectTimeoutMs));
  }
  if (verb_ == "HEAD") {
    SetOption(easy_, CURLOPT_NOBODY, 1L);
  } else if (verb_ != "GET") {
    SetOption(easy_, CURLOPT_CUSTOMREQUEST, verb_.c_str());
  }
  curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, error_);
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
}

// ---- Transfer: callbacks ---------------------------------------------------------------------

size_t Transfer::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  size_t bytes = size * count;
  transfer->anyByte_ = true;
  transfer->lastByte_ = Clock::now();
  try {
    if (transfer->IsUnaskedEncoding(std::string_view(data, bytes))) {
      transfer->unaskedEncoding_ = true;
      return 0;  // fails the transfer before any body byte is decoded
    }
    if (!transfer->head_.AddLine(std::string_view(data, bytes))) {
      transfer->headTooLarge_ = true;
      return 0;  // fails the transfer
    }
  } catch (...) {
    return 0;
  }
  return bytes;
}

size_t Transfer::OnBody(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  size_t bytes = size * count;
  if (transfer->Buffered() >= transfer->Limit()) {
    // The reader is behind: leave the bytes with libcurl, which stops reading the socket.
    transfer->paused_ = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  try {
    transfer->body_.insert(transfer->body_.end(), data, data + bytes);
  } catch (...) {
    return 0;
  }
  transfer->decoded_ += bytes;
  transfer->anyByte_ = true;
  transfer->bodyStarted_ = true;
  transfer->lastByte_ = Clock::now();
  transfer->highWater_ = std::max(transfer->highWater_, transfer->Buffered());
  return bytes;
}

void Transfer::OnDone(CURLcode result) {
  inMulti_ = false;
  done_ = true;
  result_ = result;
}

// ---- Transfer: sending -----------------------------------------------------------------------

void Transfer::Start() {
  head_.Reset();
  headTooLarge_ = false;
  unaskedEncoding_ = false;
  decoded_ = 0;
  anyByte_ = false;
  bodyStarted_ = false;
  sent_ = false;
  done_ = false;
  result_ = CURLE_OK;
  paused_ = false;
  cancelled_ = false;
  body_.clear();
  bodyStart_ = 0;
  error_[0] = '\0';
  CURLMcode code = curl_multi_add_handle(pool_->multi(), easy_);
  if (code != CURLM_OK) {
    throw CInternetException(CInternetException::kOther, curl_multi_strerror(code));
  }
  inMulti_ = true;
}

void Transfer::Detach() {
  if (!inMulti_) return;
  // Removing an unfinished transfer makes libcurl close its connection instead of reusing it.
  curl_multi_remove_handle(pool_->multi(), easy_);
  inMulti_ = false;
}

void Transfer::Send() {
  Detach();  // a second Send starts over
  if (easy_ == nullptr) CreateHandle();
  // Headers added since an earlier Send count too.
  curl_slist* headers = BuildHeaderList();
  curl_slist_free_all(headerList_);
  headerList_ = headers;
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
  // Redirects kept to the server are followed here, one request at a time.
  currentUrl_ = url_;
  SetOption(easy_, CURLOPT_URL, url_.c_str());
  SetOption(easy_, CURLOPT_FOLLOWLOCATION, sameServerOnly_ ? 0L : 1L);
  // Only encodings whose expansion is bounded (gzip and deflate at most about 1:1032) are asked
  // for; without the setting libcurl decodes nothing and the body is read as it came.
  curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, acceptEncoding_ ? "gzip, deflate" : nullptr);
  // Certificates are checked unless the request turned the checks off.
  SetOption(easy_, CURLOPT_SSL_VERIFYPEER, verifyPeer_ ? 1L : 0L);
  SetOption(easy_, CURLOPT_SSL_VERIFYHOST, verifyPeer_ ? 2L : 0L);
  int retriesLeft = std::max(0, pool_->settings().connectRetries);
  int redirectsLeft = kMaxRedirects;
  try {
    for (;;) {
      Start();
      WaitEnd end = WaitUntil([this] { return bodyStarted_ || HeadIsFinal(); });
      if (end == WaitEnd::kCancelled) {
        throw CInternetException(CInternetException::kCancelled, "request cancelled: " + url_);
      }
      if (bodyStarted_ || HeadIsFinal() || result_ == CURLE_OK) {
        if (sameServerOnly_ && FollowSameServerRedirect(&redirectsLeft)) continue;
        break;
      }
      if (IsConnectFailure(result_) && !anyByte_ && retriesLeft > 0) {
        --retriesLeft;
        continue;
      }
      Fail(result_);
    }
  } catch (...) {
    Detach();
    throw;
  }
  sent_ = true;
}

void Transfer::Fail(CURLcode result) const {
  CInternetException::Cause cause = CauseOf(result);
  std::string location;
  bool redirecting = head_.status() >= 300 && head_.status() < 400 &&
                     head_.Find("Location", &location) && !location.empty();
  if (redirecting && cause != CInternetException::kConnect &&
      cause != CInternetException::kTimeout) {
    cause = CInternetException::kRedirect;
  }
  std::string message = url_ + ": ";
  if (headTooLarge_) {
    message += "response head too large";
    cause = CInternetException::kProtocol;
  } else if (unaskedEncoding_) {
    message += "the body came in a content encoding that was not asked for";
    cause = CInternetException::kProtocol;
  } else if (result == CURLE_OUT_OF_MEMORY && !sent_ && !head_.complete()) {
    // libcurl's way of refusing a single header line beyond its limit.
    message += "response head line too long";
    cause = CInternetException::kProtocol;
  } else {
    message += error_[0] != '\0' ? error_ : curl_easy_strerror(result);
    // The system's words for what went wrong underneath, such as "Connection refused".
    long osError = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &osError) == CURLE_OK && osError != 0) {
      char text[256] = {};
      message += std::string(" (") + strerror_r(static_cast<int>(osError), text, sizeof text) + ")";
    }
  }
  throw CInternetException(cause, message);
}

void Transfer::RequireSent() const {
  if (!sent_) {
    throw CInternetException(CInternetException::kOther, "request not sent: " + url_);
  }
}

bool Transfer::HeadIsFinal() const {
  if (!sameServerOnly_) return head_.IsFinal();
  return head_.complete() && (head_.status() < 100 || head_.status() >= 200);
}

bool Transfer::FollowSameServerRedirect(int* redirectsLeft) {
  if (head_.status() < 300 || head_.status() >= 400) return false;
  std::string location;
  if (!head_.Find("Location", &location) || location.empty()) return false;
  std::optional<std::string> next = SameServerTarget(location);
  if (!next) return false;
  if (--*redirectsLeft < 0) {
    throw CInternetException(CInternetException::kRedirect, url_ + ": too many redirects");
  }
  Detach();
  currentUrl_ = *next;
  SetOption(easy_, CURLOPT_URL, currentUrl_.c_str());
  return true;
}

std::optional<std::string> Transfer::SameServerTarget(const std::string& location) const {
  // The Location is read against the URL that answered with it (it may be relative), here
  // rather than through libcurl, which works out the target only once the redirect's body
  // has ended.
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
  if (!url || curl_url_set(url.get(), CURLUPART_URL, currentUrl_.c_str(), 0) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
          CURLUE_OK) {
    return std::nullopt;
  }
  auto part = [&](CURLUPart which, unsigned flags) {
    char* text = nullptr;
    std::string value;
    if (curl_url_get(url.get(), which, &text, flags) == CURLUE_OK && text != nullptr) {
      value = text;
    }
    curl_free(text);
    return value;
  };
  std::string host = part(CURLUPART_HOST, 0);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (!EqualsIgnoringCase(part(CURLUPART_SCHEME, 0), secure_ ? "https" : "http") ||
      !EqualsIgnoringCase(host, pool_->server()) ||
      part(CURLUPART_PORT, CURLU_DEFAULT_PORT) != std::to_string(pool_->port())) {
    return std::nullopt;
  }
  std::string target = part(CURLUPART_URL, 0);
  if (target.empty()) return std::nullopt;
  return target;
}

// ---- Transfer: waiting -----------------------------------------------------------------------

bool Transfer::CancelDue() {
  const CancelTest& test = pool_->settings().cancel;
  if (!test || !test()) {
    cancelSeen_.reset();
    return false;
  }
  Clock::time_point now = Clock::now();
  if (!cancelSeen_) cancelSeen_ = now;
  return now - *cancelSeen_ >= kCancelGrace;
}

Transfer::WaitEnd Transfer::WaitUntil(const std::function<bool()>& ready) {
  // Only time spent waiting counts towards a stall; a slow caller between reads is no stall.
  lastByte_ = Clock::now();
  const auto stallLimit = std::chrono::seconds(std::max(1, pool_->settings().stallTimeoutSeconds));
  for (;;) {
    pool_->Drive();
    if (ready() || done_) return WaitEnd::kReady;
    if (CancelDue()) return WaitEnd::kCancelled;
    Clock::time_point now = Clock::now();
    if (now - lastByte_ >= stallLimit) {
      throw CInternetException(CInternetException::kTimeout, "no data received: " + url_);
    }
    auto slice = kPollSlice;
    if (cancelSeen_) {
      auto left = std::chrono::duration_cast<milliseconds>(*cancelSeen_ + kCancelGrace - now);
      slice = std::clamp(left, milliseconds(1), kPollSlice);
    }
    pool_->Wait(slice);
  }
}

// ---- Transfer: reading -----------------------------------------------------------------------

bool Transfer::IsUnaskedEncoding(std::string_view line) const {
  static constexpr std::string_view kName = "content-encoding:";
  if (!acceptEncoding_ || line.size() < kName.size() ||
      !EqualsIgnoringCase(line.substr(0, kName.size()), kName)) {
    return false;
  }
  std::string_view rest = line.substr(kName.size());
  while (!rest.empty()) {
    size_t comma = rest.find(',');
    std::string token(rest.substr(0, comma));
    while (!token.empty() && (token.back() == '\r' || token.back() == '\n')) token.pop_back();
    token = TrimBlanks(token);
    if (!token.empty() && !EqualsIgnoringCase(token, "gzip") &&
        !EqualsIgnoringCase(token, "x-gzip") && !EqualsIgnoringCase(token, "deflate") &&
        !EqualsIgnoringCase(token, "identity")) {
      return true;
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return false;
}

void Transfer::CheckExpansion() const {
  if (!acceptEncoding_ || decoded_ <= CHttpFile::kExpansionAllowance) return;
  curl_off_t received = 0;  // body bytes as they came over the network, before decoding
  curl_easy_getinfo(easy_, CURLINFO_SIZE_DOWNLOAD_T, &received);
  if (received >= 0 && decoded_ / CHttpFile::kMaxExpansion <= static_cast<uint64_t>(received)) {
    return;
  }
  throw CInternetException(CInternetException::kProtocol,
                           url_ + ": the compressed body decodes to more than " +
                               std::to_string(CHttpFile::kMaxExpansion) + " times its size (" +
                               std::to_string(received) + " bytes gave " +
                               std::to_string(decoded_) + "): refused as a decompression bomb");
}

size_t Transfer::Limit() const {
  return std::max(4 * (lastBlock_ == 0 ? kDefaultBlock : lastBlock_), kMinWindow);
}

void Transfer::Consume(size_t count) {
  bodyStart_ += count;
  if (bodyStart_ == body_.size()) {
    body_.clear();
    bodyStart_ = 0;
  } else if (bodyStart_ >= kMinWindow && bodyStart_ * 2 >= body_.size()) {
    body_.erase(body_.begin(), body_.begin() + static_cast<std::ptrdiff_t>(bodyStart_));
    bodyStart_ = 0;
  }
}

void Transfer::ResumeIfRoom() {
  if (!paused_ || !inMulti_ || Buffered() * 2 >= Limit()) return;
  paused_ = false;
  lastByte_ = Clock::now();
  // May hand over the held bytes at once, through OnBody.
  curl_easy_pause(easy_, CURLPAUSE_CONT);
}

int Transfer::Read(void* buffer, unsigned size) {
  RequireSent();
  if (size == 0) return 0;
  lastBlock_ = size;
  ResumeIfRoom();
  if (Buffered() < size && !done_ && !cancelled_) {
    if (WaitUntil([this, size] { return Buffered() >= size; }) == WaitEnd::kCancelled) {
      cancelled_ = true;
    }
  }
  CheckExpansion();
  size_t count = std::min<size_t>(size, Buffered());
  if (count == 0) {
    if (done_ && result_ != CURLE_OK) Fail(result_);
    return 0;
  }
  std::memcpy(buffer, body_.data() + bodyStart_, count);
  Consume(count);
  ResumeIfRoom();
  return static_cast<int>(count);
}

bool Transfer::ReadLine(std::string* line) {
  RequireSent();
  line->clear();
  bool any = false;
  for (;;) {
    CheckExpansion();
    const char* begin = body_.data() + bodyStart_;
    const char* end = begin + Buffered();
    const char* feed = std::find(begin, end, '\n');
    size_t take = std::min<size_t>(static_cast<size_t>(feed - begin), kMaxLine - line->size());
    line->append(begin, take);
    any = any || take > 0 || feed != end;
    bool lineEnded = feed != end && take == static_cast<size_t>(feed - begin);
    Consume(take + (lineEnded ? 1 : 0));
    ResumeIfRoom();
    if (lineEnded || line->size() >= kMaxLine) break;
    if (done_) {
      if (!any && result_ != CURLE_OK) Fail(result_);
      break;
    }
    if (cancelled_) break;
    if (WaitUntil([this] { return Buffered() > 0; }) == WaitEnd::kCancelled) cancelled_ = true;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return any;
}

void Transfer::Close() {
  Detach();
  if (easy_ != nullptr) {
    curl_easy_cleanup(easy_);
    easy_ = nullptr;
  }
  curl_slist_free_all(headerList_);
  headerList_ = nullptr;
  sent_ = false;
  body_.clear();
  body_.shrink_to_fit();
  bodyStart_ = 0;
}

}  // namespace hvhttp
