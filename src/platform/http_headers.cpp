#include "platform/http_headers.h"

#include <curl/curl.h>

#include <climits>

namespace hvhttp {
namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view Trim(std::string_view text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// "HTTP/1.1 200 OK" -> 200; 0 when the line carries no three-digit code.
int ParseStatus(std::string_view line) {
  size_t space = line.find(' ');
  if (space == std::string_view::npos) return 0;
  std::string_view rest = line.substr(space + 1);
  if (rest.size() < 3) return 0;
  int code = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (rest[i] < '0' || rest[i] > '9') return 0;
    code = code * 10 + (rest[i] - '0');
  }
  return code;
}

}  // namespace

void ResponseHead::Reset() {
  status_ = 0;
  complete_ = false;
  bytes_ = 0;
  headers_.clear();
}

bool ResponseHead::AddLine(std::string_view line) {
  if (line.substr(0, 5) == "HTTP/") {
    // A new response begins (an interim 1xx or a redirect came before): forget the old head.
    Reset();
    status_ = ParseStatus(line);
    bytes_ = line.size();
    return true;
  }
  bytes_ += line.size();
  if (bytes_ > kMaxHeadBytes) return false;
  if (Trim(line).empty()) {
    complete_ = true;
    return true;
  }
  if ((line[0] == ' ' || line[0] == '\t') && !headers_.empty()) {
    // An obsolete folded continuation belongs to the header before it.
    std::string& value = headers_.back().second;
    std::string_view more = Trim(line);
    if (!value.empty()) value += ' ';
    value.append(more);
    return true;
  }
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return true;
  headers_.emplace_back(std::string(Trim(line.substr(0, colon))),
                        std::string(Trim(line.substr(colon + 1))));
  return true;
}

bool ResponseHead::IsFinal() const {
  if (!complete_) return false;
  if (status_ >= 100 && status_ < 200) return false;
  std::string location;
  if (status_ >= 300 && status_ < 400 && Find("Location", &location) && !location.empty()) {
    return false;
  }
  return true;
}

bool ResponseHead::Find(std::string_view name, std::string* value) const {
  for (const auto& [key, text] : headers_) {
    if (!EqualsIgnoringCase(key, name)) continue;
    if (value != nullptr) *value = text;
    return true;
  }
  return false;
}

bool ResponseHead::ContentLength(int32_t* value) const {
  std::string text;
  if (!Find("Content-Length", &text)) return false;
  return ParseContentLength(text, value);
}

bool ResponseHead::LastModified(int64_t* value) const {
  std::string text;
  if (!Find("Last-Modified", &text) || text.empty()) return false;
  time_t seconds = curl_getdate(text.c_str(), nullptr);
  if (seconds == static_cast<time_t>(-1)) return false;
  if (value != nullptr) *value = static_cast<int64_t>(seconds);
  return true;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool ParseContentLength(std::string_view text, int32_t* value) {
  text = Trim(text);
  if (text.empty()) return false;
  int64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
    if (number > INT32_MAX) return false;
  }
  if (value != nullptr) *value = static_cast<int32_t>(number);
  return true;
}

}  // namespace hvhttp
