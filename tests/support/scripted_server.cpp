#include "support/scripted_server.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

constexpr size_t kMaxRequestHead = 64 * 1024;
constexpr size_t kChunk = 64 * 1024;

const char* ReasonFor(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

ScriptedRequest ParseRequest(const std::string& head, int connection) {
  ScriptedRequest request;
  request.head = head;
  request.connection = connection;
  size_t lineEnd = head.find("\r\n");
  std::string line = head.substr(0, lineEnd);
  size_t first = line.find(' ');
  size_t last = line.rfind(' ');
  if (first != std::string::npos && last != first) {
    request.method = line.substr(0, first);
    request.target = line.substr(first + 1, last - first - 1);
    request.version = line.substr(last + 1);
  } else {
    request.method = line;
  }
  size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
  while (pos < head.size()) {
    size_t end = head.find("\r\n", pos);
    if (end == std::string::npos) end = head.size();
    std::string field = head.substr(pos, end - pos);
    pos = end + 2;
    size_t colon = field.find(':');
    if (field.empty() || colon == std::string::npos) continue;
    request.headers.push_back({field.substr(0, colon), Trim(field.substr(colon + 1))});
  }
  return request;
}

bool AsksKeepAlive(const ScriptedRequest& request) {
  std::optional<std::string> connection = request.Header("Connection");
  return connection && Lower(*connection).find("keep-alive") != std::string::npos;
}

// Reads up to the empty line that ends a request head; nullopt when the peer went, the server
// stops (wake set) or the head grows too large.
std::optional<std::string> ReadRequestHead(loopback::Socket fd, const loopback::Wake& wake,
                                           std::string& pending) {
  for (;;) {
    size_t end = pending.find("\r\n\r\n");
    if (end != std::string::npos) {
      std::string head = pending.substr(0, end + 4);
      pending.erase(0, end + 4);
      return head;
    }
    if (pending.size() > kMaxRequestHead) return std::nullopt;
    loopback::WaitResult ready = loopback::Wait(fd, false, wake, -1);
    if (ready == loopback::WaitResult::kWoken || ready == loopback::WaitResult::kError) {
      return std::nullopt;
    }
    char buffer[4096];
    long got = loopback::Receive(fd, buffer, sizeof buffer);
    if (got == -2) continue;
    if (got <= 0) return std::nullopt;
    pending.append(buffer, static_cast<size_t>(got));
  }
}

}  // namespace

// ---- set-up and shut-down --------------------------------------------------------------------

ScriptedServer::ScriptedServer() {
  listenFd_ = loopback::Bind(true, &port_);
  if (listenFd_ == loopback::kNoSocket) throw std::runtime_error("cannot listen on 127.0.0.1");
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  Stop();
  loopback::Close(listenFd_);
}

void ScriptedServer::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
  }
  changed_.notify_all();  // answers held back go on, and end with the server
  wake_.Set();
  if (acceptThread_.joinable()) acceptThread_.join();
  std::map<int, std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
    finished_.clear();
  }
  for (auto& [id, worker] : workers) worker.join();
}

std::string ScriptedServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void ScriptedServer::AcceptLoop() {
  for (;;) {
    loopback::WaitResult ready = loopback::Wait(listenFd_, false, wake_, -1);
    if (ready == loopback::WaitResult::kWoken || ready == loopback::WaitResult::kError) return;
    loopback::Socket fd = loopback::Accept(listenFd_);
    if (fd == loopback::kNoSocket) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      int id = ++accepted_;
      ++open_;
      ++events_;
      workers_.emplace(id, std::thread([this, fd, id] { ServeConnection(fd, id); }));
    }
    changed_.notify_all();
    ReapFinished();
  }
}

void ScriptedServer::ReapFinished() {
  std::vector<std::thread> done;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int id : finished_) {
      auto it = workers_.find(id);
      if (it == workers_.end()) continue;
      done.push_back(std::move(it->second));
      workers_.erase(it);
    }
    finished_.clear();
  }
  for (std::thread& worker : done) worker.join();
}

// ---- scripting and records -------------------------------------------------------------------

void ScriptedServer::Set(const std::string& target, Response response) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_[target] = std::move(response);
}

void ScriptedServer::Redirect(const std::string& target, const std::string& location, int status) {
  Set(target, Response::Redirect(location, status));
}

void ScriptedServer::Remove(const std::string& target) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripts_.erase(target);
}

void ScriptedServer::SetHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  handler_ = std::move(handler);
}

std::optional<ScriptedResponse> ScriptedServer::Lookup(const Request& request) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = scripts_.find(request.target);
    if (it != scripts_.end()) return it->second;
    handler = handler_;
  }
  if (handler) return handler(request);
  return std::nullopt;
}

void ScriptedServer::Notify(const std::function<void()>& change) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    change();
    ++events_;
  }
  changed_.notify_all();
}

void ScriptedServer::Record(const Request& request) {
  Notify([&] { requests_.push_back(request); });
}

std::vector<ScriptedRequest> ScriptedServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<std::string> ScriptedServer::requestTargets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> targets;
  for (const Request& request : requests_) targets.push_back(request.target);
  return targets;
}

size_t ScriptedServer::requestCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_.size();
}

size_t ScriptedServer::requestCount(const std::string& target) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(std::count_if(requests_.begin(), requests_.end(),
                                           [&](const Request& r) { return r.target == target; }));
}

int ScriptedServer::connectionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accepted_;
}

int ScriptedServer::openConnections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

int ScriptedServer::stallCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stalls_;
}

bool ScriptedServer::WaitUntil(const std::function<bool()>& condition,
                               std::chrono::milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    uint64_t seen = events_;
    lock.unlock();
    bool holds = condition();
    lock.lock();
    if (holds) return true;
    if (!changed_.wait_until(lock, deadline, [&] { return events_ != seen; })) return false;
  }
}

bool ScriptedServer::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return requestCount() >= count; }, timeout);
}

bool ScriptedServer::WaitForStalls(int count, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return stallCount() >= count; }, timeout);
}

bool ScriptedServer::WaitForOpenConnections(int count, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return openConnections() == count; }, timeout);
}

// ---- serving ---------------------------------------------------------------------------------

void ScriptedServer::ServeConnection(loopback::Socket fd, int id) {
  std::string pending;
  Ending ending = Ending::kClose;
  for (;;) {
    std::optional<std::string> head = ReadRequestHead(fd, wake_, pending);
    if (!head) break;
    Request request = ParseRequest(*head, id);
    Record(request);
    ending = Answer(fd, request);
    if (ending != Ending::kKeep) break;
  }
  if (ending == Ending::kReset) {
    loopback::CloseWithReset(fd);
  } else {
    loopback::ShutdownWrite(fd);
    loopback::Close(fd);
  }
  Notify([&] {
    --open_;
    finished_.push_back(id);
  });
}

void ScriptedServer::HoldResponses() {
  Notify([&] { held_ = true; });
}

void ScriptedServer::ReleaseResponses() {
  Notify([&] { held_ = false; });
}

ScriptedServer::Ending ScriptedServer::Answer(loopback::Socket fd, const Request& request) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !held_ || stopped_; });
    if (stopped_) return Ending::kClose;
  }
  std::optional<Response> found = Lookup(request);
  Response response = found ? std::move(*found) : Response::Status(404, "Not Found\n");
  if (response.raw) {
    SendAll(fd, response.raw->data(), response.raw->size());
    return Ending::kClose;
  }
  if (response.stallBeforeStatus) {
    Notify([&] { ++stalls_; });
    WaitForPeerGone(fd);
    return Ending::kClose;
  }

  std::optional<uint64_t> length = response.BodyLength();
  std::optional<uint64_t> announced;
  bool lengthGiven = false;
  for (const HttpField& field : response.headers) {
    if (Lower(field.name) != "content-length") continue;
    lengthGiven = true;
    char* end = nullptr;
    unsigned long long value = std::strtoull(field.value.c_str(), &end, 10);
    if (end != field.value.c_str()) announced = value;
  }
  if (!lengthGiven && response.contentLength && length) {
    announced = response.announcedLength ? *response.announcedLength : *length;
  }
  bool faulty = response.stallAfter || response.resetAfter || response.resetInHeaders;
  bool keep = response.keepAlive && AsksKeepAlive(request) && announced && length &&
              *announced == *length && !faulty;

  std::string head = response.version + " " + std::to_string(response.status) + " " +
                     (response.reason.empty() ? ReasonFor(response.status) : response.reason) +
                     "\r\n";
  for (const HttpField& field : response.headers) head += field.name + ": " + field.value + "\r\n";
  if (!lengthGiven && announced) head += "Content-Length: " + std::to_string(*announced) + "\r\n";
  head += keep ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";

  if (response.resetInHeaders) {
    SendAll(fd, head.data(), head.size() / 2);
    return Ending::kReset;
  }
  if (!SendAll(fd, head.data(), head.size())) return Ending::kClose;
  if (request.method == "HEAD") return keep ? Ending::kKeep : Ending::kClose;
  return SendBody(fd, response, keep);
}

ScriptedServer::Ending ScriptedServer::SendBody(loopback::Socket fd, const Response& response,
                                                bool keep) {
  uint64_t stopAt = response.BodyLength().value_or(std::numeric_limits<uint64_t>::max());
  if (response.stallAfter) stopAt = std::min(stopAt, *response.stallAfter);
  if (response.resetAfter) stopAt = std::min(stopAt, *response.resetAfter);
  size_t piece = response.pieceBytes > 0 ? std::min<size_t>(response.pieceBytes, 1 << 20) : kChunk;
  std::vector<char> buffer(piece);
  bool generated = response.generatedLength || response.endless;
  for (uint64_t sent = 0; sent < stopAt;) {
    if (sent > 0 && response.pieceBytes > 0 && !Pause(response.pieceDelay)) return Ending::kClose;
    size_t count = static_cast<size_t>(std::min<uint64_t>(piece, stopAt - sent));
    const char* data = buffer.data();
    if (generated) {
      GeneratedBody::Fill(sent, buffer.data(), count);
    } else {
      data = response.body.data() + sent;
    }
    if (!SendAll(fd, data, count)) return Ending::kClose;
    sent += count;
  }
  if (response.stallAfter) {
    Notify([&] { ++stalls_; });
    WaitForPeerGone(fd);
    return Ending::kClose;
  }
  if (response.resetAfter) return Ending::kReset;
  return keep ? Ending::kKeep : Ending::kClose;
}

void ScriptedServer::WaitForPeerGone(loopback::Socket fd) const {
  for (;;) {
    if (loopback::Wait(fd, false, wake_, -1) != loopback::WaitResult::kReady) return;
    char scratch[4096];
    long got = loopback::Receive(fd, scratch, sizeof scratch);
    if (got == 0 || got == -1) return;
  }
}

bool ScriptedServer::SendAll(loopback::Socket fd, const char* data, size_t size) const {
  while (size > 0) {
    if (loopback::Wait(fd, true, wake_, -1) != loopback::WaitResult::kReady) return false;
    long sent = loopback::SendSome(fd, data, size);
    if (sent == -2) continue;
    if (sent < 0) return false;
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

bool ScriptedServer::Pause(std::chrono::milliseconds delay) const {
  auto deadline = std::chrono::steady_clock::now() + delay;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    loopback::WaitResult ready =
        loopback::Wait(loopback::kNoSocket, false, wake_, static_cast<int>(left.count()));
    if (ready == loopback::WaitResult::kWoken) return false;
  }
}

// ---- ClosedPort ------------------------------------------------------------------------------

ClosedPort::ClosedPort() {
  // Bound but not listening: the port stays ours, and connections to it are refused.
  fd_ = loopback::Bind(false, &port_);
  if (fd_ == loopback::kNoSocket) throw std::runtime_error("cannot bind on 127.0.0.1");
}

ClosedPort::~ClosedPort() {
  loopback::Close(fd_);
}
