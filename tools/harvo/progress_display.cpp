#include "progress_display.h"

#include <cinttypes>
#include <csignal>
#include <cstring>

#include "terminal.h"
#include "text_escape.h"

namespace {

// The rate is taken over this much of the recent past, so that it follows changes quickly but
// does not jump with every poll.
constexpr std::chrono::seconds kRateWindow{3};

// The least of the current path worth showing.
constexpr size_t kMinPathColumns = 16;

std::string Format(const char* format, double value, const char* unit) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, value, unit);
  return buf;
}

// path with its front replaced by "..." so that it fits in columns.
std::string FitPathLeft(const std::string& path, size_t columns) {
  size_t width = DisplayColumns(path);
  if (width <= columns) return path;
  if (columns <= 3) return std::string(FitColumns("...", columns));
  // Drop whole characters from the front until the rest fits after the "...".
  std::string_view rest = path;
  while (!rest.empty() && width > columns - 3) {
    size_t len = Utf8SequenceLength(rest);
    if (len == 0) len = 1;
    width -= DisplayColumns(rest.substr(0, len));
    rest.remove_prefix(len);
  }
  return "..." + std::string(rest);
}

}  // namespace

std::string FormatBytes(int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024.0;
  const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(units)) {
    value /= 1024.0;
    ++unit;
  }
  return Format(value < 10.0 ? "%.1f %s" : "%.0f %s", value, units[unit]);
}

ProgressDisplay::Mode ProgressDisplay::ChooseMode(bool quiet) {
  if (quiet) return Mode::kQuiet;
  return IsTerminal(stdout) ? Mode::kStatusLine : Mode::kFileLines;
}

ProgressDisplay::ProgressDisplay(Mode mode, FILE* out) : mode_(mode), out_(out) {}

ProgressDisplay::~ProgressDisplay() {
  Clear();
}

std::string ProgressDisplay::Compose(const StatusInfo& status, double rate, size_t columns) {
  std::string size = FormatBytes(status.received);
  if (status.announced > 0) size += "/" + FormatBytes(status.announced);
  std::string counts = std::to_string(status.saved) + " saved";
  if (status.failed > 0) counts += ", " + std::to_string(status.failed) + " failed";
  std::string total = FormatBytes(status.bytes);
  if (status.stopping) {
    total += " | stopping...";
  } else if (rate > 0) {
    total += " at " + FormatBytes(static_cast<int64_t>(rate)) + "/s";
  }

  std::string site = EscapeForTerminal(status.site);
  std::string path = status.path.empty() ? "(starting)" : EscapeForTerminal(status.path);
  std::string head = site.empty() ? std::string() : "[" + site + "] ";
  // On a narrow terminal the current file's size goes first, then the path is shortened; the
  // counts and the total stay as long as anything does.
  for (const std::string& tail :
       {"  " + size + " | " + counts + " | " + total, "  " + counts + " | " + total}) {
    size_t fixed = DisplayColumns(head) + DisplayColumns(tail);
    if (fixed + kMinPathColumns <= columns) return head + FitPathLeft(path, columns - fixed) + tail;
  }
  return std::string(FitColumns(head + path + "  " + counts + " | " + total, columns));
}

void ProgressDisplay::Show(const StatusInfo& status) {
  if (mode_ != Mode::kStatusLine) return;
  size_t columns = Columns();
  // One column short of the width: a line that fills the last column wraps on some terminals,
  // and the carriage return would then redraw only the wrapped part.
  std::string line = Compose(status, Rate(status.bytes), columns > 1 ? columns - 1 : 1);
  std::fprintf(out_, "\r%s\x1b[K", line.c_str());
  std::fflush(out_);
  lineShown_ = true;
}

void ProgressDisplay::Report(const FinishedFile& file, const std::string& prefix) {
  if (mode_ != Mode::kFileLines) return;
  std::string lead = prefix.empty() ? std::string() : "[" + EscapeForTerminal(prefix) + "] ";
  std::string path = EscapeForTerminal(file.path);
  if (file.outcome == FinishedFile::Outcome::kSaved) {
    std::fprintf(out_, "%ssaved  %s (%s)\n", lead.c_str(), path.c_str(),
                 FormatBytes(file.bytes).c_str());
  } else if (file.outcome == FinishedFile::Outcome::kFailed) {
    std::fprintf(out_, "%sfailed %s\n", lead.c_str(), path.c_str());
  }
  if (file.unseenSaved > 0) {
    std::fprintf(out_, "%ssaved  %d more file%s between two looks\n", lead.c_str(),
                 file.unseenSaved, file.unseenSaved == 1 ? "" : "s");
  }
  if (file.unseenFailed > 0) {
    std::fprintf(out_, "%sfailed %d more file%s between two looks\n", lead.c_str(),
                 file.unseenFailed, file.unseenFailed == 1 ? "" : "s");
  }
  std::fflush(out_);
}

void ProgressDisplay::NoteStop(int signal) {
  if (mode_ == Mode::kQuiet) return;
  Clear();
  std::fprintf(out_, "Stopping (%s)...\n", signal == SIGTERM ? "SIGTERM" : "SIGINT");
  std::fflush(out_);
}

void ProgressDisplay::NoteLimit() {
  if (mode_ == Mode::kQuiet) return;
  Clear();
  std::fprintf(out_, "Stopping (time limit)...\n");
  std::fflush(out_);
}

void ProgressDisplay::Clear() {
  if (!lineShown_) return;
  std::fputs("\r\x1b[K", out_);
  std::fflush(out_);
  lineShown_ = false;
}

double ProgressDisplay::Rate(int64_t bytes) {
  auto now = std::chrono::steady_clock::now();
  history_.emplace_back(now, bytes);
  while (history_.size() > 2 && now - history_.front().first > kRateWindow) history_.pop_front();
  auto span = std::chrono::duration<double>(now - history_.front().first).count();
  if (span < 0.2) return 0;
  return static_cast<double>(bytes - history_.front().second) / span;
}

size_t ProgressDisplay::Columns() const {
  size_t columns = TerminalColumns(out_);
  return columns > 0 ? columns : 80;
}
