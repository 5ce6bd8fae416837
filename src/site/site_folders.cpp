// Start URL and local folders of a site.
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/url.h"
#include "site/site.h"

namespace {

constexpr size_t kParsedUrlLength = 255;

// Appends "/" to a path whose last component has no extension (its last "." is not after its
// last "/", or is its very first character) and that does not end with "/" already.
void AppendSlashToFolderPath(std::string* path) {
  if (path->empty() || cp932::EndsWithChar(*path, '/')) return;
  size_t d = cp932::FindLast(*path, '.');
  size_t s = cp932::FindLast(*path, '/');
  bool hasExtension = d != cp932::npos && d > 0 && (s == cp932::npos || d > s);
  if (!hasExtension) *path += '/';
}

// Where the authority (user information, host, port) of an absolute URL ends: the position of
// the first "/", "?" or "#" after "scheme://", or the end of the text.
size_t AuthorityEnd(std::string_view url) {
  size_t start = url.find("://");
  start = (start == std::string_view::npos) ? 0 : start + 3;
  size_t end = url.find_first_of("/?#", start);
  return end == std::string_view::npos ? url.size() : end;
}

// The server name becomes one folder below the save root. A name made only of dots would be the
// root itself or a folder above it, and one that ends with a lone lead byte would take the "/"
// after it for its trail byte, so that every folder rule would lose the site folder's end.
bool IsFolderName(std::string_view server) {
  if (server.find_first_not_of('.') == std::string_view::npos) return false;
  size_t last = 0;
  for (size_t i = 0; i < server.size(); i += cp932::CharLength(server, i)) last = i;
  const bool loneLeadByte = cp932::CharLength(server, last) == 1 &&
                            cp932::IsLeadByte(static_cast<unsigned char>(server[last]));
  return !loneLeadByte;
}

// A site folder: the root, a "/" unless it ends with one, the server name and a "/".
std::string SiteFolder(const char* root, const std::string& server) {
  if (root == nullptr || *root == '\0') return "";
  std::string folder(root);
  if (!cp932::EndsWithChar(folder, '/')) folder += '/';
  folder += server;
  folder += '/';
  return folder;
}

}  // namespace

int KtWdlSite::SetUrl(const char* url) {
  if (url == nullptr) return -1;
  std::string_view whole(url);
  hvurl::CrackedUrl cracked;
  if (!hvurl::CrackUrl(std::string(whole.substr(0, kParsedUrlLength)), &cracked)) return -1;
  if (cracked.server.empty() || !IsFolderName(cracked.server)) return -1;
  m_Server = cracked.server;
  m_Port = cracked.port;
  m_StartScheme = cracked.scheme;
  bool defaultPort =
      (cracked.scheme == "http" && m_Port == 80) || (cracked.scheme == "https" && m_Port == 443);
  m_ServerAddress = m_Server;
  if (cracked.portNamed && !defaultPort) m_ServerAddress += ":" + std::to_string(m_Port);

  // The start path is the whole URL's text after its authority and the one character that ends
  // it (normally the "/" of the path), so that a port or user information never ends up in it.
  size_t end = AuthorityEnd(whole);
  m_StartPath = end + 1 < whole.size() ? std::string(whole.substr(end + 1)) : std::string();
  AppendSlashToFolderPath(&m_StartPath);
  return 0;
}

int KtWdlSite::SetSaveFolder(const char* root) {
  m_SaveFolder = SiteFolder(root, m_Server);
  return 0;
}

int KtWdlSite::SetCompareFolder(const char* root) {
  m_CompareFolder = SiteFolder(root, m_Server);
  return 0;
}

std::string PageFolder(const std::string& siteFolder, const std::string& urlPath) {
  std::string folder = siteFolder + urlPath;
  size_t e = cp932::FindLast(folder, '/');
  size_t d = cp932::FindLast(folder, '.');
  if (d != cp932::npos && d > 0 && (e == cp932::npos || d > e)) {
    folder.erase(e == cp932::npos ? 0 : e + 1);
  } else if (!cp932::EndsWithChar(folder, '/')) {
    folder += '/';
  }
  return folder;
}
