#include "platform/http_url.h"

#include <fstream>
#include <utility>
#include <vector>

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

// Characters of a header name (an HTTP token).
bool IsTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
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

bool ParseHeaderLine(const std::string& line, std::pair<std::string, std::string>* header) {
  size_t colon = line.find(':');
  if (colon == 0 || colon == std::string::npos) return false;
  for (size_t i = 0; i < colon; ++i) {
    if (!IsTokenChar(static_cast<unsigned char>(line[i]))) return false;
  }
  for (size_t i = colon + 1; i < line.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(line[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
  }
  std::string value = line.substr(colon + 1);
  size_t first = value.find_first_not_of(" \t");
  size_t last = value.find_last_not_of(" \t");
  value = first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
  *header = {line.substr(0, colon), std::move(value)};
  return true;
}

bool ParseHeaderLines(const std::vector<std::string>& lines,
                      std::vector<std::pair<std::string, std::string>>* headers) {
  std::vector<std::pair<std::string, std::string>> parsed;
  for (const std::string& line : lines) {
    std::pair<std::string, std::string> header;
    if (!ParseHeaderLine(line, &header)) return false;
    parsed.push_back(std::move(header));
  }
  *headers = std::move(parsed);
  return true;
}

bool HoldsPemCertificate(const std::string& path) {
  constexpr std::streamoff kMaxBytes = 16 * 1024 * 1024;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (in.tellg() >= 0 && in.tellg() < kMaxBytes && std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "-----BEGIN CERTIFICATE-----") return true;
  }
  return false;
}

}  // namespace hvhttp
