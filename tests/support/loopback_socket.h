// The few socket operations the scripted test server needs, over BSD sockets or Winsock: a
// listening loopback socket, accepted connections, waits that a wake signal ends, and sends that
// never block.
#ifndef HARVO_TESTS_SUPPORT_LOOPBACK_SOCKET_H
#define HARVO_TESTS_SUPPORT_LOOPBACK_SOCKET_H

#include <cstddef>
#include <cstdint>

namespace loopback {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// A TCP socket bound to 127.0.0.1 on a free port (written to *port), listening when asked.
// kNoSocket on failure.
Socket Bind(bool listen, uint16_t* port);
// The next connection (Nagle off, non-blocking sends); kNoSocket on failure.
Socket Accept(Socket listener);
void Close(Socket socket);
// Closes so that the peer sees a reset instead of an orderly end.
void CloseWithReset(Socket socket);
void ShutdownWrite(Socket socket);

// A wake signal that every wait of every thread sees once it was set (it is never cleared).
class Wake {
 public:
  Wake();  // throws std::runtime_error when it cannot be made
  ~Wake();
  Wake(const Wake&) = delete;
  Wake& operator=(const Wake&) = delete;
  void Set();
  // What waits watch: readable once the signal was set.
  Socket watched() const { return read_; }

 private:
  Socket read_ = kNoSocket;
  Socket write_ = kNoSocket;
};

enum class WaitResult { kReady, kWoken, kTimeout, kClosed, kError };
// Waits until socket is readable (or writable) or the wake signal is set; timeout in
// milliseconds, -1 for none. A socket whose peer hung up or failed gives kClosed; with
// kNoSocket only the wake signal and the time are waited for.
WaitResult Wait(Socket socket, bool writable, const Wake& wake, int timeoutMs);

// Received bytes; 0 when the peer ended the connection, -1 on an error, -2 when nothing is
// there yet (or the call was interrupted).
long Receive(Socket socket, char* buffer, size_t size);
// Sent bytes without blocking; -2 when nothing can be sent now, -1 on an error.
long SendSome(Socket socket, const char* data, size_t size);

}  // namespace loopback

#endif  // HARVO_TESTS_SUPPORT_LOOPBACK_SOCKET_H
