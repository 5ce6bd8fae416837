#include "mirror_command.h"

#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#include "error_text.h"
#include "handle_var.h"
#include "run_watch.h"
#include "summary.h"
#include "text_escape.h"

namespace {

// The server part of a URL, for a site name when none is given.
std::string ServerOf(const std::string& url) {
  std::string folder = SiteFolder("", url);
  folder.pop_back();
  return folder.empty() ? url : folder;
}

}  // namespace

CLI::App* AddMirrorCommand(CLI::App* app, MirrorOptions* options) {
  CLI::App* command = app->add_subcommand("mirror", "Copy one web site into a local folder");
  command->add_option("URL", options->url, "Start page, such as http://example.com/dir/")
      ->required();
  AddJobOptions(command, &options->job, true);
  return command;
}

int RunMirror(const MirrorOptions& options) {
  // Before any thread exists, so that every thread inherits the blocked signals.
  StopWatcher watcher;
  auto started = std::chrono::steady_clock::now();

  HandleVar handle;
  if (!OpenHandle(options.job, &handle)) return kExitUsage;
  WarnAboutSettings(options.job);

  HvrJobInfo job;
  FillJobInfo(options.job, &job);
  job.Url = options.url;
  if (job.SiteName.empty()) job.SiteName = ServerOf(options.url);
  int index = -1;
  if (HvrStart(handle.address(), &job, &index) != 0) {
    // HvrStart writes its own code over the cause, which is then an unusable URL or a server
    // that cannot be connected to.
    const char* why = job.Error == HVR_ERR_FILE
                          ? "the job could not be created; is it an http:// URL with a server?"
                          : ErrorMeaning(job.Error);
    std::fprintf(stderr, "harvo: cannot start copying %s: %s (%s)\n",
                 EscapeForTerminal(options.url).c_str(), why, ErrorHex(job.Error).c_str());
    // A job that reached the table is ended all the same, which frees its log.
    if (index >= 0) HvrEnd(handle.address(), &job, index);
    return kExitUsage;
  }
  // The record pointer is passed though HvrStop reads neither it nor the index.
  watcher.Arm([&handle, &job, index] { HvrStop(handle.address(), &job, index); });
  if (options.job.maxTimeMs > 0) {
    watcher.StopAt(started + std::chrono::milliseconds(options.job.maxTimeMs));
  }
  if (!options.job.logFile.empty()) StartJobLog(&job, options.job.logFile);

  ProgressDisplay display(ProgressDisplay::ChooseMode(options.job.quiet));
  std::vector<WatchedJob> jobs(1);
  jobs[0].slot = index;
  jobs[0].label = job.SiteName;
  int signal = WatchRun(handle.address(), &jobs, false, &display, &watcher);
  const bool timeUp = watcher.timeUp();

  // The job has ended: its result fields are final, and HvrEnd empties FailedFiles, which are
  // moved rather than copied (a hostile site can make them hundreds of megabytes).
  SiteResult result;
  result.title = job.SiteName;
  result.url = options.url;
  result.folder = SiteFolder(options.job.saveFolder, options.url);
  result.saved = jobs[0].saved;
  result.failed = jobs[0].failed;
  result.bytes = jobs[0].tracker.bytes();
  result.unmeasured = jobs[0].tracker.unseen();
  result.error = job.Error;
  result.errorText = job.ErrorText;
  result.failedFiles = std::move(job.FailedFiles);
  result.failedReasons = std::move(job.FailedReasons);
  result.logFile = options.job.logFile;
  result.limit = LimitWords(options.job, job.LimitReached);
  HvrEnd(handle.address(), &job, index);
  watcher.EndOnSignal();
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  if (signal != 0) PrintStopNotice(stdout, signal);
  if (timeUp && signal == 0) PrintLimitNotice(stdout, TimeLimitWords(options.job));
  PrintSiteSummary(stdout, result, "Copy of " + EscapeForTerminal(options.url));
  std::fflush(stdout);
  return ExitStatusFor({result}, signal, timeUp);
}
