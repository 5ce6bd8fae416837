// Several connections per job: the walk's decisions, the saved tree, the counters and the log's
// lines are those of one connection; files really travel over several connections at once; a
// stop ends them all as promptly as one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "harvo.h"
#include "platform/fs.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using R = ScriptedResponse;
using namespace std::chrono_literals;

constexpr int64_t kOld = 1600000000;
constexpr int64_t kNew = 1700000000;
const std::string kGif = std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 13);

// What one run left behind and what the server saw of it.
struct CopyResult {
  bool finished = false;
  std::map<std::string, std::string> files;  // relative path -> bytes
  std::map<std::string, int64_t> stamps;     // relative path -> modification time
  int restored = 0;
  int failed = 0;
  std::vector<std::string> failedFiles;  // sorted: their order follows the files' completion
  std::vector<std::string> log;          // the log's body as written
  std::multiset<std::string> requests;   // the targets the run asked for
  std::set<int> connections;             // the server's numbers of the connections it used
};

std::vector<std::string> Sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The log lines of pages ("/path.html, length, depth"), in their order.
std::vector<std::string> PageLines(const std::vector<std::string>& log) {
  std::vector<std::string> pages;
  for (const std::string& line : log) {
    const std::string path = line.substr(0, line.find(", "));
    if (line.starts_with("/") && (path.ends_with(".html") || path.ends_with(".htm"))) {
      pages.push_back(line);
    }
  }
  return pages;
}

// A copy of the tree below from at to, with the files' modification times: an earlier copy.
void CopyTree(const std::string& from, const std::string& to) {
  for (const auto& entry : fs::recursive_directory_iterator(from)) {
    if (!entry.is_regular_file()) continue;
    const fs::path target = fs::path(to) / fs::relative(entry.path(), from);
    fs::create_directories(target.parent_path());
    fs::copy_file(entry.path(), target);
    hvfs::FileInfo info;
    ASSERT_TRUE(hvfs::GetFileInfo(entry.path().string(), &info));
    hvfs::SetFileTime(target.string(), info.time);
  }
}

class ConnectionsTest : public ::testing::Test {
 protected:
  // Runs job with the given connections, saving below folder (which may hold an earlier copy).
  CopyResult Run(HvrJobInfo job, int connections, const std::string& folder) {
    job.SaveFolder = folder;
    job.Connections = connections;
    const size_t before = server_.requestCount();
    const std::string logPath = logs_ / ("run" + std::to_string(++runs_) + ".log");
    TestHandle handle;
    TestHandle::Outcome outcome = handle.Run(&job, logPath, &server_);
    CopyResult result;
    result.finished = outcome.finished;
    result.restored = outcome.restored;
    result.failed = outcome.failed;
    result.failedFiles = Sorted(outcome.failedFiles);
    result.log = ReadLogBody(logPath);
    const std::vector<ScriptedRequest> requests = server_.requests();
    for (size_t i = before; i < requests.size(); ++i) {
      result.requests.insert(requests[i].target);
      result.connections.insert(requests[i].connection);
    }
    const std::string site = folder + "/127.0.0.1/";
    for (const auto& entry : fs::recursive_directory_iterator(site)) {
      if (!entry.is_regular_file()) continue;
      const std::string rel = fs::relative(entry.path(), site).generic_string();
      result.files[rel] = ReadFileText(entry.path().string());
      hvfs::FileInfo info;
      if (hvfs::GetFileInfo(entry.path().string(), &info)) result.stamps[rel] = info.time;
    }
    return result;
  }

  // The two runs decided alike: same files requested, saved (bytes and times) and failed, same
  // counters, the same log lines (each file's line once) with the pages in the same order.
  static void ExpectSameCopy(const CopyResult& one, const CopyResult& many) {
    ASSERT_TRUE(one.finished);
    ASSERT_TRUE(many.finished);
    EXPECT_EQ(one.requests, many.requests);
    EXPECT_EQ(one.files, many.files);
    EXPECT_EQ(one.stamps, many.stamps);
    EXPECT_EQ(one.restored, many.restored);
    EXPECT_EQ(one.failed, many.failed);
    EXPECT_EQ(one.failedFiles, many.failedFiles);
    EXPECT_EQ(Sorted(one.log), Sorted(many.log));
    EXPECT_EQ(PageLines(one.log), PageLines(many.log));
  }

  HvrJobInfo Job(int32_t options = 0) {
    HvrJobInfo job = MakeJob(server_.url("/index.html"), "");
    job.Options = options;
    return job;
  }

  ScriptedServer server_;
  TempDir logs_;
  TempDir one_;
  TempDir many_;
  int runs_ = 0;
};

// A site with the cases that a file fetched beside the walk can change: a missing image, a file
// linked again from later pages, a letter-case twin of a file in flight, a folder, a big file.
void ServeMixedSite(ScriptedServer* server) {
  auto page = [&](const std::string& target, const std::string& body) {
    server->Set(target, R::Ok("<html><body>" + body + "</body></html>").LastModified(kOld));
  };
  page("/index.html",
       "<img src=a.gif><img src=missing.gif><img src=c.jpg><a href=sub/>sub</a>"
       "<a href=p2.html>2</a><img src=A.GIF><a href=big.bin>big</a><img src=e.png>");
  page("/p2.html", "<img src=a.gif><img src=missing.gif><img src=d.gif><a href=sub/x.html>x</a>");
  page("/sub/index.html", "<img src=../c.jpg><img src=f.gif><a href=../p2.html>2</a>");
  page("/sub/x.html", "<img src=f.gif><img src=../d.gif><img src=g.gif>");
  for (const char* image : {"/d.gif", "/sub/f.gif", "/sub/g.gif", "/e.png"}) {
    server->Set(image, R::Ok(kGif + image).LastModified(kOld));
  }
  // Slow enough to be still on its way when the walk meets its letter-case twin.
  server->Set("/a.gif", R::Ok(kGif + "/a.gif").LastModified(kOld).Paced(2, 3ms));
  server->Set("/c.jpg", R::Ok("\xFF\xD8\xFF\xE0 jpeg").LastModified(kOld).Paced(4, 2ms));
  server->Set("/big.bin", R::Generated(300000).LastModified(kOld));
}

TEST_F(ConnectionsTest, MixedSite_FourConnectionsDecideAndSaveAsOne) {
  ServeMixedSite(&server_);
  const CopyResult one = Run(Job(), 1, one_.path());
  const CopyResult many = Run(Job(), 4, many_.path());
  ExpectSameCopy(one, many);
  // The case is a real one: the missing image failed once, the twin was not fetched.
  EXPECT_EQ(one.failedFiles, std::vector<std::string>{"missing.gif"});
  EXPECT_EQ(one.requests.count("/A.GIF"), 0u);
  EXPECT_EQ(one.requests.count("/a.gif"), 1u);
  EXPECT_EQ(one.files.count("big.bin"), 1u);
  // Four were used. (One connection may also use a second one: a page's folder links are
  // looked up while its body is still being read.)
  EXPECT_GT(many.connections.size(), 1u);
}

TEST_F(ConnectionsTest, MixedSite_WithTheCommandsLinkOptionsDecidesAsOne) {
  ServeMixedSite(&server_);
  const int32_t options = HVR_OPT_ROOT_LINKS | HVR_OPT_MORE_LINKS | HVR_OPT_QUERY_PAGES |
                          HVR_OPT_REMOTE_LINKS | HVR_OPT_INDEX_ONCE;
  ExpectSameCopy(Run(Job(options), 1, one_.path()), Run(Job(options), 4, many_.path()));
}

// A page saved while a file it links to is still on its way over another connection: with
// remote links, the page must learn that the file failed, as it would after fetching it first.
TEST_F(ConnectionsTest, RemoteLinks_ALaterPageSeesThatAFileInFlightFailed) {
  server_.Set("/index.html", R::Ok("<img src=bad.gif><a href=p2.html>2</a>").LastModified(kOld));
  server_.Set("/p2.html", R::Ok("<img src=bad.gif> <img src=good.gif>").LastModified(kOld));
  server_.Set("/good.gif", R::Ok(kGif).LastModified(kOld));
  // The body breaks off after a while: the file fails only once the page is long saved.
  server_.Set("/bad.gif",
              R::Generated(1 << 20).LastModified(kOld).Paced(1024, 5ms).ResetAfter(40 * 1024));
  const CopyResult one = Run(Job(HVR_OPT_REMOTE_LINKS), 1, one_.path());
  const CopyResult many = Run(Job(HVR_OPT_REMOTE_LINKS), 4, many_.path());
  ExpectSameCopy(one, many);
  EXPECT_EQ(one.failedFiles, std::vector<std::string>{"bad.gif"});
  EXPECT_NE(many.files.at("p2.html").find(server_.url("/bad.gif")), std::string::npos)
      << many.files.at("p2.html");
  EXPECT_NE(many.files.at("p2.html").find("src=good.gif>"), std::string::npos)
      << many.files.at("p2.html");
}

TEST_F(ConnectionsTest, UpdateRun_ComparesEveryFileAsOneConnectionDoes) {
  ServeMixedSite(&server_);
  // The earlier copy: made once, then the server changes two files and drops one.
  TempDir earlier;
  ASSERT_TRUE(Run(Job(), 1, earlier.path()).finished);
  server_.Set("/a.gif", R::Ok(kGif + "new").LastModified(kNew));
  server_.Set("/sub/g.gif", R::Ok(kGif + "/sub/g.gif").LastModified(kNew));
  server_.Set("/e.png", R::Status(404));
  CopyTree(earlier.path(), one_.path());
  CopyTree(earlier.path(), many_.path());
  for (int32_t mode : {HVR_OPT_UPDATE_ONLY | HVR_OPT_WALK_UNCHANGED, HVR_OPT_UPDATE_NONHTML}) {
    SCOPED_TRACE(mode);
    const CopyResult one = Run(Job(mode), 1, one_.path());
    const CopyResult many = Run(Job(mode), 4, many_.path());
    ExpectSameCopy(one, many);
    EXPECT_EQ(many.files.at("a.gif"), kGif + "new");
    EXPECT_TRUE(std::binary_search(one.failedFiles.begin(), one.failedFiles.end(), "e.png"));
    // Unchanged images were compared, not received again.
    EXPECT_EQ(std::count_if(many.log.begin(), many.log.end(),
                            [](const std::string& line) { return line.starts_with("/d.gif, "); }),
              0);
  }
}

TEST_F(ConnectionsTest, Limits_KeepTheJobToOneConnection) {
  ServeMixedSite(&server_);
  HvrJobInfo job = Job();
  job.MaxFiles = 4;
  const CopyResult one = Run(job, 1, one_.path());
  const CopyResult many = Run(job, 4, many_.path());
  ExpectSameCopy(one, many);
  EXPECT_EQ(many.restored, 4);
}

TEST_F(ConnectionsTest, OutOfRangeCounts_DecideAsOne) {
  ServeMixedSite(&server_);
  ExpectSameCopy(Run(Job(), 0, one_.path()), Run(Job(), 1000, many_.path()));
}

// Every image stalls before its answer: they can only all be waiting at once when each has a
// connection of its own. The stop then ends every one of them within the bound of one.
TEST_F(ConnectionsTest, StopWithEveryConnectionStalled_IsAsPromptAsWithOne) {
  server_.Set("/index.html", R::Ok("<img src=s1.gif><img src=s2.gif><img src=s3.gif>"));
  for (const char* image : {"/s1.gif", "/s2.gif", "/s3.gif"}) {
    server_.Set(image, R::Ok().StallBeforeStatus());
  }
  for (int connections : {1, 4}) {
    SCOPED_TRACE(connections);
    const int stallsBefore = server_.stallCount();
    HvrJobInfo job = Job();
    job.SaveFolder = connections == 1 ? one_.path() : many_.path();
    job.Connections = connections;
    TestHandle handle;
    int index = -1;
    ASSERT_EQ(handle.Start(&job, &index), 0);
    const int stalled = connections == 1 ? 1 : 3;
    ASSERT_TRUE(server_.WaitForStalls(stallsBefore + stalled))
        << ::testing::PrintToString(server_.requestTargets());
    if (connections > 1) {
      // The walk waits for the files in flight and shows one of them.
      ASSERT_TRUE(WaitFor([&] {
        char name[1024] = {};
        return HvrGetDLFileName(handle.get(), index, name) == 0 &&
               std::string(name).starts_with("s");
      }));
    }
    EXPECT_LT(handle.TimedStop(&job, index), 2s);
    EXPECT_TRUE(handle.WaitIdle(5s));
    HvrEnd(handle.get(), &job, index);
  }
}

// The walk waits to hand over its next file while the only other connection stalls: after a
// stop, no file is asked for that one connection would not have asked for.
TEST_F(ConnectionsTest, StopWhileTheWalkWaitsForAConnection_StartsNoFurtherFile) {
  server_.Set("/index.html", R::Ok("<img src=s1.gif><img src=s2.gif><img src=s3.gif>"));
  for (const char* image : {"/s1.gif", "/s2.gif", "/s3.gif"}) {
    server_.Set(image, R::Ok().StallBeforeStatus());
  }
  HvrJobInfo job = Job();
  job.SaveFolder = many_.path();
  job.Connections = 2;
  TestHandle handle;
  int index = -1;
  ASSERT_EQ(handle.Start(&job, &index), 0);
  ASSERT_TRUE(server_.WaitForStalls(1));
  EXPECT_LT(handle.TimedStop(&job, index), 2s);
  ASSERT_TRUE(handle.WaitIdle(5s));
  HvrEnd(handle.get(), &job, index);
  EXPECT_EQ(server_.requestTargets(), (std::vector<std::string>{"/index.html", "/s1.gif"}));
}

}  // namespace
