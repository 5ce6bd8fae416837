// Whole jobs over a site of today's shape: root-relative links, srcset, style sheets, a meta
// refresh, query pages, and links to what is not copied.
#include <gtest/gtest.h>

#include <filesystem>

#include "harvo.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;
using Targets = std::vector<std::string>;

constexpr int32_t kLinkOptions =
    HVR_OPT_ROOT_LINKS | HVR_OPT_MORE_LINKS | HVR_OPT_QUERY_PAGES | HVR_OPT_REMOTE_LINKS;

class LinksCrawlTest : public ::testing::Test {
 protected:
  std::string SiteFolder() const { return dir_ / "127.0.0.1/"; }
  std::string Saved(const std::string& relative) const {
    return ReadFileText(SiteFolder() + relative);
  }
  bool Exists(const std::string& relative) const {
    return std::filesystem::exists(SiteFolder() + relative);
  }
  std::string Origin() const { return "http://127.0.0.1:" + std::to_string(server_.port()); }
  // Every file the job wrote, relative to the temporary folder.
  std::vector<std::string> Written() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.path())) {
      if (entry.is_regular_file()) {
        files.push_back(std::filesystem::relative(entry.path(), dir_.path()).string());
      }
    }
    std::sort(files.begin(), files.end());
    return files;
  }
  void ServeModernSite() {
    server_.Set("/index.html",
                R::Ok("<html><head><link rel=stylesheet href=\"/css/site.css\">"
                      "<style>p{background:url(/img/p.png)}</style></head>\n"
                      "<body><img srcset=\"/img/a.png 1x, img/b.png 2x\" src=\"/img/a.png\">\n"
                      "<a href=\"/dir/list.php?page=2\">2</a>"
                      "<a href=\"dir/list.php?page=3&amp;x=1\">3</a>\n"
                      "<a href=\"http://elsewhere.invalid/x.html\">e</a>"
                      "<a href=\"/files/big.zip\">z</a>\n"
                      "<meta http-equiv=\"refresh\" content=\"30; url=/dir/list.php?page=2\">"
                      "</body></html>"));
    server_.Set("/css/site.css",
                R::Ok("@import \"more.css\";\nbody{background:url('../img/bg.png')}\n"));
    server_.Set("/css/more.css", R::Ok("a{b:url(/img/c.png)}"));
    for (const char* image : {"a", "b", "c", "p", "bg"}) {
      server_.Set(std::string("/img/") + image + ".png", R::Ok(image));
    }
    server_.Set("/dir/list.php?page=2",
                R::Ok("<a href=\"?page=3&amp;x=1\">next</a><a href=\"/index.html\">home</a>")
                    .Header("Content-Type", "text/html"));
    server_.Set("/dir/list.php?page=3&x=1",
                R::Ok("<p>three</p>").Header("Content-Type", "text/html"));
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(LinksCrawlTest, ModernSite_IsCopiedWithEveryLinkLeadingToItsCopy) {
  ServeModernSite();
  HvrJobInfo job = MakeJob(server_.url("/index.html"), dir_.path());
  job.ExcludeTypes = {".zip"};
  job.Options = kLinkOptions;
  auto outcome = handle_.Run(&job);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.failed, 0);

  EXPECT_EQ(Saved("index.html"),
            "<html><head><link rel=stylesheet href=\"css/site.css\">"
            "<style>p{background:url(img/p.png)}</style></head>\r\n"
            "<body><img srcset=\"img/a.png 1x, img/b.png 2x\" src=\"img/a.png\">\r\n"
            "<a href=\"dir/list.php@page=2.html\">2</a>"
            "<a href=\"dir/list.php@page=3&x=1.html\">3</a>\r\n"
            "<a href=\"http://elsewhere.invalid/x.html\">e</a>"
            "<a href=\"" +
                Origin() +
                "/files/big.zip\">z</a>\r\n"
                "<meta http-equiv=\"refresh\" content=\"30; url=dir/list.php@page=2.html\">"
                "</body></html>");
  EXPECT_EQ(Saved("css/site.css"),
            "@import \"more.css\";\nbody{background:url('../img/bg.png')}\n");
  EXPECT_EQ(Saved("css/more.css"), "a{b:url(../img/c.png)}");
  EXPECT_EQ(Saved("dir/list.php@page=2.html"),
            "<a href=\"list.php@page=3&x=1.html\">next</a><a href=\"../index.html\">home</a>");
  EXPECT_EQ(Saved("dir/list.php@page=3&x=1.html"), "<p>three</p>");
  for (const char* image : {"a", "b", "c", "p", "bg"}) {
    EXPECT_EQ(Saved(std::string("img/") + image + ".png"), image);
  }
  // Each file was asked for once; the excluded file and the other server never.
  Targets targets = server_.requestTargets();
  std::sort(targets.begin(), targets.end());
  EXPECT_EQ(targets, (Targets{"/css/more.css", "/css/site.css", "/dir/list.php?page=2",
                              "/dir/list.php?page=3&x=1", "/img/a.png", "/img/b.png", "/img/bg.png",
                              "/img/c.png", "/img/p.png", "/index.html"}));
}

TEST_F(LinksCrawlTest, WithoutTheOptions_TheWalkIsTheOneOfOldPages) {
  ServeModernSite();
  HvrJobInfo job = MakeJob(server_.url("/index.html"), dir_.path());
  auto outcome = handle_.Run(&job);
  ASSERT_TRUE(outcome.finished);
  // Root links, srcset and style sheets are not followed; a query is cut from its link.
  EXPECT_EQ(server_.requestTargets(), (Targets{"/index.html", "/dir/list.php"}));
  EXPECT_EQ(Saved("index.html"),
            "<html><head><link rel=stylesheet href=\"/css/site.css\">"
            "<style>p{background:url(/img/p.png)}</style></head>\r\n"
            "<body><img srcset=\"/img/a.png1x,img/b.png2x\" src=\"/img/a.png\">\r\n"
            "<a href=\"/dir/list.php?page=2\">2</a>"
            "<a href=\"dir/list.php?page=3&amp;x=1\">3</a>\r\n"
            "<a href=\"http://elsewhere.invalid/x.html\">e</a>"
            "<a href=\"/files/big.zip\">z</a>\r\n"
            "<meta http-equiv=\"refresh\" content=\"30;url=/dir/list.php?page=2\">"
            "</body></html>");
}

TEST_F(LinksCrawlTest, HostileQueries_AreSavedInsideTheSiteFolderUnderSafeNames) {
  const std::string longQuery(10 * 1024, 'q');
  server_.SetHandler([](const ScriptedRequest& r) -> std::optional<R> {
    if (r.target.starts_with("/q.php?")) return R::Ok("answer").Header("Content-Type", "text/html");
    return std::nullopt;
  });
  std::string page =
      "<a href=\"q.php?../../x\">1</a><a href=\"q.php?%2e%2e/\">2</a>"
      "<a href=\"q.php?a/b\">3</a><a href=\"q.php?a\\..\\b\">5</a>";
  page += std::string("<a href=\"q.php?a\0b\">4</a>", 24);
  page += "<a href=\"q.php?" + longQuery + "\">6</a>";
  server_.Set("/index.html", R::Ok(page));
  HvrJobInfo job = MakeJob(server_.url("/index.html"), dir_.path());
  job.Options = HVR_OPT_QUERY_PAGES;
  auto outcome = handle_.Run(&job);
  ASSERT_TRUE(outcome.finished);
  // Every query but the one with a NUL was asked for as written (the HTTP layer escapes "\\").
  Targets targets = server_.requestTargets();
  std::sort(targets.begin(), targets.end());
  // (EXPECT_TRUE: a failure would print the long query many times.)
  EXPECT_TRUE(targets == (Targets{"/index.html", "/q.php?%2e%2e/", "/q.php?../../x",
                                  "/q.php?a%5C..%5Cb", "/q.php?a/b", "/q.php?" + longQuery}));
  // Each answer is a file of its own directly in the site folder, with a name without
  // separators or "..".
  std::vector<std::string> files = Written();
  ASSERT_EQ(files.size(), 6u);
  for (const std::string& file : files) {
    ASSERT_TRUE(file.starts_with("127.0.0.1/")) << file;
    const std::string name = file.substr(10);
    EXPECT_EQ(name.find('/'), std::string::npos) << file;
    EXPECT_EQ(name.find(".."), std::string::npos) << file;
    if (name != "index.html") {
      EXPECT_EQ(ReadFileText(dir_ / file), "answer") << file;
    }
  }
  // The page leads to them.
  const std::string saved = Saved("index.html");
  for (const std::string& file : files) {
    if (file != "127.0.0.1/index.html") {
      EXPECT_NE(saved.find("\"" + file.substr(10) + "\""), std::string::npos) << file;
    }
  }
}

TEST_F(LinksCrawlTest, RemoteLinks_NameWhatIsNotCopiedAndLeaveCopiedFilesLocal) {
  server_.Set("/index.html",
              R::Ok("<a href=\"missing.html\">m</a><a href=\"a.html\">a</a>"
                    "<a href=\"sub/deep/x.gif\">d</a><a href=\"../../up.html\">u</a>"));
  server_.Set("/a.html", R::Ok("<a href=\"b.html\">b</a><img src=\"i.gif\"><a href=\"index.html\">"
                               "<a href=\"missing.html\">m</a><a href=\"/c.html\">c</a>"));
  server_.Set("/i.gif", R::Ok("gif"));
  HvrJobInfo job = MakeJob(server_.url("/index.html"), dir_.path());
  job.Options = HVR_OPT_REMOTE_LINKS;
  job.MaxLinkDepth = 1;  // pages linked from a.html are beyond the limit
  job.MaxDirDepth = 2;   // sub/deep/ is beyond this one
  auto outcome = handle_.Run(&job);
  ASSERT_TRUE(outcome.finished);
  const std::string o = Origin();
  // missing.html fails after index.html was saved: its link there stays local. On a.html, saved
  // after the failure, it names the server's file, as do the links beyond the limits, above the
  // root and to the root ("/c.html" without the root-link option).
  const std::string index = "<a href=\"missing.html\">m</a><a href=\"a.html\">a</a><a href=\"" + o +
                            "/sub/deep/x.gif\">d</a><a href=\"" + o + "/up.html\">u</a>";
  EXPECT_EQ(Saved("index.html"), index);
  const std::string a = "<a href=\"" + o +
                        "/b.html\">b</a><img src=\"i.gif\"><a href=\"index.html\">" + "<a href=\"" +
                        o + "/missing.html\">m</a><a href=\"" + o + "/c.html\">c</a>";
  EXPECT_EQ(Saved("a.html"), a);
  EXPECT_EQ(Saved("i.gif"), "gif");
}

TEST_F(LinksCrawlTest, QueryPages_AreScannedOnlyWhenTheServerCallsThemPages) {
  // A download from a page script keeps its bytes (no CR LF, no rewritten links) under the name
  // its link was given; a typeless answer of a page script is a page.
  const std::string zip = "PK\x03\x04\n<a href=\"/x.html\">\n";
  server_.Set("/index.html",
              R::Ok("<a href=\"get.php?f=a.zip\">z</a><a href=\"get.php?f=b.txt\">t</a>"
                    "<a href=\"list.php?p=1\">l</a>"));
  server_.Set("/get.php?f=a.zip", R::Ok(zip).Header("Content-Type", "application/zip"));
  server_.Set("/get.php?f=b.txt", R::Ok("a\nb.html").Header("Content-Type", "text/plain"));
  server_.Set("/list.php?p=1", R::Ok("<a href=\"?p=2\">n</a>"));
  server_.Set("/list.php?p=2", R::Ok("two"));
  HvrJobInfo job = MakeJob(server_.url("/index.html"), dir_.path());
  job.Options = HVR_OPT_QUERY_PAGES;
  auto outcome = handle_.Run(&job);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(Saved("index.html"),
            "<a href=\"get.php@f=a.zip.html\">z</a><a href=\"get.php@f=b.txt.html\">t</a>"
            "<a href=\"list.php@p=1.html\">l</a>");
  EXPECT_EQ(Saved("get.php@f=a.zip.html"), zip);
  EXPECT_EQ(Saved("get.php@f=b.txt.html"), "a\nb.html");
  EXPECT_EQ(Saved("list.php@p=1.html"), "<a href=\"list.php@p=2.html\">n</a>");
  EXPECT_EQ(Saved("list.php@p=2.html"), "two");
}

}  // namespace
