#include "platform/url.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>

namespace hvurl {
namespace {

struct UrlDeleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};
struct TextDeleter {
  void operator()(char* p) const { curl_free(p); }
};
using Text = std::unique_ptr<char, TextDeleter>;

bool GetPart(CURLU* u, CURLUPart part, unsigned flags, std::string* out) {
  char* raw = nullptr;
  if (curl_url_get(u, part, &raw, flags) != CURLUE_OK) return false;
  Text text(raw);
  *out = text.get();
  return true;
}

uint16_t DefaultPort(const std::string& scheme) {
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  if (scheme == "ftp") return 21;
  if (scheme == "gopher") return 70;
  return 0;
}

}  // namespace

bool CrackUrl(const std::string& url, CrackedUrl* out) {
  // "scheme:///path" names no server, although libcurl would take the path's first name as one.
  size_t authority = url.find("://");
  if (authority != std::string::npos && url.compare(authority + 3, 1, "/") == 0) return false;
  std::unique_ptr<CURLU, UrlDeleter> u(curl_url());
  if (!u) return false;
  // Browser mode: characters that cannot stand in a URL (blanks, 8-bit bytes) are escaped
  // rather than refused; any scheme is accepted.
  const unsigned flags = CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE;
  if (curl_url_set(u.get(), CURLUPART_URL, url.c_str(), flags) != CURLUE_OK) return false;
  CrackedUrl result;
  if (!GetPart(u.get(), CURLUPART_SCHEME, 0, &result.scheme)) return false;
  if (!GetPart(u.get(), CURLUPART_HOST, 0, &result.server)) return false;
  if (result.server.size() >= 2 && result.server.front() == '[' && result.server.back() == ']') {
    result.server = result.server.substr(1, result.server.size() - 2);
  }
  std::string port;
  if (GetPart(u.get(), CURLUPART_PORT, 0, &port)) {
    long value = std::strtol(port.c_str(), nullptr, 10);
    if (value <= 0 || value > 65535) return false;
    result.port = static_cast<uint16_t>(value);
    result.portNamed = true;
  } else {
    result.port = DefaultPort(result.scheme);
  }
  *out = std::move(result);
  return true;
}

}  // namespace hvurl
