#include "support/loopback_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace loopback {

Socket Bind(bool listenToo, uint16_t* port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoSocket;
  int one = 1;
  if (listenToo) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (listenToo && listen(fd, 128) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return kNoSocket;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

Socket Accept(Socket listener) {
  int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return kNoSocket;
  // Heads and bodies go out in separate sends; without this each response would wait for the
  // client's delayed acknowledgement.
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

void Close(Socket socket) {
  if (socket != kNoSocket) close(static_cast<int>(socket));
}

void CloseWithReset(Socket socket) {
  linger hard{1, 0};  // close() then sends RST instead of FIN
  setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  Close(socket);
}

void ShutdownWrite(Socket socket) {
  shutdown(static_cast<int>(socket), SHUT_WR);
}

Wake::Wake() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  read_ = fds[0];
  write_ = fds[1];
}

Wake::~Wake() {
  close(static_cast<int>(read_));
  close(static_cast<int>(write_));
}

void Wake::Set() {
  // Never read: every poll of every thread sees it from now on.
  char byte = 1;
  while (write(static_cast<int>(write_), &byte, 1) < 0 && errno == EINTR) {
  }
}

WaitResult Wait(Socket socket, bool writable, const Wake& wake, int timeoutMs) {
  for (;;) {
    pollfd fds[2] = {
        {static_cast<int>(wake.watched()), POLLIN, 0},
        {static_cast<int>(socket), static_cast<short>(writable ? POLLOUT : POLLIN), 0}};
    int ready = poll(fds, socket == kNoSocket ? 1 : 2, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return WaitResult::kError;
    }
    if (ready == 0) return WaitResult::kTimeout;
    if (fds[0].revents != 0) return WaitResult::kWoken;
    if ((fds[1].revents & (POLLERR | POLLHUP)) != 0) return WaitResult::kClosed;
    return WaitResult::kReady;
  }
}

long Receive(Socket socket, char* buffer, size_t size) {
  ssize_t got = recv(static_cast<int>(socket), buffer, size, MSG_DONTWAIT);
  if (got >= 0) return static_cast<long>(got);
  return (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) ? -2 : -1;
}

long SendSome(Socket socket, const char* data, size_t size) {
  ssize_t sent = send(static_cast<int>(socket), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent >= 0) return static_cast<long>(sent);
  return (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) ? -2 : -1;
}

}  // namespace loopback
