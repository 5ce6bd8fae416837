// The cookie jar of an internet session: a Netscape-format cookie file loaded once, shared by
// every request of the session (whatever connection or thread it runs on) and written back
// with the cookies the servers set.
#ifndef HARVO_PLATFORM_HTTP_COOKIES_H
#define HARVO_PLATFORM_HTTP_COOKIES_H

#include <curl/curl.h>

#include <mutex>
#include <string>

namespace hvhttp {

class CookieJar {
 public:
  // Throws CInternetException when libcurl cannot make the shared jar.
  explicit CookieJar(std::string path);
  ~CookieJar();
  CookieJar(const CookieJar&) = delete;
  CookieJar& operator=(const CookieJar&) = delete;

  // Reads the file into the jar. A missing file is an empty jar (it is made by Save); false
  // when the path exists but cannot be read as a file or holds lines that are no cookies.
  bool Load();
  // Writes every cookie of the jar to the file (libcurl writes a temporary file and renames
  // it into place). Thread-safe.
  void Save();
  // Makes the easy handle send the jar's cookies and keep the ones its responses set.
  void Attach(CURL* easy);

  const std::string& path() const { return path_; }

 private:
  static void Lock(CURL* easy, curl_lock_data data, curl_lock_access access, void* self);
  static void Unlock(CURL* easy, curl_lock_data data, void* self);

  std::string path_;
  CURLSH* share_ = nullptr;
  std::mutex locks_[CURL_LOCK_DATA_LAST];  // one per kind of shared data libcurl locks
  std::mutex saving_;                      // one writer of the file at a time
};

}  // namespace hvhttp

#endif  // HARVO_PLATFORM_HTTP_COOKIES_H
