// Watching a started run until its jobs have ended: polling, progress, stop on a signal.
#ifndef HARVO_TOOLS_RUN_WATCH_H
#define HARVO_TOOLS_RUN_WATCH_H

#include <string>
#include <vector>

#include "harvo.h"
#include "progress.h"
#include "progress_display.h"
#include "stop_watcher.h"

// One job of a run.
struct WatchedJob {
  int slot = 0;       // its index in the handle's job table
  std::string label;  // how the progress names it
  FileTracker tracker;
  int32_t saved = 0;  // final counts, filled when the run has ended
  int32_t failed = 0;
};

// Polls the jobs about ten times a second until none runs, showing progress on display. For a
// multi-site run (multi) the jobs crawl one after the other in the order given, and the one
// shown is the latest that has started. The stop request itself comes from the watcher's own
// threads (a signal, or a time limit set with StopWatcher::StopAt); this only notices it to say
// so. Returns the signal that stopped the run, or 0.
// The watcher is disarmed on return, so that the caller may end the jobs.
int WatchRun(KtWdlManager** handle, std::vector<WatchedJob>* jobs, bool multi,
             ProgressDisplay* display, StopWatcher* watcher);

#endif  // HARVO_TOOLS_RUN_WATCH_H
