// URL parsing: canonicalisation in browser mode, then cracking into server and port.
#ifndef HARVO_PLATFORM_URL_H
#define HARVO_PLATFORM_URL_H

#include <cstdint>
#include <string>

namespace hvurl {

struct CrackedUrl {
  std::string scheme;  // lower case
  std::string server;  // host name as written (no brackets, no port, no user information)
  uint16_t port = 0;   // the named port, or the scheme's default (0 when it has none)
  bool portNamed = false;
};

// False when the text is not an absolute URL with a scheme that parses.
bool CrackUrl(const std::string& url, CrackedUrl* out);

}  // namespace hvurl

#endif  // HARVO_PLATFORM_URL_H
