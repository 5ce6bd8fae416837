// Link values found in a page: which ones the crawl follows, and how each is rewritten so that
// the saved copy browses locally.
#include <string>
#include <string_view>

#include "fetch/fetcher.h"
#include "platform/codepage.h"
#include "site/site.h"

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The folder of the start page: the start path itself when it names a folder (it then ends
// with "/" or is empty), else the part up to its last "/". Absolute links are followed when they
// lie below it, whether the start URL named the folder or a file in it.
std::string StartFolder(const std::string& startPath) {
  if (startPath.empty() || cp932::EndsWithChar(startPath, '/')) return startPath;
  size_t slash = cp932::FindLast(startPath, '/');
  return slash == cp932::npos ? std::string() : startPath.substr(0, slash + 1);
}

// "../" for each folder between a page's folder and the site root ("/" is the root itself).
std::string UpToSiteRoot(const std::string& urlDirectory) {
  std::string up;
  if (urlDirectory == "/") return up;
  for (size_t i = 0; i < urlDirectory.size(); i += cp932::CharLength(urlDirectory, i)) {
    if (urlDirectory[i] == '/') up += "../";
  }
  return up;
}

}  // namespace

void KtWdlFetcher::ReportLink(const std::string& path, KtWdlLinkList* links, int depth) {
  m_Site->AddUrl(path.c_str(), links, depth);
}

// A link to a directory is saved as that directory's index file, so the value gets the index
// name appended. directory is the server directory the link names.
void KtWdlFetcher::AppendIndexName(std::string_view tested, const std::string& directory) {
  if (!tested.empty() && !cp932::EndsWithChar(tested, '/')) return;
  // An earlier copy's links are only read; its folder links carry their index names already.
  if (m_ScanningCopy) return;
  std::string name = FindIndexName(directory);
  if (!name.empty()) m_Token += name;
}

int KtWdlFetcher::ProcessLink(KtWdlLinkList* links, int depth) {
  // A view: the token is only rewritten (by the index step) after its last use here.
  const std::string_view t = m_Token;
  if (!t.empty() && t[0] == '/') return 0;
  // Absolute links of the site's own scheme may name the site; the other scheme never does.
  const bool secure = m_Site->IsSecure();
  if (cp932::StartsWithNoCase(t, "https://")) return secure ? ResolveSiteLink(links, depth) : 0;
  if (cp932::StartsWithNoCase(t, "http://")) return secure ? 0 : ResolveSiteLink(links, depth);
  for (const char* scheme : {"ftp://", "file://", "mailto:", "javascript:"}) {
    if (cp932::StartsWithNoCase(t, scheme)) return 0;
  }
  if (!t.empty() && t[0] == '.') return ResolveDotLink(links, depth);
  std::string path = m_UrlDirectory;
  path += t;
  ReportLink(path, links, depth);
  AppendIndexName(t, path);
  return 0;
}

int KtWdlFetcher::ResolveDotLink(KtWdlLinkList* links, int depth) {
  const std::string t = m_Token;
  std::string directory = m_UrlDirectory;
  std::string rest;  // the part of t below the directory it climbed to
  if (StartsWith(t, "./")) {
    rest = t.substr(2);
    ReportLink(directory + rest, links, depth);
  } else if (StartsWith(t, "../")) {
    size_t i = 0;
    while (i < t.size() && t.compare(i, 3, "../") == 0) {
      i += 3;
      size_t p = cp932::FindLast(directory, '/');
      if (p == cp932::npos || p == 0) {
        directory.clear();
        break;
      }
      directory.erase(p);
      size_t q = cp932::FindLast(directory, '/');
      if (q == cp932::npos || q == 0) {
        directory.clear();
        break;
      }
      directory.erase(q + 1);
    }
    if (i < t.size() && t.compare(i, 3, "../") != 0) {
      rest = t.substr(i);
      ReportLink(directory + rest, links, depth);
    }
  }
  AppendIndexName(t, directory + rest);
  return 0;
}

int KtWdlFetcher::ResolveSiteLink(KtWdlLinkList* links, int depth) {
  std::string t = m_Token;
  const std::string scheme = std::string(m_Site->GetLinkScheme()) + "://";
  const std::string server = scheme + m_Site->GetServerAddress();
  const std::string startUrl = server + "/" + StartFolder(m_Site->GetStartPath());
  const std::string rootUrl = server + "/";
  std::string pageUrl = server + "/" + m_UrlDirectory;

  // A link that names only the server ("http://host", "http://host:8080") names its root; the
  // dots of a host name are no file extension.
  if (cp932::FindFirst(t, '/', scheme.size()) == cp932::npos) t += '/';
  std::string s = t;
  size_t lastSlash = cp932::FindLast(s, '/');
  size_t lastDot = cp932::FindLast(s, '.');
  bool dotAfterSlash = lastDot != cp932::npos && (lastSlash == cp932::npos || lastDot > lastSlash);
  if (!dotAfterSlash && !cp932::EndsWithChar(s, '/')) s += '/';

  // The link must lie in the start area, on the same server: same host and port, so the text
  // after the server ends there or goes on with "/".
  if (!cp932::StartsWithNoCase(t, std::string_view(startUrl).substr(0, startUrl.size() - 1))) {
    return 0;
  }
  if (t.size() > server.size() && t[server.size()] != '/') return 0;

  std::string serverPath = t.size() > rootUrl.size() ? t.substr(rootUrl.size()) : "/";
  ReportLink(serverPath, links, depth);

  if (s.find(startUrl) != std::string::npos) s.erase(0, startUrl.size());
  const bool pageInStartArea = pageUrl.find(startUrl) != std::string::npos;
  if (pageInStartArea) pageUrl.erase(0, startUrl.size());

  std::string rewritten;
  if (!pageInStartArea) {
    // A page outside the start folder (reached through a relative link): climb from its folder
    // to the site root, then go down the link's server path.
    // (The site keeps the path without one leading "/".)
    rewritten = UpToSiteRoot(m_UrlDirectory);
    rewritten += std::string_view(serverPath).substr(StartsWith(serverPath, "/") ? 1 : 0);
  } else if (!pageUrl.empty()) {
    for (size_t i = 1; i < pageUrl.size(); i += cp932::CharLength(pageUrl, i)) {
      if (pageUrl[i] == '/') rewritten += "../";
    }
    if (s.size() > 1) rewritten += s;
  } else {
    rewritten = s.empty() ? "./" : s;
  }
  m_Token = rewritten;
  AppendIndexName(serverPath, serverPath);
  return 0;
}
