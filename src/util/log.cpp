#include "util/log.h"

#include <ctime>
#include <string>

#include "platform/codepage.h"
#include "util/fileutil.h"

namespace {
constexpr char kSeparator = '/';
// Every line ends with CR LF, whatever the platform's own line end.
constexpr const char* kStampedFormat = "%.24s:%s\r\n";
constexpr const char* kPlainFormat = "%s\r\n";
}  // namespace

KtWdlLog::~KtWdlLog() {
  Close();
}

int KtWdlLog::Open(const char* path) {
  std::lock_guard<std::mutex> guard(m_Lock);
  CloseLocked();
  if (path == nullptr) return 0;
  const std::string file(path);
  const size_t slash = cp932::FindLast(file, kSeparator);
  const size_t dot = cp932::FindLast(file, '.');
  // Only a name with an extension in its last component is opened.
  if (dot == cp932::npos || dot == 0) return 0;
  if (slash != cp932::npos && dot < slash) return 0;
  if (slash != cp932::npos && slash > 0) CreateFolders(file);
  // Binary mode: the lines carry their own CR LF, which a text-mode stream would double where
  // the platform translates line ends. "w" semantics otherwise: an earlier file is truncated.
  m_File = std::fopen(file.c_str(), "wb");
  if (m_File == nullptr) return 0;
  WriteLocked("*** Log Start ***", 1);
  return 0;
}

int KtWdlLog::Close() {
  std::lock_guard<std::mutex> guard(m_Lock);
  return CloseLocked();
}

int KtWdlLog::WriteLine(const char* text, int stamp) {
  std::lock_guard<std::mutex> guard(m_Lock);
  return WriteLocked(text, stamp);
}

int KtWdlLog::IsOpen() {
  std::lock_guard<std::mutex> guard(m_Lock);
  return m_File != nullptr ? 1 : 0;
}

int KtWdlLog::CloseLocked() {
  if (m_File == nullptr) return 0;
  WriteLocked("*** Log End ***", 1);
  std::fclose(m_File);
  m_File = nullptr;
  return 0;
}

int KtWdlLog::WriteLocked(const char* text, int stamp) {
  if (m_File == nullptr || text == nullptr) return -1;
  if (stamp == 1) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    char stampText[64] = "";
    // The reentrant forms: the worker and the host may stamp lines of different logs at once.
    if (localtime_r(&now, &local) == nullptr || asctime_r(&local, stampText) == nullptr) {
      stampText[0] = '\0';
    }
    std::fprintf(m_File, kStampedFormat, stampText, text);
  } else {
    std::fprintf(m_File, kPlainFormat, text);
  }
  std::fflush(m_File);
  return 0;
}
