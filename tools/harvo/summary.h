// The end of a run: what each site came to, in words, and the exit status.
#ifndef HARVO_TOOLS_SUMMARY_H
#define HARVO_TOOLS_SUMMARY_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// What became of one site, taken from the queries and from the job record after the job ended.
struct SiteResult {
  std::string title;  // the site name
  std::string url;
  std::string folder;  // where the copy lies
  int32_t saved = 0;
  int32_t failed = 0;
  int64_t bytes = 0;                       // approximate, see FileTracker
  int32_t unmeasured = 0;                  // saved files whose bytes are not in bytes
  double seconds = -1;                     // time taken; negative when not known
  int32_t error = 0;                       // the job's latest error code
  std::string errorText;                   // its reason in words, where the job knew one
  std::vector<std::string> failedFiles;    // URL paths, as the job recorded them
  std::vector<std::string> failedReasons;  // the reason of each failed file (may be empty)
  std::string logFile;                     // the job's log, where every failure is named; or ""
  std::string limit;                       // the limit that ended its walk ("--max-files 10")
};

// How many failed files a summary names: a screenful; the log names every one.
inline constexpr size_t kListedFailures = 50;

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailures = 1;  // some file, or the start page, failed
inline constexpr int kExitUsage = 2;     // bad arguments, or a job that could not start
inline constexpr int kExitLimit = 3;     // a limit (--max-files, --max-size, --max-time) ended it

// The site folder of a copy of url under the save root: "root/server/" (the server name
// without port or user information, as the library names the folder).
std::string SiteFolder(const std::string& root, const std::string& url);

// True when a file of the site failed or its latest error is a failure.
bool SiteFailed(const SiteResult& site);

// "123,456".
std::string GroupDigits(int64_t value);

// The summary of one site; heading is printed first when not empty. It names the first
// kListedFailures failed files, each with its reason, and says how many more there are. Its
// "last error" is the failure that matters: the job's latest code when that is a failure, else
// the last failed file's; a latest code that is only a notice (no Content-Length, no
// Last-Modified) is mentioned beside "none".
void PrintSiteSummary(FILE* out, const SiteResult& site, const std::string& heading);

// The totals of a run of several sites.
void PrintRunTotals(FILE* out, const std::vector<SiteResult>& sites, double seconds);

// "Stopped by SIGINT: the copy is incomplete." for a run cut short by a signal.
void PrintStopNotice(FILE* out, int signal);
// "Stopped by the --max-time 10m limit: the copy is incomplete."
void PrintLimitNotice(FILE* out, const std::string& limit);

// 128 + signal after a stop by signal; otherwise 3 when a limit ended the run (timeUp) or a
// site's walk, 1 when any site failed, else 0.
int ExitStatusFor(const std::vector<SiteResult>& sites, int signal, bool timeUp = false);

#endif  // HARVO_TOOLS_SUMMARY_H
