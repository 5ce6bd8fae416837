// The scripted test server's own promises, checked with a bare socket client: keep-alive rules,
// the fallback handler, pacing, and a Stop that never waits for a stalled peer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

#include "support/scripted_server.h"

namespace {

using Response = ScriptedResponse;
using Clock = std::chrono::steady_clock;

// A blocking loopback client that speaks just enough HTTP for these checks.
class RawClient {
 public:
  explicit RawClient(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("connect failed");
    }
  }
  ~RawClient() { close(fd_); }

  void Send(const std::string& text) {
    ASSERT_EQ(send(fd_, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
  }
  // Reads until the text holds `until` (empty: until the peer closes) or 5 s passed.
  std::string Receive(const std::string& until = {}) {
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
      if (!until.empty() && received_.find(until) != std::string::npos) break;
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char buffer[4096];
      ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) {
        closed_ = true;
        break;
      }
      received_.append(buffer, static_cast<size_t>(got));
    }
    std::string text;
    text.swap(received_);
    return text;
  }
  bool closed() const { return closed_; }

 private:
  int fd_ = -1;
  std::string received_;
  bool closed_ = false;
};

const char* kKeepAliveGet = "GET /a HTTP/1.0\r\nConnection: keep-alive\r\n\r\n";

TEST(ScriptedServerTest, KeepAlive_OnlyForAskingClientsAndHonestLengths) {
  ScriptedServer server;
  server.Set("/a", Response::Ok("hello"));
  server.Set("/lie", Response::Ok("hello").AnnounceLength(3));
  RawClient client(server.port());
  client.Send(kKeepAliveGet);
  std::string first = client.Receive("hello");
  EXPECT_NE(first.find("HTTP/1.1 200 OK\r\n"), std::string::npos);
  EXPECT_NE(first.find("Content-Length: 5\r\n"), std::string::npos);
  EXPECT_NE(first.find("Connection: keep-alive\r\n"), std::string::npos);
  client.Send("GET /lie HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
  std::string second = client.Receive();
  EXPECT_NE(second.find("Content-Length: 3\r\n"), std::string::npos);
  EXPECT_NE(second.find("Connection: close\r\n\r\nhello"), std::string::npos);
  EXPECT_TRUE(client.closed());

  RawClient plain(server.port());
  plain.Send("GET /a HTTP/1.0\r\n\r\n");
  EXPECT_NE(plain.Receive().find("Connection: close\r\n"), std::string::npos);
  EXPECT_TRUE(plain.closed());

  std::vector<ScriptedRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].connection, requests[1].connection);
  EXPECT_NE(requests[1].connection, requests[2].connection);
  EXPECT_EQ(requests[1].target, "/lie");
  EXPECT_EQ(requests[1].Header("connection"), "keep-alive");
  EXPECT_EQ(server.connectionCount(), 2);
}

TEST(ScriptedServerTest, Handler_AnswersWhatNoScriptMatches) {
  ScriptedServer server;
  server.Set("/fixed", Response::Ok("fixed"));
  server.SetHandler([](const ScriptedRequest& request) -> std::optional<ScriptedResponse> {
    if (request.target == "/fixed" || request.target.rfind("/gen/", 0) != 0) return std::nullopt;
    return Response::Ok("generated " + request.target.substr(5));
  });
  auto fetch = [&](const std::string& target) {
    RawClient client(server.port());
    client.Send("GET " + target + " HTTP/1.0\r\n\r\n");
    return client.Receive();
  };
  EXPECT_NE(fetch("/fixed").find("\r\n\r\nfixed"), std::string::npos);
  EXPECT_NE(fetch("/gen/42").find("\r\n\r\ngenerated 42"), std::string::npos);
  EXPECT_NE(fetch("/other").find("HTTP/1.1 404 Not Found\r\n"), std::string::npos);
  EXPECT_EQ(server.requestTargets(), (std::vector<std::string>{"/fixed", "/gen/42", "/other"}));
}

TEST(ScriptedServerTest, PacedBody_ArrivesInPieces) {
  ScriptedServer server;
  server.Set("/paced", Response::Generated(3 * 4096).Paced(4096, std::chrono::milliseconds(200)));
  RawClient client(server.port());
  Clock::time_point start = Clock::now();
  client.Send("GET /paced HTTP/1.0\r\n\r\n");
  // The third piece begins with its page stamp; two pauses come before it.
  std::string text = client.Receive("000000000008192\n");
  EXPECT_GE(std::chrono::duration<double>(Clock::now() - start).count(), 0.35);
  text += client.Receive();
  std::string body = text.substr(text.find("\r\n\r\n") + 4);
  ASSERT_EQ(body.size(), 3u * 4096);
  EXPECT_TRUE(GeneratedBody::Matches(0, body.data(), body.size()));
}

TEST(ScriptedServerTest, Stop_EndsStalledAndEndlessConnectionsAtOnce) {
  ScriptedServer server;
  server.Set("/stall", Response::Ok("x").StallBeforeStatus());
  server.Set("/endless", Response::Endless());
  RawClient stalled(server.port());
  stalled.Send("GET /stall HTTP/1.0\r\n\r\n");
  RawClient endless(server.port());
  endless.Send("GET /endless HTTP/1.0\r\n\r\n");
  ASSERT_TRUE(server.WaitForStalls(1));
  ASSERT_TRUE(server.WaitForRequests(2));
  EXPECT_FALSE(endless.Receive("\r\n\r\n").empty());  // streaming; the client does not read on
  Clock::time_point start = Clock::now();
  server.Stop();
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 2.0);
  EXPECT_EQ(server.openConnections(), 0);
  stalled.Receive();
  EXPECT_TRUE(stalled.closed());
}

}  // namespace
