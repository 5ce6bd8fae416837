// What the progress queries tell about one job, and turning successive polls into finished files.
#ifndef HARVO_TOOLS_PROGRESS_H
#define HARVO_TOOLS_PROGRESS_H

#include <cstdint>
#include <string>
#include <vector>

#include "harvo.h"

// One poll of one job's progress queries. The queries are separate calls, so a sample may mix
// the end of one file with the start of the next; the tracker below allows for that.
struct JobSample {
  std::string siteName;
  std::string directory;  // URL directory of the current file, ending with "/"
  std::string fileName;   // current file name (a directory's index file name)
  int64_t announced = 0;  // Content-Length of the current file, 0 when none
  int64_t received = 0;   // bytes of the current file received so far
  int32_t saved = 0;      // files saved by the job so far
  int32_t failed = 0;     // files recorded as failed so far

  // The current file as a server path: "/dir/page.html"; empty before the first request.
  std::string CurrentPath() const;
  // True when the job has shown any sign of having started its first request.
  bool Started() const;
};

// Polls every progress query for the job in slot index (a negative index: the first running).
JobSample PollJob(KtWdlManager** handle, int index);

// A file that is no longer the current one, with what the counts say became of it.
struct FinishedFile {
  enum class Outcome { kSaved, kFailed, kNotReceived };
  std::string path;  // as CurrentPath
  Outcome outcome = Outcome::kNotReceived;
  int64_t bytes = 0;        // bytes credited to it
  int32_t unseenSaved = 0;  // further files saved between the two polls, never seen
  int32_t unseenFailed = 0;
};

// Follows one job through its polls.
//
// The queries show only the file being fetched at the moment of a poll, about ten times a
// second, so what this reports is approximate by nature: a file fetched entirely between two
// polls is never seen (it only shows up as a count in unseenSaved / unseenFailed, and its bytes
// are missing from the sum); the bytes of a seen file are the most that any poll saw of it, or
// its announced length when the counts say it was saved in full; and which of several files
// finished between two polls was saved or failed is attributed in order of the counts.
class FileTracker {
 public:
  // Feeds the next sample; returns the file that this sample shows to be finished, if any.
  std::vector<FinishedFile> Update(const JobSample& sample);
  // The job has ended with these final counts; returns the last file, if one was seen, or the
  // files counted but never seen.
  std::vector<FinishedFile> Finish(int32_t saved, int32_t failed);
  // The job was asked to stop: a file counted as saved from now on may be incomplete.
  void NoteStop() { stopped_ = true; }

  // Bytes credited so far, the current file's received bytes included.
  int64_t bytes() const { return finishedBytes_ + (havePath_ ? maxReceived_ : 0); }
  // Saved files that went by between two polls: their bytes are missing from bytes().
  int32_t unseen() const { return unseen_; }
  const JobSample& last() const { return last_; }

 private:
  // Ends the current file against the counts of the sample that showed it finished.
  FinishedFile Close(int32_t saved, int32_t failed);

  JobSample last_;
  bool havePath_ = false;
  std::string path_;
  int64_t announced_ = 0;
  int64_t maxReceived_ = 0;
  int32_t savedAtStart_ = 0;  // counts already given to earlier files
  int32_t failedAtStart_ = 0;
  int64_t finishedBytes_ = 0;
  int32_t unseen_ = 0;
  bool stopped_ = false;
};

#endif  // HARVO_TOOLS_PROGRESS_H
