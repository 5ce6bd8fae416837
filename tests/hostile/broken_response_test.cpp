// Responses that lie or break, redirects that lead away, and servers that stall or never stop
// sending: each failure is recorded with its code, an earlier copy is never replaced by a
// broken body, the walk goes on with the next file, and a stop ends the job within 2 s.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "harvo.h"
#include "hostile_support.h"
#include "platform/fs.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;
using namespace std::chrono_literals;

constexpr int64_t kOld = 1500000000;
constexpr int64_t kNew = 1700000000;

class BrokenResponseTest : public ::testing::Test {
 protected:
  std::string Site() const { return dir_ / "save/127.0.0.1/"; }
  HvrJobInfo Job(const std::string& path) { return MakeJob(server_.url(path), dir_ / "save/"); }
  // Links to every target, in order, from the start page.
  void StartPage(const std::vector<std::string>& targets) {
    std::string page;
    for (const std::string& target : targets) page += "<a href=\"" + target + "\">x</a>\n";
    server_.Set("/index.html", R::Ok(page).LastModified(kNew));
  }
  // An earlier copy that a broken response must leave as it is.
  void Earlier(const std::string& relative) {
    WriteFileText(Site() + relative, "earlier copy of " + relative);
    hvfs::SetFileTime(Site() + relative, kOld);
  }
  void ExpectEarlierKept(const std::string& relative) {
    EXPECT_EQ(ReadFileText(Site() + relative), "earlier copy of " + relative) << relative;
    hvfs::FileInfo info;
    EXPECT_TRUE(hvfs::GetFileInfo(Site() + relative, &info));
    EXPECT_EQ(info.time, kOld) << relative;
  }
  // No temporary file of an abandoned download is left behind.
  void ExpectNoTemporaries() {
    for (const auto& [rel, size] : hostile::FilesBelow(dir_.path())) {
      EXPECT_EQ(rel.find(".hvtmp-"), std::string::npos) << rel;
    }
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(BrokenResponseTest, BrokenResponsesFailWithACodeKeepEarlierCopiesAndTheWalkGoesOn) {
  using namespace std::string_literals;
  const std::string big(1 << 20, 'h');
  std::string manyHeaders;
  for (int i = 0; i < 20000; ++i)
    manyHeaders += "X-Filler-" + std::to_string(i) + ": " + std::string(40, 'f') + "\r\n";
  const std::vector<std::pair<std::string, R>> broken = {
      {"garbage.html", R::Raw("GARBAGE GARBAGE\r\n\r\n<a href=never.html>")},
      {"binary.gif", R::Raw("\x00\x01\x02\xff\xfe binary\r\n\r\n"s)},
      {"nocode.html", R::Raw("HTTP/1.1\r\nContent-Length: 2\r\n\r\nok")},
      {"headline.html", R::Ok("x").Header("X-Big", big)},
      {"headers.html", R::Raw("HTTP/1.1 200 OK\r\n" + manyHeaders + "Content-Length: 2\r\n\r\nok")},
      {"longer.gif", R::Ok(std::string(50000, 'l')).AnnounceLength(100000).LastModified(kNew)},
      {"longer.html", R::Ok(std::string(50000, 'l')).AnnounceLength(100000).LastModified(kNew)},
      {"resethead.html", R::Ok("never seen").ResetInHeaders()},
      {"resetbody.gif", R::Ok(std::string(100000, 'r')).ResetAfter(30000).LastModified(kNew)},
      {"resetbody.html", R::Ok(std::string(100000, 'r')).ResetAfter(30000).LastModified(kNew)},
      {"badlength.html", R::Ok("abc").Header("Content-Length", "-5")},
  };
  std::vector<std::string> targets;
  for (const auto& [name, response] : broken) {
    server_.Set("/" + name, response);
    Earlier(name);
    targets.push_back(name);
  }
  // Lies that still give a usable body: a shorter length cuts the body there.
  server_.Set("/shorter.gif", R::Ok("0123456789abcdef").AnnounceLength(10).LastModified(kNew));
  // A length no number can hold is no length: the body ends with the connection.
  server_.Set("/hugelength.gif",
              R::Ok("abc").Header("Content-Length", "99999999999999999999999").LastModified(kNew));
  targets.push_back("hugelength.gif");
  server_.Set("/after.html", R::Ok("still here").LastModified(kNew));
  targets.push_back("shorter.gif");
  targets.push_back("after.html");
  StartPage(targets);

  HvrJobInfo job = Job("/index.html");
  TestHandle::Outcome outcome = handle_.Run(&job, dir_ / "job.log", &server_);
  ASSERT_TRUE(outcome.finished);

  std::set<std::string> failed(outcome.failedFiles.begin(), outcome.failedFiles.end());
  for (const auto& [name, response] : broken) {
    EXPECT_EQ(failed.count(name), 1u) << name << " was not recorded as failed";
    ExpectEarlierKept(name);
  }
  EXPECT_EQ(server_.requestCount("/never.html"), 0u);
  EXPECT_EQ(ReadFileText(Site() + "shorter.gif"), "0123456789");
  EXPECT_EQ(ReadFileText(Site() + "hugelength.gif"), "abc");
  EXPECT_EQ(ReadFileText(Site() + "after.html"), "still here");
  EXPECT_EQ(outcome.failed, static_cast<int>(broken.size()));
  EXPECT_EQ(outcome.restored, 4);  // index.html, shorter.gif, hugelength.gif, after.html
  ExpectNoTemporaries();
  // Each failure is in the log with the code of the file, and with the transport code where a
  // body broke (named by its object name).
  std::vector<std::string> log = ReadLogBody(dir_ / "job.log");
  std::set<std::string> lines(log.begin(), log.end());
  for (const auto& [name, response] : broken) {
    EXPECT_EQ(lines.count("Error(80010000):" + name), 1u) << name;
  }
  EXPECT_EQ(lines.count("Error(800a0000):/resetbody.gif"), 1u);
  EXPECT_EQ(lines.count("Error(800a0000):/longer.html"), 1u);
  EXPECT_EQ(lines.count("Error(80030000):hugelength.gif"), 1u);
}

TEST_F(BrokenResponseTest, RedirectsAwayArePinnedToTheSiteFolderOrRefused) {
  ScriptedServer other;
  other.Set("/there.html", R::Ok("from the other host <a href=\"b-link.html\">b</a>"));
  other.Set("/img.gif", R::Ok("GIF from the other host"));
  server_.Redirect("/moved.html", other.url("/there.html"));
  server_.Redirect("/gone.gif", other.url("/img.gif"), 301);
  server_.Set("/b-link.html", R::Ok("b on the first host"));
  server_.Redirect("/secret.html", "file:///etc/passwd");
  server_.Redirect("/secret2.gif", "file:///etc/passwd", 301);
  server_.Redirect("/ftp.gif", "ftp://127.0.0.1:1/x.gif");
  server_.Redirect("/loop1.html", "/loop2.html");
  server_.Redirect("/loop2.html", "/loop1.html");
  server_.Set("/nolocation.html", R::Status(302, "no location"));
  server_.Redirect("/climb.html", "../../../../hvx-climb-target.html");
  server_.Set("/hvx-climb-target.html", R::Ok("climbed"));
  server_.Set("/after.html", R::Ok("still here"));
  for (const char* name : {"secret.html", "secret2.gif", "loop1.html"}) Earlier(name);
  StartPage({"moved.html", "gone.gif", "secret.html", "secret2.gif", "ftp.gif", "loop1.html",
             "nolocation.html", "climb.html", "after.html"});
  const hostile::Snapshot before = hostile::Snap(dir_.path(), "save/127.0.0.1/");

  HvrJobInfo job = Job("/index.html");
  TestHandle::Outcome outcome = handle_.Run(&job);
  ASSERT_TRUE(outcome.finished);

  // Another host's answer is saved under the name that was asked for, and its links are taken
  // as links of this site.
  EXPECT_EQ(ReadFileText(Site() + "moved.html"),
            "from the other host <a href=\"b-link.html\">b</a>");
  EXPECT_EQ(ReadFileText(Site() + "gone.gif"), "GIF from the other host");
  EXPECT_EQ(ReadFileText(Site() + "b-link.html"), "b on the first host");
  EXPECT_EQ(other.requestTargets(), (std::vector<std::string>{"/there.html", "/img.gif"}));
  EXPECT_EQ(ReadFileText(Site() + "climb.html"), "climbed");
  // Other schemes and loops are refused; what was there stays.
  std::set<std::string> failed(outcome.failedFiles.begin(), outcome.failedFiles.end());
  EXPECT_EQ(failed, (std::set<std::string>{"secret.html", "secret2.gif", "ftp.gif", "loop1.html",
                                           "nolocation.html"}));
  for (const char* name : {"secret.html", "secret2.gif", "loop1.html"}) ExpectEarlierKept(name);
  EXPECT_FALSE(hostile::FilesBelow(Site()).count("ftp.gif"));
  EXPECT_LE(server_.requestCount("/loop1.html") + server_.requestCount("/loop2.html"), 12u);
  EXPECT_EQ(ReadFileText(Site() + "after.html"), "still here");
  EXPECT_EQ(hostile::Snap(dir_.path(), "save/127.0.0.1/"), before);
}

TEST_F(BrokenResponseTest, IndexProbesNeverFollowARedirectToAnotherServer) {
  // A page's folder links each cost index probes on a path the page chose; the server sends
  // every probe on to another server (another port stands for another host).
  ScriptedServer other;
  other.SetHandler([](const ScriptedRequest&) { return std::optional<R>(R::Ok("elsewhere")); });
  const std::string otherRoot = other.url("");
  server_.SetHandler([&](const ScriptedRequest& r) -> std::optional<ScriptedResponse> {
    if (r.target.starts_with("/dir/")) return R::Redirect(otherRoot + r.target);
    if (r.target == "/same/.htaccess") return R::Redirect("/moved/.htaccess");
    return std::nullopt;
  });
  server_.Set("/moved/.htaccess", R::Ok("DirectoryIndex start.html\n"));
  server_.Set("/same/start.html", R::Ok("start").LastModified(kNew));
  constexpr int kLinks = 200;
  std::string page;
  for (int i = 0; i < kLinks; ++i) page += "<a href=\"dir/\">" + std::to_string(i) + "</a>\n";
  server_.Set("/index.html", R::Ok(page + "<a href=\"same/\">s</a>").LastModified(kNew));

  HvrJobInfo job = Job("/index.html");
  TestHandle::Outcome outcome = handle_.Run(&job);
  ASSERT_TRUE(outcome.finished);
  // Only the folder's file itself, a request the walk makes, follows the redirect.
  EXPECT_EQ(other.requestTargets(), std::vector<std::string>{"/dir/index.html"});
  EXPECT_EQ(server_.requestCount("/dir/.htaccess"), kLinks + 1u);
  // Probes that find no index leave the default name; a redirect on the server is followed.
  const std::string saved = ReadFileText(Site() + "index.html");
  EXPECT_NE(saved.find("\"dir/index.html\""), std::string::npos);
  EXPECT_NE(saved.find("\"same/start.html\""), std::string::npos);
  EXPECT_EQ(ReadFileText(Site() + "same/start.html"), "start");
}

TEST_F(BrokenResponseTest, AServerThatNeverAnswersIsLeftByAStopWithin2Seconds) {
  // The session's own stall time-out is a minute; only the stop can end this job quickly.
  server_.Set("/silent.html", R::Ok("never").StallBeforeStatus());
  server_.Set("/later.html", R::Ok("later"));
  StartPage({"silent.html", "later.html"});
  HvrJobInfo job = Job("/index.html");
  int index = -1;
  ASSERT_EQ(handle_.Start(&job, &index), 0);
  ASSERT_TRUE(server_.WaitForStalls(1));
  EXPECT_LT(handle_.TimedStop(&job, index), 2s);
  EXPECT_EQ(HvrIsDL(handle_.get(), index), 0);
  EXPECT_EQ(server_.requestCount("/later.html"), 0u);
  EXPECT_FALSE(ReadFileText(Site() + "index.html").empty());
  EXPECT_EQ(HvrEnd(handle_.get(), &job, index), 0);
  EXPECT_TRUE(server_.WaitForOpenConnections(0));
}

TEST_F(BrokenResponseTest, BodiesThatNeverEndAreLeftByAStopWithin2Seconds) {
  for (const char* target : {"/endless.html", "/endless.gif"}) {
    server_.Set(target, R::Endless().LastModified(kNew));
    // The stop request of a handle is never withdrawn: each job gets a handle of its own.
    TestHandle handle;
    HvrJobInfo job = Job(target);
    int index = -1;
    ASSERT_EQ(handle.Start(&job, &index), 0);
    ASSERT_TRUE(WaitFor([&] { return HvrGetDLRestoredSize(handle.get(), index) > (1 << 20); }))
        << target;
    EXPECT_LT(handle.TimedStop(&job, index), 2s) << target;
    EXPECT_EQ(HvrIsDL(handle.get(), index), 0);
    // What arrived before the stop is kept, exactly as sent.
    std::string data = ReadFileText(Site() + (target + 1));
    EXPECT_GT(data.size(), 1u << 20) << target;
    if (std::string(target).ends_with(".gif")) {
      EXPECT_TRUE(GeneratedBody::Matches(0, data.data(), data.size()));
    }
    EXPECT_EQ(HvrEnd(handle.get(), &job, index), 0);
  }
  ExpectNoTemporaries();
}

}  // namespace
