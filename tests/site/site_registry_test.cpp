// The crawl state's filters and URL registry.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "harvo.h"
#include "site/site.h"
#include "support/temp_dir.h"
#include "util/log.h"

namespace {

class SiteRegistryTest : public ::testing::Test {
 protected:
  // A site without a session: settings, filters and the registry work; no connection.
  KtWdlSite& MakeSite(int maxLinkDepth = -1) {
    job_.Url = "http://host/";
    job_.SaveFolder = "save";
    job_.MaxLinkDepth = maxLinkDepth;
    site_ = std::make_unique<KtWdlSite>(nullptr, &job_);
    return *site_;
  }
  // Opens the job's log; the lines written afterwards are returned by LogLines.
  void StartLog() {
    job_.Log = new KtWdlLog();
    job_.Log->Open(logPath().c_str());
  }
  std::string logPath() const { return dir_ / "job.log"; }
  std::vector<std::string> LogLines() {
    job_.Log->Close();
    std::vector<std::string> lines;
    std::string text = ReadFileText(logPath());
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(text.substr(start, end - start));
    }
    // The stamped start and end lines frame what the job wrote.
    if (lines.size() >= 2) lines = std::vector<std::string>(lines.begin() + 1, lines.end() - 1);
    return lines;
  }
  void TearDown() override {
    site_.reset();
    delete job_.Log;
  }

  TempDir dir_;
  HvrJobInfo job_;
  std::unique_ptr<KtWdlSite> site_;
};

TEST_F(SiteRegistryTest, AddUrl_DuplicateLinkIsListedOnceAndLoggedAsRestored) {
  KtWdlSite& site = MakeSite();
  StartLog();
  KtWdlLinkList links;
  EXPECT_EQ(site.AddUrl("dir/page.html", &links, 0), 0);
  EXPECT_EQ(site.AddUrl("/dir/page.html", &links, 0), 0);
  EXPECT_EQ(site.GetUrlPaths(links), std::vector<std::string>{"dir/page.html"});
  EXPECT_EQ(site.GetUrlCount(), 1u);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"\tdir/page.html", "\tRestored(dir/page.html)"}));
}

TEST_F(SiteRegistryTest, AddUrl_CaseDifferingPathIsListedAgainButLookupsFindTheOlderItem) {
  KtWdlSite& site = MakeSite();
  KtWdlLinkList links;
  site.AddUrl("A.html", &links, 0);
  site.AddUrl("a.html", &links, 0);
  EXPECT_EQ(site.GetUrlPaths(links), (std::vector<std::string>{"A.html", "a.html"}));
  site.MarkRestored("a.html");
  // The older item A.html decides, and it is not restored.
  EXPECT_EQ(site.IsRestored("a.html"), 0);
  site.ReportUrlError("A.html", HVR_ERR_FILE);
  EXPECT_EQ(site.IsFailed("a.html"), 1);
  EXPECT_EQ(site.IsListed("A.HTML"), 0);
}

TEST_F(SiteRegistryTest, LookupsIgnoringCaseFoldFullWidthLettersButNotTrailBytes) {
  KtWdlSite& site = MakeSite();
  site.SetAllTypes();
  site.AddUrl("\x82\x60\x82\x61/Page.html", nullptr, 0);  // full-width A and B
  site.MarkRestored("\x82\x60\x82\x61/Page.html");
  EXPECT_EQ(site.IsRestored("\x82\x81\x82\x82/page.HTML"), 1);
  EXPECT_EQ(site.IsListed("\x82\x81\x82\x82/page.HTML"), 0) << "IsListed is exact";
  // 0x83 0x41 is one katakana; its trail byte is no "A" to fold.
  site.AddUrl("\x83\x41.gif", nullptr, 0);
  site.MarkRestored("\x83\x41.gif");
  EXPECT_EQ(site.IsRestored("\x83\x61.gif"), 0);
  EXPECT_EQ(site.IsRestored("\x83\x41.GIF"), 1);
}

TEST_F(SiteRegistryTest, AddUrl_NormalisesFoldersButNotNamesWithAnExtension) {
  KtWdlSite& site = MakeSite();
  site.SetAllTypes();
  KtWdlLinkList links;
  site.AddUrl("dir", &links, 0);
  site.AddUrl(".htaccess", &links, 0);      // the only "." at position 0: a folder
  site.AddUrl("dir/.htaccess", &links, 0);  // a file
  site.AddUrl("/", &links, 0);              // the root stays empty
  EXPECT_EQ(site.GetUrlPaths(links),
            (std::vector<std::string>{"dir/", ".htaccess/", "dir/.htaccess", ""}));
}

TEST_F(SiteRegistryTest, AddUrl_FolderWithoutAllTypesIsNeitherListedNorLogged) {
  KtWdlSite& site = MakeSite();
  StartLog();
  KtWdlLinkList links;
  site.AddUrl("/dir", &links, 0);
  site.AddUrl("sub/", &links, 0);
  EXPECT_TRUE(links.empty());
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(SiteRegistryTest, AddUrl_LinkDepthLimitsOnlyPages) {
  KtWdlSite& site = MakeSite(1);
  site.AddType(".gif");
  KtWdlLinkList links;
  EXPECT_EQ(site.AddUrl("a.html", &links, 0), 0);
  EXPECT_EQ(site.AddUrl("b.HTM", &links, 1), -1);
  EXPECT_EQ(site.AddUrl("c.gif", &links, 1), 0);
  EXPECT_EQ(site.GetUrlPaths(links), (std::vector<std::string>{"a.html", "c.gif"}));

  // Depth limit 0 refuses even the start page when the crawl lists it.
  site_.reset();
  KtWdlSite& zero = MakeSite(0);
  EXPECT_EQ(zero.AddUrl("index.html", nullptr, 0), -1);
  EXPECT_EQ(zero.IsListed("index.html"), 0);
}

TEST_F(SiteRegistryTest, TypeFilters_ExcludeWinsAndOptionsNarrowTheWantedTypes) {
  KtWdlSite& site = MakeSite();
  site.AddType(".GIF");
  site.AddType(".zip");
  site.AddExcludeType(".Zip");
  EXPECT_EQ(site.IsIncluded("dir/a.gif"), 1);
  EXPECT_EQ(site.IsIncluded("dir/a.zip"), 1);
  EXPECT_EQ(site.IsExcluded("dir/a.ZIP"), 1);
  EXPECT_EQ(site.IsIncluded("a.cgi?x=1"), 0);   // the query is part of the extension
  EXPECT_EQ(site.IsIncluded("dir.d/file"), 0);  // the last "." is not in the last component
  KtWdlLinkList links;
  site.AddUrl("a.zip", &links, 0);
  EXPECT_TRUE(links.empty());

  site.SetAllTypes();
  EXPECT_EQ(site.IsIncluded("README"), 1);
  EXPECT_EQ(site.IsExcluded("a.zip"), 1);
}

TEST_F(SiteRegistryTest, TypeFilters_JavaAndCgiOptionsLeaveOnlyTheirType) {
  KtWdlSite& site = MakeSite();
  site.AddType(".java");
  site.AddType(".cgi");
  site.AddOptions(HVR_OPT_JAVA);
  EXPECT_EQ(site.IsIncluded("a.html"), 0);
  EXPECT_EQ(site.IsIncluded("A.java"), 1);
  EXPECT_EQ(site.IsIncluded("a.cgi"), 0);
  site.AddOptions(HVR_OPT_CGI);
  EXPECT_EQ(site.IsIncluded("a.java"), 0);
  EXPECT_EQ(site.IsIncluded("a.cgi"), 0);
  EXPECT_EQ(site.HasOption(HVR_OPT_CGI | HVR_OPT_KEEP_CODE), 1);
}

TEST_F(SiteRegistryTest, AddUrl_LogsWhyALinkWasNotListed) {
  KtWdlSite& site = MakeSite();
  site.AddType(".gif");
  site.AddExcludeType(".gif");
  StartLog();
  KtWdlLinkList links;
  site.AddUrl("x.gif", &links, 0);
  site.AddUrl("x.zip", &links, 0);
  // Crawl-side calls (no link list) never log.
  site.AddUrl("y.gif", nullptr, 0);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"\tNotDL(x.gif)"});
}

TEST_F(SiteRegistryTest, IsRestored_FindsAFolderThroughItsIndexFile) {
  KtWdlSite& site = MakeSite();
  site.AddUrl("DIR/index.html", nullptr, 0);
  site.AddUrl("other/index.htm", nullptr, 0);
  site.MarkRestored("/DIR/index.html");
  site.MarkRestored("other/index.htm");
  EXPECT_EQ(site.IsRestored("dir/"), 1);
  EXPECT_EQ(site.IsRestored("other/"), 1);
  EXPECT_EQ(site.IsRestored("dir"), 0);  // only a folder path tries the index names
  EXPECT_EQ(site.IsRestored(nullptr), 0);
}

TEST_F(SiteRegistryTest, Counters_CountEventsNotPaths) {
  KtWdlSite& site = MakeSite();
  site.AddUrl("a.html", nullptr, 0);
  site.MarkRestored("a.html");
  site.MarkRestored("a.html");
  site.MarkRestored("unlisted.html");
  EXPECT_EQ(site.GetRestoredCount(), 2);
  site.ReportUrlError("a.html", HVR_ERR_FILE);
  site.ReportUrlError("/a.html", HVR_ERR_FILE);
  EXPECT_EQ(site.GetFailedCount(), 2);
  site.ClearUrls();
  EXPECT_EQ(site.GetRestoredCount(), 0);
  EXPECT_EQ(site.GetFailedCount(), 0);
  EXPECT_EQ(site.IsListed("a.html"), 0);
}

TEST_F(SiteRegistryTest, ReportUrlError_RecordsFailuresOnlyForListedPathsWithTheFileCode) {
  KtWdlSite& site = MakeSite();
  StartLog();
  site.AddUrl("a.html", nullptr, 0);
  site.ReportUrlError("/a.html", HVR_ERR_HTTP_404);
  EXPECT_EQ(job_.Error, HVR_ERR_HTTP_404);
  EXPECT_EQ(site.IsFailed("a.html"), 0);
  EXPECT_TRUE(job_.FailedFiles.empty());

  site.ReportUrlError("/a.html", HVR_ERR_FILE);
  EXPECT_EQ(site.IsFailed("A.HTML"), 1);
  EXPECT_EQ(job_.FailedFiles, std::vector<std::string>{"a.html"});

  site.ReportUrlError("unlisted.html", HVR_ERR_FILE);
  EXPECT_EQ(job_.Error, HVR_ERR_FILE);
  EXPECT_EQ(job_.FailedFiles.size(), 1u);
  EXPECT_EQ(site.GetFailedCount(), 1);

  site.SetError(HVR_ERR_THREAD);
  EXPECT_EQ(job_.Error, HVR_ERR_THREAD);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"Error(80060000):/a.html", "Error(80010000):/a.html",
                                      "Error(80010000):unlisted.html", "Error(80000003)"}));
}

TEST_F(SiteRegistryTest, Log_NothingIsWrittenWithoutAnOpenLog) {
  KtWdlSite& site = MakeSite();
  KtWdlLinkList links;
  site.AddUrl("a.html", &links, 0);
  EXPECT_EQ(site.IsLogging(), 0);
  EXPECT_EQ(site.WriteLog("x", 0), -1);  // no log object at all
  job_.Log = new KtWdlLog();             // a closed one
  EXPECT_EQ(site.WriteLog("x", 0), 0);
  EXPECT_EQ(site.IsLogging(), 0);
  site.ReportUrlError("a.html", HVR_ERR_FILE);
  EXPECT_EQ(job_.FailedFiles.size(), 1u);
}

// Files fetched over other connections fail on threads of their own: each failure keeps the
// reason noted on its own thread, whatever another thread noted meanwhile.
TEST_F(SiteRegistryTest, ReportUrlError_TakesTheReasonNotedOnItsOwnThread) {
  KtWdlSite& site = MakeSite();
  site.SetAllTypes();
  site.AddUrl("a.gif", nullptr, 0);
  site.AddUrl("b.gif", nullptr, 0);
  site.NoteReason("reason of a");
  std::thread other([&] {
    site.NoteReason("reason of b");
    site.ReportUrlError("b.gif", HVR_ERR_FILE);
  });
  other.join();
  site.ReportUrlError("a.gif", HVR_ERR_FILE);
  EXPECT_EQ(job_.FailedFiles, (std::vector<std::string>{"b.gif", "a.gif"}));
  EXPECT_EQ(job_.FailedReasons, (std::vector<std::string>{"reason of b", "reason of a"}));
  EXPECT_EQ(job_.ErrorText, "reason of a");
}

TEST_F(SiteRegistryTest, Connections_AreClampedAndOneWithALimit) {
  const struct {
    int32_t asked;
    int32_t maxFiles;
    int expected;
  } kCases[] = {{0, 0, 1},   {-3, 0, 1},    {1, 0, 1}, {4, 0, 4},
                {16, 0, 16}, {1000, 0, 16}, {4, 10, 1}};
  for (const auto& c : kCases) {
    job_.Connections = c.asked;
    job_.MaxFiles = c.maxFiles;
    EXPECT_EQ(MakeSite().GetConnections(), c.expected) << c.asked << " " << c.maxFiles;
  }
}

}  // namespace
