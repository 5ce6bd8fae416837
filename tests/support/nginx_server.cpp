#include "support/nginx_server.h"

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/nginx_process.h"

bool NginxServer::Available() {
  return nginx_process::Available();
}

NginxServer::NginxServer(const std::string& root, const NginxOptions& options,
                         const std::string& serverConfig)
    : tls_(!options.certFile.empty() && !options.keyFile.empty()) {
  if (!Available()) throw std::runtime_error("nginx is not installed (scripts/setup)");
  // Paths in the configuration are nginx's: on Windows those of the Linux side.
  auto server = [](const std::string& path) { return nginx_process::ServerPath(path); };
  std::string extra;
  if (tls_) {
    extra += "    ssl_certificate " + server(options.certFile) + ";\n";
    extra += "    ssl_certificate_key " + server(options.keyFile) + ";\n";
  }
  if (options.gzip) {
    extra +=
        "    gzip on;\n    gzip_http_version 1.0;\n    gzip_min_length 1;\n"
        "    gzip_types text/css application/javascript text/plain;\n"
        // A server's own access_log replaces the inherited one: both are named here.
        "    access_log " +
        server(dir_ / "access.log") +
        " plain;\n"
        "    access_log " +
        server(dir_ / "gzip.log") + " gzipped;\n";
  }
  const std::string conf = dir_ / "nginx.conf";
  for (int attempt = 0; attempt < 5 && process_ == nginx_process::kNone; ++attempt) {
    port_ = nginx_process::FreePort();
    std::ofstream out(conf, std::ios::binary | std::ios::trunc);
    // One process, no user switch: it runs as the test's user and reads the test's folders.
    out << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
        << "pid " << server(dir_ / "nginx.pid") << ";\n"
        << "error_log " << server(dir_ / "error.log") << " warn;\n"
        << "events { worker_connections 256; }\n"
        << "http {\n"
        << "  include /etc/nginx/mime.types;\n  default_type application/octet-stream;\n"
        << "  log_format plain '$request $status';\n"
        << "  log_format gzipped '$uri $gzip_ratio';\n"
        << "  access_log " << server(dir_ / "access.log") << " plain;\n"
        << "  client_body_temp_path " << server(dir_ / "body") << ";\n"
        << "  proxy_temp_path " << server(dir_ / "proxy") << ";\n"
        << "  fastcgi_temp_path " << server(dir_ / "fastcgi") << ";\n"
        << "  uwsgi_temp_path " << server(dir_ / "uwsgi") << ";\n"
        << "  scgi_temp_path " << server(dir_ / "scgi") << ";\n"
        << "  keepalive_timeout 30;\n  keepalive_requests 100000;\n"
        << "  server {\n    listen 127.0.0.1:" << port_ << (tls_ ? " ssl" : "") << ";\n"
        << extra << "    root " << server(root) << ";\n    autoindex off;\n"
        << serverConfig << "\n  }\n}\n";
    out.close();
    nginx_process::Id id = nginx_process::Start(dir_.path(), conf);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool up = false;
    bool ended = false;
    while (!up && std::chrono::steady_clock::now() < deadline) {
      ended = nginx_process::Ended(id);
      if (ended) break;  // exited: the port was taken
      up = nginx_process::CanConnect(port_);
      if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (up) {
      process_ = id;
    } else if (!ended) {
      nginx_process::Stop(id, dir_.path());
    }
  }
  if (process_ == nginx_process::kNone)
    throw std::runtime_error("nginx did not come up: " + ReadFileText(dir_ / "error.log"));
}

NginxServer::~NginxServer() {
  Stop();
}

void NginxServer::Stop() {
  if (process_ == nginx_process::kNone) return;
  nginx_process::Stop(process_, dir_.path());
  process_ = nginx_process::kNone;
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
