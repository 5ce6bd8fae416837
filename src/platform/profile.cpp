#include "platform/profile.h"

#include "platform/codepage.h"
#include "platform/textfile.h"

namespace hvprofile {
namespace {

// A line longer than this is read only this far: every value is cut far below it anyway.
constexpr size_t kMaxLineChars = 64 * 1024;

std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
    return s.substr(1, s.size() - 2);
  return s;
}

std::string CutToBuffer(std::string_view s, size_t bufferSize) {
  if (bufferSize == 0) return std::string();
  size_t end = 0;
  while (end < s.size()) {
    size_t next = end + cp932::CharLength(s, end);
    if (next > bufferSize - 1) break;
    end = next;
  }
  return std::string(s.substr(0, end));
}

}  // namespace

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view def, size_t bufferSize,
                                    const std::string& file) {
  hvtext::TextFile in;
  if (!in.Open(file)) return CutToBuffer(def, bufferSize);
  std::string_view wantedSection = hvtext::TrimSpace(section);
  std::string_view wantedKey = hvtext::TrimSpace(key);
  bool first = true;
  bool inSection = false;
  std::string raw;
  while (in.ReadWholeLine(&raw, kMaxLineChars)) {
    std::string_view line = raw;
    if (first && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
    first = false;
    line = hvtext::TrimSpace(line);
    if (line.starts_with("[")) {
      if (inSection) break;  // only the first matching section counts
      size_t close = cp932::FindFirst(line, ']');
      std::string_view name =
          hvtext::TrimSpace(line.substr(1, close == cp932::npos ? cp932::npos : close - 1));
      inSection = cp932::EqualsNoCase(name, wantedSection);
      continue;
    }
    if (!inSection) continue;
    size_t eq = cp932::FindFirst(line, '=');
    if (eq == cp932::npos || !cp932::EqualsNoCase(hvtext::TrimSpace(line.substr(0, eq)), wantedKey))
      continue;
    return CutToBuffer(Unquote(hvtext::TrimSpace(line.substr(eq + 1))), bufferSize);
  }
  return CutToBuffer(def, bufferSize);
}

}  // namespace hvprofile
