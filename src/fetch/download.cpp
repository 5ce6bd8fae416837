// Receiving and saving the body of the requested file.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "fetch/fetcher.h"
#include "fetch/page_sink.h"
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
constexpr int kStoppedEarly = 1;  // a stop came before the end of the body

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
  // No symbolic link below the site folder is followed on the way to the file.
  const std::string siteFolder = m_Site->GetSaveFolder();
  bool opened = out.Open(m_SaveDirectory + m_LocalName, &siteFolder);
  if (!opened && !m_SaveDirectory.empty() && m_MadeFolder == m_SaveDirectory) {
    // The folder was made for an earlier file; something may have removed it since.
    MakeSaveFolder();
    opened = out.Open(m_SaveDirectory + m_LocalName, &siteFolder);
  }
  if (!opened) {
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
  m_Undecided.clear();

  int result = m_FileType == kTypeHtml ? ReceiveHtml(&out, links, depth)
               : IsStyleSheet()        ? ReceiveCss(&out, links, depth)
                                       : ReceiveOther(&out);
  m_RawOut = nullptr;
  if (result == kTransportFailure) {
    m_Site->ReportUrlError(objectName.c_str(), HVR_ERR_HTTP_OTHER, m_TransportError);
  }
  const bool stopped = result == kStoppedEarly;
  // A stopped download leaves an earlier file as it was, like a failed one: what arrived is only
  // a part. Without an earlier file the part is kept, stamped and marked as cut short, so that an
  // update run takes it for changed.
  if (stopped && out.TargetExists()) {
    out.Abort();
    CloseRequest();
    return 1;
  }
  // A failed download leaves the earlier copy of the file as it was.
  if ((result != 0 && !stopped) || !out.Commit(true, m_LastModified, stopped)) {
    if (result != kTransportFailure) m_Site->NoteReason(out.ErrorText());
    out.Abort();
    CloseRequest();
    return -1;
  }
  CloseRequest();
  m_Site->MarkRestored(objectName.c_str());
  m_Site->CheckLimits();
  if (IsStopping()) return 1;
  SleepInterval();
  return 0;
}

int KtWdlFetcher::ReceiveOther(hvfs::OutputFile* out) {
  unsigned block = static_cast<unsigned>(m_ReceiveBuffer.size() - 10);
  if (IsStopping()) return kStoppedEarly;
  while (true) {
    const int count = ReadBlock(block);
    if (count == kTransportFailure) return kTransportFailure;
    if (count == 0) return EndOfBody();
    if (!out->Write(m_ReceiveBuffer.data(), static_cast<size_t>(count))) return kWriteFailure;
    if (IsStopping()) return kStoppedEarly;
  }
}

int KtWdlFetcher::ReadBlock(unsigned block) {
  int count = 0;
  try {
    count = m_Request->Read(m_ReceiveBuffer.data(), block);
  } catch (const CInternetException& e) {
    m_TransportError = e.what();
    return kTransportFailure;
  }
  if (count <= 0) return 0;
  AddReceived(&m_Received, count);
  m_Site->AddReceivedBytes(count);
  m_Site->CheckLimits();
  return count;
}

int KtWdlFetcher::ReceiveCss(hvfs::OutputFile* out, KtWdlLinkList* links, int depth) {
  // A raw copy keeps the sheet as received; its links are still found and followed.
  const bool raw = m_Site->HasOption(HVR_OPT_RAW_HTML) == 1;
  PageSink sink(this, raw ? nullptr : out, links, depth, false);
  unsigned block = static_cast<unsigned>(m_ReceiveBuffer.size() - 10);
  m_Css.Reset(false);
  if (IsStopping()) return kStoppedEarly;
  while (true) {
    const int count = ReadBlock(block);
    if (count == kTransportFailure) return kTransportFailure;
    // A read that a stop cut short is no end of the sheet: the copy stays unfinished.
    if (count == 0) {
      if (EndOfBody() == kStoppedEarly) return kStoppedEarly;
      break;
    }
    std::string_view text(reinterpret_cast<const char*>(m_ReceiveBuffer.data()),
                          static_cast<size_t>(count));
    if (raw && !out->Write(text.data(), text.size())) return kWriteFailure;
    if (!m_Css.Feed(text, &sink)) return kWriteFailure;
    if (IsStopping()) return kStoppedEarly;
  }
  return m_Css.Finish(&sink) ? 0 : kWriteFailure;
}

int KtWdlFetcher::ReceiveHtml(hvfs::OutputFile* out, KtWdlLinkList* links, int depth) {
  const bool raw = m_Site->HasOption(HVR_OPT_RAW_HTML) == 1;
  hvfs::OutputFile* copy = raw ? nullptr : out;
  m_RawOut = raw ? out : nullptr;
  unsigned block = static_cast<unsigned>(m_ReceiveBuffer.size() - 10);
  if (IsStopping()) return kStoppedEarly;
  while (true) {
    const int count = ReadBlock(block);
    if (count == kTransportFailure) return kTransportFailure;
    // At the end of the body the conversion gives up what it still holds: a unit that the end
    // cut.
    const bool end = count == 0;
    if (end && EndOfBody() == kStoppedEarly) return kStoppedEarly;
    std::string_view text =
        end ? FinishConversion()
            : ConvertBlock(m_ReceiveBuffer.data(), static_cast<unsigned>(count));
    int scanned = ScanBlock(text, copy, links, depth);
    if (scanned == -1) return kWriteFailure;
    if (scanned == 1) return kStoppedEarly;
    if (end) break;
  }
  return ScanEnd(copy, links, depth) == 0 ? 0 : kWriteFailure;
}

int KtWdlFetcher::ScanBlock(std::string_view text, hvfs::OutputFile* out, KtWdlLinkList* links,
                            int depth) {
  m_Block = text.data();
  const char* cursor = text.data();
  size_t pending = text.size();
  int result = 0;
  while (pending > 0) {
    if (m_InStyle) {
      ScanStyle(&cursor, &pending, out, links, depth);
    } else if (m_ValueMode != kNoValue) {
      ScanValue(&cursor, &pending, out, links, depth);
    } else {
      // Plain text runs up to a delimiter, which NextToken then takes as a token of its own.
      if (IsPlainText()) SkipPlainText(&cursor, &pending, out);
      if (pending > 0 && NextToken(&cursor, &pending, out) == 1) {
        ProcessToken(links, depth);
        if (!WriteToken(out, OffsetOf(cursor))) return -1;
      }
    }
    if (IsStopping()) {
      result = 1;
      break;
    }
  }
  // A stopped page keeps the whole block, as it arrived.
  if (m_RawOut != nullptr && !EndRawBlock(text, result == 1)) return -1;
  m_BlockOffset += text.size();
  return result;
}

int KtWdlFetcher::ScanEnd(hvfs::OutputFile* out, KtWdlLinkList* links, int depth) {
  FinishValueAndStyle(out, links, depth);
  // The page's last token, cut by the end of the body, still counts and is still written.
  if (m_TokenLength != 0) {
    FinishToken();
    ProcessToken(links, depth);
    if (!WriteToken(out, m_BlockOffset)) return -1;
  }
  return m_RawOut == nullptr || RawWriteUpTo(m_BlockOffset) ? 0 : -1;
}

bool KtWdlFetcher::WriteToken(hvfs::OutputFile* out, uint64_t tokenEnd) {
  const bool relabelled = RelabelCharset();
  if (m_RawOut != nullptr) return !relabelled || ReplaceRawToken(tokenEnd);
  // No copy, or an overlong token, which was written while it arrived.
  if (out == nullptr || m_TokenOverlong) return true;
  return out->Write(m_Token.data(), m_Token.size());
}

// ---- raw pages ----

char KtWdlFetcher::RawByteAt(uint64_t offset) const {
  if (offset < m_BlockOffset) return m_RawHeld[static_cast<size_t>(offset - m_RawWritten)];
  return m_Block[offset - m_BlockOffset];
}

bool KtWdlFetcher::RawWriteUpTo(uint64_t upTo) {
  if (upTo <= m_RawWritten) return true;
  if (m_RawWritten < m_BlockOffset) {
    const size_t n = static_cast<size_t>(std::min(upTo, m_BlockOffset) - m_RawWritten);
    if (!m_RawOut->Write(m_RawHeld.data(), n)) return false;
    m_RawHeld.erase(0, n);
    m_RawWritten += n;
  }
  if (upTo > m_RawWritten) {
    if (!m_RawOut->Write(m_Block + (m_RawWritten - m_BlockOffset),
                         static_cast<size_t>(upTo - m_RawWritten))) {
      return false;
    }
    m_RawWritten = upTo;
  }
  return true;
}

void KtWdlFetcher::RawSkipTo(uint64_t to) {
  if (to <= m_RawWritten) return;
  if (m_RawWritten < m_BlockOffset) {
    const uint64_t n = std::min(to, m_BlockOffset) - m_RawWritten;
    m_RawHeld.erase(0, static_cast<size_t>(n));
    m_RawWritten += n;
  }
  m_RawWritten = std::max(m_RawWritten, to);
}

bool KtWdlFetcher::ReplaceRawToken(uint64_t tokenEnd) {
  // Blanks around a quoted label are no part of it and stay where they are.
  uint64_t from = m_TokenStart, to = tokenEnd;
  while (from < to && IsSpaceChar(static_cast<unsigned char>(RawByteAt(from)))) ++from;
  while (to > from && IsSpaceChar(static_cast<unsigned char>(RawByteAt(to - 1)))) --to;
  if (!RawWriteUpTo(from) || !m_RawOut->Write(m_Token.data(), m_Token.size())) return false;
  RawSkipTo(to);
  return true;
}

bool KtWdlFetcher::EndRawBlock(std::string_view text, bool all) {
  const uint64_t end = m_BlockOffset + text.size();
  const bool tokenOpen = m_TokenLength > 0 && !m_TokenOverlong;
  if (!RawWriteUpTo(all || !tokenOpen ? end : m_TokenStart)) return false;
  // What is left waits in m_RawHeld, which then reaches up to the next block.
  if (m_RawWritten < end) {
    const size_t from =
        m_RawWritten > m_BlockOffset ? static_cast<size_t>(m_RawWritten - m_BlockOffset) : 0;
    m_RawHeld.append(text.substr(from));
  }
  return true;
}

int KtWdlFetcher::EndOfBody() const {
  if (!IsStopping()) return 0;
  // A stop cuts a read short and makes it look like the end of the body: only a body that came
  // to its announced length is known to be whole.
  const int32_t announced = m_ContentLength.load(std::memory_order_relaxed);
  const bool whole = announced > 0 && m_Received.load(std::memory_order_relaxed) >= announced;
  return whole ? 0 : kStoppedEarly;
}

bool KtWdlFetcher::IsConverted() const {
  return (m_KanjiCode == KANJI_EUC || m_KanjiCode == KANJI_JIS) &&
         m_Site->HasOption(HVR_OPT_KEEP_CODE) == 0;
}

bool KtWdlFetcher::IsStopping() const {
  return (m_Stop != nullptr && m_Stop->IsSet()) || m_Site->IsLimitReached();
}

std::string_view KtWdlFetcher::ConvertBlock(const unsigned char* data, unsigned size) {
  const auto* text = reinterpret_cast<const char*>(data);
  if (m_Site->HasOption(HVR_OPT_KEEP_CODE) == 1) return {text, size};
  if (m_KanjiCode != KANJI_UNDECIDED && !IsConverted()) return {text, size};
  size_t used = 0;
  if (m_KanjiCode == KANJI_UNDECIDED) {
    m_Undecided.append(text, size);
    used = DecideWindows(false, 0);
  } else {
    used = AppendConverted(data, size, 0);
  }
  return {reinterpret_cast<const char*>(m_ConvertBuffer.data()), used};
}

std::string_view KtWdlFetcher::FinishConversion() {
  size_t used = DecideWindows(true, 0);
  if (m_Converting) {
    m_ConvertBuffer.resize(std::max(m_ConvertBuffer.size(), used + KanjiConverter::kMaxHeld));
    used += m_Converter.Finish(m_ConvertBuffer.data() + used);
  }
  m_Converting = false;
  // An empty text still points into the buffer: its data may go to memcpy with a size of 0.
  return {reinterpret_cast<const char*>(m_ConvertBuffer.data()), used};
}

size_t KtWdlFetcher::DecideWindows(bool final, size_t used) {
  size_t from = 0;
  while (m_KanjiCode == KANJI_UNDECIDED && from < m_Undecided.size()) {
    const size_t size = std::min(kDetectWindow, m_Undecided.size() - from);
    if (size < kDetectWindow && !final) break;
    const auto* window = reinterpret_cast<const unsigned char*>(m_Undecided.data() + from);
    int code = DetectKanjiCode(window, static_cast<unsigned>(size));
    // UTF-8 text passes for EUC-JP in the detection; converting it would destroy it.
    if (code == KANJI_EUC && IsUtf8Text(window, static_cast<unsigned>(size))) code = kKanjiUtf8;
    if (code == KANJI_UNDECIDED) {
      // The window goes on as it arrived; the next one is examined again.
      used = AppendConverted(window, size, used);
      from += size;
      continue;
    }
    m_KanjiCode = code;
  }
  if (m_KanjiCode != KANJI_UNDECIDED && from < m_Undecided.size()) {
    used = AppendConverted(reinterpret_cast<const unsigned char*>(m_Undecided.data() + from),
                           m_Undecided.size() - from, used);
    from = m_Undecided.size();
  }
  m_Undecided.erase(0, from);
  return used;
}

size_t KtWdlFetcher::AppendConverted(const unsigned char* data, size_t size, size_t used) {
  m_ConvertBuffer.resize(std::max(m_ConvertBuffer.size(), used + size + KanjiConverter::kMaxHeld));
  unsigned char* out = m_ConvertBuffer.data() + used;
  if (m_KanjiCode != KANJI_EUC && m_KanjiCode != KANJI_JIS) {
    std::memcpy(out, data, size);
    return used + size;
  }
  // The converter starts with the text that decided the code and then carries its state from
  // block to block: a character or escape sequence cut by the end of a block is held back and
  // completed from the next one.
  if (!m_Converting) {
    m_Converter.Reset(m_KanjiCode);
    m_Converting = true;
  }
  return used + m_Converter.Convert(data, static_cast<unsigned>(size), out);
}

void KtWdlFetcher::SleepInterval() {
  int remaining = m_Site->GetInterval();
  while (remaining > 0 && !IsStopping()) {
    int slice = std::min(remaining, kPauseSlice);
    hvthread::SleepMilliseconds(slice);
    remaining -= slice;
  }
}
