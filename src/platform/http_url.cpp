#include "platform/http_url.h"

namespace hvhttp {
namespace {

bool MustEncode(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return true;
  switch (c) {
    case '"':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}': return true;
    default: return false;
  }
}

}  // namespace

std::string EncodeObject(std::string_view object) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(object.size());
  for (char ch : object) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (!MustEncode(c)) {
      out += ch;
      continue;
    }
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
  }
  return out;
}

std::string BuildUrl(std::string_view server, uint16_t port, std::string_view object, bool secure) {
  std::string url = secure ? "https://" : "http://";
  bool ipv6 =
      !server.empty() && server.find(':') != std::string_view::npos && server.front() != '[';
  if (ipv6) url += '[';
  url.append(server);
  if (ipv6) url += ']';
  url += ':';
  url += std::to_string(port);
  url += '/';
  if (!object.empty() && object.front() == '/') object.remove_prefix(1);
  url += EncodeObject(object);
  return url;
}

}  // namespace hvhttp
