#include "job/job.h"

#include "job/session.h"

KtWdlJob::KtWdlJob(KtWdlSession* session, HvrJobInfo* record)
    : Site(std::make_unique<KtWdlSite>(session, record)),
      Fetcher(std::make_unique<KtWdlFetcher>(
          session, session != nullptr ? &session->GetStopFlag() : nullptr, Site.get())),
      m_Thread(std::make_unique<KtWdlThread>(session, Site.get(), Fetcher.get())),
      m_Life(m_Thread->GetLife()) {}

KtWdlJob::~KtWdlJob() = default;

bool KtWdlJob::StartThread() {
  if (m_Started || Site->GetState() == KtWdlSite::kFinished) return false;
  m_Started = true;
  const bool idle = Site->HasOption(HVR_OPT_NORMAL_PRIORITY) == 0;
  if (!m_Thread->CreateThread(idle)) return false;
  // From here on the thread deletes its object when it ends.
  (void)m_Thread.release();
  return true;
}

bool KtWdlJob::IsThreadAlive() const {
  return m_Life->load() == CWinThread::kStillActive;
}
