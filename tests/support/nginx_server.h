// A private nginx on 127.0.0.1 serving one folder, for end-to-end tests: a free port, its own
// configuration, logs and pid file under a temporary folder; stopped by the destructor. How it
// is started: support/nginx_process.h.
#ifndef HARVO_TESTS_SUPPORT_NGINX_SERVER_H
#define HARVO_TESTS_SUPPORT_NGINX_SERVER_H

#include <cstdint>
#include <string>

#include "support/temp_dir.h"

struct NginxOptions {
  // Both set: the server speaks https only, with this certificate and key.
  std::string certFile;
  std::string keyFile;
  // Compresses pages, style sheets and scripts for clients that accept gzip (HTTP/1.0 too).
  bool gzip = false;
};

class NginxServer {
 public:
  // Starts serving root (keep-alive on, an access log). Throws std::runtime_error when nginx
  // is missing or does not come up.
  // serverConfig: further directives inside the server block (locations, types).
  explicit NginxServer(const std::string& root, const NginxOptions& options = {},
                       const std::string& serverConfig = {});
  NginxServer(const std::string& root, const std::string& serverConfig)
      : NginxServer(root, NginxOptions{}, serverConfig) {}
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:PORT" + path, or "https://..." for a TLS server.
  std::string url(const std::string& path) const;
  // The access log's lines so far ("METHOD target status").
  std::string accessLog() const;
  // With gzip: one line per request, "URI RATIO", the ratio "-" when the body went uncompressed.
  std::string gzipLog() const;

  static bool Available();

 private:
  void Stop();
  TempDir dir_;
  int port_ = 0;
  std::intptr_t process_ = -1;  // the running server (nginx_process::Id)
  bool tls_ = false;
};

#endif  // HARVO_TESTS_SUPPORT_NGINX_SERVER_H
