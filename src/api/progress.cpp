// Progress queries: the host polls which jobs run and what each is doing.
#include <algorithm>
#include <cstring>
#include <string>

#include "api/guard.h"
#include "api/manager.h"
#include "fetch/fetcher.h"
#include "harvo.h"
#include "site/site.h"

namespace {

enum class Query { kSiteName, kFileName, kUrl, kSize, kReceived, kRestored, kFailed };

// Outcome of selecting a job: the job, or why there is none.
enum class Selection { kFound, kFailed, kMissing };

struct Selected {
  Selection outcome = Selection::kFailed;
  KtWdlJob* job = nullptr;
};

bool NeedsRunning(Query query) {
  return query != Query::kRestored && query != Query::kFailed;
}

Selected Select(const KtWdlManager& manager, int index, Query query) {
  Selected result;
  int slots = manager.GetSlotCount();
  if (index >= slots) return result;
  KtWdlJob* job = nullptr;
  if (index >= 0) {
    if (NeedsRunning(query) && manager.IsRunning(index) == 0) return result;
    job = manager.GetJob(index);
  } else {
    bool found = false;
    for (int slot = 0; slot < slots && !found; ++slot) {
      if (manager.IsRunning(slot) == 0) continue;
      // The name queries pass over running slots whose job was ended already.
      if ((query == Query::kSiteName || query == Query::kFileName) &&
          manager.GetJob(slot) == nullptr) {
        continue;
      }
      job = manager.GetJob(slot);
      found = true;
    }
    if (!found) return result;
  }
  if (job == nullptr || job->Fetcher == nullptr) {
    result.outcome = Selection::kMissing;
    return result;
  }
  result.outcome = Selection::kFound;
  result.job = job;
  return result;
}

void CopyText(const std::string& text, char* buffer) {
  size_t length = std::min(text.size(), static_cast<size_t>(HVR_TEXT_BUFFER_SIZE - 1));
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
}

// SiteName and FileName empty the buffer first and report every failure as 1.
int NameQuery(KtWdlManager** handle, int index, char* buffer, Query query) {
  return Guarded(1, [&] {
    if (handle == nullptr || *handle == nullptr || buffer == nullptr) return 1;
    buffer[0] = '\0';
    Selected selected = Select(**handle, index, query);
    if (selected.outcome != Selection::kFound) return 1;
    KtWdlFetcher* fetcher = selected.job->Fetcher.get();
    CopyText(query == Query::kSiteName ? fetcher->GetSiteName() : fetcher->GetFileName(), buffer);
    return 0;
  });
}

int NumberQuery(KtWdlManager** handle, int index, Query query) {
  return Guarded(0, [&] {
    if (handle == nullptr || *handle == nullptr) return 0;
    Selected selected = Select(**handle, index, query);
    if (selected.outcome == Selection::kFailed) return 0;
    if (selected.outcome == Selection::kMissing) return -1;
    KtWdlJob* job = selected.job;
    switch (query) {
      case Query::kSize: return job->Fetcher->GetContentLength();
      case Query::kReceived: return job->Fetcher->GetReceivedSize();
      case Query::kRestored: return job->Site->GetRestoredCount();
      case Query::kFailed: return job->Site->GetFailedCount();
      default: return 0;
    }
  });
}

}  // namespace

HVR_API int HvrIsDL(KtWdlManager** handle, int index) {
  return Guarded(0, [&] {
    if (handle == nullptr || *handle == nullptr) return 0;
    return (*handle)->IsRunning(index);
  });
}

HVR_API int HvrGetDLNum(KtWdlManager** handle) {
  return Guarded(0, [&] {
    if (handle == nullptr || *handle == nullptr) return 0;
    return (*handle)->CountRunning();
  });
}

HVR_API int HvrGetDLSiteName(KtWdlManager** handle, int index, char* buf) {
  return NameQuery(handle, index, buf, Query::kSiteName);
}

HVR_API int HvrGetDLFileName(KtWdlManager** handle, int index, char* buf) {
  return NameQuery(handle, index, buf, Query::kFileName);
}

HVR_API int HvrGetDLURL(KtWdlManager** handle, int index, char* buf) {
  return Guarded(1, [&] {
    if (handle == nullptr || *handle == nullptr || buf == nullptr) return 1;
    Selected selected = Select(**handle, index, Query::kUrl);
    if (selected.outcome != Selection::kFound) return 1;
    CopyText(selected.job->Fetcher->GetUrlDirectory(), buf);
    return 0;
  });
}

HVR_API int HvrGetDLSize(KtWdlManager** handle, int index) {
  return NumberQuery(handle, index, Query::kSize);
}

HVR_API int HvrGetDLRestoredSize(KtWdlManager** handle, int index) {
  return NumberQuery(handle, index, Query::kReceived);
}

HVR_API int HvrGetDLRestoredNum(KtWdlManager** handle, int index) {
  return NumberQuery(handle, index, Query::kRestored);
}

HVR_API int HvrGetDLFailedNum(KtWdlManager** handle, int index) {
  return NumberQuery(handle, index, Query::kFailed);
}
