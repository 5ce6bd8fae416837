// Starting and stopping one nginx for NginxServer: a child process of the test on POSIX; on
// Windows (tests under Wine) a request to the broker of scripts/test-servers, which runs outside
// the test process, named by the environment variable HARVO_TEST_SERVERS (its folder as a Unix
// path).
#ifndef HARVO_TESTS_SUPPORT_NGINX_PROCESS_H
#define HARVO_TESTS_SUPPORT_NGINX_PROCESS_H

#include <cstdint>
#include <string>

namespace nginx_process {

using Id = std::intptr_t;
inline constexpr Id kNone = -1;

bool Available();
// A path of the test's as nginx, a Linux program, reads it.
std::string ServerPath(const std::string& path);
// Starts nginx with its prefix folder and configuration (both paths of the test's). Throws
// std::runtime_error when it cannot be started.
Id Start(const std::string& prefix, const std::string& conf);
// True when the server is known to have ended by itself (its port was taken).
bool Ended(Id id);
// Stops the server and waits for its end.
void Stop(Id id, const std::string& prefix);

// A free TCP port of 127.0.0.1, and whether something accepts connections on one.
int FreePort();
bool CanConnect(int port);

}  // namespace nginx_process

#endif  // HARVO_TESTS_SUPPORT_NGINX_PROCESS_H
