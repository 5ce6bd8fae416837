#include "fetch/fetcher.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

#include "harvo.h"
#include "platform/codepage.h"
#include "platform/http.h"
#include "platform/thread.h"
#include "site/query_name.h"
#include "site/site.h"
#include "util/fileutil.h"

namespace {

constexpr char kHeaderFormat[] = "Accept:*/*,text/*\r\nUser-Agent:%s\r\n";
constexpr uint32_t kRequestFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_CACHE_WRITE;
// An .htaccess file is read for its DirectoryIndex line up to this many bytes.
constexpr size_t kMaxHtaccessBytes = 1 << 20;

int32_t Now() {
  return static_cast<int32_t>(std::time(nullptr));
}

int32_t ErrorForStatus(int status) {
  switch (status) {
    case 400: return HVR_ERR_HTTP_400;
    case 404: return HVR_ERR_HTTP_404;
    case 405: return HVR_ERR_HTTP_405;
    case 500: return HVR_ERR_HTTP_500;
    case 503: return HVR_ERR_HTTP_503;
    default: return HVR_ERR_HTTP_OTHER;
  }
}

// Positions of the last "/" and the last "." (npos when absent), multibyte-aware.
struct SlashDot {
  size_t slash;
  size_t dot;
};
SlashDot FindSlashDot(std::string_view text) {
  return {cp932::FindLast(text, '/'), cp932::FindLast(text, '.')};
}
bool NamesFileInDirectory(SlashDot sd) {
  return sd.slash != cp932::npos && sd.slash > 0 && sd.dot != cp932::npos && sd.dot > 0 &&
         sd.dot > sd.slash;
}

using RequestPtr = std::unique_ptr<CHttpFile>;

// True when the response's body comes compressed (and is read decoded).
bool IsEncoded(const CHttpFile& request) {
  std::string encoding;
  if (!request.QueryHeader("Content-Encoding", &encoding)) return false;
  size_t first = encoding.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  return !cp932::EqualsNoCase(encoding.substr(first, 8), "identity");
}

bool StartsWithSlash(std::string_view text) {
  return !text.empty() && text.front() == '/';
}

bool IsBlankOrLineEnd(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The index name of a DirectoryIndex line, given the text after the keyword: its first name,
// after the separator (and any further blanks), up to the next blank or line end. The line may
// list several names ("DirectoryIndex index.php index.html"); a CR must not carry text of the
// server's into a file name or the log.
std::string FirstIndexName(std::string_view rest) {
  if (!rest.empty()) rest.remove_prefix(1);
  size_t from = 0;
  while (from < rest.size() && IsBlankOrLineEnd(rest[from])) ++from;
  size_t to = from;
  while (to < rest.size() && !IsBlankOrLineEnd(rest[to])) ++to;
  return std::string(rest.substr(from, to - from));
}

}  // namespace

KtWdlFetcher::KtWdlFetcher(CInternetSession* session, const hvthread::StopFlag* stop,
                           KtWdlSite* site)
    : m_Session(session), m_Stop(stop), m_Site(site) {
  hvthread::LockGuard<KtWdlSite> lock(*site);
  m_Connection = site->GetConnection();
  m_AttributeNames = {"src", "href", "background", "code"};
}

KtWdlFetcher::KtWdlFetcher(CInternetSession* session, const hvthread::StopFlag* stop,
                           KtWdlSite* site, std::unique_ptr<CHttpConnection> connection)
    : KtWdlFetcher(session, stop, site) {
  m_OwnConnection = std::move(connection);
  m_Connection = m_OwnConnection.get();
}

KtWdlFetcher::~KtWdlFetcher() {
  {
    hvthread::LockGuard<KtWdlSite> lock(*m_Site);
    CloseRequest();
  }
  // Its requests are gone: the connection may go.
  if (m_OwnConnection) m_OwnConnection->Close();
}

void KtWdlFetcher::CloseRequest() {
  if (m_Request == nullptr) return;
  m_Request->Close();
  delete m_Request;
  m_Request = nullptr;
}

CHttpFile* KtWdlFetcher::OpenRequest(const std::string& objectName, bool indexProbe) {
  const uint32_t flags = kRequestFlags | (m_Site->IsSecure() ? INTERNET_FLAG_SECURE : 0u);
  RequestPtr request(m_Connection->OpenRequest("GET", objectName.c_str(), "HTTP/1.0", flags));
  if (m_Site->HasOption(HVR_OPT_INSECURE) == 1) request->SetCertificateChecks(false);
  if (m_Site->HasOption(HVR_OPT_COMPRESSION) == 1) request->SetAcceptEncoding(true);
  // A probe's path is chosen by a page (every directory link costs up to three): it must not
  // carry requests to whatever server a redirect names. Leaving the server counts as no answer.
  if (indexProbe) request->SetSameServerRedirectsOnly(true);
  const char* agent = m_Session != nullptr ? m_Session->GetSettings().agent.c_str() : "";
  std::string headers(sizeof(kHeaderFormat) + std::char_traits<char>::length(agent), '\0');
  headers.resize(
      static_cast<size_t>(std::snprintf(headers.data(), headers.size(), kHeaderFormat, agent)));
  request->AddRequestHeaders(headers, HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  request->SendRequest();
  return request.release();
}

// ---- requests ----

int KtWdlFetcher::RequestFile(const char* siteName, const char* urlPath, const char* saveDirectory,
                              const char* compareDirectory) {
  const int result = StartRequest(siteName, urlPath, saveDirectory, compareDirectory);
  ShowCurrentFile();
  return result;
}

void KtWdlFetcher::ShowCurrentFile() {
  // A progress query sees the names a request settled on, never a half-made one.
  hvthread::LockGuard<KtWdlSite> lock(*m_Site);
  m_ShownFrom = nullptr;
  m_ShownSiteName = m_SiteName;
  m_ShownFileName = m_FileName;
  m_ShownUrlDirectory = m_UrlDirectory;
}

int KtWdlFetcher::StartRequest(const char* siteName, const char* urlPath, const char* saveDirectory,
                               const char* compareDirectory) {
  m_SiteName = siteName ? siteName : "";
  m_Site->NoteReason({});
  if (urlPath == nullptr) return -1;
  // A path that would climb out of the site folder, or make a name with a control character,
  // is neither requested nor saved. A query page's name is made safe from its query, which only
  // must not hold a control character, as it goes into the request line.
  const std::string_view path = m_Site->PathWithoutQuery(urlPath);
  const char* unsafe = UnsafeLocalName(path, false);
  if (unsafe == nullptr && HasControlByte(std::string_view(urlPath).substr(path.size()))) {
    unsafe = "a query with a control character";
  }
  if (unsafe != nullptr) {
    m_Site->NoteReason(unsafe);
    return -1;
  }
  if (SendRequest(urlPath) == -1) return -1;
  if (m_Site->HasOption(HVR_OPT_CHECK_ONLY)) return 0;
  m_SaveDirectory = saveDirectory ? saveDirectory : "";
  m_Received.store(0, std::memory_order_relaxed);
  int result = 0;
  if (CheckLocalCopy(compareDirectory ? compareDirectory : "") == -1) {
    m_Site->ReportUrlError(urlPath, HVR_ERR_SETTING, "the earlier copy cannot be read");
    result = -1;
  }
  // Files come folder by folder: a folder made for the file before is not made again.
  if (!m_SaveDirectory.empty() && m_SaveDirectory != m_MadeFolder) MakeSaveFolder();
  return result;
}

void KtWdlFetcher::MakeSaveFolder() {
  // The site folder is reached as the save root leads to it; below it no symbolic link is
  // followed (the file's own Open reports such a folder as the reason of its failure).
  const std::string siteFolder = m_Site->GetSaveFolder();
  if (!siteFolder.empty()) CreateFolders(siteFolder);
  m_MadeFolder = hvfs::CreateFoldersBeneath(siteFolder, m_SaveDirectory) == 0 ? m_SaveDirectory
                                                                              : std::string();
}

int KtWdlFetcher::SendRequest(const char* urlPath) {
  if (m_Connection == nullptr) return -1;
  std::string path(m_Site->PathWithoutQuery(urlPath));
  // With a query the file name carries it: it is part of the request and of the registry's
  // path; the local name is made from both once the type of the answer is known.
  const std::string query = std::string(urlPath).substr(path.size());
  SlashDot sd = FindSlashDot(path);
  if (NamesFileInDirectory(sd)) {
    m_FileName = path.substr(sd.slash + 1);
    m_Extension = path.substr(sd.dot);
    m_UrlDirectory = path.substr(0, sd.slash + 1);
  } else if (sd.slash == cp932::npos) {
    m_FileName = path;
    m_Extension = sd.dot == cp932::npos ? path : path.substr(sd.dot);
    m_UrlDirectory = "/";
  } else {
    m_UrlDirectory = path;
    m_FileName.clear();
    m_Extension.clear();
  }

  const std::string plainName = m_FileName;
  // A folder's query ("dir/?page=2") is asked of the folder itself.
  m_FileName += query;
  if (m_FileName.empty()) {
    m_FileName = FindIndexName(m_UrlDirectory);
    // An index name is the server's text: the same rules hold for it as for a link's path.
    const char* unsafe = m_FileName.empty() ? "the folder's index file could not be found"
                                            : UnsafeLocalName(m_UrlDirectory + m_FileName, true);
    if (unsafe != nullptr) {
      // A probe that could not be asked at all (a refused certificate, say) gives its reason.
      m_Site->NoteReason(m_FileName.empty() && !m_IndexError.empty()
                             ? std::string(unsafe) + ": " + m_IndexError
                             : std::string(unsafe));
      CloseRequest();
      return -1;
    }
  }
  CloseRequest();
  // Links that robots.txt disallows were never accepted; this catches a folder's index file
  // named by the server. The start page is the host's own choice and always asked for.
  if (m_Site->IsDisallowed(m_UrlDirectory + m_FileName) && path != m_Site->GetStartPath()) {
    m_Site->NoteReason("disallowed by robots.txt");
    return -1;
  }

  m_Encoded = false;
  int status = -1;
  std::string reason;
  // The file is named while the server is asked for it, which may take long.
  ShowCurrentFile();
  try {
    m_Request = OpenRequest(m_UrlDirectory + m_FileName);
    status = m_Request->QueryStatusCode();
    reason = "HTTP status " + std::to_string(status);
  } catch (const CInternetException& e) {
    status = -1;
    reason = e.what();
  }

  if (status == 200) {
    int32_t length = 0;
    // Without compression asked for, a body is saved as it came, whatever its encoding.
    m_Encoded = m_Site->HasOption(HVR_OPT_COMPRESSION) == 1 && IsEncoded(*m_Request);
    if (m_Encoded) {
      // The length of an encoded body counts encoded bytes: it says nothing of the file's size,
      // and a server that compresses on the fly sends none. The file's size is unknown.
      m_ContentLength.store(0, std::memory_order_relaxed);
    } else if (m_Request->QueryContentLength(&length)) {
      m_ContentLength.store(length, std::memory_order_relaxed);
    } else {
      m_Site->ReportUrlError(urlPath, HVR_ERR_NO_LENGTH);
      m_ContentLength.store(0, std::memory_order_relaxed);
    }
    int64_t modified = 0;
    if (m_Request->QueryLastModified(&modified) && modified >= INT32_MIN && modified <= INT32_MAX) {
      m_LastModified = static_cast<int32_t>(modified);
    } else {
      m_Site->ReportUrlError(urlPath, HVR_ERR_NO_MODIFIED);
      m_LastModified = Now();
    }
    m_Site->SetJobLastModified(m_LastModified);
    m_LocalName = m_FileName;
    if (query.empty()) {
      ClassifyFile();
      return 0;
    }
    // A query page is scanned as a page when the server calls it one (or, without a type, when
    // its path names a page). Its name ends in .html then, and also whenever its path names a
    // page: links to it were written from the path alone, before its answer was known.
    std::string type;
    const bool typed = m_Request->QueryHeader("Content-Type", &type);
    const bool html = typed ? cp932::StartsWithNoCase(type, "text/html") ||
                                  cp932::StartsWithNoCase(type, "application/xhtml+xml")
                            : NamesPage(plainName);
    m_LocalName =
        QueryFileName(plainName, std::string_view(query).substr(1), html || NamesPage(plainName));
    m_Extension = path.substr(std::min(sd.dot, path.size()));
    if (sd.dot == cp932::npos || (sd.slash != cp932::npos && sd.dot < sd.slash))
      m_Extension.clear();
    // (The type comes from the path's own extension, never from the query.)
    if (m_Extension.empty()) {
      m_FileType = kTypeNone;
    } else {
      ClassifyFile();
    }
    if (html) m_FileType = kTypeHtml;
    return 0;
  }

  m_Site->ReportUrlError(urlPath, ErrorForStatus(status), reason);
  m_ContentLength.store(0, std::memory_order_relaxed);
  m_LastModified = Now();
  CloseRequest();
  return -1;
}

std::string KtWdlFetcher::FindIndexName(const std::string& directory) {
  m_IndexError.clear();
  SlashDot sd = FindSlashDot(directory);
  if (NamesFileInDirectory(sd)) return directory.substr(sd.slash + 1);
  if (m_Connection == nullptr) return "";
  if (m_Site->HasOption(HVR_OPT_INDEX_ONCE) == 0) return LookUpIndexName(directory);
  // "/" and "" both name the root. A look-up that failed in transport is not kept: a later link
  // asks again.
  std::string key(std::string_view(directory).substr(StartsWithSlash(directory) ? 1 : 0));
  auto found = m_IndexNames.find(key);
  if (found != m_IndexNames.end()) return found->second;
  std::string name = LookUpIndexName(directory);
  if (!name.empty()) m_IndexNames.emplace(std::move(key), name);
  return name;
}

std::string KtWdlFetcher::LookUpIndexName(const std::string& directory) {
  try {
    std::string name = "index.html";
    if (!m_Site->IsDisallowed(directory + ".htaccess")) {
      RequestPtr request(OpenRequest(directory + ".htaccess", true));
      if (request->QueryStatusCode() == 200) {
        static constexpr std::string_view kKeyword = "DirectoryIndex";
        std::string line;
        size_t read = 0;
        while (read < kMaxHtaccessBytes && request->ReadString(&line)) {
          read += line.size() + 1;
          size_t at = line.find(kKeyword);
          if (at == std::string::npos) continue;
          name = FirstIndexName(std::string_view(line).substr(at + kKeyword.size()));
          break;
        }
      }
      request->Close();
    }
    if (!cp932::EqualsNoCase(name, "index.html")) return name;
    for (const char* probe : {"index.html", "index.htm"}) {
      if (m_Site->IsDisallowed(directory + probe)) continue;
      RequestPtr request(OpenRequest(directory + probe, true));
      int status = request->QueryStatusCode();
      request->Close();
      if (status == 200) return probe;
    }
    return "index.html";
  } catch (const CInternetException& e) {
    m_IndexError = e.what();
    return "";
  }
}

void KtWdlFetcher::LoadRobots() {
  // The request is made without the site's lock, as every request of the walk is: progress
  // queries and a stop must not wait on a server that stalls.
  if (m_Connection == nullptr) return;
  std::string text;
  try {
    // Like an index probe, robots.txt is only taken from the site's own server.
    RequestPtr request(OpenRequest("/robots.txt", true));
    if (request->QueryStatusCode() == 200) {
      char block[4096];
      while (text.size() < kMaxRobotsBytes) {
        int count = request->Read(block, sizeof(block));
        if (count <= 0) break;
        text.append(block, static_cast<size_t>(count));
      }
      if (text.size() > kMaxRobotsBytes) text.resize(kMaxRobotsBytes);
    }
    request->Close();
  } catch (const CInternetException&) {
    text.clear();
  }
  const std::string agent = m_Session != nullptr ? m_Session->GetSettings().agent : "";
  RobotsRules rules = RobotsRules::Parse(text, agent);
  hvthread::LockGuard<KtWdlSite> lock(*m_Site);
  m_Site->SetRobots(std::move(rules));
}

void KtWdlFetcher::ClassifyFile() {
  if (m_Extension.empty()) {
    size_t dot = cp932::FindLast(m_FileName, '.');
    if (dot != cp932::npos && dot > 0) m_Extension = m_FileName.substr(dot);
  }
  if (m_FileName.empty() || m_Extension.empty()) {
    m_FileType = kTypeNone;
    return;
  }
  // clang-format off
  static const struct {
    const char* extension;
    int type;
  } kTypes[] = {{".html", kTypeHtml}, {".htm", kTypeHtml}, {".java", kTypeJava},
                {".gif", kTypeGif},   {".jpeg", kTypeJpeg}, {".jpg", kTypeJpeg},
                {".zip", kTypeZip},   {".lha", kTypeLha},   {".exe", kTypeExe},
                {".cgi", kTypeCgi}};
  // clang-format on
  m_FileType = kTypeOther;
  for (const auto& entry : kTypes) {
    if (cp932::EqualsNoCase(m_Extension, entry.extension)) {
      m_FileType = entry.type;
      return;
    }
  }
}

int KtWdlFetcher::CheckLocalCopy(const char* directory) {
  m_CompareDirectory = directory;
  m_HasLocalCopy = false;
  // Without a compare folder no earlier copy is consulted (never a file of the current folder).
  if (m_CompareDirectory.empty()) return 0;
  std::string path = m_CompareDirectory + m_LocalName;
  // Looked up by its exact name: a URL path may hold "*" or "?", which a wildcard search would
  // match against other files.
  hvfs::FileInfo info;
  if (!hvfs::GetFileInfo(path, &info)) return 0;
  if (!hvfs::CanOpenForReading(path)) return -1;
  m_HasLocalCopy = true;
  m_LocalPartial = info.partial;
  m_LocalSize = info.size;
  m_LocalTime = info.time;
  if (m_LocalTime != m_LastModified) m_Site->SetJobUpdated();
  return 0;
}

int KtWdlFetcher::IsChanged() const {
  // A file that a stop cut short is never current, whatever its size and stamp say.
  if (!m_HasLocalCopy || m_LocalPartial) return 1;
  const int32_t length = m_ContentLength.load(std::memory_order_relaxed);
  if (m_Site->HasOption(HVR_OPT_WALK_UNCHANGED) == 1 && !IsSavedAsReceived()) {
    // A page saved with its links rewritten and its line ends as CR LF has a size of its own,
    // which says nothing about the server's length; only its time compares. An empty copy of a
    // page with a body was cut short.
    if (m_LastModified != m_LocalTime) return 1;
    return m_LocalSize == 0 && length != 0 ? 1 : 0;
  }
  // An encoded body's size is known only once decoded: its time alone decides.
  if (!m_Encoded && length != m_LocalSize) return 1;
  return m_LastModified != m_LocalTime ? 1 : 0;
}

bool KtWdlFetcher::HasControlByte(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

const char* KtWdlFetcher::UnsafeLocalName(std::string_view urlPath, bool rootObject) {
  static constexpr const char* kClimbs = "a path that would lead out of the site folder";
  // Only a root file's object name ("/name") begins with a separator; anything else beginning
  // with one would make an absolute local path.
  if (rootObject && !urlPath.empty() && urlPath.front() == '/') urlPath.remove_prefix(1);
  if (!urlPath.empty() && (urlPath.front() == '/' || urlPath.front() == '\\')) return kClimbs;
  // A zero byte would cut the name short; other control bytes would make names that no one can
  // type and that the log and a terminal cannot show. No byte of a double-byte character is one.
  for (char c : urlPath) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return "a path with a control character";
    }
  }
  // No component may be "..", with either separator. A "\" that is the trail byte of a
  // double-byte character separates nothing; a "/" always does, as the file system splits at
  // every "/" byte, also one that follows a lone lead byte.
  size_t start = 0;
  for (size_t i = 0; i < urlPath.size();) {
    size_t length = cp932::CharLength(urlPath, i);
    if (length == 2 && urlPath[i + 1] == '/') length = 1;
    if (urlPath[i] == '/' || urlPath[i] == '\\') {
      if (urlPath.substr(start, i - start) == "..") return kClimbs;
      start = i + 1;
    }
    i += length;
  }
  return urlPath.substr(start) == ".." ? kClimbs : nullptr;
}

// ---- progress getters ----

// Each getter answers for the fetcher whose file is shown; the other fetcher shares the site and
// so its lock.
std::string KtWdlFetcher::GetSiteName() const {
  hvthread::LockGuard<KtWdlSite> lock(*m_Site);
  return m_ShownFrom != nullptr ? m_ShownFrom->m_ShownSiteName : m_ShownSiteName;
}

std::string KtWdlFetcher::GetFileName() const {
  hvthread::LockGuard<KtWdlSite> lock(*m_Site);
  return m_ShownFrom != nullptr ? m_ShownFrom->m_ShownFileName : m_ShownFileName;
}

std::string KtWdlFetcher::GetUrlDirectory() const {
  hvthread::LockGuard<KtWdlSite> lock(*m_Site);
  return m_ShownFrom != nullptr ? m_ShownFrom->m_ShownUrlDirectory : m_ShownUrlDirectory;
}

int KtWdlFetcher::GetContentLength() const {
  hvthread::LockGuard<KtWdlSite> lock(*m_Site);
  const KtWdlFetcher* shown = m_ShownFrom != nullptr ? m_ShownFrom : this;
  return shown->m_ContentLength.load(std::memory_order_relaxed);
}

int KtWdlFetcher::GetReceivedSize() const {
  hvthread::LockGuard<KtWdlSite> lock(*m_Site);
  const KtWdlFetcher* shown = m_ShownFrom != nullptr ? m_ShownFrom : this;
  return shown->m_Received.load(std::memory_order_relaxed);
}

void KtWdlFetcher::ShowProgressOf(const KtWdlFetcher* other) {
  hvthread::LockGuard<KtWdlSite> lock(*m_Site);
  m_ShownFrom = other;
}
