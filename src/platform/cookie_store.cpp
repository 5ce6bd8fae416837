#include "platform/cookie_store.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <memory>
#include <utility>

#include "platform/fs.h"

namespace hvhttp {
namespace {

constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Bytes that would break a line of the file or a request header.
bool HasControlBytes(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
  });
}

std::vector<std::string_view> Split(std::string_view s, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t end = s.find(separator);
    parts.push_back(s.substr(0, end));
    if (end == std::string_view::npos) return parts;
    s.remove_prefix(end + 1);
  }
}

bool ParseInt64(std::string_view text, int64_t* value) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return false;
  int64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    // Past the largest value, the number stands for "never" (or "long ago").
    n = n > (std::numeric_limits<int64_t>::max() - 9) / 10 ? std::numeric_limits<int64_t>::max()
                                                           : n * 10 + (c - '0');
  }
  *value = negative ? -n : n;
  return true;
}

// The path part of a request target, "/" first and without the query.
std::string_view TargetPath(std::string_view target) {
  target = target.substr(0, target.find_first_of("?#"));
  return target;
}

std::string AbsolutePath(std::string_view target) {
  std::string_view path = TargetPath(target);
  return path.starts_with("/") ? std::string(path) : "/" + std::string(path);
}

// The folder of a request path, as a cookie without a Path attribute is kept for.
std::string DefaultPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

bool PathMatches(const std::string& cookiePath, const std::string& requestPath) {
  if (!requestPath.starts_with(cookiePath)) return false;
  return requestPath.size() == cookiePath.size() || cookiePath.ends_with("/") ||
         requestPath[cookiePath.size()] == '/';
}

bool DomainMatches(const CookieStore::Cookie& cookie, const std::string& host) {
  if (host == cookie.domain) return true;
  return cookie.subdomains && host.size() > cookie.domain.size() && host.ends_with(cookie.domain) &&
         host[host.size() - cookie.domain.size() - 1] == '.';
}

bool Expired(const CookieStore::Cookie& cookie, int64_t now) {
  return cookie.expires != 0 && cookie.expires <= now;
}

// One line of the file: true with the cookie, false for a line that is no cookie. Comments and
// empty lines are left to the caller.
bool ParseFileLine(std::string_view line, CookieStore::Cookie* cookie) {
  if (line.starts_with(kHttpOnlyPrefix)) {
    cookie->httpOnly = true;
    line.remove_prefix(kHttpOnlyPrefix.size());
  }
  const std::vector<std::string_view> fields = Split(line, '\t');
  if (fields.size() != 7 || fields[0].empty() || HasControlBytes(fields[5]) ||
      HasControlBytes(fields[6])) {
    return false;
  }
  std::string_view domain = fields[0];
  if (domain.starts_with(".")) domain.remove_prefix(1);
  cookie->domain = Lower(domain);
  cookie->subdomains = fields[1] == "TRUE";
  cookie->path = fields[2].empty() ? "/" : std::string(fields[2]);
  cookie->secure = fields[3] == "TRUE";
  if (!ParseInt64(fields[4], &cookie->expires)) return false;
  if (cookie->expires < 0) cookie->expires = 1;  // long gone, not a session cookie
  cookie->name = std::string(fields[5]);
  cookie->value = std::string(fields[6]);
  return !cookie->domain.empty();
}

std::string FileLine(const CookieStore::Cookie& cookie) {
  std::string line;
  if (cookie.httpOnly) line += kHttpOnlyPrefix;
  if (cookie.subdomains) line += '.';
  line += cookie.domain;
  line += cookie.subdomains ? "\tTRUE\t" : "\tFALSE\t";
  line += cookie.path;
  line += cookie.secure ? "\tTRUE\t" : "\tFALSE\t";
  line += std::to_string(cookie.expires);
  line += '\t' + cookie.name + '\t' + cookie.value + '\n';
  return line;
}

bool IsIpAddress(const std::string& host) {
  return host.find(':') != std::string::npos || std::all_of(host.begin(), host.end(), [](char c) {
           return c == '.' || (c >= '0' && c <= '9');
         });
}

}  // namespace

CookieStore::CookieStore(std::string path, DateReader readDate)
    : path_(std::move(path)), readDate_(std::move(readDate)) {}

bool CookieStore::Load(int64_t now) {
  hvfs::FileInfo info;
  if (!hvfs::GetFileInfo(path_, &info)) return true;  // made by the first Save
  if (info.isDirectory || !hvfs::CanOpenForReading(path_)) return false;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return false;
  std::vector<Cookie> loaded;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || (line.front() == '#' && !line.starts_with(kHttpOnlyPrefix))) continue;
    Cookie cookie;
    if (!ParseFileLine(line, &cookie)) return false;
    loaded.push_back(std::move(cookie));
  }
  if (in.bad()) return false;
  hvthread::LockGuard<hvthread::Mutex> lock(mutex_);
  for (Cookie& cookie : loaded) {
    // The user's own cookies are all kept: the bounds are for what servers set.
    if (!Expired(cookie, now)) Put(std::move(cookie), now, /*bounded=*/false);
  }
  return true;
}

bool CookieStore::Save(int64_t now) {
  std::string text = "# Netscape HTTP Cookie File\n";
  for (const Cookie& cookie : Cookies()) {
    if (!Expired(cookie, now)) text += FileLine(cookie);
  }
  hvthread::LockGuard<hvthread::Mutex> lock(saving_);
  auto file = std::make_unique<hvfs::OutputFile>();
  return file->Open(path_) && file->Write(text.data(), text.size()) && file->Commit(false, 0);
}

std::string CookieStore::HeaderFor(std::string_view host, std::string_view target, bool secure,
                                   int64_t now) {
  const std::string name = Lower(host);
  const std::string path = AbsolutePath(target);
  std::vector<const Cookie*> matching;
  hvthread::LockGuard<hvthread::Mutex> lock(mutex_);
  for (const Cookie& cookie : cookies_) {
    if (DomainMatches(cookie, name) && PathMatches(cookie.path, path) &&
        (secure || !cookie.secure) && !Expired(cookie, now)) {
      matching.push_back(&cookie);
    }
  }
  std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
    return a->path.size() != b->path.size() ? a->path.size() > b->path.size() : a->order < b->order;
  });
  std::string header;
  for (const Cookie* cookie : matching) {
    if (!header.empty()) header += "; ";
    header += cookie->name.empty() ? cookie->value : cookie->name + "=" + cookie->value;
  }
  return header;
}

void CookieStore::Take(std::string_view setCookie, std::string_view host, std::string_view target,
                       bool secure, int64_t now) {
  std::vector<std::string_view> parts = Split(setCookie, ';');
  const size_t equals = parts[0].find('=');
  if (equals == std::string_view::npos) return;
  Cookie cookie;
  cookie.name = std::string(Trim(parts[0].substr(0, equals)));
  cookie.value = std::string(Trim(parts[0].substr(equals + 1)));
  if (cookie.name.empty() || cookie.name.find('\t') != std::string::npos ||
      HasControlBytes(cookie.name) || HasControlBytes(cookie.value) ||
      cookie.name.size() + cookie.value.size() > kMaxCookieBytes) {
    return;
  }
  const std::string requestHost = Lower(host);
  const std::string requestPath = AbsolutePath(target);
  cookie.domain = requestHost;
  cookie.path = DefaultPath(requestPath);
  bool haveMaxAge = false;
  for (size_t i = 1; i < parts.size(); ++i) {
    const size_t eq = parts[i].find('=');
    const std::string key = Lower(Trim(parts[i].substr(0, eq)));
    const std::string_view value =
        eq == std::string_view::npos ? std::string_view() : Trim(parts[i].substr(eq + 1));
    if (key == "max-age") {
      int64_t seconds = 0;
      if (!ParseInt64(value, &seconds)) continue;
      haveMaxAge = true;
      cookie.expires = seconds <= 0 ? 1
                       : seconds > std::numeric_limits<int64_t>::max() - now
                           ? std::numeric_limits<int64_t>::max()
                           : now + seconds;
    } else if (key == "expires" && !haveMaxAge) {
      int64_t when = 0;
      if (readDate_ && readDate_(std::string(value), &when)) cookie.expires = when > 0 ? when : 1;
    } else if (key == "domain" && !value.empty()) {
      std::string domain = Lower(value.starts_with(".") ? value.substr(1) : value);
      const bool own = domain == requestHost;
      const bool above = !IsIpAddress(requestHost) && domain.find('.') != std::string::npos &&
                         requestHost.size() > domain.size() && requestHost.ends_with(domain) &&
                         requestHost[requestHost.size() - domain.size() - 1] == '.';
      if (!own && !above) return;  // a cookie for a site the answer does not come from
      cookie.domain = std::move(domain);
      cookie.subdomains = true;
    } else if (key == "path") {
      if (value.starts_with("/") && !HasControlBytes(value) &&
          value.find('\t') == std::string_view::npos) {
        cookie.path = std::string(value);
      }
    } else if (key == "secure") {
      cookie.secure = true;
    } else if (key == "httponly") {
      cookie.httpOnly = true;
    }
  }
  if (cookie.secure && !secure) return;
  hvthread::LockGuard<hvthread::Mutex> lock(mutex_);
  Put(std::move(cookie), now, /*bounded=*/true);
}

void CookieStore::Put(Cookie cookie, int64_t now, bool bounded) {
  auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& old) {
    return old.name == cookie.name && old.domain == cookie.domain && old.path == cookie.path;
  });
  if (Expired(cookie, now)) {  // how a server deletes a cookie
    if (same != cookies_.end()) cookies_.erase(same);
    return;
  }
  if (same != cookies_.end()) {
    cookie.order = same->order;
    *same = std::move(cookie);
    return;
  }
  const size_t ofDomain =
      static_cast<size_t>(std::count_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
        return c.domain == cookie.domain;
      }));
  if (bounded && (cookies_.size() >= kMaxCookies || ofDomain >= kMaxPerDomain)) return;
  cookie.order = nextOrder_++;
  cookies_.push_back(std::move(cookie));
}

std::vector<CookieStore::Cookie> CookieStore::Cookies() const {
  hvthread::LockGuard<hvthread::Mutex> lock(mutex_);
  return cookies_;
}

}  // namespace hvhttp
