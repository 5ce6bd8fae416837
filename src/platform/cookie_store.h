// A cookie jar kept by the library itself, for a transport whose own cookie store is not a file
// of the session's (WinInet keeps cookies in the user's store): a Netscape-format cookie file is
// read into it, requests get a Cookie header from it, the Set-Cookie headers of their answers
// go into it, and it is written back in the same format.
//
// The file format is the one browsers export and libcurl reads and writes: seven tab-separated
// fields per line (domain, subdomains TRUE/FALSE, path, secure TRUE/FALSE, expiry in seconds
// since 1970 with 0 for a session cookie, name, value); a domain written "#HttpOnly_domain"
// marks an HttpOnly cookie; other lines starting with "#" and empty lines are comments.
// Set-Cookie is read as browsers read it: Expires and Max-Age (which wins), Domain (only the
// request's host or a domain above it, never a bare top label), Path (the request's folder when
// missing), Secure (kept only from https, sent only over https) and HttpOnly.
#ifndef HARVO_PLATFORM_COOKIE_STORE_H
#define HARVO_PLATFORM_COOKIE_STORE_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mutex.h"

namespace hvhttp {

class CookieStore {
 public:
  // Reads an HTTP date ("Wed, 21 Oct 2026 07:28:00 GMT" and the older forms) into seconds since
  // 1970; false when the text is no date. The transport's own reader is used.
  using DateReader = std::function<bool(const std::string& text, int64_t* seconds)>;

  // The most a server may put in the jar: cookies of a name and value longer than this are
  // dropped, as are new cookies past the per-domain and total counts (browsers keep at least
  // these many). The cookies of the file are all kept.
  static constexpr size_t kMaxCookieBytes = 4096;
  static constexpr size_t kMaxPerDomain = 50;
  static constexpr size_t kMaxCookies = 3000;

  CookieStore(std::string path, DateReader readDate);

  // Reads the file. A missing file is an empty jar (Save makes it); false when the path is a
  // folder, cannot be read, or holds a line that is neither a comment nor a cookie: the file is
  // written back over itself, so anything else (a page saved by mistake) is refused untouched.
  bool Load(int64_t now);
  // Writes every cookie that has not expired, session cookies too, through a temporary file
  // renamed into place. False when the file cannot be written (the earlier file then stays).
  bool Save(int64_t now);

  // The Cookie header value for a request to host (as the URL names it) and path (the request
  // target, a query allowed), over https or not; empty when no cookie matches. Longer paths
  // first, then older cookies first.
  std::string HeaderFor(std::string_view host, std::string_view target, bool secure, int64_t now);
  // Takes one Set-Cookie header of the answer to a request for host and target.
  void Take(std::string_view setCookie, std::string_view host, std::string_view target, bool secure,
            int64_t now);

  const std::string& path() const { return path_; }

  struct Cookie {
    std::string domain;  // lower case, without a leading "."
    bool subdomains = false;
    std::string path;
    bool secure = false;
    bool httpOnly = false;
    int64_t expires = 0;  // 0: a session cookie
    std::string name, value;
    uint64_t order = 0;  // when the cookie was first set; a replacement keeps it
  };
  // A copy of the jar's cookies, in the order they were first set.
  std::vector<Cookie> Cookies() const;

 private:
  // Adds or replaces a cookie (or deletes it, when it has expired); bounded applies the limits
  // on what servers set.
  void Put(Cookie cookie, int64_t now, bool bounded) REQUIRES(mutex_);

  const std::string path_;
  const DateReader readDate_;
  mutable hvthread::Mutex mutex_;
  std::vector<Cookie> cookies_ GUARDED_BY(mutex_);
  uint64_t nextOrder_ GUARDED_BY(mutex_) = 0;
  hvthread::Mutex saving_;  // one writer of the file at a time
};

}  // namespace hvhttp

#endif  // HARVO_PLATFORM_COOKIE_STORE_H
