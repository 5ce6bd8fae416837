// The response side of the HTTP layer: a server thread on 127.0.0.1 answers every request with
// the input's bytes and closes (or resets) the connection; the client sends a request and reads
// the status, the headers and the body the way the fetcher does.
//
// Every request goes through the server as a proxy, so that a redirect to any host still ends
// there and nothing but loopback is ever contacted.
//
// Invariants: no crash, no hang (every wait ends within the stall time-out); a transport failure
// comes out as CInternetException only; reads never return more than asked; the body reads never
// hold more than a bounded window.
#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_support.h"
#include "platform/http.h"

namespace {

class OneAnswerServer {
 public:
  OneAnswerServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      fuzz::Fail("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    std::thread([this] { Serve(); }).detach();
  }
  uint16_t port() const { return port_; }
  void SetAnswer(std::string bytes, bool reset) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = std::move(bytes);
    reset_ = reset;
  }

 private:
  void Serve() {
    for (;;) {
      int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ReadHead(fd);
      std::string answer;
      bool reset = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        answer = answer_;
        reset = reset_;
      }
      for (size_t sent = 0; sent < answer.size();) {
        ssize_t n = send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      if (reset) {
        linger hard{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      } else {
        shutdown(fd, SHUT_WR);
      }
      close(fd);
    }
  }
  // Reads up to the end of the request head, or until the client is quiet for a moment.
  static void ReadHead(int fd) {
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) return;
      char buffer[4096];
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      head.append(buffer, static_cast<size_t>(n));
    }
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::string answer_;
  bool reset_ = false;
};

OneAnswerServer& Server() {
  static OneAnswerServer* server = new OneAnswerServer();  // lives as long as the process
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Server();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool reset = input.ConsumeBool();
  const bool lines = input.ConsumeBool();
  const bool http11 = input.ConsumeBool();
  const unsigned block = input.ConsumeIntegralInRange<unsigned>(1, 8192);
  Server().SetAnswer(input.ConsumeRemainingBytesAsString(), reset);

  const std::string proxy = "127.0.0.1:" + std::to_string(Server().port());
  CInternetSession session("fuzz", proxy.c_str());
  session.SetStallTimeout(1);
  session.SetConnectTimeout(1000);
  std::unique_ptr<CHttpConnection> connection(session.GetHttpConnection("fuzz.invalid", 80));
  std::unique_ptr<CHttpFile> request(
      connection->OpenRequest("GET", "dir/page.html", http11 ? "HTTP/1.1" : "HTTP/1.0", 0));
  request->AddRequestHeaders("Accept:*/*,text/*\r\nUser-Agent:fuzz\r\n",
                             HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  try {
    request->SendRequest();
    request->QueryStatusCode();
    int32_t length = 0;
    request->QueryContentLength(&length);
    int64_t modified = 0;
    request->QueryLastModified(&modified);
    std::string value;
    request->QueryHeader("Location", &value);
    if (lines) {
      std::string line;
      while (request->ReadString(&line)) {
      }
    } else {
      std::vector<char> buffer(block);
      for (;;) {
        int got = request->Read(buffer.data(), block);
        FUZZ_CHECK(got >= 0 && static_cast<unsigned>(got) <= block, std::to_string(got));
        if (got == 0) break;
      }
    }
    FUZZ_CHECK(request->BufferedBytesHighWater() <= (1u << 20),
               std::to_string(request->BufferedBytesHighWater()));
  } catch (const CInternetException&) {
    // A broken response: the outcome the fetcher turns into an error code.
  }
  request->Close();
  return 0;
}
