// Jobs against the scripted server: requests, index names, status codes, saving and stamps.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "harvo.h"
#include "platform/fs.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;
using Targets = std::vector<std::string>;

constexpr int64_t kModified = 1700000000;  // 2023-11-14

class CrawlTest : public ::testing::Test {
 protected:
  std::string SiteFolder() const { return dir_ / ("127.0.0.1/"); }
  HvrJobInfo Job(const std::string& path, bool allTypes = true) {
    return MakeJob(server_.url(path), dir_.path(), allTypes);
  }
  std::string Saved(const std::string& relative) const {
    return ReadFileText(SiteFolder() + relative);
  }
  // Under exactly this spelling: a system whose names ignore case finds the others too.
  bool Exists(const std::string& relative) const {
    namespace fs = std::filesystem;
    fs::path at(SiteFolder());
    for (const fs::path& part : fs::path(relative)) {
      if (part.empty()) continue;
      std::error_code ec;
      bool found = false;
      for (fs::directory_iterator it(at, ec); !ec && it != fs::directory_iterator();
           it.increment(ec)) {
        if (it->path().filename().string() == part.string()) found = true;
      }
      if (!found) return false;
      at /= part;
    }
    return true;
  }
  int64_t Stamp(const std::string& relative) const {
    hvfs::FileInfo info;
    return hvfs::GetFileInfo(SiteFolder() + relative, &info) ? info.time : -1;
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(CrawlTest, StartPage_IsSavedUnderTheServerFolderWithTheServersTime) {
  server_.Set("/dir/page.html", R::Ok("<p>hello</p>").LastModified(kModified));
  HvrJobInfo job = Job("/dir/page.html");
  auto outcome = handle_.Run(&job);
  EXPECT_EQ(outcome.start, 0);
  EXPECT_TRUE(outcome.finished);
  EXPECT_EQ(Saved("dir/page.html"), "<p>hello</p>");
  EXPECT_EQ(Stamp("dir/page.html"), kModified);
  EXPECT_EQ(outcome.restored, 1);
  EXPECT_EQ(job.Error, 0);
  EXPECT_EQ(job.LastModified, kModified);
  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].version, "HTTP/1.0");
  EXPECT_EQ(requests[0].Header("Accept"), "*/*,text/*");
  EXPECT_EQ(requests[0].Header("User-Agent"), "harvo-test");
}

TEST_F(CrawlTest, IndexName_HtaccessNamesTheIndexWithoutProbes) {
  server_.Set("/dir/.htaccess", R::Ok("Options None\nDirectoryIndex start.html\n"));
  server_.Set("/dir/start.html", R::Ok("start"));
  HvrJobInfo job = Job("/dir/");
  handle_.Run(&job);
  EXPECT_EQ(server_.requestTargets(), (Targets{"/dir/.htaccess", "/dir/start.html"}));
  EXPECT_EQ(Saved("dir/start.html"), "start");
}

TEST_F(CrawlTest, IndexName_ProbesIndexHtmlThenIndexHtm) {
  server_.Set("/dir/.htaccess", R::Status(403));
  server_.Set("/dir/index.html", R::Status(404));
  server_.Set("/dir/index.htm", R::Ok("htm"));
  HvrJobInfo job = Job("/dir/");
  handle_.Run(&job);
  EXPECT_EQ(server_.requestTargets(),
            (Targets{"/dir/.htaccess", "/dir/index.html", "/dir/index.htm", "/dir/index.htm"}));
  EXPECT_EQ(Saved("dir/index.htm"), "htm");
}

TEST_F(CrawlTest, IndexName_TheRootAsksForSlashAndTheIndexName) {
  server_.Set("/index.html", R::Ok("root"));
  HvrJobInfo job = Job("/");
  handle_.Run(&job);
  EXPECT_EQ(server_.requestTargets(), (Targets{"/.htaccess", "/index.html", "/index.html"}));
  EXPECT_EQ(Saved("index.html"), "root");
}

TEST_F(CrawlTest, RootFolderLink_DoesNotReceiveTheRootIndexTwice) {
  server_.Set("/.htaccess", R::Ok("DirectoryIndex start.html\n"));
  server_.Set("/start.html", R::Ok("<a href=\"./\">home</a><a href=\"/\">top</a>"));
  HvrJobInfo job = Job("/");
  auto outcome = handle_.Run(&job);
  // The folder link is requested (the walk requests before it knows the file), but the file
  // it names was saved already and is not received again.
  EXPECT_EQ(server_.requestCount("/start.html"), 2u);
  EXPECT_EQ(outcome.restored, 1);
  EXPECT_EQ(Saved("start.html"), "<a href=\"./start.html\">home</a><a href=\"/\">top</a>");
}

TEST_F(CrawlTest, CaseTwins_AreCopiedOnceAndTheSkippedSpellingIsLogged) {
  server_.Set("/index.html",
              R::Ok("<a href=Page.html>1</a><a href=page.html>2</a><a href=PAGE.HTML>3</a>"
                    "<a href=Dir/>4</a><a href=dir/>5</a><a href=gone.gif>6</a>"
                    "<a href=GONE.gif>7</a>")
                  .LastModified(kModified));
  server_.Set("/Page.html", R::Ok("upper").LastModified(kModified));
  server_.Set("/page.html", R::Ok("lower").LastModified(kModified));
  server_.Set("/Dir/index.html", R::Ok("upper folder").LastModified(kModified));
  server_.Set("/dir/index.html", R::Ok("lower folder").LastModified(kModified));
  HvrJobInfo job = Job("/index.html");
  const std::string log = dir_ / "job.log";
  auto outcome = handle_.Run(&job, log, &server_);
  // The first spelling is copied; the others are taken for the same file and not asked for.
  EXPECT_EQ(outcome.restored, 3);
  EXPECT_EQ(Saved("Page.html"), "upper");
  EXPECT_EQ(Saved("Dir/index.html"), "upper folder");
  EXPECT_EQ(server_.requestCount("/page.html") + server_.requestCount("/PAGE.HTML"), 0u);
  // A folder is asked for before its index file is known; that file is then not received.
  EXPECT_FALSE(Exists("dir/index.html"));
  EXPECT_FALSE(Exists("page.html"));
  // Each skipped spelling has its own line, naming the copied one; a failed one too.
  auto lines = ReadLogBody(log);
  for (const char* line :
       {"\tSameAs(page.html):Page.html", "\tSameAs(PAGE.HTML):Page.html",
        "\tSameAs(dir/index.html):Dir/index.html", "\tSameAs(GONE.gif):gone.gif"}) {
    EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
  }
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.starts_with("\tSameAs("); }),
            4);
}

// The href values of a saved page, in page order.
Targets Hrefs(const std::string& page) {
  static const std::regex href("href=\"([^\"]*)\"");
  Targets values;
  for (std::sregex_iterator it(page.begin(), page.end(), href), end; it != end; ++it) {
    values.push_back((*it)[1]);
  }
  return values;
}

class AbsoluteLinkTest : public CrawlTest {
 protected:
  // Every href of the saved page that is not absolute must name a saved file when it is read
  // from the page's folder, as a browser of the copy reads it. Returns those values.
  Targets ExpectLocalLinksLeadToSavedFiles(const std::string& page) {
    namespace fs = std::filesystem;
    Targets local;
    for (const std::string& value : Hrefs(Saved(page))) {
      if (value.starts_with("http://")) continue;
      local.push_back(value);
      fs::path target = (fs::path(SiteFolder() + page).parent_path() / value).lexically_normal();
      EXPECT_TRUE(fs::is_regular_file(target)) << page << ": " << value << " -> " << target;
      EXPECT_TRUE(target.string().starts_with(SiteFolder())) << page << ": " << value;
    }
    return local;
  }
};

TEST_F(AbsoluteLinkTest, StartFile_LinksBelowItsFolderAreCopiedAndLeadToTheSavedFiles) {
  const std::string abs = server_.url("");
  server_.Set("/site/index.html", R::Ok("<a href=\"" + abs +
                                        "/site/abs.html\">a</a>"
                                        "<a href=\"" +
                                        abs +
                                        "/site/\">home</a>"
                                        "<a href=\"sub/page.html\">s</a>"
                                        "<a href=\"" +
                                        abs + "/other.html\">outside</a>"));
  server_.Set("/site/abs.html", R::Ok("abs"));
  server_.Set("/site/sub/page.html", R::Ok("<a href=\"" + abs +
                                           "/site/abs2.html\">b</a>"
                                           "<a href=\"../../root.html\">up</a>"));
  server_.Set("/site/abs2.html", R::Ok("abs2"));
  // A page outside the start folder, reached through a relative link.
  server_.Set("/root.html", R::Ok("<a href=\"" + abs + "/site/abs3.html\">c</a>"));
  server_.Set("/site/abs3.html", R::Ok("abs3"));
  server_.Set("/other.html", R::Ok("other"));
  HvrJobInfo job = Job("/site/index.html");
  auto outcome = handle_.Run(&job);
  EXPECT_EQ(outcome.failed, 0);
  for (const char* file : {"site/abs.html", "site/abs2.html", "site/abs3.html", "root.html"}) {
    EXPECT_TRUE(Exists(file)) << file;
  }
  EXPECT_EQ(server_.requestCount("/other.html"), 0u);
  EXPECT_EQ(ExpectLocalLinksLeadToSavedFiles("site/index.html"),
            (Targets{"abs.html", "./index.html", "sub/page.html"}));
  EXPECT_EQ(ExpectLocalLinksLeadToSavedFiles("site/sub/page.html"),
            (Targets{"../abs2.html", "../../root.html"}));
  EXPECT_EQ(ExpectLocalLinksLeadToSavedFiles("root.html"), Targets{"site/abs3.html"});
}

TEST_F(AbsoluteLinkTest, BareServerLink_LeadsToTheSavedRootIndex) {
  // "http://127.0.0.1:PORT" without a path, from a page at the root and one in a folder.
  const std::string bare = server_.url("");
  server_.Set("/index.html", R::Ok("<a href=\"" + bare + "\">home</a><a href=dir/p.html>"));
  server_.Set("/dir/p.html", R::Ok("<a href=\"" + bare + "\">home</a>"));
  HvrJobInfo job = Job("/");
  auto outcome = handle_.Run(&job);
  EXPECT_EQ(outcome.failed, 0);
  EXPECT_EQ(ExpectLocalLinksLeadToSavedFiles("index.html"), (Targets{"index.html"}));
  EXPECT_EQ(ExpectLocalLinksLeadToSavedFiles("dir/p.html"), Targets{"../index.html"});
}

TEST_F(CrawlTest, StatusCodes_AreReportedAndTheCrawlGoesOn) {
  const std::string page =
      "<a href=s400.html><a href=s404.html><a href=s405.html><a href=s500.html>"
      "<a href=s503.html><a href=s410.html><a href=moved.html><a href=gone.html>"
      "<a href=reset.html><a href=ok.html>";
  server_.Set("/index.html", R::Ok(page).LastModified(kModified));
  server_.Set("/s400.html", R::Status(400));
  server_.Set("/s405.html", R::Status(405));
  server_.Set("/s500.html", R::Status(500));
  server_.Set("/s503.html", R::Status(503));
  server_.Set("/s410.html", R::Status(410));
  server_.Set("/moved.html", R::Status(301));  // no Location: not followed
  server_.Redirect("/gone.html", "/ok2.html");
  server_.Set("/ok2.html", R::Ok("two").LastModified(kModified));
  server_.Set("/reset.html", R::Ok("x").ResetInHeaders());
  server_.Set("/ok.html", R::Ok("ok").LastModified(kModified));
  HvrJobInfo job = Job("/index.html");
  std::string log = dir_ / "logs/job.log";
  auto outcome = handle_.Run(&job, log, &server_);
  EXPECT_EQ(Saved("ok.html"), "ok");
  EXPECT_EQ(Saved("gone.html"), "two");  // a followed redirect is saved under the link's path
  EXPECT_EQ(outcome.failedFiles, (Targets{"s400.html", "s404.html", "s405.html", "s500.html",
                                          "s503.html", "s410.html", "moved.html", "reset.html"}));
  EXPECT_EQ(outcome.failed, 8);
  EXPECT_EQ(job.Error, HVR_ERR_FILE);
  // Each failed file keeps the reason of its own failure, in words.
  ASSERT_EQ(outcome.failedReasons.size(), outcome.failedFiles.size());
  EXPECT_EQ(outcome.failedReasons[0], "HTTP status 400");
  EXPECT_EQ(outcome.failedReasons[1], "HTTP status 404");
  EXPECT_EQ(outcome.failedReasons[5], "HTTP status 410");
  EXPECT_NE(outcome.failedReasons[7].find("reset.html"), std::string::npos);
  EXPECT_GT(outcome.failedReasons[7].size(), std::string("reset.html").size() + 2);
  EXPECT_EQ(job.ErrorText, outcome.failedReasons[7]);
  auto lines = ReadLogBody(log);
  auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("Error(80050000):s400.html"));
  EXPECT_TRUE(has("Error(80060000):s404.html"));
  EXPECT_TRUE(has("Error(80070000):s405.html"));
  EXPECT_TRUE(has("Error(80080000):s500.html"));
  EXPECT_TRUE(has("Error(80090000):s503.html"));
  EXPECT_TRUE(has("Error(800a0000):s410.html"));
  EXPECT_TRUE(has("Error(800a0000):moved.html"));
  EXPECT_TRUE(has("Error(800a0000):reset.html"));
  EXPECT_TRUE(has("Error(80010000):reset.html"));
  EXPECT_TRUE(has("/index.html, " + std::to_string(page.size()) + ", 0"));
  EXPECT_TRUE(has("/ok.html, 2, 1"));
  EXPECT_TRUE(has("\tok.html"));
}

TEST_F(CrawlTest, MissingHeaders_AreReportedAndTheFileIsStillSaved) {
  server_.Set("/a.html", R::Ok("body").NoContentLength().Close());
  HvrJobInfo job = Job("/a.html");
  std::string log = dir_ / "job.log";
  int64_t before = time(nullptr);
  handle_.Run(&job, log, &server_);
  EXPECT_EQ(Saved("a.html"), "body");
  EXPECT_GE(Stamp("a.html"), before);  // no Last-Modified: the current time
  auto lines = ReadLogBody(log);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Error(80030000):a.html"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Error(80040000):a.html"), lines.end());
  EXPECT_EQ(job.Error, HVR_ERR_NO_MODIFIED);
}

TEST_F(CrawlTest, FailureReasons_NameWhatTheSystemAndTheServerSaid) {
  // A start page on a port where nothing listens: the transport's words reach the record.
  {
    ClosedPort closed;
    HvrJobInfo job =
        MakeJob("http://127.0.0.1:" + std::to_string(closed.port()) + "/a.html", dir_.path());
    handle_.Run(&job);
    EXPECT_EQ(job.Error, HVR_ERR_FILE);
    EXPECT_NE(job.ErrorText.find("refused"), std::string::npos) << job.ErrorText;
  }
  // A linked file whose folder cannot be made (a file stands in its place): the system's words.
  server_.Set("/index.html", R::Ok("<a href=sub/b.html>").LastModified(kModified));
  server_.Set("/sub/b.html", R::Ok("b").LastModified(kModified));
  ASSERT_TRUE(hvfs::CreateDirectory(dir_ / "127.0.0.1"));
  {
    hvfs::OutputFile blocker;
    ASSERT_TRUE(blocker.Open(dir_ / "127.0.0.1/sub"));
    ASSERT_TRUE(blocker.Commit(false, 0));
  }
  HvrJobInfo job = Job("/index.html");
  auto outcome = handle_.Run(&job);
  ASSERT_EQ(outcome.failedFiles, (Targets{"sub/b.html"}));
  EXPECT_EQ(outcome.failedReasons, (Targets{"Not a directory"}));
  EXPECT_EQ(job.ErrorText, "Not a directory");
}

}  // namespace

TEST_F(CrawlTest, AFolderRemovedDuringTheWalk_IsMadeAgainForItsNextFile) {
  // The save folder is made once for the files that follow one another in it; when something
  // removes it meanwhile, the next file makes it again instead of failing.
  server_.Set("/index.html", R::Ok("<img src=\"sub/a.gif\"><img src=\"sub/b.gif\">"));
  server_.Set("/sub/a.gif", R::Ok("a"));
  const std::string sub = SiteFolder() + "sub";
  server_.SetHandler([sub](const ScriptedRequest& r) -> std::optional<R> {
    if (r.target != "/sub/b.gif") return std::nullopt;
    std::error_code error;
    std::filesystem::remove_all(sub, error);
    return R::Ok("b");
  });
  HvrJobInfo job = Job("/index.html");
  auto outcome = handle_.Run(&job);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.failed, 0);
  EXPECT_EQ(ReadFileText(SiteFolder() + "sub/b.gif"), "b");
}
