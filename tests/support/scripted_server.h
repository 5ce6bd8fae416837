// A scripted HTTP/1.x server on 127.0.0.1 for tests: scripted responses per request target,
// faults on demand (stalls, resets, garbage, lying lengths, paced and endless bodies), a
// fallback handler for generated sites, and a record of every request that arrived.
//
//   ScriptedServer server;                                  // listening on an ephemeral port
//   server.Set("/dir/index.html", ScriptedResponse::Ok("<a href=a.html>"));
//   server.Set("/big", ScriptedResponse::Generated(50 << 20).Paced(4096, 10ms));
//   server.Set("/slow", ScriptedResponse::Ok().StallBeforeStatus());
//   server.Redirect("/old", "/new");
//   server.SetHandler([](const ScriptedRequest& r) -> std::optional<ScriptedResponse> { ... });
//   ... client work against server.url("/dir/") ...
//   ASSERT_TRUE(server.WaitForRequests(2));
//   EXPECT_EQ(server.requests()[0].Header("User-Agent"), "agent");
//
// Keep-alive: a request that asks for it with "Connection: keep-alive", answered with an honest
// Content-Length and no fault, gets "Connection: keep-alive" and the connection stays open for
// further requests; every other response says "Connection: close" and the connection closes.
// The destructor (or Stop) ends every connection, stalled ones included, and joins every thread.
// All members may be called from any thread.
#ifndef HARVO_TESTS_SUPPORT_SCRIPTED_SERVER_H
#define HARVO_TESTS_SUPPORT_SCRIPTED_SERVER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_socket.h"
#include "support/scripted_http.h"

class ScriptedServer {
 public:
  using Request = ScriptedRequest;
  using Response = ScriptedResponse;
  // Asked for every request that no scripted target matches; nullopt gives 404.
  using Handler = std::function<std::optional<Response>(const Request&)>;

  ScriptedServer();
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  uint16_t port() const { return port_; }
  // "http://127.0.0.1:PORT" + path.
  std::string url(const std::string& path = "/") const;

  // The response for requests whose target is exactly target (replaces an earlier one).
  void Set(const std::string& target, Response response);
  void Redirect(const std::string& target, const std::string& location, int status = 302);
  void Remove(const std::string& target);
  void SetHandler(Handler handler);

  // While held, requests arrive and are recorded but not answered: for tests that must act
  // between a job's start and its first answer (opening the job's log, say).
  void HoldResponses();
  void ReleaseResponses();

  // Closes the listener and every connection and joins every thread. Idempotent.
  void Stop();

  std::vector<Request> requests() const;
  std::vector<std::string> requestTargets() const;
  size_t requestCount() const;
  size_t requestCount(const std::string& target) const;
  int connectionCount() const;  // connections accepted so far
  int openConnections() const;  // connections open right now
  int stallCount() const;       // responses that reached their stall

  // Wait until the condition holds; false when the time-out passed first. The condition is
  // checked again at every event of the server (request, connection opened or closed, stall).
  bool WaitForRequests(size_t count, std::chrono::milliseconds timeout = kDefaultWait) const;
  bool WaitForStalls(int count, std::chrono::milliseconds timeout = kDefaultWait) const;
  bool WaitForOpenConnections(int count, std::chrono::milliseconds timeout = kDefaultWait) const;
  bool WaitUntil(const std::function<bool()>& condition,
                 std::chrono::milliseconds timeout = kDefaultWait) const;

  static constexpr std::chrono::milliseconds kDefaultWait{10000};

 private:
  enum class Ending { kKeep, kClose, kReset };

  void AcceptLoop();
  void ServeConnection(loopback::Socket fd, int id);
  Ending Answer(loopback::Socket fd, const Request& request);
  Ending SendBody(loopback::Socket fd, const Response& response, bool keep);
  std::optional<Response> Lookup(const Request& request);
  void Record(const Request& request);
  void Notify(const std::function<void()>& change);
  void ReapFinished();

  // Waits for the connection's peer to go or the server to stop.
  void WaitForPeerGone(loopback::Socket fd) const;
  // Sends everything; false when the peer went or the server stops.
  bool SendAll(loopback::Socket fd, const char* data, size_t size) const;
  // Sleeps unless the server stops first; false when it stops.
  bool Pause(std::chrono::milliseconds delay) const;

  loopback::Socket listenFd_ = loopback::kNoSocket;
  loopback::Wake wake_;  // set once the server stops: every wait includes it
  uint16_t port_ = 0;
  std::thread acceptThread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  uint64_t events_ = 0;  // guarded by mutex_; bumped at every change that a wait may look at
  bool stopped_ = false;
  bool held_ = false;
  std::map<std::string, Response> scripts_;
  Handler handler_;
  std::vector<Request> requests_;
  int accepted_ = 0;
  int open_ = 0;
  int stalls_ = 0;
  std::map<int, std::thread> workers_;  // by connection id
  std::vector<int> finished_;           // workers that ended and wait to be joined
};

// A loopback port on which nothing listens while the object lives: connecting is refused.
class ClosedPort {
 public:
  ClosedPort();
  ~ClosedPort();
  ClosedPort(const ClosedPort&) = delete;
  ClosedPort& operator=(const ClosedPort&) = delete;
  uint16_t port() const { return port_; }

 private:
  loopback::Socket fd_ = loopback::kNoSocket;
  uint16_t port_ = 0;
};

#endif  // HARVO_TESTS_SUPPORT_SCRIPTED_SERVER_H
