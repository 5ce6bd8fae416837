// Lets tests and benchmarks drive the fetcher's page scanner directly: blocks fed by the caller,
// the saved copy written to a file of the caller's.
#ifndef HARVO_TESTS_FETCH_FETCHER_TEST_PEER_H
#define HARVO_TESTS_FETCH_FETCHER_TEST_PEER_H

#include <string>
#include <string_view>
#include <vector>

#include "fetch/fetcher.h"
#include "platform/fs.h"
#include "util/kanji.h"

class KtWdlFetcherTestPeer {
 public:
  explicit KtWdlFetcherTestPeer(KtWdlFetcher* fetcher) : f_(fetcher) {}
  void Begin(const std::string& urlDirectory) {
    f_->m_UrlDirectory = urlDirectory;
    f_->ResetTokenizer();
  }
  // A raw page: out receives the page text (converted: as if the converter had produced it).
  void SetRaw(hvfs::OutputFile* out, bool converted) {
    f_->m_RawOut = out;
    f_->m_KanjiCode = converted ? KANJI_EUC : KANJI_UNDECIDED;
  }
  int Feed(std::string_view text, hvfs::OutputFile* out, KtWdlLinkList* links) {
    return f_->ScanBlock(text, out, links, 0);
  }
  int End(hvfs::OutputFile* out, KtWdlLinkList* links) { return f_->ScanEnd(out, links, 0); }
  int TokenCapacity() const { return f_->m_TokenCapacity; }
  // What the token being collected holds in memory.
  size_t TokenBytesHeld() const { return f_->m_Token.capacity(); }

 private:
  KtWdlFetcher* f_;
};

#endif  // HARVO_TESTS_FETCH_FETCHER_TEST_PEER_H
