// Response-head bookkeeping for the HTTP layer: the status line and header lines of the response
// being received, reset at every new status line so that only the final response is kept, and
// the conversions of the values the callers query.
#ifndef HARVO_PLATFORM_HTTP_HEADERS_H
#define HARVO_PLATFORM_HTTP_HEADERS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hvhttp {

class ResponseHead {
 public:
  // Feeds one header line as libcurl delivers it (line end included). False when the head
  // grew beyond kMaxHeadBytes: the transfer must then fail rather than keep collecting.
  bool AddLine(std::string_view line);
  void Reset();

  static constexpr size_t kMaxHeadBytes = 256 * 1024;

  int status() const { return status_; }
  // True once the empty line that ends a head was seen (for the current head).
  bool complete() const { return complete_; }
  // True when the head is complete and libcurl will not go on to another response: not an
  // interim 1xx, not a 3xx that names a new location.
  bool IsFinal() const;

  // First header of the name (ignoring case); its value without surrounding blanks.
  bool Find(std::string_view name, std::string* value) const;
  // Content-Length as a non-negative number that fits in int32.
  bool ContentLength(int32_t* value) const;
  // Last-Modified as seconds since 1970 (UTC).
  bool LastModified(int64_t* value) const;

 private:
  int status_ = 0;
  bool complete_ = false;
  size_t bytes_ = 0;
  std::vector<std::pair<std::string, std::string>> headers_;
};

// ASCII comparison ignoring letter case, as header names are compared.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Parses a whole-number text of decimal digits (blanks around allowed) that fits in int32.
bool ParseContentLength(std::string_view text, int32_t* value);

}  // namespace hvhttp

#endif  // HARVO_PLATFORM_HTTP_HEADERS_H
