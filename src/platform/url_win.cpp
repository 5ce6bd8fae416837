#include "platform/url.h"

#include <cstdlib>
#include <vector>

#include "platform/win32.h"
// wininet.h after windows.h.
#include <wininet.h>

namespace hvurl {
namespace {

constexpr DWORD kCanonicalMax = 4096;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c | 0x20);
  }
  return text;
}

// Whether the authority of the URL names a port: a ":" after the host (outside IPv6 brackets).
bool AuthorityNamesPort(const std::string& url) {
  size_t start = url.find("://");
  if (start == std::string::npos) return false;
  start += 3;
  size_t end = url.find_first_of("/?#", start);
  std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
  size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  size_t bracket = authority.rfind(']');
  size_t colon = authority.rfind(':');
  return colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The host name with its %XX escapes decoded, as the POSIX parser gives it: the site folder is
// named after the decoded name, so that its checks see the bytes that name the folder.
std::string DecodeHost(const std::string& host) {
  std::string out;
  for (size_t i = 0; i < host.size(); ++i) {
    if (host[i] == '%' && i + 2 < host.size() && HexValue(host[i + 1]) >= 0 &&
        HexValue(host[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(host[i + 1]) * 16 + HexValue(host[i + 2]));
      i += 2;
    } else {
      out += host[i];
    }
  }
  return out;
}

}  // namespace

bool CrackUrl(const std::string& url, CrackedUrl* out) {
  size_t authority = url.find("://");
  if (authority != std::string::npos && url.compare(authority + 3, 1, "/") == 0) return false;
  // Browser mode: characters that cannot stand in a URL (blanks, 8-bit bytes) are escaped
  // rather than refused.
  std::vector<char> canonical(kCanonicalMax);
  DWORD length = kCanonicalMax;
  if (!::InternetCanonicalizeUrlA(url.c_str(), canonical.data(), &length, ICU_BROWSER_MODE)) {
    return false;
  }
  std::string text(canonical.data(), length);

  char scheme[INTERNET_MAX_SCHEME_LENGTH + 1] = {};
  std::vector<char> host(INTERNET_MAX_HOST_NAME_LENGTH + 1);
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszScheme = scheme;
  parts.dwSchemeLength = sizeof scheme;
  parts.lpszHostName = host.data();
  parts.dwHostNameLength = static_cast<DWORD>(host.size());
  if (!::InternetCrackUrlA(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts)) {
    return false;
  }
  CrackedUrl result;
  result.scheme = Lower(std::string(scheme, parts.dwSchemeLength));
  result.server = DecodeHost(std::string(host.data(), parts.dwHostNameLength));
  if (result.scheme.empty() || result.server.empty()) return false;
  if (result.server.size() >= 2 && result.server.front() == '[' && result.server.back() == ']') {
    result.server = result.server.substr(1, result.server.size() - 2);
  }
  result.portNamed = AuthorityNamesPort(text);
  result.port = parts.nPort;
  if (result.portNamed && result.port == 0) return false;
  *out = std::move(result);
  return true;
}

}  // namespace hvurl
