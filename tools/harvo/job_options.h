// The settings of a job and of the session, as flags shared by "harvo mirror" and "harvo multi".
#ifndef HARVO_TOOLS_JOB_OPTIONS_H
#define HARVO_TOOLS_JOB_OPTIONS_H

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "harvo.h"

struct JobOptions {
  std::string siteName;
  std::string saveFolder = ".";
  std::string compareFolder;
  int32_t maxDirDepth = -1;
  int32_t maxLinkDepth = -1;
  bool allTypes = false;
  std::vector<std::string> types;
  std::vector<std::string> excludeTypes;
  bool updateOnly = false;
  bool updateNonHtml = false;
  bool rawHtml = false;
  bool keepCode = false;
  bool cgiOnly = false;
  bool javaOnly = false;
  bool checkOnly = false;
  bool pagesOnly = false;  // only .html/.htm (and --type's), as the library walks by default
  int32_t bufferSize = 16384;
  int32_t interval = 0;

  std::string agent = "Harvo/" HARVO_VERSION;
  std::string proxy;
  int32_t connectTimeout = 0;
  int32_t connectRetries = 0;
  std::string caFile;
  std::string cookieFile;
  std::vector<std::string> headers;

  // The extension bits, each on unless its --no-... flag or --plain turns it off.
  int32_t extensionsOff = 0;  // bits turned off one by one
  bool plain = false;         // every extension off, pages only: the library's own walk
  bool insecure = false;      // TLS without certificate checks (off unless asked for)

  // Limits (0: none).
  int32_t connections = 0;  // --connections N; 0: the command's default (1 with --plain)
  int32_t maxFiles = 0;
  int32_t maxKBytes = 0;
  std::string maxSizeText;  // as given, for the summary
  int64_t maxTimeMs = 0;
  std::string maxTimeText;

  std::string logFile;
  bool quiet = false;
};

// Adds the job and session flags to a sub-command. withSiteName adds --site-name, which only a
// single job has (a multi-site run names each site after its bookmark).
void AddJobOptions(CLI::App* command, JobOptions* options, bool withSiteName);

// The job record's settings (SiteName to Interval) from the options; Url is left alone.
void FillJobInfo(const JobOptions& options, HvrJobInfo* job);

// The extension bits the command turns on unless told otherwise.
int32_t CommandExtensionBits();

// The limit that ended a job's walk, as the user gave it ("--max-files 10"), from the job's
// LimitReached; empty when none did.
std::string LimitWords(const JobOptions& options, int32_t limitReached);
// "--max-time 90s" when a time limit is set, else empty.
std::string TimeLimitWords(const JobOptions& options);

// Warnings about risky settings, once per run, on stderr.
void WarnAboutSettings(const JobOptions& options);

// The session's settings from the options.
void FillOpenInfo(const JobOptions& options, HvrOpenInfo* open);
// Opens the handle with the session's settings; false (after saying why) when it failed.
class HandleVar;
bool OpenHandle(const JobOptions& options, HandleVar* handle);

// Opens the job's log at path (right after the job started) and warns when no file came of it:
// the library drops the job's lines silently then.
void StartJobLog(HvrJobInfo* job, const std::string& path);

// ".gif" for "gif" or ".gif"; the library compares extensions with their leading dot.
std::string NormalizeExtension(const std::string& text);

#endif  // HARVO_TOOLS_JOB_OPTIONS_H
