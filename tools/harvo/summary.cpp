#include "summary.h"

#include <csignal>

#include "error_text.h"
#include "progress_display.h"
#include "text_escape.h"

namespace {

std::string Plural(int64_t count, const char* word) {
  return GroupDigits(count) + " " + word + (count == 1 ? "" : "s");
}

std::string DisplayPath(const std::string& urlPath) {
  return EscapeForTerminal(urlPath.empty() || urlPath[0] != '/' ? "/" + urlPath : urlPath);
}

std::string BytesText(int64_t bytes, int64_t unmeasured) {
  std::string text = (unmeasured > 0 ? "at least " : "about ") + FormatBytes(bytes);
  if (bytes >= 1024) text += " (" + GroupDigits(bytes) + " bytes)";
  if (unmeasured > 0) {
    text += "; " + Plural(unmeasured, "file") + " went by too fast to be measured";
  }
  return text;
}

}  // namespace

std::string SiteFolder(const std::string& root, const std::string& url) {
  std::string rest = url;
  size_t scheme = rest.find("://");
  if (scheme != std::string::npos) rest.erase(0, scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  size_t at = rest.rfind('@');
  if (at != std::string::npos) rest.erase(0, at + 1);
  if (!rest.empty() && rest[0] == '[') {
    rest = rest.substr(0, rest.find(']') + 1);  // an IPv6 address keeps its colons
  } else {
    rest = rest.substr(0, rest.find(':'));
  }
  std::string folder = root;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder + rest + "/";
}

bool SiteFailed(const SiteResult& site) {
  return site.failed > 0 || !site.failedFiles.empty() || IsFailureCode(site.error);
}

std::string GroupDigits(int64_t value) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
  return value < 0 ? "-" + digits : digits;
}

void PrintSiteSummary(FILE* out, const SiteResult& site, const std::string& heading) {
  if (!heading.empty()) std::fprintf(out, "%s\n", heading.c_str());
  std::fprintf(out, "  copy in:    %s\n", EscapeForTerminal(site.folder).c_str());
  std::fprintf(out, "  saved:      %s\n", Plural(site.saved, "file").c_str());
  std::fprintf(out, "  failed:     %s\n", Plural(site.failed, "file").c_str());
  std::fprintf(out, "  received:   %s\n", BytesText(site.bytes, site.unmeasured).c_str());
  if (site.seconds >= 0) std::fprintf(out, "  time:       %.1f s\n", site.seconds);
  if (!site.limit.empty()) {
    std::fprintf(out, "  stopped by the %s limit: the copy is incomplete\n", site.limit.c_str());
  }
  if (site.error == 0) {
    std::fprintf(out, "  last error: none\n");
  } else {
    std::string words = ErrorMeaning(site.error);
    if (!site.errorText.empty()) words += ": " + EscapeForTerminal(site.errorText);
    std::fprintf(out, "  last error: %s (%s)\n", ErrorHex(site.error).c_str(), words.c_str());
  }
  // A start page that fails is not counted among the failed files (it was never listed), so
  // the summary says it in words.
  if (site.saved == 0 && site.failed == 0 && IsFailureCode(site.error)) {
    std::fprintf(out, "  the start page could not be copied\n");
  }
  if (!site.failedFiles.empty()) {
    std::fprintf(out, "  failed files:\n");
    for (size_t i = 0; i < site.failedFiles.size(); ++i) {
      std::string line = DisplayPath(site.failedFiles[i]);
      if (i < site.failedReasons.size() && !site.failedReasons[i].empty()) {
        line += " (" + EscapeForTerminal(site.failedReasons[i]) + ")";
      }
      std::fprintf(out, "    %s\n", line.c_str());
    }
  }
}

void PrintRunTotals(FILE* out, const std::vector<SiteResult>& sites, double seconds) {
  int64_t saved = 0;
  int64_t failed = 0;
  int64_t bytes = 0;
  int64_t unmeasured = 0;
  size_t failedSites = 0;
  for (const SiteResult& site : sites) {
    saved += site.saved;
    failed += site.failed;
    bytes += site.bytes;
    unmeasured += site.unmeasured;
    if (SiteFailed(site)) ++failedSites;
  }
  std::fprintf(out, "%s (%s with failures): %s saved, %s failed, %s received in %.1f s\n",
               Plural(static_cast<int64_t>(sites.size()), "site").c_str(),
               GroupDigits(static_cast<int64_t>(failedSites)).c_str(),
               Plural(saved, "file").c_str(), Plural(failed, "file").c_str(),
               BytesText(bytes, unmeasured).c_str(), seconds);
}

void PrintStopNotice(FILE* out, int signal) {
  std::fprintf(out, "Stopped by %s: the copy is incomplete.\n",
               signal == SIGTERM ? "SIGTERM" : "SIGINT");
}

void PrintLimitNotice(FILE* out, const std::string& limit) {
  std::fprintf(out, "Stopped by the %s limit: the copy is incomplete.\n", limit.c_str());
}

int ExitStatusFor(const std::vector<SiteResult>& sites, int signal, bool timeUp) {
  if (signal != 0) return 128 + signal;
  if (timeUp) return kExitLimit;
  for (const SiteResult& site : sites) {
    if (!site.limit.empty()) return kExitLimit;
  }
  for (const SiteResult& site : sites) {
    if (SiteFailed(site)) return kExitFailures;
  }
  return kExitOk;
}
