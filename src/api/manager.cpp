#include "api/manager.h"

#include "job/session.h"
#include "platform/fs.h"
#include "platform/thread.h"
#include "util/log.h"

namespace {

constexpr int kWaitPollMs = 100;
// EndJob's wait for one job: short slices instead of a busy loop.
constexpr int kEndPollMs = 5;

bool IsAlive(const std::shared_ptr<const CWinThread::Life>& life) {
  return life && life->load() == CWinThread::kStillActive;
}

}  // namespace

KtWdlManager::KtWdlManager() = default;
KtWdlManager::~KtWdlManager() = default;

bool KtWdlManager::OpenSession(const HvrOpenInfo& info) {
  try {
    const char* proxy = info.Proxy.empty() ? nullptr : info.Proxy.c_str();
    m_Session = std::make_unique<KtWdlSession>(info.Agent.c_str(), proxy);
    m_Session->SetConnectTimeout(info.ConnectTimeout);
    m_Session->SetConnectRetries(info.ConnectRetries);
    // Settings that cannot work fail the open rather than every request later.
    if (!info.CaFile.empty() && !hvfs::CanOpenForReading(info.CaFile)) {
      m_Session.reset();
      return false;
    }
    m_Session->SetCaFile(info.CaFile);
    if (!m_Session->SetExtraHeaders(info.Headers) || !m_Session->SetCookieFile(info.CookieFile)) {
      m_Session.reset();
      return false;
    }
  } catch (...) {
    m_Session.reset();
    return false;
  }
  return true;
}

void KtWdlManager::CloseSession() {
  // Jobs still crawling would use the session after it is gone: stop them, wait, free them.
  if (IsRunning(-1) == 1) {
    RequestStop();
    WaitWhileRunning();
  }
  // The records of jobs that were never ended are ended here: their log objects would
  // otherwise be lost with the handle.
  for (const auto& job : m_Jobs) {
    if (job == nullptr) continue;
    HvrJobInfo* record = job->Site->GetJob();
    delete record->Log;
    record->Log = nullptr;
  }
  if (!m_Jobs.empty()) EndJob(-1);
  m_Jobs.clear();
  m_Session.reset();
}

int KtWdlManager::CreateJob(HvrJobInfo* job, int* index) {
  m_Jobs.push_back(std::make_unique<KtWdlJob>(m_Session.get(), job));
  KtWdlJob* entry = m_Jobs.back().get();
  *index = static_cast<int>(m_Jobs.size() - 1);
  if (job->Error != 0) {
    // A job that will never run counts as finished, so that no wait hangs on it.
    entry->Site->SetState(KtWdlSite::kFinished);
    return -1;
  }

  if (job->AllTypes != 0) {
    entry->Site->SetAllTypes();
  } else {
    for (const std::string& type : job->Types) entry->Site->AddType(type.c_str());
  }
  for (const std::string& type : job->ExcludeTypes) entry->Site->AddExcludeType(type.c_str());
  entry->Site->AddOptions(static_cast<uint32_t>(job->Options));
  return 0;
}

int KtWdlManager::StartJob(HvrJobInfo* job, int* index) {
  size_t before = m_Jobs.size();
  if (CreateJob(job, index) == 0 && m_Jobs.back()->StartThread()) return 0;
  if (m_Jobs.size() > before) m_Jobs.back()->Site->SetState(KtWdlSite::kFinished);
  return -1;
}

int KtWdlManager::StartMulti(HvrLinkArray* links) {
  std::vector<KtWdlJob*> created;
  bool failed = false;
  for (size_t i = 0; i < links->size(); ++i) {
    HvrLinkInfo* link = links->at(i);
    if (link->Selected == 0) continue;
    int index = 0;
    size_t before = m_Jobs.size();
    int result = CreateJob(&link->Job, &index);
    if (m_Jobs.size() > before) created.push_back(m_Jobs.back().get());
    if (result != 0) {
      link->Job.Error = HVR_ERR_SETTING;
      failed = true;
      break;
    }
  }
  if (!failed) {
    auto thread = std::make_unique<KtWdlMultiThread>(m_Session.get(), created, m_MultiThread);
    auto life = thread->GetLife();
    // The run's thread only starts jobs and waits; it keeps its jobs' priority, so that a run at
    // normal priority is not held up between two sites by a busy machine.
    const bool idle =
        created.empty() || created.front()->Site->HasOption(HVR_OPT_NORMAL_PRIORITY) == 0;
    if (thread->CreateThread(idle)) {
      (void)thread.release();  // deletes itself when its thread ends
      m_MultiThread = life;
      return 0;
    }
  }
  for (KtWdlJob* job : created) job->Site->SetState(KtWdlSite::kFinished);
  return -1;
}

int KtWdlManager::EndJob(int index) {
  if (index >= static_cast<int>(m_Jobs.size())) return -1;
  for (size_t slot = 0; slot < m_Jobs.size(); ++slot) {
    if (index >= 0 && slot != static_cast<size_t>(index)) continue;
    if (m_Jobs[slot] == nullptr) continue;
    while (IsRunning(static_cast<int>(slot)) == 1) hvthread::SleepMilliseconds(kEndPollMs);
    m_Jobs[slot].reset();
  }
  return 0;
}

int KtWdlManager::IsRunning(int index) const {
  if (IsAlive(m_MultiThread)) return 1;
  if (index >= static_cast<int>(m_Jobs.size())) return 0;
  for (size_t slot = 0; slot < m_Jobs.size(); ++slot) {
    if (index >= 0 && slot != static_cast<size_t>(index)) continue;
    const KtWdlJob* job = m_Jobs[slot].get();
    if (job != nullptr && job->GetState() != KtWdlSite::kFinished) return 1;
  }
  return 0;
}

void KtWdlManager::WaitWhileRunning() const {
  while (IsRunning(-1) == 1) hvthread::SleepMilliseconds(kWaitPollMs);
}

void KtWdlManager::RequestStop() {
  if (m_Session) m_Session->RequestStop();
}

int KtWdlManager::CountRunning() const {
  int count = 0;
  for (const auto& job : m_Jobs) {
    if (job != nullptr && job->IsThreadAlive()) ++count;
  }
  return count;
}
