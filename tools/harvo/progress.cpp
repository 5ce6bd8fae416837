#include "progress.h"

#include <algorithm>

std::string JobSample::CurrentPath() const {
  if (directory.empty() && fileName.empty()) return {};
  // The library's directories have no leading "/" ("dir/"), except the root's, which is "/".
  std::string path = directory == "/" ? std::string() : directory;
  path += fileName;
  return !path.empty() && path[0] == '/' ? path : "/" + path;
}

bool JobSample::Started() const {
  return !siteName.empty() || !directory.empty() || !fileName.empty() || saved > 0 || failed > 0;
}

JobSample PollJob(KtWdlManager** handle, int index) {
  JobSample sample;
  char buffer[HVR_TEXT_BUFFER_SIZE];
  auto text = [&](int (*query)(KtWdlManager**, int, char*)) {
    buffer[0] = '\0';
    if (query(handle, index, buffer) != 0) return std::string();
    buffer[HVR_TEXT_BUFFER_SIZE - 1] = '\0';
    return std::string(buffer);
  };
  // The names first, the counts last: a name query waits while the worker holds the job's lock
  // for a whole request, and the counts read after it then already include the file before.
  sample.siteName = text(HvrGetDLSiteName);
  sample.directory = text(HvrGetDLURL);
  sample.fileName = text(HvrGetDLFileName);
  sample.announced = std::max(0, HvrGetDLSize(handle, index));
  sample.received = std::max(0, HvrGetDLRestoredSize(handle, index));
  sample.saved = std::max(0, HvrGetDLRestoredNum(handle, index));
  sample.failed = std::max(0, HvrGetDLFailedNum(handle, index));
  return sample;
}

std::vector<FinishedFile> FileTracker::Update(const JobSample& sample) {
  std::vector<FinishedFile> finished;
  std::string path = sample.CurrentPath();
  if (!path.empty()) {
    bool sameFile = havePath_ && path == path_ && sample.received >= maxReceived_;
    if (sameFile) {
      maxReceived_ = sample.received;
      announced_ = std::max(announced_, sample.announced);
    } else {
      // The counts are read after the names, so they may already include the new file when its
      // body arrived in full at once; one save is then left to it rather than to its predecessor.
      bool arrived = sample.announced > 0 && sample.received >= sample.announced;
      int32_t reserve = arrived && sample.saved - savedAtStart_ >= 2 ? 1 : 0;
      if (havePath_) finished.push_back(Close(sample.saved - reserve, sample.failed));
      havePath_ = true;
      path_ = path;
      announced_ = sample.announced;
      maxReceived_ = sample.received;
    }
  }
  last_ = sample;
  return finished;
}

std::vector<FinishedFile> FileTracker::Finish(int32_t saved, int32_t failed) {
  std::vector<FinishedFile> finished;
  if (havePath_) {
    finished.push_back(Close(saved, failed));
    havePath_ = false;
  } else if (saved > savedAtStart_ || failed > failedAtStart_) {
    FinishedFile unseen;
    unseen.unseenSaved = saved - savedAtStart_;
    unseen.unseenFailed = failed - failedAtStart_;
    unseen_ += unseen.unseenSaved;
    finished.push_back(unseen);
  }
  savedAtStart_ = std::max(savedAtStart_, saved);
  failedAtStart_ = std::max(failedAtStart_, failed);
  return finished;
}

FinishedFile FileTracker::Close(int32_t saved, int32_t failed) {
  FinishedFile file;
  file.path = path_;
  int32_t savedDelta = std::max(0, saved - savedAtStart_);
  int32_t failedDelta = std::max(0, failed - failedAtStart_);
  // With both counts grown, a file without an announced length is taken as the failed one: a
  // failed request clears the length (its byte count is the previous file's, so no help).
  bool failedFirst = failedDelta > 0 && (savedDelta == 0 || announced_ == 0);
  if (failedFirst) {
    file.outcome = FinishedFile::Outcome::kFailed;
    --failedDelta;
  } else if (savedDelta > 0) {
    file.outcome = FinishedFile::Outcome::kSaved;
    --savedDelta;
  }
  file.unseenSaved = savedDelta;
  file.unseenFailed = failedDelta;
  // Saved in full unless a stop cut it short: the announced length is the better figure then,
  // since the last poll usually saw only part of the body. A failed request leaves the previous
  // file's byte count in the queries, so a failed file is credited nothing.
  bool whole = file.outcome == FinishedFile::Outcome::kSaved && !stopped_;
  if (file.outcome == FinishedFile::Outcome::kFailed) {
    file.bytes = 0;
  } else {
    file.bytes = whole ? std::max(announced_, maxReceived_) : maxReceived_;
  }
  finishedBytes_ += file.bytes;
  unseen_ += file.unseenSaved;
  maxReceived_ = 0;
  savedAtStart_ = std::max(savedAtStart_, saved);
  failedAtStart_ = std::max(failedAtStart_, failed);
  return file;
}
