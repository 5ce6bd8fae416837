#include "multi_command.h"

#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#include "error_text.h"
#include "handle_var.h"
#include "run_watch.h"
#include "selection.h"
#include "summary.h"
#include "text_escape.h"

namespace {

// Why the run could not start, entry by entry.
void ReportStartFailure(const HvrLinkArray* links, const std::vector<size_t>& chosen) {
  std::fprintf(stderr, "harvo: cannot start the multi-site run\n");
  // The library also marks the array's last entry with HVR_ERR_FILE, whichever entry failed;
  // that mark is left out when an entry shows its own cause.
  bool ownCause = false;
  for (size_t i : chosen) {
    int32_t error = (*links)[i]->Job.Error;
    ownCause = ownCause || (error != 0 && error != HVR_ERR_FILE);
  }
  for (size_t i : chosen) {
    const HvrJobInfo& job = (*links)[i]->Job;
    if (job.Error == 0 || (ownCause && job.Error == HVR_ERR_FILE)) continue;
    std::fprintf(stderr, "  %zu. %s: %s (%s)\n", i + 1, EscapeForTerminal(job.Url).c_str(),
                 ErrorHex(job.Error).c_str(), ErrorMeaning(job.Error));
  }
}

}  // namespace

std::string NumberedLogPath(const std::string& path, size_t number) {
  size_t dot = path.rfind('.');
  size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return path + "-" + std::to_string(number);
  }
  return path.substr(0, dot) + "-" + std::to_string(number) + path.substr(dot);
}

CLI::App* AddMultiCommand(CLI::App* app, MultiOptions* options) {
  CLI::App* command = app->add_subcommand(
      "multi", "Copy chosen bookmarks, one site after the other, with shared settings");
  AddStoreOptions(command, &options->stores);
  auto* select = command->add_option(
      "--select", options->select,
      "Entries by their number in \"harvo bookmarks\" with the same store flags: 1,4-7");
  auto* all = command->add_flag("--all", options->all, "Every entry");
  select->excludes(all);
  all->excludes(select);
  command->require_option(1, 0);
  AddJobOptions(command, &options->job, false);
  return command;
}

int RunMulti(const MultiOptions& options) {
  LinkArrayHolder links;
  ReadStores(options.stores, &links);
  if (links.size() == 0) {
    std::fprintf(stderr, "harvo: no bookmarks found to choose from\n");
    return kExitUsage;
  }
  std::vector<size_t> chosen;
  if (options.all) {
    for (size_t i = 0; i < links.size(); ++i) chosen.push_back(i);
  } else {
    std::string error;
    if (!ParseSelection(options.select, links.size(), &chosen, &error)) {
      std::fprintf(stderr, "harvo: --select: %s\n", error.c_str());
      return kExitUsage;
    }
  }
  for (size_t i : chosen) (*links.get())[i]->Selected = 1;

  // Before any thread exists, so that every thread inherits the blocked signals.
  StopWatcher watcher;
  auto started = std::chrono::steady_clock::now();
  HandleVar handle;
  if (!OpenHandle(options.job, &handle)) return kExitUsage;
  WarnAboutSettings(options.job);
  HvrJobInfo templ;
  FillJobInfo(options.job, &templ);
  if (HvrMultiStart(handle.address(), &templ, links.address()) != 0) {
    ReportStartFailure(links.get(), chosen);
    // The jobs created before the failing one stay in the table, never started: ending them
    // frees them and the logs of every chosen entry.
    HvrMultiEnd(handle.address(), links.address());
    return kExitUsage;
  }
  watcher.Arm([&handle] { HvrMultiStop(handle.address()); });
  if (options.job.maxTimeMs > 0) {
    watcher.StopAt(started + std::chrono::milliseconds(options.job.maxTimeMs));
  }

  // A fresh handle: the run's jobs take the slots 0, 1, ... in the order of the entries.
  std::vector<WatchedJob> jobs(chosen.size());
  for (size_t k = 0; k < chosen.size(); ++k) {
    HvrJobInfo& job = (*links.get())[chosen[k]]->Job;
    jobs[k].slot = static_cast<int>(k);
    jobs[k].label = std::to_string(k + 1) + "/" + std::to_string(chosen.size()) + " " +
                    (job.SiteName.empty() ? job.Url : job.SiteName);
    if (!options.job.logFile.empty()) {
      StartJobLog(&job, NumberedLogPath(options.job.logFile, chosen[k] + 1));
    }
  }
  ProgressDisplay display(ProgressDisplay::ChooseMode(options.job.quiet));
  int signal = WatchRun(handle.address(), &jobs, true, &display, &watcher);
  const bool timeUp = watcher.timeUp();

  // Every job has ended: the result fields are final, and HvrMultiEnd empties FailedFiles,
  // which are moved rather than copied.
  std::vector<SiteResult> results(chosen.size());
  for (size_t k = 0; k < chosen.size(); ++k) {
    HvrJobInfo& job = (*links.get())[chosen[k]]->Job;
    SiteResult& result = results[k];
    result.title = job.SiteName;
    result.url = job.Url;
    result.folder = SiteFolder(options.job.saveFolder, job.Url);
    result.saved = jobs[k].saved;
    result.failed = jobs[k].failed;
    result.bytes = jobs[k].tracker.bytes();
    result.unmeasured = jobs[k].tracker.unseen();
    result.error = job.Error;
    result.errorText = job.ErrorText;
    result.failedFiles = std::move(job.FailedFiles);
    result.failedReasons = std::move(job.FailedReasons);
    if (!options.job.logFile.empty()) {
      result.logFile = NumberedLogPath(options.job.logFile, chosen[k] + 1);
    }
    result.limit = LimitWords(options.job, job.LimitReached);
  }
  HvrMultiEnd(handle.address(), links.address());
  watcher.EndOnSignal();
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  if (signal != 0) PrintStopNotice(stdout, signal);
  if (timeUp && signal == 0) PrintLimitNotice(stdout, TimeLimitWords(options.job));
  for (size_t k = 0; k < chosen.size(); ++k) {
    std::string heading = std::to_string(chosen[k] + 1) + ". " +
                          EscapeForTerminal(results[k].title) + " <" +
                          EscapeForTerminal(results[k].url) + ">";
    PrintSiteSummary(stdout, results[k], heading);
  }
  PrintRunTotals(stdout, results, seconds);
  std::fflush(stdout);
  return ExitStatusFor(results, signal, timeUp);
}
