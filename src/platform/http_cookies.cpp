#include "platform/http_cookies.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "platform/http.h"

namespace hvhttp {
namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;

// True when every line is empty, a comment, or a cookie of seven tab-separated fields: the file
// is written back over itself, so a file of anything else (a page saved by mistake) is refused
// rather than replaced.
bool LooksLikeCookieFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '#') continue;
    if (std::count(line.begin(), line.end(), '\t') != 6) return false;
  }
  return !in.bad();
}

}  // namespace

CookieJar::CookieJar(std::string path) : path_(std::move(path)), share_(curl_share_init()) {
  if (share_ == nullptr) {
    throw CInternetException(CInternetException::kOther, "cannot create the cookie jar");
  }
  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CookieJar::Lock);
  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CookieJar::Unlock);
  curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
}

CookieJar::~CookieJar() {
  curl_share_cleanup(share_);
}

void CookieJar::Lock(CURL* /*easy*/, curl_lock_data data, curl_lock_access /*access*/, void* self) {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) static_cast<CookieJar*>(self)->locks_[data].lock();
}

void CookieJar::Unlock(CURL* /*easy*/, curl_lock_data data, void* self) {
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) {
    static_cast<CookieJar*>(self)->locks_[data].unlock();
  }
}

bool CookieJar::Load() {
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) return errno == ENOENT;
  int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  ::close(fd);
  if (!S_ISREG(st.st_mode) || !LooksLikeCookieFile(path_)) return false;
  EasyPtr easy(curl_easy_init());
  if (!easy) return false;
  curl_easy_setopt(easy.get(), CURLOPT_SHARE, share_);
  curl_easy_setopt(easy.get(), CURLOPT_COOKIEFILE, path_.c_str());
  // Reads the files named so far into the jar now rather than at the handle's first request.
  return curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, "RELOAD") == CURLE_OK;
}

void CookieJar::Save() {
  std::lock_guard<std::mutex> lock(saving_);
  EasyPtr easy(curl_easy_init());
  if (!easy) return;
  curl_easy_setopt(easy.get(), CURLOPT_SHARE, share_);
  curl_easy_setopt(easy.get(), CURLOPT_COOKIEJAR, path_.c_str());
  curl_easy_setopt(easy.get(), CURLOPT_COOKIELIST, "FLUSH");
  // Without a jar file left set, the clean-up does not write it a second time.
  curl_easy_setopt(easy.get(), CURLOPT_COOKIEJAR, static_cast<char*>(nullptr));
}

void CookieJar::Attach(CURL* easy) {
  curl_easy_setopt(easy, CURLOPT_SHARE, share_);
  // An empty name turns the cookie engine on without reading a file: the jar is loaded once.
  curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "");
}

}  // namespace hvhttp
