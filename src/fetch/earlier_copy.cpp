// An unchanged page that the update rules leave alone: its links are read from the earlier
// copy, so that the walk still reaches the files below it.
#include <algorithm>
#include <cstdio>
#include <string>

#include "fetch/fetcher.h"
#include "harvo.h"
#include "platform/input_file.h"
#include "site/site.h"
#include "util/kanji.h"

namespace {

// The copy is local: it is read in blocks of its own size, whatever the job's BufferSize.
constexpr size_t kCopyBlock = 64 * 1024;

}  // namespace

bool KtWdlFetcher::IsSavedAsReceived() const {
  if (m_FileType != kTypeHtml) return true;
  return m_Site->HasOption(HVR_OPT_RAW_HTML) == 1 && m_Site->HasOption(HVR_OPT_KEEP_CODE) == 1;
}

int KtWdlFetcher::WalkEarlierCopy(KtWdlLinkList* links, int depth) {
  if (!m_HasLocalCopy || m_FileType != kTypeHtml) return -1;
  hvfs::InputFile in;
  if (!in.Open(m_CompareDirectory + m_FileName)) {
    m_Site->NoteReason(in.ErrorText());
    return -1;
  }
  if (m_Site->IsLogging()) {
    char line[32];
    std::snprintf(line, sizeof(line), "), %d", depth);
    m_Site->WriteLog(("Unchanged(" + m_UrlDirectory + m_FileName + line).c_str(), 0);
  }
  // The copy holds the page as it was saved: its text code is the saved one (Shift_JIS, or as
  // received with HVR_OPT_KEEP_CODE), and its links as rewritten for the copy, which lead to the
  // same server paths from the page's folder. The index names they carry need no look-up.
  ResetTokenizer();
  m_KanjiCode = KANJI_UNDECIDED;
  m_ReceiveBuffer.resize(std::max(m_ReceiveBuffer.size(), kCopyBlock));
  m_ScanningCopy = true;
  int result = 0;
  while (true) {
    const int64_t count = in.Read(m_ReceiveBuffer.data(), kCopyBlock);
    if (count < 0) {
      m_Site->NoteReason(in.ErrorText());
      result = -1;
      break;
    }
    if (count == 0) {
      ScanEnd(nullptr, links, depth);
      break;
    }
    const std::string_view text(reinterpret_cast<const char*>(m_ReceiveBuffer.data()),
                                static_cast<size_t>(count));
    if (ScanBlock(text, nullptr, links, depth) == 1) {
      result = 1;
      break;
    }
  }
  m_ScanningCopy = false;
  return result;
}
