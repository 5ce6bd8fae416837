#include "job/crawl_thread.h"

#include "fetch/fetcher.h"
#include "harvo.h"
#include "job/fetch_pool.h"
#include "job/job.h"
#include "job/session.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/thread.h"
#include "site/site.h"
#include "util/fileutil.h"

namespace {
constexpr int kPollMs = 100;
// A temporary file this old in the site folder was left by a run that ended at once; a younger
// one may belong to a run going on beside this one, whose writes keep it young.
constexpr int64_t kStaleTemporaryAge = 60;
}  // namespace

// One level of the walk: a received page and the position in its list of links.
struct KtWdlThread::Frame {
  KtWdlLinkList links;
  size_t next = 0;
  int depth = 0;
};

KtWdlThread::KtWdlThread(KtWdlSession* session, KtWdlSite* site, KtWdlFetcher* fetcher)
    : m_Session(session), m_Site(site), m_Fetcher(fetcher) {}

bool KtWdlThread::InitInstance() {
  m_Site->SetState(KtWdlSite::kCreated);
  return true;
}

int KtWdlThread::Run() {
  m_Site->SetState(KtWdlSite::kRunning);
  const char* name = m_Site->GetName();
  std::string start = m_Site->GetStartPath();
  const std::string startFolder(m_Site->PathWithoutQuery(start));
  std::string save = PageFolder(m_Site->GetSaveFolder(), startFolder);
  std::string compareRoot = m_Site->GetCompareFolder();
  std::string compare = compareRoot.empty() ? std::string() : PageFolder(compareRoot, startFolder);
  // A check-only run writes nothing, and removes nothing either.
  const std::string siteFolder = m_Site->GetSaveFolder();
  if (!siteFolder.empty() && !m_Site->HasOption(HVR_OPT_CHECK_ONLY)) {
    hvfs::RemoveStaleTemporaryFiles(siteFolder, kStaleTemporaryAge,
                                    [this] { return m_Session->IsStopRequested() == 1; });
  }
  // The rules must be known before the start page's links are looked at. A job started after a
  // stop goes straight to its start page, as without the rules; a stop that comes while
  // robots.txt is awaited ends the job there, as a stop during the start page does.
  bool stoppedBeforeTheWalk = false;
  if (m_Site->HasOption(HVR_OPT_ROBOTS) && !m_Site->HasOption(HVR_OPT_CHECK_ONLY) &&
      m_Session->IsStopRequested() == 0) {
    m_Fetcher->LoadRobots();
    stoppedBeforeTheWalk = m_Session->IsStopRequested() == 1;
  }
  if (stoppedBeforeTheWalk || Crawl(name, start, save, compare, 0) == kFailed) {
    m_Site->ReportUrlError(start.c_str(), HVR_ERR_FILE);
  }
  // The cookies the site set are on disk once the job has ended, not only when the handle
  // closes.
  if (m_Session != nullptr) m_Session->SaveCookies();
  return ExitInstance();
}

int KtWdlThread::ExitInstance() {
  // After this the job may be ended and its site and fetcher deleted at any moment.
  m_Site->SetState(KtWdlSite::kFinished);
  return CWinThread::ExitInstance();
}

int KtWdlThread::Enter(KtWdlFetcher* fetcher, const char* name, const std::string& urlPath,
                       const std::string& saveFolder, const std::string& compareFolder, int depth,
                       Frame* frame) {
  int maxDirDepth = m_Site->GetMaxDirDepth();
  const std::string folderPath(m_Site->PathWithoutQuery(urlPath));
  if (maxDirDepth != -1 && CountOccurrences(folderPath.c_str(), "/") >= maxDirDepth) {
    m_Site->NoteReason("beyond the directory-depth limit");
    return kFailed;
  }

  if (fetcher->RequestFile(name, urlPath.c_str(), saveFolder.c_str(), compareFolder.c_str()) ==
      -1) {
    m_Site->ReportUrlError(urlPath.c_str(), HVR_ERR_FILE);
    return kFailed;
  }

  // The key names the file that was found; for a directory, its index file. A root file's
  // directory is "/", which the registry does not keep in its paths.
  std::string key = fetcher->GetUrlDirectory() + fetcher->GetFileName();
  if (!key.empty() && key.front() == '/') key.erase(0, 1);
  // A folder's index file may be one that another connection is fetching.
  if (fetcher == m_Fetcher) AwaitFile(key);
  if (m_Site->IsRestored(key.c_str()) == 1) {
    m_Site->LogCaseTwin(key.c_str());
    return kDone;
  }
  m_Site->AddUrl(key.c_str(), nullptr, depth);
  if (m_Site->HasOption(HVR_OPT_CHECK_ONLY)) return kDone;

  bool receive = true;
  if (m_Site->HasOption(HVR_OPT_UPDATE_NONHTML)) {
    receive = fetcher->IsFileType(KtWdlFetcher::kTypeHtml) == 1 || fetcher->IsChanged() == 1;
  } else if (m_Site->HasOption(HVR_OPT_UPDATE_ONLY)) {
    receive = fetcher->IsChanged() == 1;
  }

  frame->links.clear();
  frame->next = 0;
  frame->depth = depth;
  if (!receive && m_Site->HasOption(HVR_OPT_WALK_UNCHANGED) == 1 &&
      fetcher->IsFileType(KtWdlFetcher::kTypeHtml) == 1) {
    // An unchanged page's links come from its earlier copy; a copy that cannot be read gives
    // way to the page itself.
    int result = fetcher->WalkEarlierCopy(&frame->links, depth);
    if (result == 1) {
      frame->links.clear();
      return kStopped;
    }
    receive = result == -1;
  }
  if (receive) {
    int result = fetcher->DownloadFile(&frame->links, depth);
    if (result == -1) {
      m_Site->ReportUrlError(urlPath.c_str(), HVR_ERR_FILE);
      frame->links.clear();
      return kFailed;
    }
    if (result == 1) {
      frame->links.clear();
      return kStopped;
    }
  }
  return kDescend;
}

bool KtWdlThread::IsFetchedAside(const std::string& urlPath) const {
  // A query page may be scanned because of the answer's type; a folder stands for its index
  // page.
  if (urlPath.find('?') != std::string::npos) return false;
  const size_t slash = cp932::FindLast(urlPath, '/');
  const size_t nameStart = slash == cp932::npos ? 0 : slash + 1;
  const size_t dot = cp932::FindLast(urlPath, '.');
  if (dot == cp932::npos || dot <= nameStart) return false;
  const std::string_view extension = std::string_view(urlPath).substr(dot);
  // Pages, and style sheets (scanned with HVR_OPT_MORE_LINKS), stay with the walk.
  return !cp932::EqualsNoCase(extension, ".html") && !cp932::EqualsNoCase(extension, ".htm") &&
         !cp932::EqualsNoCase(extension, ".css");
}

void KtWdlThread::AwaitFile(std::string_view path) {
  if (m_Pool != nullptr) m_Pool->Await(path);
}

int KtWdlThread::Crawl(const char* name, const std::string& urlPath, const std::string& saveFolder,
                       const std::string& compareFolder, int depth) {
  // The walk runs on an explicit stack, so that a site of any link depth fits the thread.
  std::vector<Frame> stack(1);
  int result = Enter(m_Fetcher, name, urlPath, saveFolder, compareFolder, depth, &stack.back());
  if (result != kDescend) return result;

  // The further connections live as long as the walk: leaving, it waits for their files.
  std::unique_ptr<KtWdlFetchPool> pool;
  const int connections = m_Site->GetConnections();
  if (connections > 1) {
    pool = std::make_unique<KtWdlFetchPool>(m_Session, m_Site, connections - 1, m_Fetcher);
    if (pool->Size() > 0) {
      m_Pool = pool.get();
      m_Fetcher->SetAwaitFile([this](const std::string& path) { AwaitFile(path); });
    }
  }
  struct Detach {
    KtWdlThread* thread;
    ~Detach() {
      thread->m_Pool = nullptr;
      thread->m_Fetcher->SetAwaitFile(nullptr);
    }
  } detach{this};
  result = Walk(name, &stack);
  // Every file handed over is done before the walk counts as done.
  if (m_Pool != nullptr) {
    m_Pool->AwaitAll();
    if (result == kDone && m_Pool->Stopped()) result = kStopped;
  }
  return result;
}

int KtWdlThread::Walk(const char* name, std::vector<Frame>* frames) {
  std::vector<Frame>& stack = *frames;

  const std::string siteFolder = m_Site->GetSaveFolder();
  while (!stack.empty()) {
    Frame& frame = stack.back();
    bool descended = false;
    while (frame.next < frame.links.size()) {
      const std::string entry = m_Site->GetUrlPath(frame.links[frame.next]);
      // The walk decides on a file as it would after fetching every earlier one itself; a stop
      // that came meanwhile ends it before the file.
      AwaitFile(entry);
      if (m_Session->IsStopRequested() == 1 || m_Site->IsLimitReached()) break;
      // A file that another connection ended with a stop ends the walk as the walk's own would.
      if (m_Pool != nullptr && m_Pool->Stopped()) return kStopped;
      ++frame.next;
      if (m_Site->IsRestored(entry.c_str()) == 1 || m_Site->IsFailed(entry.c_str()) == 1) {
        // Names are one file whatever their letter case; say so where the disk would differ.
        m_Site->LogCaseTwin(entry.c_str());
        continue;
      }
      // Below the start page, the earlier copy is the one already lying in the save folder.
      std::string folder = PageFolder(siteFolder, std::string(m_Site->PathWithoutQuery(entry)));
      const int childDepth = frame.depth + 1;
      if (m_Pool != nullptr && IsFetchedAside(entry)) {
        m_Pool->Submit(entry, [this, name, entry, folder, childDepth](KtWdlFetcher* fetcher) {
          // Handed over before a stop but not started: the walk would not have started it.
          if (m_Session->IsStopRequested() == 1) return static_cast<int>(kStopped);
          Frame none;
          return Enter(fetcher, name, entry, folder, folder, childDepth, &none);
        });
        continue;
      }
      Frame child;
      int childResult = Enter(m_Fetcher, name, entry, folder, folder, childDepth, &child);
      if (childResult == kDescend) {
        stack.push_back(std::move(child));
        descended = true;
        break;
      }
      // A stop while receiving ends every level of the walk.
      if (childResult == kStopped) return kStopped;
    }
    if (descended) continue;
    stack.pop_back();
    if (m_Session->IsStopRequested() == 1 || m_Site->IsLimitReached()) return kStopped;
  }
  return kDone;
}

KtWdlMultiThread::KtWdlMultiThread(KtWdlSession* session, std::vector<KtWdlJob*> jobs,
                                   std::shared_ptr<const Life> previous)
    : m_Session(session), m_Jobs(std::move(jobs)), m_Previous(std::move(previous)) {}

int KtWdlMultiThread::Run() {
  StartJobs();
  return ExitInstance();
}

int KtWdlMultiThread::StartJobs() {
  while (m_Previous && m_Previous->load() == kStillActive) hvthread::SleepMilliseconds(kPollMs);
  for (size_t i = 0; i < m_Jobs.size(); ++i) {
    KtWdlJob* job = m_Jobs[i];
    if (!job->StartThread()) {
      job->Site->SetError(HVR_ERR_THREAD);
      // The jobs that will never run are finished, so that no wait of the handle hangs on them.
      for (size_t j = i; j < m_Jobs.size(); ++j) m_Jobs[j]->Site->SetState(KtWdlSite::kFinished);
      return -1;
    }
    while (job->GetState() != KtWdlSite::kFinished) hvthread::SleepMilliseconds(kPollMs);
  }
  return 0;
}
