// A private nginx on 127.0.0.1 serving one folder, for end-to-end tests: a free port, its own
// configuration, logs and pid file under a temporary folder; stopped by the destructor.
#ifndef HARVO_TESTS_SUPPORT_NGINX_SERVER_H
#define HARVO_TESTS_SUPPORT_NGINX_SERVER_H

#include <sys/types.h>

#include <string>

#include "support/temp_dir.h"

class NginxServer {
 public:
  // Starts serving root (keep-alive on, an access log). Throws std::runtime_error when nginx
  // is missing or does not come up.
  // serverConfig: further directives inside the server block (gzip, locations).
  explicit NginxServer(const std::string& root, const std::string& serverConfig = {});
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path) const;
  // The access log's lines so far ("METHOD target status").
  std::string accessLog() const;

  static bool Available();

 private:
  void Stop();
  TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

#endif  // HARVO_TESTS_SUPPORT_NGINX_SERVER_H
