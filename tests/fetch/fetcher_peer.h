// Reaches the fetcher's page scanner without a server: a site without a connection, blocks fed
// by the test, the saved copy written to a file.
#ifndef HARVO_TESTS_FETCH_FETCHER_PEER_H
#define HARVO_TESTS_FETCH_FETCHER_PEER_H

#include <memory>
#include <string>
#include <vector>

#include "fetch/fetcher.h"
#include "fetch/fetcher_test_peer.h"
#include "harvo.h"
#include "job/session.h"
#include "platform/fs.h"
#include "site/site.h"
#include "support/temp_dir.h"

// What a scan of one page gives: the links the site accepted, in order, and the saved copy.
struct ScanResult {
  std::vector<std::string> links;
  std::string saved;
};

// A site that accepts every link (all types) for the start URL http://host/, and its fetcher.
class ScanFixture {
 public:
  // With a session the site has a connection to the start URL's server, and directory links
  // cost their index requests; without one no index name is ever found.
  explicit ScanFixture(const std::string& startUrl = "http://host/",
                       KtWdlSession* session = nullptr) {
    job_.Url = startUrl;
    job_.SaveFolder = dir_.path();
    site_ = std::make_unique<KtWdlSite>(session, &job_);
    site_->SetAllTypes();
    fetcher_ = std::make_unique<KtWdlFetcher>(
        session, session != nullptr ? &session->GetStopFlag() : nullptr, site_.get());
  }
  ~ScanFixture() {
    fetcher_.reset();
    site_.reset();
  }
  KtWdlSite& site() { return *site_; }
  KtWdlFetcher& fetcher() { return *fetcher_; }
  // Where Scan writes the saved copy.
  std::string CopyPath() const { return dir_ / "page.out"; }

  // How the page is saved: rewritten, or raw (links kept) as received or as converted text.
  enum class Copy { kRewritten, kRaw, kRawConverted };

  // Scans page as if it stood in urlDirectory, fed in blocks of the given sizes (repeated; the
  // last size covers the rest).
  ScanResult Scan(const std::string& page, const std::vector<size_t>& blocks,
                  const std::string& urlDirectory = "/", Copy copy = Copy::kRewritten) {
    site_->ClearUrls();
    KtWdlFetcherTestPeer peer(fetcher_.get());
    peer.Begin(urlDirectory);
    std::string path = CopyPath();
    hvfs::OutputFile out;
    out.Open(path);
    hvfs::OutputFile* rewritten = copy == Copy::kRewritten ? &out : nullptr;
    if (copy != Copy::kRewritten) peer.SetRaw(&out, copy == Copy::kRawConverted);
    ScanResult result;
    KtWdlLinkList links;
    size_t at = 0, i = 0;
    while (at < page.size()) {
      size_t n = std::min(blocks[std::min(i++, blocks.size() - 1)], page.size() - at);
      peer.Feed(std::string_view(page).substr(at, n), rewritten, &links);
      at += n;
    }
    peer.End(rewritten, &links);
    out.Commit(false, 0);
    result.links = site_->GetUrlPaths(links);
    result.saved = ReadFileText(path);
    return result;
  }

 private:
  TempDir dir_;
  HvrJobInfo job_;
  std::unique_ptr<KtWdlSite> site_;
  std::unique_ptr<KtWdlFetcher> fetcher_;
};

#endif  // HARVO_TESTS_FETCH_FETCHER_PEER_H
