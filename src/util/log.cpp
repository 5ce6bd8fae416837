#include "util/log.h"

#include <ctime>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "util/fileutil.h"

namespace {
constexpr char kSeparator = '/';
// Every line ends with CR LF, whatever the platform's own line end.
constexpr const char* kStampedFormat = "%.24s:%s\r\n";
constexpr const char* kPlainFormat = "%s\r\n";

bool IsControlByte(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

// Much of a line is a server's text (link values, index names). Control bytes in it would
// reach whoever reads the log on a terminal, or end the line and forge another, so each is
// written as \xNN. A tab at the start belongs to the line's own format. Bytes from 0x80 on
// are Shift_JIS text and stay.
std::string EscapeControlBytes(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!IsControlByte(c) || (i == 0 && c == '\t')) {
      out += text[i];
      continue;
    }
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
  }
  return out;
}

}  // namespace

KtWdlLog::~KtWdlLog() {
  Close();
}

int KtWdlLog::Open(const char* path) {
  hvthread::LockGuard<hvthread::Mutex> guard(m_Lock);
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
  hvthread::LockGuard<hvthread::Mutex> guard(m_Lock);
  return CloseLocked();
}

int KtWdlLog::WriteLine(const char* text, int stamp) {
  hvthread::LockGuard<hvthread::Mutex> guard(m_Lock);
  return WriteLocked(text, stamp);
}

int KtWdlLog::IsOpen() {
  hvthread::LockGuard<hvthread::Mutex> guard(m_Lock);
  return m_File != nullptr ? 1 : 0;
}

int KtWdlLog::CloseLocked() {
  if (m_File == nullptr) return 0;
  WriteLocked("*** Log End ***", 1);
  std::fclose(m_File);
  m_File = nullptr;
  return 0;
}

int KtWdlLog::WriteLocked(const char* rawText, int stamp) {
  if (m_File == nullptr || rawText == nullptr) return -1;
  const std::string escaped = EscapeControlBytes(rawText);
  const char* text = escaped.c_str();
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
