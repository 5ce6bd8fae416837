#include "job_options.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>

#include "error_text.h"
#include "handle_var.h"
#include "limits.h"
#include "text_escape.h"

namespace {

// Connections of a copy unless --connections or --plain says otherwise.
constexpr int32_t kDefaultConnections = 4;

// Extensions as the library compares them: a leading "." and at least one character after it.
const CLI::Validator kExtension(
    [](std::string& value) -> std::string {
      std::string ext = NormalizeExtension(value);
      if (ext.size() < 2 || ext.find_first_of("/. \t", 1) != std::string::npos) {
        return "\"" + value + "\" is not a file extension such as .gif";
      }
      return {};
    },
    "", "extension");

// The library opens a log only when the file name has an extension: a "." after the last "/"
// that is not the path's first character.
const CLI::Validator kLogPath(
    [](std::string& value) -> std::string {
      size_t dot = value.rfind('.');
      size_t slash = value.rfind('/');
      if (dot == std::string::npos || dot == 0 || (slash != std::string::npos && dot < slash)) {
        return "the log file name needs an extension, such as harvo.log";
      }
      return {};
    },
    "", "log path");

// What the library takes as a request header: a name of token characters, a colon, a value
// without control characters other than tab.
const CLI::Validator kHeader(
    [](std::string& value) -> std::string {
      static const std::string kToken = "!#$%&'*+-.^_`|~";
      size_t colon = value.find(':');
      bool ok = colon != std::string::npos && colon > 0;
      for (size_t i = 0; ok && i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        ok = std::isalnum(c) != 0 || kToken.find(static_cast<char>(c)) != std::string::npos;
      }
      for (size_t i = ok ? colon + 1 : value.size(); i < value.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(value[i]);
        ok = ok && !((c < 0x20 && c != '\t') || c == 0x7F);
      }
      if (ok) return {};
      return "\"" + EscapeForTerminal(value) +
             "\" is not a header such as \"Referer: http://host/\"";
    },
    "", "header");

const CLI::Validator kSize(
    [](std::string& value) -> std::string {
      int32_t kib = 0;
      if (!ParseSizeKiB(value, &kib)) {
        return "\"" + value + "\" is not a size such as 500K, 20M or 1.5G";
      }
      return {};
    },
    "", "size");

const CLI::Validator kDuration(
    [](std::string& value) -> std::string {
      int64_t ms = 0;
      if (!ParseDurationMs(value, &ms)) {
        return "\"" + value + "\" is not a duration such as 90s, 15m or 1h30m";
      }
      return {};
    },
    "", "duration");

// The extensions the command turns on, each with the flag that turns it off.
struct ExtensionFlag {
  int32_t bit;
  const char* flag;
  const char* help;
};
// clang-format off
const ExtensionFlag kExtensionFlags[] = {
    {HVR_OPT_HTTPS, "--no-https", "Ask https:// URLs over plain HTTP, as the library does by default"},
    {HVR_OPT_ROOT_LINKS, "--no-root-links",
     "Neither follow nor rewrite root-relative links (/path/page.html)"},
    {HVR_OPT_MORE_LINKS, "--no-more-links",
     "Only src, href, background and code links: no srcset, poster, meta refresh, style "
     "url() or @import"},
    {HVR_OPT_QUERY_PAGES, "--no-query-pages", "Do not save page?x=1 links as files of their own"},
    {HVR_OPT_REMOTE_LINKS, "--no-remote-links",
     "Rewrite links to files that are not copied like the others, instead of keeping their "
     "absolute URL"},
    {HVR_OPT_COMPRESSION, "--no-compression", "Do not ask for gzip/deflate bodies (files are then received as sent)"},
    {HVR_OPT_ROBOTS, "--no-robots", "Ignore the site's robots.txt"},
    {HVR_OPT_WALK_UNCHANGED, "--no-walk-unchanged",
     "With --update-only: leave the files below an unchanged page alone, as the library does by "
     "default (otherwise its links are read from the earlier copy and followed)"},
    {HVR_OPT_INDEX_ONCE, "--no-index-once",
     "Ask the server for a folder's index file at every link to the folder, not once per folder"},
    {HVR_OPT_NORMAL_PRIORITY, "--idle",
     "Run the download at idle priority (background work that yields to everything else), as "
     "the library does by default"},
};
// clang-format on

}  // namespace

int32_t CommandExtensionBits() {
  int32_t bits = 0;
  for (const ExtensionFlag& extension : kExtensionFlags) bits |= extension.bit;
  return bits;
}

std::string NormalizeExtension(const std::string& text) {
  if (text.empty() || text[0] == '.') return text;
  return "." + text;
}

void AddJobOptions(CLI::App* command, JobOptions* options, bool withSiteName) {
  if (withSiteName) {
    command->add_option("--site-name", options->siteName,
                        "Name shown for the site in the progress (default: the server name)");
  }
  command
      ->add_option("-o,--output", options->saveFolder,
                   "Folder the copy goes into; the site lies in DIR/SERVER/")
      ->type_name("DIR")
      ->capture_default_str();
  command
      ->add_option("--compare", options->compareFolder,
                   "Folder of an earlier copy to compare the start page with")
      ->type_name("DIR");
  command
      ->add_option("--max-dir-depth", options->maxDirDepth,
                   "Request no page with N or more \"/\" in its path (-1: no limit)")
      ->type_name("N")
      ->check(CLI::Range(-1, INT32_MAX))
      ->capture_default_str();
  command
      ->add_option("--max-link-depth", options->maxLinkDepth,
                   "Follow no HTML link found N links away from the start page (-1: no limit)")
      ->type_name("N")
      ->check(CLI::Range(-1, INT32_MAX))
      ->capture_default_str();
  auto* all =
      command->add_flag("--all-types", options->allTypes, "Copy files of every type (the default)");
  auto* types = command
                    ->add_option("--type", options->types,
                                 "Copy only pages (.html, .htm) and files with this extension; "
                                 "repeat or separate with commas")
                    ->type_name("EXT")
                    ->delimiter(',')
                    ->check(kExtension);
  all->excludes(types);
  auto* pages = command->add_flag("--pages-only", options->pagesOnly,
                                  "Copy only pages (.html, .htm), as the library does by default");
  pages->excludes(all);
  pages->excludes(types);
  command
      ->add_option("--exclude", options->excludeTypes,
                   "Never copy files with this extension; repeat or separate with commas")
      ->type_name("EXT")
      ->delimiter(',')
      ->check(kExtension);
  auto* updateOnly = command->add_flag("--update-only", options->updateOnly,
                                       "Receive only files that changed since the earlier copy");
  auto* updateNonHtml =
      command->add_flag("--update-nonhtml", options->updateNonHtml,
                        "Receive every HTML page, other files only when they changed");
  updateOnly->excludes(updateNonHtml);
  command->add_flag("--raw-html", options->rawHtml,
                    "Save HTML pages with their links as received (not rewritten for local "
                    "reading); the text is still converted to Shift_JIS unless --keep-code");
  command->add_flag("--keep-code", options->keepCode,
                    "Keep EUC-JP and ISO-2022-JP pages in their code (no Shift_JIS conversion)");
  command->add_flag("--cgi-only", options->cgiOnly, "Of the --type list only .cgi counts");
  command->add_flag("--java-only", options->javaOnly, "Of the --type list only .java counts");
  command->add_flag("--check-only", options->checkOnly,
                    "Only request the start page; save nothing");
  for (const ExtensionFlag& extension : kExtensionFlags) {
    const int32_t bit = extension.bit;
    command->add_flag_callback(
        extension.flag, [options, bit] { options->extensionsOff |= bit; }, extension.help);
  }
  auto* insecure = command->add_flag(
      "--insecure", options->insecure,
      "Do not check the certificates of https:// servers (anyone on the way could read and "
      "change the copy)");
  auto* plain =
      command->add_flag("--plain", options->plain,
                        "Every extension off and pages only: exactly the library's default walk");
  plain->excludes(insecure);
  command
      ->add_option("--connections", options->connections,
                   "Fetch over N connections at once (default 4, 1 with --plain); pages are "
                   "still walked one after the other, in the same order")
      ->type_name("N")
      ->check(CLI::Range(1, static_cast<int>(HVR_MAX_CONNECTIONS)));
  command->add_option("--max-files", options->maxFiles, "Stop once N files were saved")
      ->type_name("N")
      ->check(CLI::Range(1, INT32_MAX));
  command
      ->add_option("--max-size", options->maxSizeText,
                   "Stop once SIZE was received (500K, 20M, 1.5G; binary units)")
      ->type_name("SIZE")
      ->check(kSize)
      ->each([options](const std::string& value) { ParseSizeKiB(value, &options->maxKBytes); });
  command
      ->add_option_function<std::string>(
          "--max-time",
          [options](const std::string& value) {
            ParseDurationMs(value, &options->maxTimeMs);
            options->maxTimeText = value;
          },
          "Stop once the copy ran this long (90s, 15m, 1h30m; a bare number is seconds)")
      ->type_name("DURATION")
      ->check(kDuration);
  command->add_option("--buffer-size", options->bufferSize, "Bytes read per block")
      ->type_name("N")
      ->check(CLI::Range(1, 64 << 20))
      ->capture_default_str();
  command->add_option("--interval", options->interval, "Pause after each file, in milliseconds")
      ->type_name("MS")
      ->check(CLI::Range(0, INT32_MAX))
      ->capture_default_str();
  command->add_option("--agent", options->agent, "User-Agent sent with every request")
      ->capture_default_str();
  command->add_option("--proxy", options->proxy, "Send every request through this proxy")
      ->type_name("HOST:PORT");
  command
      ->add_option("--connect-timeout", options->connectTimeout,
                   "Connect time-out in milliseconds (0: the default)")
      ->type_name("MS")
      ->check(CLI::Range(0, INT32_MAX));
  command
      ->add_option("--connect-retries", options->connectRetries,
                   "Further connect attempts after a failed one")
      ->type_name("N")
      ->check(CLI::Range(0, INT32_MAX));
  command
      ->add_option("--ca-file", options->caFile,
                   "Also trust the CA certificates of this PEM file for https")
      ->type_name("FILE")
      ->check(CLI::ExistingFile);
  command
      ->add_option("--cookies", options->cookieFile,
                   "Netscape-format cookie file: its cookies are sent, and the cookies the site "
                   "sets are written back to it (made when missing)")
      ->type_name("FILE");
  command
      ->add_option("--header", options->headers,
                   "Send this request header with every request (repeatable); it replaces the "
                   "header of that name harvo would send")
      ->type_name("\"NAME: VALUE\"")
      ->allow_extra_args(false)
      ->check(kHeader);
  command->add_option("--log", options->logFile, "Write the job's log to FILE")
      ->type_name("FILE")
      ->check(kLogPath);
  command->add_flag("-q,--quiet", options->quiet, "Show no progress, only the summary");
}

void FillJobInfo(const JobOptions& options, HvrJobInfo* job) {
  job->SiteName = options.siteName;
  job->SaveFolder = options.saveFolder;
  job->CompareFolder = options.compareFolder;
  job->MaxDirDepth = options.maxDirDepth;
  job->MaxLinkDepth = options.maxLinkDepth;
  // The command copies every type unless told otherwise; the library copies pages only.
  const bool pagesOnly = options.pagesOnly || options.plain || !options.types.empty();
  job->AllTypes = options.allTypes || !pagesOnly ? 1 : 0;
  job->Types.clear();
  for (const std::string& type : options.types) job->Types.push_back(NormalizeExtension(type));
  job->ExcludeTypes.clear();
  for (const std::string& type : options.excludeTypes) {
    job->ExcludeTypes.push_back(NormalizeExtension(type));
  }
  int32_t bits = 0;
  if (options.updateOnly) bits |= HVR_OPT_UPDATE_ONLY;
  if (options.updateNonHtml) bits |= HVR_OPT_UPDATE_NONHTML;
  if (options.rawHtml) bits |= HVR_OPT_RAW_HTML;
  if (options.keepCode) bits |= HVR_OPT_KEEP_CODE;
  if (options.cgiOnly) bits |= HVR_OPT_CGI;
  if (options.javaOnly) bits |= HVR_OPT_JAVA;
  if (options.checkOnly) bits |= HVR_OPT_CHECK_ONLY;
  if (!options.plain) bits |= CommandExtensionBits() & ~options.extensionsOff;
  // The walk of unchanged pages belongs to an update.
  if (!options.updateOnly && !options.updateNonHtml) bits &= ~HVR_OPT_WALK_UNCHANGED;
  if (options.insecure) bits |= HVR_OPT_INSECURE;
  job->Options = bits;
  job->BufferSize = options.bufferSize;
  job->Interval = options.interval;
  job->MaxFiles = options.maxFiles;
  job->MaxKBytes = options.maxKBytes;
  job->Connections =
      options.connections > 0 ? options.connections : (options.plain ? 1 : kDefaultConnections);
}

std::string LimitWords(const JobOptions& options, int32_t limitReached) {
  if (limitReached == HVR_LIMIT_FILES) return "--max-files " + std::to_string(options.maxFiles);
  if (limitReached == HVR_LIMIT_SIZE) return "--max-size " + EscapeForTerminal(options.maxSizeText);
  return {};
}

std::string TimeLimitWords(const JobOptions& options) {
  return options.maxTimeMs > 0 ? "--max-time " + EscapeForTerminal(options.maxTimeText) : "";
}

void WarnAboutSettings(const JobOptions& options) {
  if (options.insecure) {
    std::fprintf(stderr,
                 "harvo: warning: --insecure: server certificates are not checked, so anyone "
                 "between you and the server can read and change what is copied\n");
  }
}

void FillOpenInfo(const JobOptions& options, HvrOpenInfo* open) {
  open->Agent = options.agent;
  open->Proxy = options.proxy;
  open->ConnectTimeout = options.connectTimeout;
  open->ConnectRetries = options.connectRetries;
  open->CaFile = options.caFile;
  open->CookieFile = options.cookieFile;
  open->Headers = options.headers;
}

void StartJobLog(HvrJobInfo* job, const std::string& path) {
  HvrLogStart(job, path.c_str());
  if (access(path.c_str(), F_OK) != 0) {
    std::fprintf(stderr, "harvo: cannot open the log file %s; the job runs without it\n",
                 EscapeForTerminal(path).c_str());
  }
}

bool OpenHandle(const JobOptions& options, HandleVar* handle) {
  HvrOpenInfo open;
  FillOpenInfo(options, &open);
  if (HvrOpen(handle->address(), &open) == 0) return true;
  std::fprintf(stderr, "harvo: cannot open an internet session: %s (%s)\n",
               ErrorHex(open.Error).c_str(), ErrorMeaning(open.Error));
  if (!options.cookieFile.empty()) {
    std::fprintf(stderr,
                 "harvo: the cookie file %s must be readable and in Netscape format (it is "
                 "written back, so nothing else is taken)\n",
                 EscapeForTerminal(options.cookieFile).c_str());
  }
  if (!options.caFile.empty()) {
    std::fprintf(stderr, "harvo: the CA file %s must be readable and hold PEM certificates\n",
                 EscapeForTerminal(options.caFile).c_str());
  }
  return false;
}
