// Peak memory of a walk against a page that holds a great many links below a deep folder. The
// process's peak resident size is read from /proc, so this suite is a program of its own: every
// test runs in a process of its own under CTest, and nothing else has raised the peak before.
//
// HARVO_MEMORY_LINKS=n runs the cases with n links instead of the default, for measurements.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "harvo.h"
#include "hostile/hostile_support.h"
#include "support/job_runner.h"
#include "support/nginx_server.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;

constexpr int kFolders = 15;
constexpr size_t kFolderNameLength = 250;
constexpr int64_t kMiB = 1024 * 1024;

// The process's peak resident size in bytes (VmHWM), or -1 when /proc cannot tell.
int64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    long long kib = 0;
    if (std::sscanf(line.c_str(), "VmHWM: %lld kB", &kib) == 1) return kib * 1024;
  }
  return -1;
}

int LinkCount(int fallback) {
  const char* text = std::getenv("HARVO_MEMORY_LINKS");
  int count = text != nullptr ? std::atoi(text) : 0;
  return count > 0 ? count : fallback;
}

// A sanitizer's allocator keeps freed blocks in quarantine and adds shadow memory: the peak
// says nothing about the code there, so those builds check only the behaviour.
void ExpectPeakBelow(int64_t peak, int64_t bound) {
  if (!hostile::kSanitized) {
    EXPECT_LT(peak, bound);
  }
}

int DefaultLinks() {
  return hostile::kSanitized ? 10000 : 100000;
}

// "/" and fifteen folders of 250 characters each, ending with "/": 3.8 KB.
std::string DeepFolder() {
  std::string folder = "/";
  for (int i = 0; i < kFolders; ++i) {
    folder += std::string(kFolderNameLength - 1, static_cast<char>('a' + i)) + "z/";
  }
  return folder;
}

// Five digits of base 36: every link is 18 bytes of page text, <a href=00000.htm>.
std::string LinkName(int n) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string name(5, '0');
  for (int i = 4; i >= 0; --i, n /= 36) name[static_cast<size_t>(i)] = kDigits[n % 36];
  return name + ".htm";
}

// links of 18 bytes, or with folders of 20 bytes: each a file in a folder of its own below the
// page's folder (<a href=00000/a.htm>).
std::string DeepPage(int links, bool folders = false) {
  std::string page;
  page.reserve(static_cast<size_t>(links) * 20);
  for (int n = 0; n < links; ++n) {
    std::string name = LinkName(n);
    if (folders) name = name.substr(0, 5) + "/a.htm";
    page += "<a href=" + name + ">";
  }
  return page;
}

void Report(const char* what, int links, int64_t before, int64_t after) {
  std::printf("%s, %d links: peak %.1f MiB before the job, %.1f MiB after (+%.1f MiB)\n", what,
              links, static_cast<double>(before) / kMiB, static_cast<double>(after) / kMiB,
              static_cast<double>(after - before) / kMiB);
}

// The walk has the page's links in hand and asks for the first of them, which the server never
// answers: what the process holds then is the walk's own memory for that page.
TEST(DeepPageMemoryTest, LinksOfADeepPageCostTheirNamesNotTheirPaths) {
  const int links = LinkCount(DefaultLinks());
  const std::string folder = DeepFolder();
  ASSERT_GT(folder.size(), 3750u);
  ScriptedServer server;
  server.Set(folder + "index.html", R::Ok(DeepPage(links)).LastModified(1600000000));
  server.SetHandler([](const ScriptedRequest&) -> std::optional<ScriptedResponse> {
    return R::Ok("never sent").StallBeforeStatus();
  });
  TempDir save;
  HvrJobInfo job = MakeJob(server.url(folder + "index.html"), save.path(), false);
  const int64_t before = PeakResidentBytes();
  ASSERT_GT(before, 0);

  TestHandle handle;
  int slot = -1;
  ASSERT_EQ(handle.Start(&job, &slot), 0);
  ASSERT_TRUE(server.WaitForStalls(1, std::chrono::minutes(5)));
  const int64_t peak = PeakResidentBytes();
  handle.TimedStop(&job, slot);
  ASSERT_TRUE(handle.WaitIdle());
  EXPECT_EQ(HvrGetDLRestoredNum(handle.get(), slot), 1);
  HvrEnd(handle.get(), &job, slot);

  // The page was saved whole and the walk went on to its first link.
  const std::vector<std::string> targets = server.requestTargets();
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[1], folder + LinkName(0));
  Report("walk holding a deep page's links", links, before, peak);
  ExpectPeakBelow(peak, 256 * kMiB);
}

// The same page whose links each name a folder of their own: the folders share the page's
// folder, so that they too cost their own names only.
TEST(DeepPageMemoryTest, LinksIntoFoldersOfTheirOwnCostTheirNamesNotTheirPaths) {
  const int links = LinkCount(DefaultLinks());
  const std::string folder = DeepFolder();
  ScriptedServer server;
  server.Set(folder + "index.html", R::Ok(DeepPage(links, true)).LastModified(1600000000));
  server.SetHandler([](const ScriptedRequest&) -> std::optional<ScriptedResponse> {
    return R::Ok("never sent").StallBeforeStatus();
  });
  TempDir save;
  HvrJobInfo job = MakeJob(server.url(folder + "index.html"), save.path(), false);
  const int64_t before = PeakResidentBytes();
  ASSERT_GT(before, 0);

  TestHandle handle;
  int slot = -1;
  ASSERT_EQ(handle.Start(&job, &slot), 0);
  ASSERT_TRUE(server.WaitForStalls(1, std::chrono::minutes(5)));
  const int64_t peak = PeakResidentBytes();
  handle.TimedStop(&job, slot);
  ASSERT_TRUE(handle.WaitIdle());
  HvrEnd(handle.get(), &job, slot);

  const std::vector<std::string> targets = server.requestTargets();
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[1], folder + "00000/a.htm");
  Report("walk holding a deep page's links into folders of their own", links, before, peak);
  ExpectPeakBelow(peak, 256 * kMiB);
}

// Every link fails: FailedFiles names each in full (the host's record), and nothing else of the
// library should grow with them. The bound is the record's own size with room for the rest of
// the process. nginx serves the page, so that no record of the requests is kept in this process.
TEST(DeepPageMemoryTest, EveryLinkFailingCostsTheHostsRecordAndLittleMore) {
  if (!NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  const int links = LinkCount(hostile::kSanitized ? 2000 : 20000);
  const std::string folder = DeepFolder();
  TempDir root;
  WriteFileText(root / (folder.substr(1) + "index.html"), DeepPage(links));
  NginxServer server(root.path());
  TempDir save;
  HvrJobInfo job = MakeJob(server.url(folder + "index.html"), save.path(), false);
  const int64_t before = PeakResidentBytes();
  ASSERT_GT(before, 0);

  TestHandle handle;
  int slot = -1;
  ASSERT_EQ(handle.Start(&job, &slot), 0);
  ASSERT_TRUE(handle.WaitIdle(std::chrono::minutes(20)));
  const int64_t peak = PeakResidentBytes();
  ASSERT_EQ(job.FailedFiles.size(), static_cast<size_t>(links));
  EXPECT_EQ(job.FailedFiles.back(), folder.substr(1) + LinkName(links - 1));
  EXPECT_EQ(job.FailedReasons.back(), "HTTP status 404");
  size_t recordBytes = 0;
  for (const std::string& path : job.FailedFiles) recordBytes += path.capacity() + sizeof path;
  recordBytes += job.FailedReasons.size() * sizeof(std::string);
  HvrEnd(handle.get(), &job, slot);

  Report("every link of a deep page failing", links, before, peak);
  std::printf("FailedFiles holds %.1f MiB of it\n", static_cast<double>(recordBytes) / kMiB);
  ExpectPeakBelow(peak - before, static_cast<int64_t>(recordBytes) * 3 / 2 + 64 * kMiB);
}

}  // namespace
