// The page scanner with link resolution, fed in blocks whose sizes come from the input. The site
// stands in for a job that wants every type and has no session (so no index requests): the
// scanner fixture of the fetcher's unit tests.
//
// Invariants: no crash; the same page gives the same saved copy and the same links however it
// is cut into blocks, also with every link option on; without them a page without "=" names
// no link value, so its copy keeps every non-whitespace byte in order.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fetch/fetcher_peer.h"
#include "fuzz_support.h"

namespace {

std::string WithoutWhitespace(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(),
                            [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }),
             text.end());
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The fixture writes each saved copy to a file: in memory where the system has a place for it.
  if (getenv("TMPDIR") == nullptr && access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ScanFixture atRoot("http://host/");
  static ScanFixture inDir("http://host/dir/");
  // Every link form, query pages and absolute URLs for what is not copied.
  static ScanFixture& withLinks = []() -> ScanFixture& {
    static ScanFixture fixture("http://host/");
    fixture.site().AddOptions(HVR_OPT_ROOT_LINKS | HVR_OPT_MORE_LINKS | HVR_OPT_QUERY_PAGES |
                              HVR_OPT_REMOTE_LINKS);
    return fixture;
  }();
  static const char* const kDirectories[] = {"/", "dir/", "dir/sub/"};

  FuzzedDataProvider input(data, size);
  const int which = input.ConsumeIntegralInRange<int>(0, 2);
  ScanFixture& scanner = which == 0 ? atRoot : which == 1 ? inDir : withLinks;
  const std::string directory = kDirectories[input.ConsumeIntegralInRange<int>(0, 2)];
  std::vector<size_t> blocks;
  for (int i = input.ConsumeIntegralInRange<int>(1, 4); i > 0; --i) {
    blocks.push_back(input.ConsumeIntegralInRange<size_t>(1, 64));
  }
  const std::string page = input.ConsumeRemainingBytesAsString();

  ScanResult cut = scanner.Scan(page, blocks, directory);
  ScanResult whole = scanner.Scan(page, {page.size() + 1}, directory);
  FUZZ_CHECK(cut.saved == whole.saved, "the copy depends on the block sizes");
  FUZZ_CHECK(cut.links == whole.links, "the links depend on the block sizes");
  if (which != 2 && page.find('=') == std::string::npos) {
    FUZZ_CHECK(whole.links.empty(), "a link without a value");
    FUZZ_CHECK(WithoutWhitespace(whole.saved) == WithoutWhitespace(page),
               "the copy lost or changed a byte");
  }
  return 0;
}
