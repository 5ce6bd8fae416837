// The two log exports: the host opens and closes a job's log through its record.
#include "harvo.h"
#include "util/log.h"

HVR_API void HvrLogStart(HvrJobInfo* job, const char* path) {
  if (job == nullptr || job->Log == nullptr) return;  // no record, or a job not started
  try {
    job->Log->Open(path);
  } catch (...) {
    // No exception crosses the export; the log stays closed and the job runs on.
  }
}

HVR_API void HvrLogStop(HvrJobInfo* job) {
  if (job == nullptr || job->Log == nullptr) return;
  try {
    job->Log->Close();
  } catch (...) {
  }
}
