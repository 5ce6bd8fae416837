// Winsock: WSAPoll waits, and the wake signal is a connected loopback pair (WSAPoll takes
// sockets only).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#include <stdexcept>

#include "support/loopback_socket.h"

namespace loopback {
namespace {

void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
  });
}

SOCKET Native(Socket socket) {
  return static_cast<SOCKET>(socket);
}

bool WouldBlock() {
  int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

}  // namespace

Socket Bind(bool listenToo, uint16_t* port) {
  StartWinsock();
  SOCKET fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd == INVALID_SOCKET) return kNoSocket;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (listenToo && listen(fd, 128) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(fd);
    return kNoSocket;
  }
  *port = ntohs(address.sin_port);
  return static_cast<Socket>(fd);
}

Socket Accept(Socket listener) {
  SOCKET fd = accept(Native(listener), nullptr, nullptr);
  if (fd == INVALID_SOCKET) return kNoSocket;
  BOOL one = TRUE;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  u_long nonBlocking = 1;
  ioctlsocket(fd, FIONBIO, &nonBlocking);
  return static_cast<Socket>(fd);
}

void Close(Socket socket) {
  if (socket != kNoSocket) closesocket(Native(socket));
}

void CloseWithReset(Socket socket) {
  linger hard{1, 0};
  setsockopt(Native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
             sizeof hard);
  Close(socket);
}

void ShutdownWrite(Socket socket) {
  shutdown(Native(socket), SD_SEND);
}

Wake::Wake() {
  uint16_t port = 0;
  Socket listener = Bind(true, &port);
  if (listener == kNoSocket) throw std::runtime_error("cannot make a wake pair");
  SOCKET writer = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (writer == INVALID_SOCKET ||
      connect(writer, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (writer != INVALID_SOCKET) closesocket(writer);
    Close(listener);
    throw std::runtime_error("cannot make a wake pair");
  }
  SOCKET reader = accept(Native(listener), nullptr, nullptr);
  Close(listener);
  if (reader == INVALID_SOCKET) {
    closesocket(writer);
    throw std::runtime_error("cannot make a wake pair");
  }
  read_ = static_cast<Socket>(reader);
  write_ = static_cast<Socket>(writer);
}

Wake::~Wake() {
  Close(read_);
  Close(write_);
}

void Wake::Set() {
  char byte = 1;
  send(Native(write_), &byte, 1, 0);
}

WaitResult Wait(Socket socket, bool writable, const Wake& wake, int timeoutMs) {
  WSAPOLLFD fds[2] = {};
  fds[0].fd = Native(wake.watched());
  fds[0].events = POLLRDNORM;
  fds[1].fd = Native(socket);
  fds[1].events = writable ? POLLWRNORM : POLLRDNORM;
  int ready = WSAPoll(fds, socket == kNoSocket ? 1 : 2, timeoutMs);
  if (ready < 0) return WaitResult::kError;
  if (ready == 0) return WaitResult::kTimeout;
  if (fds[0].revents != 0) return WaitResult::kWoken;
  if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 &&
      (fds[1].revents & POLLRDNORM) == 0) {
    return WaitResult::kClosed;
  }
  return WaitResult::kReady;
}

long Receive(Socket socket, char* buffer, size_t size) {
  int got = recv(Native(socket), buffer, static_cast<int>(size), 0);
  if (got >= 0) return got;
  return WouldBlock() ? -2 : -1;
}

long SendSome(Socket socket, const char* data, size_t size) {
  int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
  int sent = send(Native(socket), data, chunk, 0);
  if (sent >= 0) return sent;
  return WouldBlock() ? -2 : -1;
}

}  // namespace loopback
