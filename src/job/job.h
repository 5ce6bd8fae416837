// One job of a handle: its crawl state, its fetcher and its worker thread. The job owns the
// crawl state and the fetcher; the thread object belongs to the job until its thread is started,
// and deletes itself when that thread ends. Questions about the thread go through its life
// state, which outlives the object.
#ifndef HARVO_JOB_JOB_H
#define HARVO_JOB_JOB_H

#include <memory>

#include "fetch/fetcher.h"
#include "harvo.h"
#include "job/crawl_thread.h"
#include "site/site.h"

class KtWdlSession;

class KtWdlJob {
 public:
  // The crawl state from the record (problems go into record->Error), its fetcher and its
  // thread, which is not started yet.
  KtWdlJob(KtWdlSession* session, HvrJobInfo* record);
  ~KtWdlJob();
  KtWdlJob(const KtWdlJob&) = delete;
  KtWdlJob& operator=(const KtWdlJob&) = delete;

  // Starts the worker thread. A job's thread is started at most once: false when it was started
  // before, when the job already finished (a job that never ran stays finished), or when no
  // thread could be created.
  bool StartThread();
  // The thread was created and has not ended yet.
  bool IsThreadAlive() const;
  // The run state of the job (its crawl state's).
  KtWdlSite::RunState GetState() const { return Site->GetState(); }

  // Declared before the fetcher, so that the fetcher is deleted first.
  std::unique_ptr<KtWdlSite> Site;
  std::unique_ptr<KtWdlFetcher> Fetcher;

 private:
  std::unique_ptr<KtWdlThread> m_Thread;  // until started; then the thread deletes it
  std::shared_ptr<const CWinThread::Life> m_Life;
  bool m_Started = false;
};

#endif  // HARVO_JOB_JOB_H
