// Handle lifecycle and job control.
#include "api/guard.h"
#include "api/manager.h"
#include "harvo.h"
#include "util/log.h"

namespace {

// A new, closed log for a record that starts a job. An earlier log object of the record is no
// longer reachable from it (the record was not ended).
void PrepareRecord(HvrJobInfo* job) {
  job->Error = 0;
  job->ErrorText.clear();
  job->Log = new KtWdlLog();
  job->Updated = 0;
}

void FinishRecord(HvrJobInfo* job) {
  job->FailedFiles.clear();
  job->FailedReasons.clear();
  delete job->Log;
  job->Log = nullptr;
}

}  // namespace

HVR_API int HvrOpen(KtWdlManager** handle, HvrOpenInfo* info) {
  return Guarded(1, [&] {
    if (handle == nullptr || info == nullptr) return 1;
    info->Error = 0;
    *handle = new KtWdlManager();
    if (!(*handle)->OpenSession(*info)) {
      info->Error = HVR_ERR_SESSION;
      return 1;
    }
    return 0;
  });
}

HVR_API int HvrClose(KtWdlManager** handle, void* reserved) {
  return Guarded(1, [&] {
    if (handle == nullptr || *handle == nullptr || reserved == nullptr) return 1;
    (*handle)->CloseSession();
    delete *handle;
    *handle = nullptr;
    return 0;
  });
}

HVR_API int HvrStart(KtWdlManager** handle, HvrJobInfo* job, int* index) {
  return Guarded(1, [&] {
    if (handle == nullptr || *handle == nullptr || job == nullptr || index == nullptr) return 1;
    PrepareRecord(job);
    if ((*handle)->StartJob(job, index) != 0) {
      job->Error = HVR_ERR_FILE;
      return 1;
    }
    return 0;
  });
}

HVR_API int HvrEnd(KtWdlManager** handle, HvrJobInfo* job, int index) {
  return Guarded(1, [&] {
    if (handle == nullptr || *handle == nullptr || job == nullptr) return 1;
    if ((*handle)->EndJob(index) != 0) {
      job->Error = HVR_ERR_BAD_INDEX;
      return 1;
    }
    (*handle)->WaitWhileRunning();
    FinishRecord(job);
    return 0;
  });
}

HVR_API int HvrStop(KtWdlManager** handle, HvrJobInfo* /*job*/, int /*index*/) {
  return Guarded(1, [&] {
    if (handle == nullptr || *handle == nullptr) return 1;
    (*handle)->RequestStop();
    (*handle)->WaitWhileRunning();
    return 0;
  });
}

HVR_API int HvrMultiStart(KtWdlManager** handle, HvrJobInfo* tmpl, HvrLinkArray** links) {
  return Guarded(1, [&] {
    if (handle == nullptr || *handle == nullptr || links == nullptr || *links == nullptr) return 1;
    HvrLinkArray* array = *links;
    for (size_t i = 0; i < array->size(); ++i) {
      if (array->at(i)->Selected != 0 && tmpl == nullptr) return 1;
    }
    for (size_t i = 0; i < array->size(); ++i) {
      HvrLinkInfo* link = array->at(i);
      if (link->Selected == 0) continue;
      HvrJobInfo& job = link->Job;
      job.SaveFolder = tmpl->SaveFolder;
      job.CompareFolder = tmpl->CompareFolder;
      job.MaxDirDepth = tmpl->MaxDirDepth;
      job.MaxLinkDepth = tmpl->MaxLinkDepth;
      job.AllTypes = tmpl->AllTypes;
      job.Types = tmpl->Types;
      job.ExcludeTypes = tmpl->ExcludeTypes;
      job.Options = tmpl->Options;
      job.BufferSize = tmpl->BufferSize;
      job.Interval = tmpl->Interval;
      job.MaxFiles = tmpl->MaxFiles;
      job.MaxKBytes = tmpl->MaxKBytes;
      PrepareRecord(&job);
    }
    if ((*handle)->StartMulti(array) != 0) {
      if (!array->empty()) array->at(array->size() - 1)->Job.Error = HVR_ERR_FILE;
      return 1;
    }
    return 0;
  });
}

HVR_API int HvrMultiEnd(KtWdlManager** handle, HvrLinkArray** links) {
  return Guarded(1, [&] {
    if (handle == nullptr || *handle == nullptr || links == nullptr || *links == nullptr) return 1;
    (*handle)->EndJob(-1);
    (*handle)->WaitWhileRunning();
    HvrLinkArray* array = *links;
    for (size_t i = 0; i < array->size(); ++i) {
      if (array->at(i)->Selected != 0) FinishRecord(&array->at(i)->Job);
    }
    return 0;
  });
}

HVR_API int HvrMultiStop(KtWdlManager** handle) {
  return Guarded(1, [&] {
    if (handle == nullptr || *handle == nullptr) return 1;
    (*handle)->RequestStop();
    (*handle)->WaitWhileRunning();
    return 0;
  });
}
