// The object behind a handle: the internet session, the job table and the multi-site runs.
// Slots of the job table are appended and never reused; an ended job leaves its slot empty.
// The exports call it on the host's thread only.
#ifndef HARVO_API_MANAGER_H
#define HARVO_API_MANAGER_H

#include <memory>
#include <vector>

#include "harvo.h"
#include "job/job.h"
#include "platform/winthread.h"

class KtWdlSession;

class KtWdlManager {
 public:
  KtWdlManager();
  virtual ~KtWdlManager();
  KtWdlManager(const KtWdlManager&) = delete;
  KtWdlManager& operator=(const KtWdlManager&) = delete;

  // Creates the session; false when it could not be opened.
  bool OpenSession(const HvrOpenInfo& info);
  // Stops and frees every job, then deletes the session.
  void CloseSession();
  KtWdlSession* GetSession() const { return m_Session.get(); }

  // A new job from the record, its slot written to *index once it reached the table. -1 when it
  // could not be created or started; such a job counts as finished.
  int StartJob(HvrJobInfo* job, int* index);
  // Jobs for the selected links, then a multi-site thread over exactly those jobs. A run started
  // while an earlier run of the handle still goes waits for that run to end before its first
  // job starts. -1 on failure; the jobs created then count as finished.
  int StartMulti(HvrLinkArray* links);
  // Waits for the selected slots (negative: all) to finish, then frees their jobs. -1 when the
  // index is at or beyond the number of slots.
  int EndJob(int index);
  // 1 while a multi-site thread lives, or a selected slot holds a job that is created or running.
  int IsRunning(int index) const;
  // Waits until no job runs, testing every 100 ms.
  void WaitWhileRunning() const;
  // Sets the session's stop request.
  void RequestStop();
  // Jobs whose worker thread is alive.
  int CountRunning() const;

  int GetSlotCount() const { return static_cast<int>(m_Jobs.size()); }
  KtWdlJob* GetJob(int index) const { return m_Jobs[static_cast<size_t>(index)].get(); }

 private:
  int CreateJob(HvrJobInfo* job, int* index);

  std::vector<std::unique_ptr<KtWdlJob>> m_Jobs;
  std::unique_ptr<KtWdlSession> m_Session;
  std::shared_ptr<const CWinThread::Life> m_MultiThread;  // life of the latest multi-site thread
};

#endif  // HARVO_API_MANAGER_H
