// The crawl state of one job: its settings, the HTTP connection to the site's server, the wanted
// and excluded extensions, the registry of accepted URL paths (with saved and failed marks), the
// counters the host polls, and the job lock shared by the fetcher and the progress getters.
//
// URL paths are relative to the server root without a leading "/" (dir/page.html, dir/sub/, ""
// for the root). The registry keeps items in acceptance order; lookups find the first match, by
// exact text (IsListed, MarkRestored, ReportUrlError) or ignoring case (IsRestored, IsFailed),
// through hash indexes so that each costs O(1) on average. Each folder of the paths is kept
// once, so that a page of many links below a deep folder costs little more than its names.
//
// Threads: settings and filters are set by the host's thread before the worker starts and only
// read afterwards. The registry, the noted reasons, the job's result fields and the log are
// shared by the walk and the threads of its other connections: each call that touches them takes
// the site's lock itself. The state and the counters are atomics read by the host.
#ifndef HARVO_SITE_SITE_H
#define HARVO_SITE_SITE_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "harvo.h"
#include "platform/mutex.h"
#include "site/robots.h"
#include "site/url_registry.h"

class CInternetSession;
class CHttpConnection;

// The links of one page that the site accepted, in page order, as registry numbers: the list the
// walk descends into. KtWdlSite::GetUrlPath gives their paths.
using KtWdlLinkList = std::vector<uint32_t>;

// The site is also the job's lock (a recursive one, as the fetcher may enter it again): the
// fetcher's progress texts are guarded by it, and the host's progress queries take it.
class CAPABILITY("mutex") KtWdlSite {
 public:
  // Copies the job's settings, parses its start URL and opens the connection. Problems are
  // written into job->Error (HVR_ERR_SETTING, HVR_ERR_SESSION); the constructor never clears it.
  KtWdlSite(CInternetSession* session, HvrJobInfo* job);
  virtual ~KtWdlSite();
  KtWdlSite(const KtWdlSite&) = delete;
  KtWdlSite& operator=(const KtWdlSite&) = delete;

  // Settings.
  int SetName(const char* name);
  const char* GetName() const { return m_Name.c_str(); }
  int SetMaxLinkDepth(int depth);
  int SetMaxDirDepth(int depth);
  int GetMaxDirDepth() const { return m_MaxDirDepth; }
  int SetBufferSize(int size);
  int GetBufferSize() const { return m_BufferSize; }
  int SetInterval(int milliseconds);
  int GetInterval() const { return m_Interval; }
  // Connections used at once, 1 to HVR_MAX_CONNECTIONS (0 or less: 1). Limits make it 1.
  int SetConnections(int count);
  int GetConnections() const;

  // Limits of the walk (0 or less: none): files saved, bytes of bodies received.
  void SetLimits(int32_t maxFiles, int64_t maxBytes);
  // Counts body bytes received towards the size limit (worker thread).
  void AddReceivedBytes(int64_t count);
  // Checks the limits against the counts; once one is reached it stays reached, is logged once
  // and is written into the job's LimitReached. Returns the HVR_LIMIT_* value.
  int32_t CheckLimits();
  bool IsLimitReached() const { return m_LimitReached.load(std::memory_order_relaxed) != 0; }
  const char* GetServer() const { return m_Server.c_str(); }
  uint16_t GetPort() const { return m_Port; }
  // The server as links name it: "host", or "host:port" when the start URL named a port other
  // than its scheme's default.
  const std::string& GetServerAddress() const { return m_ServerAddress; }
  // True when the site is fetched over TLS: an https start URL with HVR_OPT_HTTPS. Without the
  // bit an https start URL is asked over plain HTTP, as any other.
  bool IsSecure() const { return m_StartScheme == "https" && HasOption(HVR_OPT_HTTPS) == 1; }
  // The scheme of the site's own absolute links: "https" for a secure site, else "http".
  const char* GetLinkScheme() const { return IsSecure() ? "https" : "http"; }
  CHttpConnection* GetConnection() const { return m_Connection; }
  // A further connection to the site's server, owned by the caller (deleted before the site);
  // null when none could be made.
  std::unique_ptr<CHttpConnection> OpenExtraConnection() const;

  // Start URL and folders.
  int SetUrl(const char* url);
  const char* GetStartPath() const { return m_StartPath.c_str(); }
  int SetSaveFolder(const char* root);
  const char* GetSaveFolder() const { return m_SaveFolder.c_str(); }
  int SetCompareFolder(const char* root);
  const char* GetCompareFolder() const { return m_CompareFolder.c_str(); }

  // Type filters.
  int AddType(const char* extension);
  int AddExcludeType(const char* extension);
  int SetAllTypes();
  int AddOptions(uint32_t bits);
  int IsIncluded(const char* path) const;
  int IsIncludedExt(const char* extension) const;
  int IsExcluded(const char* path) const;
  int IsExcludedExt(const char* extension) const;
  int HasOption(uint32_t bit) const { return (m_Options & bit) != 0 ? 1 : 0; }

  // The site's robots.txt rules, obeyed with HVR_OPT_ROBOTS: a link the rules disallow is not
  // accepted (AddUrl logs it as "\tRobots(path)"). Set by the worker before the walk.
  void SetRobots(RobotsRules rules) { m_Robots = std::move(rules); }
  // True when HVR_OPT_ROBOTS is set and the rules disallow path (a registry path, or one with
  // its leading "/").
  bool IsDisallowed(std::string_view path) const;

  // With HVR_OPT_QUERY_PAGES: the part of a URL path before its query ("list.php" of
  // "list.php?page=2"), which names the file's folder and type; else the whole path.
  std::string_view PathWithoutQuery(std::string_view path) const;

  // The form in which AddUrl lists path: without a leading "/", and a path whose last component
  // has no extension (and no query) as a folder ending in "/".
  std::string ListedForm(const char* path) const;

  // URL registry. links receives each newly accepted path's number in page order (may be null).
  int AddUrl(const char* path, KtWdlLinkList* links, int depth);
  // The path of an accepted item, by the number AddUrl gave it.
  std::string GetUrlPath(uint32_t number) const;
  // The paths of a list of links.
  std::vector<std::string> GetUrlPaths(const KtWdlLinkList& links) const;
  int MarkRestored(const char* path);
  // Records a failure of path: log line, the job's Error (and ErrorText: reason, or for
  // HVR_ERR_FILE the reason noted for the file), FailedFiles with FailedReasons for a listed
  // path that failed with HVR_ERR_FILE.
  int ReportUrlError(const char* path, int32_t code, std::string_view reason = {});
  // The reason behind the next failure of the current file, in words (empty: none known). Each
  // thread that fetches files keeps its own.
  void NoteReason(std::string_view reason);
  int IsListed(const char* path) const;
  int IsRestored(const char* path) const;
  int IsFailed(const char* path) const;
  // When IsRestored or IsFailed answers for path with a listed path that differs from it only in
  // letter case ("page.html" for "Page.html"), logs "\tSameAs(path):listed path": on a file
  // system that tells case apart, path is a file of its own that is not copied. Returns 1 then.
  int LogCaseTwin(const char* path) const;
  int ClearUrls();
  size_t GetUrlCount() const { return m_Urls.Size(); }
  int GetRestoredCount() const { return m_RestoredCount.load(std::memory_order_relaxed); }
  int GetFailedCount() const { return m_FailedCount.load(std::memory_order_relaxed); }
  bool HasLimits() const { return m_MaxFiles > 0 || m_MaxBytes > 0; }

  // Run state of the job. Created and running count as running; finished is final.
  enum RunState { kCreated = 0, kRunning = 1, kFinished = 2 };
  // Sets the state; a finished job stays finished (-1 then, else 0).
  int SetState(int state);
  int IsState(int state) const { return m_State.load() == state ? 1 : 0; }
  RunState GetState() const { return static_cast<RunState>(m_State.load()); }
  int SetError(int32_t code, std::string_view reason = {});
  int IsLogging() const;
  int WriteLog(const char* text, int stamped);
  int Lock() ACQUIRE();
  int Unlock() RELEASE();
  // The same lock for hvthread::LockGuard.
  void lock() ACQUIRE() { m_Lock.lock(); }
  void unlock() RELEASE() { m_Lock.unlock(); }

  HvrJobInfo* GetJob() const { return m_Job; }
  // Result fields of the job record that the fetcher writes.
  void SetJobLastModified(int32_t time);
  void SetJobUpdated();

  int OpenConnection();

 private:
  KtWdlUrlItem* FindExact(std::string_view path) const;
  KtWdlUrlItem* FindNoCase(std::string_view path) const;
  void SetJobError(int32_t code, std::string_view reason);
  // The calling thread's noted reason (the lock is held).
  std::string& Reason() const;
  void Logf(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  HvrJobInfo* m_Job;
  mutable hvthread::RecursiveMutex m_Lock;
  std::atomic<int> m_State{0};
  CInternetSession* m_Session;
  std::string m_Server;
  uint16_t m_Port = 0;
  std::string m_ServerAddress;
  std::string m_StartScheme;  // of the start URL, lower case
  CHttpConnection* m_Connection = nullptr;
  std::string m_Name;
  std::string m_StartPath;
  std::string m_SaveFolder;
  std::string m_CompareFolder;
  int m_MaxLinkDepth = -1;
  int m_MaxDirDepth = -1;
  int m_BufferSize = 0;
  int m_Interval = 0;
  int m_Connections = 1;
  std::vector<std::string> m_Types;
  std::vector<std::string> m_ExcludeTypes;
  int m_AllTypes = 0;
  uint32_t m_Options = 0;
  RobotsRules m_Robots;
  // Why the current file of each thread failed, where known.
  mutable std::unordered_map<std::thread::id, std::string> m_Reasons;
  KtWdlUrlRegistry m_Urls;
  int32_t m_MaxFiles = 0;
  int64_t m_MaxBytes = 0;
  std::atomic<int64_t> m_ReceivedBytes{0};
  std::atomic<int32_t> m_LimitReached{0};
  std::atomic<int> m_RestoredCount{0};
  std::atomic<int> m_FailedCount{0};
};

// The local folder of a URL path under a site folder: the folder part of the path appended to
// the site folder, always ending with "/". A last component with an extension is a file name
// and is cut off; any other last component is a folder.
std::string PageFolder(const std::string& siteFolder, const std::string& urlPath);

#endif  // HARVO_SITE_SITE_H
