// The page scan: tokenizer, token state machine, link resolution with the site's registry, and
// the saved copy, on a large page fed in the job's default blocks of 16 KiB.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench_support.h"
#include "fetch/fetcher.h"
#include "fetch/fetcher_test_peer.h"
#include "harvo.h"
#include "platform/fs.h"
#include "site/site.h"

namespace {

constexpr size_t kPageSize = 4 << 20;
constexpr size_t kBlock = 16 * 1024;

// newLinks: the registry is emptied before every scan, so every link of the page is new to it
// (the first page of a crawl); otherwise the links are listed already after the first scan, as
// most links of a page are in a crawl of a whole site.
void ScanPage(benchmark::State& state, bool saveCopy, bool newLinks) {
  const std::string page = bench::MakePage(kPageSize);
  bench::ScratchDir dir;
  HvrJobInfo job;
  job.Url = "http://host/";
  job.SaveFolder = dir.path();
  // Without a session the site has no connection: directory links would find no index name,
  // and the page has none, so the scan never waits for a server.
  KtWdlSite site(nullptr, &job);
  site.SetAllTypes();
  KtWdlFetcher fetcher(nullptr, nullptr, &site);
  KtWdlFetcherTestPeer peer(&fetcher);
  KtWdlLinkList links;
  size_t linkCount = 0;
  for (auto _ : state) {
    if (newLinks) {
      state.PauseTiming();
      site.ClearUrls();
      state.ResumeTiming();
    }
    links.clear();
    hvfs::OutputFile out;
    hvfs::OutputFile* copy = nullptr;
    if (saveCopy) {
      out.Open(dir.path() + "page.html");
      copy = &out;
    }
    peer.Begin("dir/sub/");
    for (size_t at = 0; at < page.size(); at += kBlock) {
      peer.Feed(std::string_view(page).substr(at, kBlock), copy, &links);
    }
    peer.End(copy, &links);
    if (saveCopy && !out.Commit(false, 0)) state.SkipWithError("the copy could not be written");
    linkCount = links.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
  state.counters["new_links"] = static_cast<double>(linkCount);
}

void BM_ScanPageWithSavedCopy(benchmark::State& state) {
  ScanPage(state, true, false);
}
void BM_ScanPageWithSavedCopyNewLinks(benchmark::State& state) {
  ScanPage(state, true, true);
}
void BM_ScanPageRaw(benchmark::State& state) {
  ScanPage(state, false, false);
}
void BM_ScanPageRawNewLinks(benchmark::State& state) {
  ScanPage(state, false, true);
}

BENCHMARK(BM_ScanPageWithSavedCopy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanPageWithSavedCopyNewLinks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanPageRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanPageRawNewLinks)->Unit(benchmark::kMillisecond);

}  // namespace
