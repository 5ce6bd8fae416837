// The worker thread of a job, which walks the site depth-first from its start page, and the
// thread of a multi-site run, which starts the jobs of its table one after the other.
#ifndef HARVO_JOB_CRAWL_THREAD_H
#define HARVO_JOB_CRAWL_THREAD_H

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winthread.h"

class KtWdlFetchPool;
class KtWdlSession;
class KtWdlSite;
class KtWdlFetcher;
class KtWdlJob;

class KtWdlThread : public CWinThread {
 public:
  KtWdlThread(KtWdlSession* session, KtWdlSite* site, KtWdlFetcher* fetcher);
  ~KtWdlThread() override = default;

  bool InitInstance() override;
  int Run() override;
  int ExitInstance() override;

  // Results of Crawl and of its steps.
  enum CrawlResult { kFailed = -1, kDone = 0, kStopped = 1 };

  // Requests, receives and walks one URL path and everything below it, in the order of a
  // recursive pre-order walk. kDone, kStopped or kFailed. With more than one connection, the
  // files that are not scanned for links go to the job's other connections; the walk's
  // decisions stay those of one connection.
  int Crawl(const char* name, const std::string& urlPath, const std::string& saveFolder,
            const std::string& compareFolder, int depth);

 private:
  struct Frame;
  // Steps of one path up to its receipt. kDescend: the file was received (or left alone by the
  // update rules) and frame holds its links; otherwise the path's CrawlResult.
  static constexpr int kDescend = 2;
  // fetcher: the walk's own, or that of another connection (which enters a file the walk
  // handed over).
  int Enter(KtWdlFetcher* fetcher, const char* name, const std::string& urlPath,
            const std::string& saveFolder, const std::string& compareFolder, int depth,
            Frame* frame);
  // The path names a file that is not scanned for links whatever the server answers, so that
  // another connection may fetch it while the walk goes on.
  bool IsFetchedAside(const std::string& urlPath) const;
  // The loop of Crawl over the frames below the start page.
  int Walk(const char* name, std::vector<Frame>* frames);
  // Waits until no file of the path (ignoring case) is in flight; nothing without a pool.
  void AwaitFile(std::string_view path);

  KtWdlSession* m_Session;
  KtWdlSite* m_Site;
  KtWdlFetcher* m_Fetcher;
  KtWdlFetchPool* m_Pool = nullptr;  // while Crawl runs with further connections
};

class KtWdlMultiThread : public CWinThread {
 public:
  // jobs: the jobs of this run, in the order of their links; none of them was started.
  // previous: the life of an earlier run of the handle (may be null), which this run waits for
  // before its first job starts, so that the handle's runs download one site at a time.
  KtWdlMultiThread(KtWdlSession* session, std::vector<KtWdlJob*> jobs,
                   std::shared_ptr<const Life> previous);
  ~KtWdlMultiThread() override = default;

  bool InitInstance() override { return true; }
  int Run() override;

  // Starts each job's thread and waits until its crawl state is finished. 0, or -1 when a
  // thread could not be created.
  int StartJobs();

 private:
  [[maybe_unused]] KtWdlSession* m_Session;  // kept with the run; its jobs carry their own
  std::vector<KtWdlJob*> m_Jobs;
  std::shared_ptr<const Life> m_Previous;
};

#endif  // HARVO_JOB_CRAWL_THREAD_H
