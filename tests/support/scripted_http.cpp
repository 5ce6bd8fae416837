#include "support/scripted_http.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

constexpr size_t kPage = 4096;
constexpr size_t kStamp = 16;  // "%015llu\n"

// The part of every page after its stamp: lines of 63 letters and a line feed.
const std::string& PageFiller() {
  static const std::string filler = [] {
    std::string text(kPage - kStamp, 'x');
    for (size_t i = 0; i < text.size(); ++i) {
      text[i] = (i % 64 == 63) ? '\n' : static_cast<char>('a' + (i * 7 + i / 64) % 26);
    }
    return text;
  }();
  return filler;
}

void PageStamp(uint64_t pageOffset, char out[kStamp + 1]) {
  // Offsets stay far below 10^15, so the stamp always has its fixed width.
  char text[32];
  std::snprintf(text, sizeof(text), "%015llu\n", static_cast<unsigned long long>(pageOffset));
  std::memcpy(out, text, kStamp);
  out[kStamp] = '\0';
}

}  // namespace

std::optional<std::string> ScriptedRequest::Header(std::string_view name) const {
  for (const HttpField& field : headers) {
    if (SameName(field.name, name)) return field.value;
  }
  return std::nullopt;
}

size_t ScriptedRequest::HeaderCount(std::string_view name) const {
  return static_cast<size_t>(std::count_if(
      headers.begin(), headers.end(), [&](const HttpField& f) { return SameName(f.name, name); }));
}

ScriptedResponse ScriptedResponse::Ok(std::string body) {
  return Status(200, std::move(body));
}

ScriptedResponse ScriptedResponse::Status(int status, std::string body) {
  ScriptedResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

ScriptedResponse ScriptedResponse::Generated(uint64_t length) {
  ScriptedResponse response;
  response.generatedLength = length;
  return response;
}

ScriptedResponse ScriptedResponse::Endless() {
  ScriptedResponse response;
  response.endless = true;
  response.contentLength = false;
  return response;
}

ScriptedResponse ScriptedResponse::Raw(std::string bytes) {
  ScriptedResponse response;
  response.raw = std::move(bytes);
  return response;
}

ScriptedResponse ScriptedResponse::Redirect(std::string location, int status) {
  ScriptedResponse response = Status(status, "moved\n");
  response.Header("Location", std::move(location));
  return response;
}

ScriptedResponse& ScriptedResponse::Header(std::string name, std::string value) {
  headers.push_back({std::move(name), std::move(value)});
  return *this;
}

ScriptedResponse& ScriptedResponse::LastModified(int64_t seconds) {
  return Header("Last-Modified", HttpDate(seconds));
}

ScriptedResponse& ScriptedResponse::NoContentLength() {
  contentLength = false;
  return *this;
}

ScriptedResponse& ScriptedResponse::AnnounceLength(uint64_t length) {
  announcedLength = length;
  return *this;
}

ScriptedResponse& ScriptedResponse::Close() {
  keepAlive = false;
  return *this;
}

ScriptedResponse& ScriptedResponse::StallBeforeStatus() {
  stallBeforeStatus = true;
  return *this;
}

ScriptedResponse& ScriptedResponse::StallAfter(uint64_t bodyBytes) {
  stallAfter = bodyBytes;
  return *this;
}

ScriptedResponse& ScriptedResponse::ResetInHeaders() {
  resetInHeaders = true;
  return *this;
}

ScriptedResponse& ScriptedResponse::ResetAfter(uint64_t bodyBytes) {
  resetAfter = bodyBytes;
  return *this;
}

ScriptedResponse& ScriptedResponse::Paced(size_t bytes, std::chrono::milliseconds delay) {
  pieceBytes = bytes;
  pieceDelay = delay;
  return *this;
}

std::optional<uint64_t> ScriptedResponse::BodyLength() const {
  if (endless) return std::nullopt;
  if (generatedLength) return *generatedLength;
  return body.size();
}

namespace GeneratedBody {

void Fill(uint64_t offset, char* out, size_t count) {
  const std::string& filler = PageFiller();
  while (count > 0) {
    uint64_t page = offset - offset % kPage;
    size_t within = static_cast<size_t>(offset - page);
    size_t take = std::min(count, kPage - within);
    if (within < kStamp) {
      char stamp[kStamp + 1];
      PageStamp(page, stamp);
      size_t fromStamp = std::min(take, kStamp - within);
      std::memcpy(out, stamp + within, fromStamp);
      std::memcpy(out + fromStamp, filler.data(), take - fromStamp);
    } else {
      std::memcpy(out, filler.data() + (within - kStamp), take);
    }
    out += take;
    offset += take;
    count -= take;
  }
}

bool Matches(uint64_t offset, const char* data, size_t count) {
  char expected[kPage];
  while (count > 0) {
    size_t take = std::min(count, kPage);
    Fill(offset, expected, take);
    if (std::memcmp(expected, data, take) != 0) return false;
    data += take;
    offset += take;
    count -= take;
  }
  return true;
}

}  // namespace GeneratedBody

std::string HttpDate(int64_t seconds) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t t = static_cast<time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday],
                tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return text;
}
