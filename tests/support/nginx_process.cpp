#include "support/nginx_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace nginx_process {
namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

}  // namespace

bool Available() {
  return access(kNginx, X_OK) == 0;
}

std::string ServerPath(const std::string& path) {
  return path;
}

Id Start(const std::string& prefix, const std::string& conf) {
  const char* argv[] = {kNginx, "-p", prefix.c_str(), "-c", conf.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, kNginx, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    throw std::runtime_error("cannot start nginx");
  }
  return pid;
}

bool Ended(Id id) {
  int status = 0;
  return waitpid(static_cast<pid_t>(id), &status, WNOHANG) == static_cast<pid_t>(id);
}

void Stop(Id id, const std::string& /*prefix*/) {
  kill(static_cast<pid_t>(id), SIGTERM);
  waitpid(static_cast<pid_t>(id), nullptr, 0);
}

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    throw std::runtime_error("no free port");
  }
  close(fd);
  return ntohs(addr.sin_port);
}

bool CanConnect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

}  // namespace nginx_process
