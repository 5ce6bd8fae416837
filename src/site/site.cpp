#include "site/site.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/http.h"
#include "platform/mutex.h"
#include "util/log.h"

namespace {

// Positions of the last "." and the last "/" of a path, -1 when absent.
struct DotSlash {
  long dot;
  long slash;
};

DotSlash FindDotSlash(std::string_view path) {
  size_t d = cp932::FindLast(path, '.');
  size_t s = cp932::FindLast(path, '/');
  return {d == cp932::npos ? -1L : static_cast<long>(d),
          s == cp932::npos ? -1L : static_cast<long>(s)};
}

// The extension of a path with its "." when the last "." follows the last "/", lower-cased.
bool PathExtension(std::string_view path, std::string* extension) {
  DotSlash ds = FindDotSlash(path);
  if (ds.dot <= ds.slash) return false;
  *extension = cp932::ToLower(path.substr(static_cast<size_t>(ds.dot)));
  return true;
}

std::string_view DropLeadingSlash(const char* path) {
  std::string_view p(path);
  if (!p.empty() && p.front() == '/') p.remove_prefix(1);
  return p;
}

// The site's lock, also from its const members (the lock itself is mutable).
using SiteLock = hvthread::LockGuard<KtWdlSite>;
KtWdlSite& Lockable(const KtWdlSite& site) {
  return const_cast<KtWdlSite&>(site);
}

}  // namespace

KtWdlSite::KtWdlSite(CInternetSession* session, HvrJobInfo* job) : m_Job(job), m_Session(session) {
  AddType(".html");
  AddType(".htm");
  int failed = 0;
  failed |= SetName(job->SiteName.c_str());
  failed |= SetUrl(job->Url.c_str());
  failed |= SetSaveFolder(job->SaveFolder.c_str());
  failed |= SetCompareFolder(job->CompareFolder.c_str());
  failed |= SetMaxDirDepth(job->MaxDirDepth);
  failed |= SetMaxLinkDepth(job->MaxLinkDepth);
  failed |= SetBufferSize(job->BufferSize);
  failed |= SetInterval(job->Interval);
  SetLimits(job->MaxFiles, static_cast<int64_t>(job->MaxKBytes) * 1024);
  SetConnections(job->Connections);
  if (failed != 0) {
    SetJobError(HVR_ERR_SETTING, "the start URL names no server");
    return;
  }
  if (OpenConnection() == -1) {
    SiteLock lock(*this);
    SetJobError(HVR_ERR_SESSION, Reason());
  }
}

KtWdlSite::~KtWdlSite() {
  m_Types.clear();
  m_ExcludeTypes.clear();
  ClearUrls();
  if (m_Connection != nullptr) {
    m_Connection->Close();
    delete m_Connection;
    m_Connection = nullptr;
  }
}

int KtWdlSite::OpenConnection() {
  if (m_Server.empty() || m_Session == nullptr) {
    NoteReason("no internet session");
    return -1;
  }
  try {
    m_Connection = m_Session->GetHttpConnection(m_Server.c_str(), m_Port);
  } catch (const CInternetException& e) {
    NoteReason(e.what());
    return -1;
  }
  return 0;
}

std::unique_ptr<CHttpConnection> KtWdlSite::OpenExtraConnection() const {
  if (m_Server.empty() || m_Session == nullptr) return nullptr;
  try {
    return std::unique_ptr<CHttpConnection>(m_Session->GetHttpConnection(m_Server.c_str(), m_Port));
  } catch (const CInternetException&) {
    return nullptr;
  }
}

int KtWdlSite::SetConnections(int count) {
  m_Connections = std::clamp(count, 1, static_cast<int>(HVR_MAX_CONNECTIONS));
  return 0;
}

int KtWdlSite::GetConnections() const {
  // A limit must end the walk after the same files as with one connection: files fetched
  // beside the walk would count towards it in another order.
  return HasLimits() ? 1 : m_Connections;
}

int KtWdlSite::SetName(const char* name) {
  m_Name = name ? name : "";
  return 0;
}

int KtWdlSite::SetMaxLinkDepth(int depth) {
  m_MaxLinkDepth = depth;
  return 0;
}

int KtWdlSite::SetMaxDirDepth(int depth) {
  m_MaxDirDepth = depth;
  return 0;
}

int KtWdlSite::SetBufferSize(int size) {
  m_BufferSize = size;
  return 0;
}

int KtWdlSite::SetInterval(int milliseconds) {
  m_Interval = milliseconds;
  return 0;
}

// ---- type filters ----

int KtWdlSite::AddType(const char* extension) {
  if (extension == nullptr) return -1;
  m_Types.push_back(cp932::ToLower(extension));
  return 0;
}

int KtWdlSite::AddExcludeType(const char* extension) {
  if (extension == nullptr) return -1;
  m_ExcludeTypes.push_back(cp932::ToLower(extension));
  return 0;
}

int KtWdlSite::SetAllTypes() {
  m_AllTypes = 1;
  return 0;
}

int KtWdlSite::AddOptions(uint32_t bits) {
  m_Options |= bits;
  return 0;
}

int KtWdlSite::IsIncluded(const char* path) const {
  if (m_AllTypes == 1) return 1;
  std::string extension;
  if (path == nullptr || !PathExtension(path, &extension)) return 0;
  return IsIncludedExt(extension.c_str());
}

int KtWdlSite::IsIncludedExt(const char* extension) const {
  if (m_AllTypes == 1) return 1;
  if (extension == nullptr) return 0;
  for (const std::string& type : m_Types) {
    if (!cp932::EqualsNoCase(type, extension)) continue;
    if (HasOption(HVR_OPT_JAVA) && type != ".java") return 0;
    if (HasOption(HVR_OPT_CGI) && type != ".cgi") return 0;
    return 1;
  }
  return 0;
}

int KtWdlSite::IsExcluded(const char* path) const {
  std::string extension;
  if (path == nullptr || !PathExtension(path, &extension)) return 0;
  return IsExcludedExt(extension.c_str());
}

int KtWdlSite::IsExcludedExt(const char* extension) const {
  if (extension == nullptr) return 0;
  for (const std::string& type : m_ExcludeTypes) {
    if (cp932::EqualsNoCase(type, extension)) return 1;
  }
  return 0;
}

// ---- URL registry ----

KtWdlUrlItem* KtWdlSite::FindExact(std::string_view path) const {
  uint32_t id = m_Urls.FindExact(path);
  return id == KtWdlUrlRegistry::kNone ? nullptr : const_cast<KtWdlUrlItem*>(&m_Urls.Item(id));
}

KtWdlUrlItem* KtWdlSite::FindNoCase(std::string_view path) const {
  uint32_t id = m_Urls.FindNoCase(path);
  return id == KtWdlUrlRegistry::kNone ? nullptr : const_cast<KtWdlUrlItem*>(&m_Urls.Item(id));
}

std::string KtWdlSite::GetUrlPath(uint32_t number) const {
  SiteLock lock(Lockable(*this));
  return m_Urls.PathOf(number);
}

std::vector<std::string> KtWdlSite::GetUrlPaths(const KtWdlLinkList& links) const {
  SiteLock lock(Lockable(*this));
  std::vector<std::string> paths;
  paths.reserve(links.size());
  for (uint32_t number : links) paths.push_back(GetUrlPath(number));
  return paths;
}

std::string_view KtWdlSite::PathWithoutQuery(std::string_view path) const {
  if (!HasOption(HVR_OPT_QUERY_PAGES)) return path;
  return path.substr(0, std::min(path.find('?'), path.size()));
}

std::string KtWdlSite::ListedForm(const char* path) const {
  std::string p(DropLeadingSlash(path));
  const size_t queryLength = p.size() - PathWithoutQuery(p).size();
  DotSlash ds = FindDotSlash(std::string_view(p).substr(0, p.size() - queryLength));
  bool hasExtension = ds.dot > 0 && ds.dot > ds.slash;
  if (!hasExtension && !p.empty() && !cp932::EndsWithChar(p, '/') && queryLength == 0) p += '/';
  return p;
}

int KtWdlSite::AddUrl(const char* path, KtWdlLinkList* links, int depth) {
  if (path == nullptr) return -1;
  SiteLock lock(*this);
  std::string p(DropLeadingSlash(path));
  // A query page is filtered by its path; the query only makes it a file of its own.
  const std::string query(std::string_view(p).substr(PathWithoutQuery(p).size()));
  p.resize(p.size() - query.size());
  const std::string filtered = p;
  DotSlash ds = FindDotSlash(p);
  // A path whose only "." is its first character (".htaccess") counts as a folder here.
  bool hasExtension = ds.dot > 0 && ds.dot > ds.slash;
  if (!hasExtension && !p.empty() && !cp932::EndsWithChar(p, '/') && query.empty()) p += '/';
  p += query;

  if (m_MaxLinkDepth != -1 && depth >= m_MaxLinkDepth && hasExtension) {
    std::string_view extension = std::string_view(filtered).substr(static_cast<size_t>(ds.dot));
    if (cp932::EqualsNoCase(extension, ".html") || cp932::EqualsNoCase(extension, ".htm")) {
      return -1;
    }
  }

  bool listed = IsListed(p.c_str()) == 1;
  // A page's link that robots.txt disallows is never requested. (The start page, which the
  // host named itself, is added without a link list and so is not asked about.)
  if (!listed && links != nullptr && IsDisallowed(p)) {
    if (IsLogging()) Logf("\tRobots(%s)", p.c_str());
    return -1;
  }
  if (!listed && IsIncluded(filtered.c_str()) == 1 && IsExcluded(filtered.c_str()) == 0) {
    uint32_t number = m_Urls.Add(p);
    if (links != nullptr) {
      if (IsLogging()) Logf("\t%s", p.c_str());
      links->push_back(number);
    }
    return 0;
  }

  if (links == nullptr || !IsLogging()) return 0;
  if (listed) {
    Logf("\tRestored(%s)", p.c_str());
  } else if (IsExcluded(filtered.c_str()) == 1) {
    Logf("\tNotDL(%s)", p.c_str());
  } else if (IsIncluded(filtered.c_str()) == 1) {
    Logf("\tDLFail(%s)", p.c_str());
  }
  return 0;
}

void KtWdlSite::SetLimits(int32_t maxFiles, int64_t maxBytes) {
  m_MaxFiles = maxFiles > 0 ? maxFiles : 0;
  m_MaxBytes = maxBytes > 0 ? maxBytes : 0;
}

void KtWdlSite::AddReceivedBytes(int64_t count) {
  if (count > 0) m_ReceivedBytes.fetch_add(count, std::memory_order_relaxed);
}

int32_t KtWdlSite::CheckLimits() {
  int32_t reached = m_LimitReached.load(std::memory_order_relaxed);
  if (reached != HVR_LIMIT_NONE) return reached;
  SiteLock lock(*this);
  reached = m_LimitReached.load(std::memory_order_relaxed);
  if (reached != HVR_LIMIT_NONE) return reached;
  if (m_MaxFiles > 0 && GetRestoredCount() >= m_MaxFiles) {
    reached = HVR_LIMIT_FILES;
  } else if (m_MaxBytes > 0 && m_ReceivedBytes.load(std::memory_order_relaxed) >= m_MaxBytes) {
    reached = HVR_LIMIT_SIZE;
  } else {
    return HVR_LIMIT_NONE;
  }
  m_LimitReached.store(reached, std::memory_order_relaxed);
  std::atomic_ref<int32_t>(m_Job->LimitReached).store(reached, std::memory_order_relaxed);
  if (IsLogging()) Logf("Limit(%s)", reached == HVR_LIMIT_FILES ? "files" : "size");
  return reached;
}

bool KtWdlSite::IsDisallowed(std::string_view path) const {
  return HasOption(HVR_OPT_ROBOTS) == 1 && !m_Robots.IsAllowed(path);
}

int KtWdlSite::MarkRestored(const char* path) {
  if (path == nullptr) return 0;
  SiteLock lock(*this);
  KtWdlUrlItem* item = FindExact(DropLeadingSlash(path));
  if (item != nullptr) {
    m_RestoredCount.fetch_add(1, std::memory_order_relaxed);
    item->SetRestored();
  }
  return 0;
}

std::string& KtWdlSite::Reason() const {
  return m_Reasons[std::this_thread::get_id()];
}

void KtWdlSite::NoteReason(std::string_view reason) {
  SiteLock lock(*this);
  Reason() = reason;
}

int KtWdlSite::ReportUrlError(const char* path, int32_t code, std::string_view reason) {
  if (path == nullptr) path = "";
  SiteLock lock(*this);
  if (IsLogging()) Logf("Error(%x):%s", static_cast<unsigned>(code), path);
  // A file that failed takes the reason of the failure behind it; other codes only their own.
  std::string& noted = Reason();
  if (!reason.empty()) noted = reason;
  SetJobError(
      code, !reason.empty() || code == HVR_ERR_FILE ? std::string_view(noted) : std::string_view());
  std::string_view p = DropLeadingSlash(path);
  KtWdlUrlItem* item = FindExact(p);
  if (item == nullptr) return 0;
  if (code == HVR_ERR_FILE) {
    m_Job->FailedFiles.emplace_back(p);
    m_Job->FailedReasons.emplace_back(noted);
    m_FailedCount.fetch_add(1, std::memory_order_relaxed);
  }
  item->SetError(code);
  return 0;
}

int KtWdlSite::IsListed(const char* path) const {
  SiteLock lock(Lockable(*this));
  return (path != nullptr && FindExact(path) != nullptr) ? 1 : 0;
}

int KtWdlSite::IsRestored(const char* path) const {
  if (path == nullptr) return 0;
  SiteLock lock(Lockable(*this));
  if (const KtWdlUrlItem* item = FindNoCase(path)) return item->IsRestored();
  std::string_view p(path);
  if (p.empty() || cp932::EndsWithChar(p, '/')) {
    for (const char* index : {"index.html", "index.htm"}) {
      if (const KtWdlUrlItem* item = FindNoCase(std::string(p) + index)) {
        return item->IsRestored();
      }
    }
  }
  return 0;
}

int KtWdlSite::IsFailed(const char* path) const {
  if (path == nullptr) return 0;
  SiteLock lock(Lockable(*this));
  const KtWdlUrlItem* item = FindNoCase(path);
  return item != nullptr ? item->IsFailed() : 0;
}

int KtWdlSite::LogCaseTwin(const char* path) const {
  if (path == nullptr || !IsLogging()) return 0;
  SiteLock lock(Lockable(*this));
  std::string p(path);
  uint32_t id = m_Urls.FindNoCase(p);
  if (id == KtWdlUrlRegistry::kNone && (p.empty() || cp932::EndsWithChar(p, '/'))) {
    // A folder stands for its index file, as in IsRestored.
    for (const char* index : {"index.html", "index.htm"}) {
      id = m_Urls.FindNoCase(std::string(path) + index);
      if (id != KtWdlUrlRegistry::kNone) {
        p += index;
        break;
      }
    }
  }
  if (id == KtWdlUrlRegistry::kNone) return 0;
  const std::string listed = m_Urls.PathOf(id);
  if (listed == p) return 0;
  const KtWdlUrlItem& item = m_Urls.Item(id);
  if (item.IsRestored() == 0 && item.IsFailed() == 0) return 0;
  Logf("\tSameAs(%s):%s", p.c_str(), listed.c_str());
  return 1;
}

int KtWdlSite::ClearUrls() {
  SiteLock lock(*this);
  m_Urls.Clear();
  m_RestoredCount.store(0);
  m_FailedCount.store(0);
  return 0;
}

// ---- state, errors, log, lock ----

int KtWdlSite::SetState(int state) {
  int current = m_State.load();
  do {
    if (current == kFinished) return current == state ? 0 : -1;
  } while (!m_State.compare_exchange_weak(current, state));
  return 0;
}

int KtWdlSite::SetError(int32_t code, std::string_view reason) {
  SiteLock lock(*this);
  if (IsLogging()) Logf("Error(%x)", static_cast<unsigned>(code));
  SetJobError(code, reason);
  return 0;
}

void KtWdlSite::SetJobError(int32_t code, std::string_view reason) {
  std::atomic_ref<int32_t>(m_Job->Error).store(code, std::memory_order_relaxed);
  m_Job->ErrorText = reason;
}

void KtWdlSite::SetJobLastModified(int32_t time) {
  std::atomic_ref<int32_t>(m_Job->LastModified).store(time, std::memory_order_relaxed);
}

void KtWdlSite::SetJobUpdated() {
  std::atomic_ref<int32_t>(m_Job->Updated).store(1, std::memory_order_relaxed);
}

int KtWdlSite::IsLogging() const {
  return (m_Job->Log != nullptr && m_Job->Log->IsOpen() == 1) ? 1 : 0;
}

int KtWdlSite::WriteLog(const char* text, int stamped) {
  if (m_Job->Log == nullptr) return -1;
  SiteLock lock(*this);
  m_Job->Log->WriteLine(text, stamped);
  return 0;
}

void KtWdlSite::Logf(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length >= 0) {
    std::string line(static_cast<size_t>(length), '\0');
    std::vsnprintf(line.data(), line.size() + 1, format, args);
    if (m_Job->Log != nullptr) m_Job->Log->WriteLine(line.c_str(), 0);
  }
  va_end(args);
}

int KtWdlSite::Lock() {
  m_Lock.lock();
  return 0;
}

int KtWdlSite::Unlock() {
  m_Lock.unlock();
  return 0;
}
