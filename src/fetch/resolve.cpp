// Link values found in a page: which ones the crawl follows, and how each is rewritten so that
// the saved copy browses locally.
#include <string>
#include <string_view>

#include "fetch/fetcher.h"
#include "harvo.h"
#include "platform/codepage.h"
#include "site/query_name.h"
#include "site/site.h"
#include "util/fileutil.h"

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
  m_LinkReported = true;
  m_ReportedPath = path + m_LinkQuery;
  m_Site->AddUrl(m_ReportedPath.c_str(), links, depth);
}

std::string KtWdlFetcher::SiteOrigin() const {
  return std::string(m_Site->GetLinkScheme()) + "://" + m_Site->GetServerAddress();
}

// A link to a directory is saved as that directory's index file, so the value gets the index
// name appended. directory is the server directory the link names.
void KtWdlFetcher::AppendIndexName(std::string_view tested, const std::string& directory) {
  if (!tested.empty() && !cp932::EndsWithChar(tested, '/')) return;
  // An earlier copy's links are only read; its folder links carry their index names already.
  if (m_ScanningCopy) return;
  // A folder's query page is saved under a name of its own (ResolveQueryLink).
  if (!m_LinkQuery.empty()) return;
  std::string name = FindIndexName(directory);
  if (!name.empty()) m_Token += name;
}

int KtWdlFetcher::ProcessLink(KtWdlLinkList* links, int depth) {
  // The query part of a link and the link in single quotes are decided by their own inner
  // call.
  const bool inner = !m_LinkQuery.empty() || IsSingleQuoted();
  if (inner || m_Site->HasOption(HVR_OPT_REMOTE_LINKS) == 0) return DispatchLink(links, depth);
  const std::string original = m_Token;
  m_ReportedPath.clear();
  DispatchLink(links, depth);
  std::string remote = RemoteUrl(original);
  if (!remote.empty()) m_Token = std::move(remote);
  return 0;
}

bool KtWdlFetcher::IsSingleQuoted() const {
  return !m_Unquoting && m_Token.size() >= 2 && m_Token.front() == '\'' && m_Token.back() == '\'' &&
         m_Site->HasOption(HVR_OPT_MORE_LINKS) == 1;
}

std::string KtWdlFetcher::RemoteUrl(const std::string& original) const {
  if (m_LinkReported) {
    if (WillBeCopied(m_ReportedPath)) return {};
    return SiteOrigin() + "/" + m_Site->ListedForm(m_ReportedPath.c_str());
  }
  // A link that is not followed at all: what it names on the page's server, when it is a path
  // there.
  if (StartsWith(original, "//")) return std::string(m_Site->GetLinkScheme()) + ":" + original;
  if (StartsWith(original, "/")) return SiteOrigin() + original;
  size_t climbs = 0;
  while (original.compare(climbs, 3, "../") == 0) climbs += 3;
  // Climbing above the root ends at the root, as a browser takes it.
  if (climbs > 0 && climbs < original.size()) return SiteOrigin() + "/" + original.substr(climbs);
  return {};
}

bool KtWdlFetcher::WillBeCopied(const std::string& path) const {
  const std::string listed = m_Site->ListedForm(path.c_str());
  if (m_AwaitFile) m_AwaitFile(listed);
  if (m_Site->IsListed(listed.c_str()) == 0 || m_Site->IsFailed(listed.c_str()) == 1) return false;
  const int maxDirDepth = m_Site->GetMaxDirDepth();
  const std::string folderPath(m_Site->PathWithoutQuery(listed));
  if (maxDirDepth != -1 && CountOccurrences(folderPath.c_str(), "/") >= maxDirDepth) return false;
  return !IsRefusedByServerRules(listed);
}

bool KtWdlFetcher::IsRefusedByServerRules(const std::string& path) const {
  // A path that robots.txt disallows is never requested, so its link keeps its absolute URL.
  return m_Site->IsDisallowed(path);
}

int KtWdlFetcher::DispatchLink(KtWdlLinkList* links, int depth) {
  // A view: the token is only rewritten (by the index step) after its last use here.
  const std::string_view t = m_Token;
  m_LinkReported = false;
  if (IsSingleQuoted()) {
    // A value in single quotes: the link is what they enclose (taken as it is, quotes or not).
    m_Unquoting = true;
    std::string inner = ResolveFoundLink(t.substr(1, t.size() - 2), links, depth);
    m_Unquoting = false;
    m_Token = "'" + inner + "'";
    return 0;
  }
  if (m_LinkQuery.empty() && m_Site->HasOption(HVR_OPT_QUERY_PAGES) == 1 &&
      t.find('?') != std::string_view::npos) {
    return ResolveQueryLink(links, depth);
  }
  if (!t.empty() && t[0] == '/') {
    return m_Site->HasOption(HVR_OPT_ROOT_LINKS) ? ResolveRootLink(links, depth) : 0;
  }
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

int KtWdlFetcher::ResolveQueryLink(KtWdlLinkList* links, int depth) {
  const std::string original = m_Token;
  const size_t mark = original.find('?');
  std::string base = original.substr(0, mark);
  const std::string query = DecodeQuery(std::string_view(original).substr(mark + 1));
  // A query with a control character is asked of no server; an empty one is no query.
  if (HasControlByte(query)) return 0;
  if (query.empty()) {
    m_Token = base;
    return ProcessLink(links, depth);
  }
  // "?page=2" alone is a query of the page itself.
  if (base.empty()) base = std::string(m_Site->PathWithoutQuery(m_FileName));
  m_Token = base;
  m_LinkQuery = "?" + query;
  ProcessLink(links, depth);
  m_LinkQuery.clear();
  if (!m_LinkReported) {
    m_Token = original;
    return 0;
  }
  // The resolved link leads to the query's file in the folder that its path names.
  const size_t baseSlash = cp932::FindLast(base, '/');
  const std::string name = base.substr(baseSlash == cp932::npos ? 0 : baseSlash + 1);
  // (An absolute link's path without "." comes back as a folder; with a query it names a file.)
  if (!name.empty() && cp932::EndsWithChar(m_Token, '/')) m_Token.pop_back();
  const size_t slash = cp932::FindLast(m_Token, '/');
  m_Token.erase(slash == cp932::npos ? 0 : slash + 1);
  m_Token += QueryFileName(name, query, NamesPage(name));
  return 0;
}

// The number of folders a server directory ("/" for the root, "a/b/") lies below the root.
size_t KtWdlFetcher::FolderDepth(std::string_view directory) {
  if (StartsWith(directory, "/")) directory.remove_prefix(1);
  size_t count = 0;
  for (size_t i = 0; i < directory.size(); i += cp932::CharLength(directory, i)) {
    if (directory[i] == '/') ++count;
  }
  return count;
}

int KtWdlFetcher::ResolveRootLink(KtWdlLinkList* links, int depth) {
  // "/path" names a path on the page's own server, "//host/path" a server of the page's scheme:
  // either is taken as the absolute link it stands for.
  const std::string original = m_Token;
  m_Token =
      (StartsWith(original, "//") ? std::string(m_Site->GetLinkScheme()) + ":" : SiteOrigin()) +
      original;
  ResolveSiteLink(links, depth);
  // A link the walk does not take keeps its text.
  if (!m_LinkReported) m_Token = original;
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
      // A climb past the server's root ends there, as a browser takes it, and the file is
      // fetched from there: the copy's link must not climb out of the site folder instead.
      const size_t pageDepth = FolderDepth(m_UrlDirectory);
      if (i / 3 > pageDepth) {
        std::string kept;
        for (size_t k = 0; k < pageDepth; ++k) kept += "../";
        m_Token = kept + rest;
      }
    }
  }
  AppendIndexName(t, directory + rest);
  return 0;
}

int KtWdlFetcher::ResolveSiteLink(KtWdlLinkList* links, int depth) {
  std::string t = m_Token;
  const std::string scheme = std::string(m_Site->GetLinkScheme()) + "://";
  const std::string server = SiteOrigin();
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
