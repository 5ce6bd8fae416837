#include "run_watch.h"

#include <algorithm>
#include <chrono>

namespace {

// The display and the counts are refreshed this often; whether the run has ended is asked
// every kEndCheck, a cheap query that takes no job's lock, so that a short copy is not held
// up to a whole interval after its end.
constexpr std::chrono::milliseconds kPollInterval{100};
constexpr std::chrono::milliseconds kEndCheck{5};

// True when the job in slot has begun: a count has moved or its fetcher names a file. The
// counts are read first, without a lock; the names only when they are needed, since a name
// query waits while the job holds its lock for a request.
bool HasStarted(KtWdlManager** handle, int slot) {
  if (HvrGetDLRestoredNum(handle, slot) > 0 || HvrGetDLFailedNum(handle, slot) > 0) return true;
  char buffer[HVR_TEXT_BUFFER_SIZE];
  buffer[0] = '\0';
  if (HvrGetDLURL(handle, slot, buffer) == 0 && buffer[0] != '\0') return true;
  buffer[0] = '\0';
  return HvrGetDLFileName(handle, slot, buffer) == 0 && buffer[0] != '\0';
}

// The latest job of a multi-site run that has started, never before current: the run starts
// its jobs one after the other, each after the previous one has ended.
size_t FindActive(KtWdlManager** handle, const std::vector<WatchedJob>& jobs, size_t current) {
  for (size_t k = jobs.size(); k-- > current + 1;) {
    if (HasStarted(handle, jobs[k].slot)) return k;
  }
  return current;
}

void FinishJob(KtWdlManager** handle, WatchedJob* job, bool multi, ProgressDisplay* display) {
  job->saved = std::max(0, HvrGetDLRestoredNum(handle, job->slot));
  job->failed = std::max(0, HvrGetDLFailedNum(handle, job->slot));
  for (const FinishedFile& file : job->tracker.Finish(job->saved, job->failed)) {
    display->Report(file, multi ? job->label : std::string());
  }
}

}  // namespace

int WatchRun(KtWdlManager** handle, std::vector<WatchedJob>* jobs, bool multi,
             ProgressDisplay* display, StopWatcher* watcher) {
  size_t active = 0;
  bool stopNoted = false;
  while (!jobs->empty() && HvrIsDL(handle, multi ? -1 : jobs->front().slot) != 0) {
    if (watcher->timeUp() && !stopNoted) {
      stopNoted = true;
      display->NoteLimit();
      for (WatchedJob& job : *jobs) job.tracker.NoteStop();
    }
    int signal = watcher->signal();
    if (signal != 0 && !stopNoted) {
      stopNoted = true;
      display->NoteStop(signal);
      for (WatchedJob& job : *jobs) job.tracker.NoteStop();
    }
    if (multi) {
      size_t next = FindActive(handle, *jobs, active);
      // Every job before the new one has ended: its counts are final.
      for (; active < next; ++active) FinishJob(handle, &(*jobs)[active], multi, display);
    }
    WatchedJob& job = (*jobs)[active];
    JobSample sample = PollJob(handle, job.slot);
    for (const FinishedFile& file : job.tracker.Update(sample)) {
      display->Report(file, multi ? job.label : std::string());
    }

    StatusInfo status;
    status.site = job.label;
    status.path = sample.CurrentPath();
    status.received = sample.received;
    status.announced = sample.announced;
    for (size_t k = 0; k < jobs->size(); ++k) {
      const WatchedJob& other = (*jobs)[k];
      status.saved += k == active ? sample.saved : other.saved;
      status.failed += k == active ? sample.failed : other.failed;
      status.bytes += other.tracker.bytes();
    }
    status.stopping = stopNoted;
    display->Show(status);
    for (auto waited = std::chrono::milliseconds(0); waited < kPollInterval; waited += kEndCheck) {
      if (watcher->WaitForEvent(kEndCheck)) break;
      if (HvrIsDL(handle, multi ? -1 : jobs->front().slot) == 0) break;
    }
  }
  watcher->Disarm();
  int signal = watcher->signal();
  if (signal != 0 && !stopNoted) {
    display->NoteStop(signal);
    for (WatchedJob& job : *jobs) job.tracker.NoteStop();
  }
  for (size_t k = active; k < jobs->size(); ++k) FinishJob(handle, &(*jobs)[k], multi, display);
  display->Clear();
  return signal;
}
