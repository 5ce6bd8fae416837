// The site's URL registry at 10,000, 100,000 and 1,000,000 paths: the time of one AddUrl,
// IsListed, IsRestored and MarkRestored must not grow with the number of paths.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "harvo.h"
#include "site/site.h"

namespace {

// Paths as a large site has them: a few folder levels, pages and images.
std::vector<std::string> MakePaths(size_t count, size_t salt) {
  std::vector<std::string> paths;
  paths.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    size_t n = i * 2654435761u + salt;
    std::string path = "section" + std::to_string(n % 37) + "/topic" + std::to_string(n % 1009) +
                       "/" + (i % 3 == 0 ? "Photo" : "page") + std::to_string(i) +
                       (i % 3 == 0 ? ".JPG" : ".html");
    paths.push_back(std::move(path));
  }
  return paths;
}

class Registry {
 public:
  explicit Registry(size_t count) : paths_(MakePaths(count, 0)) {
    job_.Url = "http://host/";
    job_.SaveFolder = "/nonexistent/";
    site_ = std::make_unique<KtWdlSite>(nullptr, &job_);
    site_->SetAllTypes();
    for (const std::string& path : paths_) site_->AddUrl(path.c_str(), nullptr, 1);
  }
  KtWdlSite& site() { return *site_; }
  const std::vector<std::string>& paths() const { return paths_; }

 private:
  HvrJobInfo job_;
  std::unique_ptr<KtWdlSite> site_;
  std::vector<std::string> paths_;
};

// Lookups walk the listed paths in a scattered order, so that caches do not flatter them: at
// a million paths nearly every lookup misses the CPU caches. The hot variant looks up the same
// 1,024 paths of the large registry over and over: the work of one lookup, without the misses.
template <typename Op>
void Lookups(benchmark::State& state, Op op, bool hot = false) {
  Registry registry(static_cast<size_t>(state.range(0)));
  const auto& paths = registry.paths();
  const size_t span = hot ? std::min<size_t>(1024, paths.size()) : paths.size();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(op(registry.site(), paths[i].c_str()));
    i += 7919;
    while (i >= span) i -= span;
  }
  state.SetItemsProcessed(state.iterations());
}

// Adds new paths to a registry that holds range(0) of them. Every batch of new paths is thrown
// away (outside the timing) before the registry has grown by a tenth.
void BM_AddUrlNew(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  const size_t batch = std::max<size_t>(1, size / 10);
  const std::vector<std::string> fresh = MakePaths(batch, 12345);
  auto registry = std::make_unique<Registry>(size);
  size_t i = 0;
  for (auto _ : state) {
    if (i == batch) {
      state.PauseTiming();
      registry = std::make_unique<Registry>(size);
      i = 0;
      state.ResumeTiming();
    }
    // "new/" keeps the path apart from every listed one.
    std::string path = "new/" + fresh[i++];
    benchmark::DoNotOptimize(registry->site().AddUrl(path.c_str(), nullptr, 1));
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_AddUrlListed(benchmark::State& state) {
  Lookups(state, [](KtWdlSite& site, const char* path) { return site.AddUrl(path, nullptr, 1); });
}
void BM_IsListed(benchmark::State& state) {
  Lookups(state, [](KtWdlSite& site, const char* path) { return site.IsListed(path); });
}
void BM_IsRestored(benchmark::State& state) {
  Lookups(state, [](KtWdlSite& site, const char* path) { return site.IsRestored(path); });
}
void BM_MarkRestored(benchmark::State& state) {
  Lookups(state, [](KtWdlSite& site, const char* path) { return site.MarkRestored(path); });
}
void BM_IsListedHot(benchmark::State& state) {
  Lookups(
      state, [](KtWdlSite& site, const char* path) { return site.IsListed(path); }, true);
}
void BM_IsRestoredHot(benchmark::State& state) {
  Lookups(
      state, [](KtWdlSite& site, const char* path) { return site.IsRestored(path); }, true);
}

#define REGISTRY_SIZES ->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kNanosecond)
BENCHMARK(BM_AddUrlNew) REGISTRY_SIZES;
BENCHMARK(BM_AddUrlListed) REGISTRY_SIZES;
BENCHMARK(BM_IsListed) REGISTRY_SIZES;
BENCHMARK(BM_IsRestored) REGISTRY_SIZES;
BENCHMARK(BM_MarkRestored) REGISTRY_SIZES;
BENCHMARK(BM_IsListedHot) REGISTRY_SIZES;
BENCHMARK(BM_IsRestoredHot) REGISTRY_SIZES;

}  // namespace
