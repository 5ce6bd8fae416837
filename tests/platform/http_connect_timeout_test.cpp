// The HTTP layer against a server that never takes the connection: a listener whose queue is
// full, which needs BSD sockets (a listen queue of 0 and connections that fill it).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

#include "platform/http_fixture.h"

namespace {

// A loopback listener whose queue is full: further connection attempts are never answered,
// so connecting times out.
class FullBacklog {
 public:
  FullBacklog() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 0) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot listen");
    }
    port_ = ntohs(address.sin_port);
    for (int i = 0; i < 4; ++i) {
      int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      fillers_.push_back(fd);
    }
  }
  ~FullBacklog() {
    for (int fd : fillers_) close(fd);
    close(listener_);
  }
  uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::vector<int> fillers_;
};

TEST_F(HttpLayerTest, ConnectTimeout_IsRetriedThenFailsWithTimeout) {
  FullBacklog full;
  session_->SetConnectTimeout(300);
  session_->SetConnectRetries(2);
  std::unique_ptr<CHttpConnection> connection(
      session_->GetHttpConnection("127.0.0.1", full.port()));
  std::unique_ptr<CHttpFile> file = Open(*connection, "index.html");
  Clock::time_point start = Clock::now();
  EXPECT_EQ(CauseOfFailure([&] { file->SendRequest(); }), CInternetException::kTimeout);
  double waited = SecondsSince(start);
  EXPECT_GE(waited, 0.85);  // three attempts of 300 ms each
  EXPECT_LT(waited, 5.0);
}

}  // namespace
