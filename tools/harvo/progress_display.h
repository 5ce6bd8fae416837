// Showing the progress of a run: a status line redrawn in place on a terminal, one line per
// finished file elsewhere, or nothing.
#ifndef HARVO_TOOLS_PROGRESS_DISPLAY_H
#define HARVO_TOOLS_PROGRESS_DISPLAY_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <utility>

#include "progress.h"

// What the status line shows.
struct StatusInfo {
  std::string site;      // label of the site being copied
  std::string path;      // current file, as a server path
  int64_t received = 0;  // of the current file
  int64_t announced = 0;
  int32_t saved = 0;  // totals of the run
  int32_t failed = 0;
  int64_t bytes = 0;  // bytes of the run so far
  bool stopping = false;
};

// "999 B", "12.3 KiB", "4.5 MiB", "1.2 GiB".
std::string FormatBytes(int64_t bytes);

class ProgressDisplay {
 public:
  enum class Mode { kStatusLine, kFileLines, kQuiet };

  // kQuiet when asked; otherwise the status line when stdout is a terminal, else file lines.
  static Mode ChooseMode(bool quiet);

  explicit ProgressDisplay(Mode mode, FILE* out = stdout);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  Mode mode() const { return mode_; }

  // Redraws the status line (status-line mode only).
  void Show(const StatusInfo& status);
  // Prints a finished file (file-line mode only); prefix names the site in a multi-site run.
  void Report(const FinishedFile& file, const std::string& prefix);
  // Says that a stop was asked for, in every mode but quiet.
  void NoteStop(int signal);
  // Says that a time limit is stopping the run.
  void NoteLimit();
  // Removes the status line so that other output starts on a clean line.
  void Clear();

  // The status line for a terminal of the given width, without control sequences.
  static std::string Compose(const StatusInfo& status, double rate, size_t columns);

 private:
  double Rate(int64_t bytes);
  size_t Columns() const;

  Mode mode_;
  FILE* out_;
  bool lineShown_ = false;
  std::deque<std::pair<std::chrono::steady_clock::time_point, int64_t>> history_;
};

#endif  // HARVO_TOOLS_PROGRESS_DISPLAY_H
