// The worker thread of a job, which walks the site depth-first from its start page, and the
// thread of a multi-site run, which starts the jobs of its table one after the other.
#ifndef HARVO_JOB_CRAWL_THREAD_H
#define HARVO_JOB_CRAWL_THREAD_H

#include <string>
#include <vector>

#include "platform/winthread.h"

class KtWdlSession;
class KtWdlSite;
class KtWdlFetcher;
struct KtWdlJob;

class KtWdlThread : public CWinThread {
 public:
  KtWdlThread(KtWdlSession* session, KtWdlSite* site, KtWdlFetcher* fetcher);
  ~KtWdlThread() override = default;

  bool InitInstance() override;
  int Run() override;
  int ExitInstance() override;

  // Requests, receives and walks one URL path and everything below it, in the order of a
  // recursive pre-order walk. 0 done, 1 stop requested, -1 failed.
  int Crawl(const char* name, const std::string& urlPath, const std::string& saveFolder,
            const std::string& compareFolder, int depth);

 private:
  struct Frame;
  // Steps of one path up to its receipt. kDescend: the page was received and frame holds its
  // links; otherwise the path's result.
  static constexpr int kDescend = 2;
  int Enter(const char* name, const std::string& urlPath, const std::string& saveFolder,
            const std::string& compareFolder, int depth, Frame* frame);

  KtWdlSession* m_Session;
  KtWdlSite* m_Site;
  KtWdlFetcher* m_Fetcher;
};

class KtWdlMultiThread : public CWinThread {
 public:
  // jobs: the handle's job table as it stands when the run starts.
  KtWdlMultiThread(KtWdlSession* session, std::vector<KtWdlJob*> jobs);
  ~KtWdlMultiThread() override = default;

  bool InitInstance() override { return true; }
  int Run() override;

  // Starts each job's thread and waits until its crawl state is finished. 0, or -1 when a
  // thread could not be created.
  int StartJobs();

 private:
  [[maybe_unused]] KtWdlSession* m_Session;  // kept with the run; its jobs carry their own
  std::vector<KtWdlJob*> m_Jobs;
};

#endif  // HARVO_JOB_CRAWL_THREAD_H
