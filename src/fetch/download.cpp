// Receiving and saving the body of the requested file.
#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>

#include "fetch/fetcher.h"
#include "harvo.h"
#include "platform/http.h"
#include "platform/thread.h"
#include "site/site.h"
#include "util/kanji.h"

namespace {

// A block size that the job can actually use: none or a negative one would end every body at
// once, a huge one would only waste memory.
constexpr int kDefaultBlock = 16 * 1024;
constexpr int kMaxBlock = 16 * 1024 * 1024;
// The pause after a file is slept in slices, so that a stop never waits for it.
constexpr int kPauseSlice = 50;

// Results of the receive steps besides 0.
constexpr int kTransportFailure = -2;
constexpr int kWriteFailure = -1;

unsigned UsableBlockSize(int requested) {
  if (requested <= 0) return kDefaultBlock;
  return static_cast<unsigned>(std::min(requested, kMaxBlock));
}

void AddReceived(std::atomic<int32_t>* received, int count) {
  int32_t now = received->load(std::memory_order_relaxed);
  int32_t next = now > INT32_MAX - count ? INT32_MAX : now + count;
  received->store(next, std::memory_order_relaxed);
}

}  // namespace

int KtWdlFetcher::DownloadFile(KtWdlLinkList* links, int depth) {
  if (m_Request == nullptr) return -1;
  const std::string objectName = m_UrlDirectory + m_FileName;
  hvfs::OutputFile out;
  if (!out.Open(m_SaveDirectory + m_FileName)) {
    m_Site->NoteReason(out.ErrorText());
    CloseRequest();
    return -1;
  }
  if (m_Site->IsLogging()) {
    char line[64];
    std::snprintf(line, sizeof(line), ", %d, %d", m_ContentLength.load(), depth);
    m_Site->WriteLog((objectName + line).c_str(), 0);
  }
  ResetTokenizer();
  unsigned block = UsableBlockSize(m_Site->GetBufferSize());
  m_ReceiveBuffer.resize(block + 10);
  // A converted block holds the bytes held back from the block before it too.
  m_ConvertBuffer.resize(block + KanjiConverter::kMaxHeld + 10);
  m_KanjiCode = KANJI_UNDECIDED;
  m_Converting = false;

  int result = m_FileType == kTypeHtml ? ReceiveHtml(&out, links, depth) : ReceiveOther(&out);
  if (result == kTransportFailure) {
    m_Site->ReportUrlError(objectName.c_str(), HVR_ERR_HTTP_OTHER, m_TransportError);
  }
  // A failed download leaves the earlier copy of the file as it was.
  if (result != 0 || !out.Commit(true, m_LastModified)) {
    if (result != kTransportFailure) m_Site->NoteReason(out.ErrorText());
    out.Abort();
    CloseRequest();
    return -1;
  }
  CloseRequest();
  m_Site->MarkRestored(objectName.c_str());
  if (IsStopping()) return 1;
  SleepInterval();
  return 0;
}

int KtWdlFetcher::ReceiveOther(hvfs::OutputFile* out) {
  unsigned block = static_cast<unsigned>(m_ReceiveBuffer.size() - 10);
  if (IsStopping()) return 0;
  try {
    while (true) {
      int count = m_Request->Read(m_ReceiveBuffer.data(), block);
      if (count <= 0) break;
      AddReceived(&m_Received, count);
      if (!out->Write(m_ReceiveBuffer.data(), static_cast<size_t>(count))) return kWriteFailure;
      if (IsStopping()) break;
    }
  } catch (const CInternetException& e) {
    m_TransportError = e.what();
    return kTransportFailure;
  }
  return 0;
}

int KtWdlFetcher::ReceiveHtml(hvfs::OutputFile* out, KtWdlLinkList* links, int depth) {
  const bool raw = m_Site->HasOption(HVR_OPT_RAW_HTML) == 1;
  hvfs::OutputFile* copy = raw ? nullptr : out;
  unsigned block = static_cast<unsigned>(m_ReceiveBuffer.size() - 10);
  if (IsStopping()) return 0;
  while (true) {
    int count = 0;
    try {
      std::lock_guard<KtWdlSite> lock(*m_Site);
      count = m_Request->Read(m_ReceiveBuffer.data(), block);
    } catch (const CInternetException&) {
      return kTransportFailure;
    }
    // At the end of the body the conversion gives up what it still holds: a unit that the end
    // cut.
    const bool end = count <= 0;
    if (!end) AddReceived(&m_Received, count);
    std::string_view text =
        end ? FinishConversion()
            : ConvertBlock(m_ReceiveBuffer.data(), static_cast<unsigned>(count));
    if (raw && !out->Write(text.data(), text.size())) return kWriteFailure;
    int scanned = ScanBlock(text, copy, links, depth);
    if (scanned == -1) return kWriteFailure;
    if (scanned == 1) return 0;
    if (end) break;
  }
  return ScanEnd(copy, links, depth) == 0 ? 0 : kWriteFailure;
}

int KtWdlFetcher::ScanBlock(std::string_view text, hvfs::OutputFile* out, KtWdlLinkList* links,
                            int depth) {
  const char* cursor = text.data();
  size_t pending = text.size();
  while (pending > 0) {
    // Plain text runs up to a delimiter, which NextToken then takes as a token of its own.
    if (IsPlainText()) SkipPlainText(&cursor, &pending, out);
    if (pending > 0 && NextToken(&cursor, &pending, out) == 1) {
      ProcessToken(links, depth);
      if (!WriteToken(out)) return -1;
    }
    if (IsStopping()) return 1;
  }
  return 0;
}

int KtWdlFetcher::ScanEnd(hvfs::OutputFile* out, KtWdlLinkList* links, int depth) {
  // The page's last token, cut by the end of the body, still counts and is still written.
  if (m_TokenLength == 0) return 0;
  FinishToken();
  ProcessToken(links, depth);
  return WriteToken(out) ? 0 : -1;
}

bool KtWdlFetcher::WriteToken(hvfs::OutputFile* out) {
  if (out == nullptr) return true;
  RelabelCharset();
  // An overlong token was written while it arrived.
  if (m_TokenOverlong) return true;
  return out->Write(m_Token.data(), m_Token.size());
}

bool KtWdlFetcher::IsConverted() const {
  return (m_KanjiCode == KANJI_EUC || m_KanjiCode == KANJI_JIS) &&
         m_Site->HasOption(HVR_OPT_KEEP_CODE) == 0;
}

bool KtWdlFetcher::IsStopping() const {
  return m_Stop != nullptr && m_Stop->IsSet();
}

std::string_view KtWdlFetcher::ConvertBlock(const unsigned char* data, unsigned size) {
  const auto* text = reinterpret_cast<const char*>(data);
  if (m_Site->HasOption(HVR_OPT_KEEP_CODE) == 1) return {text, size};
  if (m_KanjiCode == KANJI_UNDECIDED) {
    m_KanjiCode = DetectKanjiCode(data, size);
    // UTF-8 text passes for EUC-JP in the detection; converting it would destroy it.
    if (m_KanjiCode == KANJI_EUC && IsUtf8Text(data, size)) m_KanjiCode = kKanjiUtf8;
  }
  if (m_KanjiCode != KANJI_EUC && m_KanjiCode != KANJI_JIS) return {text, size};
  // The converter starts with the block that decided the code and then carries its state from
  // block to block: a character or escape sequence cut by the end of a block is held back and
  // completed from the next one.
  if (!m_Converting) {
    m_Converter.Reset(m_KanjiCode);
    m_Converting = true;
  }
  unsigned length = m_Converter.Convert(data, size, m_ConvertBuffer.data());
  return {reinterpret_cast<const char*>(m_ConvertBuffer.data()), length};
}

std::string_view KtWdlFetcher::FinishConversion() {
  unsigned length = 0;
  if (m_Converting) length = m_Converter.Finish(m_ConvertBuffer.data());
  m_Converting = false;
  // An empty text still points into the buffer: its data may go to memcpy with a size of 0.
  return {reinterpret_cast<const char*>(m_ConvertBuffer.data()), length};
}

void KtWdlFetcher::SleepInterval() {
  int remaining = m_Site->GetInterval();
  while (remaining > 0 && !IsStopping()) {
    int slice = std::min(remaining, kPauseSlice);
    hvthread::SleepMilliseconds(slice);
    remaining -= slice;
  }
}
