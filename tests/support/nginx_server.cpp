#include "support/nginx_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

constexpr const char* kNginx = "/usr/sbin/nginx";

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

}  // namespace

bool NginxServer::Available() {
  return access(kNginx, X_OK) == 0;
}

NginxServer::NginxServer(const std::string& root, const NginxOptions& options,
                         const std::string& serverConfig)
    : tls_(!options.certFile.empty() && !options.keyFile.empty()) {
  if (!Available()) throw std::runtime_error("nginx is not installed (scripts/setup)");
  std::string extra;
  if (tls_) {
    extra += "    ssl_certificate " + options.certFile + ";\n";
    extra += "    ssl_certificate_key " + options.keyFile + ";\n";
  }
  if (options.gzip) {
    extra +=
        "    gzip on;\n    gzip_http_version 1.0;\n    gzip_min_length 1;\n"
        "    gzip_types text/css application/javascript text/plain;\n"
        // A server's own access_log replaces the inherited one: both are named here.
        "    access_log " +
        (dir_ / "access.log") +
        " plain;\n"
        "    access_log " +
        (dir_ / "gzip.log") + " gzipped;\n";
  }
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = FreePort();
    std::string conf = dir_ / "nginx.conf";
    std::ofstream out(conf);
    // One process, no user switch: it runs as the test's user and reads the test's folders.
    out << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
        << "pid " << (dir_ / "nginx.pid") << ";\n"
        << "error_log " << (dir_ / "error.log") << " warn;\n"
        << "events { worker_connections 256; }\n"
        << "http {\n"
        << "  include /etc/nginx/mime.types;\n  default_type application/octet-stream;\n"
        << "  log_format plain '$request $status';\n"
        << "  log_format gzipped '$uri $gzip_ratio';\n"
        << "  access_log " << (dir_ / "access.log") << " plain;\n"
        << "  client_body_temp_path " << (dir_ / "body") << ";\n"
        << "  proxy_temp_path " << (dir_ / "proxy") << ";\n"
        << "  fastcgi_temp_path " << (dir_ / "fastcgi") << ";\n"
        << "  uwsgi_temp_path " << (dir_ / "uwsgi") << ";\n"
        << "  scgi_temp_path " << (dir_ / "scgi") << ";\n"
        << "  keepalive_timeout 30;\n  keepalive_requests 100000;\n"
        << "  server {\n    listen 127.0.0.1:" << port_ << (tls_ ? " ssl" : "") << ";\n"
        << extra << "    root " << root << ";\n    autoindex off;\n"
        << serverConfig << "\n  }\n}\n";
    out.close();
    std::string prefix = dir_.path();
    const char* argv[] = {kNginx, "-p", prefix.c_str(), "-c", conf.c_str(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, kNginx, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      throw std::runtime_error("cannot start nginx");
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool up = false;
    while (!up && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) break;  // exited: the port was taken
      up = CanConnect(port_);
      if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (up) {
      pid_ = pid;
    } else {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  if (pid_ < 0)
    throw std::runtime_error("nginx did not come up: " + ReadFileText(dir_ / "error.log"));
}

NginxServer::~NginxServer() {
  Stop();
}

void NginxServer::Stop() {
  if (pid_ < 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string NginxServer::url(const std::string& path) const {
  return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + path;
}

std::string NginxServer::accessLog() const {
  return ReadFileText(dir_ / "access.log");
}

std::string NginxServer::gzipLog() const {
  return ReadFileText(dir_ / "gzip.log");
}
