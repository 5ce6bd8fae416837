#include "summary.h"

#include <algorithm>
#include <csignal>

#include "harvo.h"

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

std::string ReasonOf(const SiteResult& site, size_t i) {
  return i < site.failedReasons.size() ? site.failedReasons[i] : std::string();
}

std::string CodeText(int32_t code, const std::string& reason) {
  std::string words = ErrorMeaning(code);
  if (!reason.empty()) words += ": " + EscapeForTerminal(reason);
  return ErrorHex(code) + " (" + words + ")";
}

// A notice that came after a failure must not hide it: the failure is what the user acts on.
std::string LastErrorText(const SiteResult& site) {
  if (IsFailureCode(site.error)) return CodeText(site.error, site.errorText);
  if (!site.failedFiles.empty()) {
    return CodeText(HVR_ERR_FILE, ReasonOf(site, site.failedFiles.size() - 1));
  }
  if (site.error == HVR_ERR_NONE) return "none";
  return "none (latest notice: " + CodeText(site.error, site.errorText) + ")";
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
  std::fprintf(out, "  last error: %s\n", LastErrorText(site).c_str());
  // A start page that fails is not counted among the failed files (it was never listed), so
  // the summary says it in words.
  if (site.saved == 0 && site.failed == 0 && IsFailureCode(site.error)) {
    std::fprintf(out, "  the start page could not be copied\n");
  }
  if (!site.failedFiles.empty()) {
    std::fprintf(out, "  failed files:\n");
    const size_t listed = std::min(site.failedFiles.size(), kListedFailures);
    for (size_t i = 0; i < listed; ++i) {
      std::string line = DisplayPath(site.failedFiles[i]);
      std::string reason = ReasonOf(site, i);
      if (!reason.empty()) line += " (" + EscapeForTerminal(reason) + ")";
      std::fprintf(out, "    %s\n", line.c_str());
    }
    if (listed < site.failedFiles.size()) {
      std::string more = GroupDigits(static_cast<int64_t>(site.failedFiles.size() - listed));
      if (site.logFile.empty()) {
        std::fprintf(out, "    and %s more; --log FILE names every one\n", more.c_str());
      } else {
        std::fprintf(out, "    and %s more; see the log %s\n", more.c_str(),
                     EscapeForTerminal(site.logFile).c_str());
      }
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
