// Whole sites: a fixture site served by nginx is copied, and the copy browses locally.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "harvo.h"
#include "platform/fs.h"
#include "support/job_runner.h"
#include "support/nginx_server.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A small site with the forms of links a crawl meets. The absolute links name the server.
void WriteFixtureSite(const std::string& root, const std::string& server) {
  const std::string abs = "http://" + server;
  auto page = [&](const std::string& path, const std::string& body) {
    WriteFileText(root + path, "<html><body>\n" + body + "\n</body></html>\n");
  };
  const std::string gif = std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00;", 13);
  // clang-format off
  page("index.html",
       "<body background=\"img/bg.gif\">\n"
       "<a href=\"about.html\">About</a> <a href=\"docs/\">Docs</a>\n"
       "<a href=\"" + abs + "/news/\">News</a>\n"
       "<a href=\"http://other.invalid/x.html\">Elsewhere</a>\n"
       "<!-- <a href=\"hidden.html\">hidden</a> -->\n"
       "<img src=\"img/logo.gif\"> <a href=\"jp/euc.html\">Japanese</a>\n"
       "<applet code=\"applets/Main.class\"></applet>\n"
       "<a href=\"files/data.zip\">zip</a>");
  page("about.html", "<a href=\"./index.html\">home</a> <img src=\"img/logo.gif\">\n"
                     "<a href=\"" + abs + "/\">top</a>");
  page("docs/index.html", "<a href=\"../about.html\">about</a> <a href=\"guide/\">guide</a>\n"
                          "<a href=\"ref/a.html\">a</a> <a href=\"" + abs + "/docs/ref/b.html\">b</a>");
  page("docs/guide/start.html", "<a href=\"../../index.html\">home</a> <a href=\"step2.html\">2</a>"
                                "<img src=\"../../img/photo.jpg\">");
  // clang-format on
  WriteFileText(root + "docs/guide/.htaccess", "DirectoryIndex start.html\n");
  page("docs/guide/step2.html", "<a href=\"./\">guide</a> <a href=\"../\">docs</a>");
  page("docs/ref/a.html", "<a href=\"b.html\">b</a> <a href=\"../../news/\">news</a>");
  page("docs/ref/b.html", "<a href=\"a.html#top\">a</a> <a href=\"c.htm\">c</a>");
  page("docs/ref/index.html", "<a href=\"a.html\">a</a>");
  page("docs/ref/c.htm", "<a href=\"/absolute/path.html\">root-relative</a>");
  page("news/index.htm", "<a href=\"2024/\">2024</a> <a href=\"../docs/ref/\">ref</a>");
  page("news/2024/index.html", "<a href=\"../index.htm\">news</a> <img src=\"pic.gif\">");
  // "<p>日本語のページ</p>" and a link "戻る" in EUC-JP.
  page("jp/euc.html",
       "<p>\xC6\xFC\xCB\xDC\xB8\xEC\xA4\xCE\xA5\xDA\xA1\xBC\xA5\xB8</p>"
       "<a href=\"../about.html\">\xCC\xE1\xA4\xEB</a>");
  page("hidden.html", "never linked except from a comment");
  for (const char* image : {"img/bg.gif", "img/logo.gif", "news/2024/pic.gif"}) {
    WriteFileText(root + image, gif);
  }
  WriteFileText(root + "img/photo.jpg", "\xFF\xD8\xFF\xE0 jpeg");
  WriteFileText(root + "applets/Main.class", "\xCA\xFE\xBA\xBE");
  WriteFileText(root + "files/data.zip", "PK\x03\x04");
}

std::set<std::string> FilesBelow(const std::string& root) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), root).generic_string());
  }
  return files;
}

// The quoted values of the link attributes of a page, outside comments.
std::vector<std::string> LinkValues(std::string text) {
  for (size_t open; (open = text.find("<!--")) != std::string::npos;) {
    size_t close = text.find("-->", open);
    text.erase(open, close == std::string::npos ? std::string::npos : close + 3 - open);
  }
  std::vector<std::string> values;
  for (const char* name : {"href=\"", "src=\"", "background=\"", "code=\""}) {
    for (size_t at = 0; (at = text.find(name, at)) != std::string::npos;) {
      at += std::strlen(name);
      values.push_back(text.substr(at, text.find('"', at) - at));
    }
  }
  return values;
}

// Every local link of every saved page must lead to a saved file, relative to the page; links
// to files of an excluded type are left out.
std::vector<std::string> BrokenLocalLinks(const std::string& site, const std::string& excluded) {
  std::vector<std::string> broken;
  for (const std::string& file : FilesBelow(site)) {
    if (!file.ends_with(".html") && !file.ends_with(".htm")) continue;
    for (std::string link : LinkValues(ReadFileText(site + file))) {
      if (link.find("://") != std::string::npos || link.starts_with("/")) continue;
      link = link.substr(0, link.find('#'));
      if (link.ends_with(excluded)) continue;
      fs::path target = (fs::path(site + file).parent_path() / link).lexically_normal();
      if (link.empty() || link.ends_with("/") || !fs::is_regular_file(target)) {
        broken.push_back(file + " -> " + link);
      }
    }
  }
  return broken;
}

class SiteCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
    nginx_ = std::make_unique<NginxServer>(site_.path());
    WriteFixtureSite(site_.path(), "127.0.0.1:" + std::to_string(nginx_->port()));
  }
  std::string Copy() const { return save_ / ("127.0.0.1/"); }

  TempDir site_;
  TempDir save_;
  std::unique_ptr<NginxServer> nginx_;
};

TEST_F(SiteCopyTest, CopiesExactlyTheLinkedFilesAndTheCopyBrowsesLocally) {
  HvrJobInfo job = MakeJob(nginx_->url("/"), save_.path(), true);
  job.ExcludeTypes = {".zip"};
  TestHandle handle;
  auto outcome = handle.Run(&job);
  ASSERT_TRUE(outcome.finished);
  EXPECT_TRUE(outcome.failedFiles.empty()) << ::testing::PrintToString(outcome.failedFiles);
  // clang-format off
  const std::set<std::string> expected = {
      "index.html", "about.html", "docs/index.html", "docs/guide/start.html",
      "docs/guide/step2.html", "docs/ref/a.html", "docs/ref/b.html", "docs/ref/c.htm", "docs/ref/index.html",
      "news/index.htm", "news/2024/index.html", "jp/euc.html", "img/bg.gif", "img/logo.gif",
      "img/photo.jpg", "news/2024/pic.gif", "applets/Main.class"};
  // clang-format on
  EXPECT_EQ(FilesBelow(Copy()), expected);
  EXPECT_EQ(outcome.restored, static_cast<int>(expected.size()));
  EXPECT_EQ(BrokenLocalLinks(Copy(), ".zip"), std::vector<std::string>{});

  // Saved files carry the server's time, images are byte for byte, the EUC-JP page is
  // Shift_JIS now.
  hvfs::FileInfo saved, original;
  ASSERT_TRUE(hvfs::GetFileInfo(Copy() + "img/logo.gif", &saved));
  ASSERT_TRUE(hvfs::GetFileInfo(site_ / "img/logo.gif", &original));
  EXPECT_EQ(saved.time, original.time);
  EXPECT_EQ(ReadFileText(Copy() + "img/logo.gif"), ReadFileText(site_ / "img/logo.gif"));
  EXPECT_NE(ReadFileText(Copy() + "jp/euc.html").find("\x93\xfa\x96\x7b\x8c\xea"),  // 日本語
            std::string::npos);
}

TEST_F(SiteCopyTest, LinkDepthZeroFetchesTheStartPageAndItsImagesOnly) {
  HvrJobInfo job = MakeJob(nginx_->url("/"), save_.path(), false);
  job.Types = {".gif"};
  job.MaxLinkDepth = 0;
  TestHandle handle;
  handle.Run(&job);
  EXPECT_EQ(FilesBelow(Copy()),
            (std::set<std::string>{"index.html", "img/bg.gif", "img/logo.gif"}));
}

// What a copy left and what the server was asked for it.
struct CopyRecord {
  bool finished = false;
  std::map<std::string, std::string> files;  // relative path -> bytes
  int restored = 0;
  int failed = 0;
  std::set<std::string> failedFiles;
  std::multiset<std::string> requests;  // the server's access-log lines
};

CopyRecord CopyWith(const NginxServer& nginx, const std::string& start, const std::string& folder,
                    int32_t options, int connections) {
  HvrJobInfo job = MakeJob(nginx.url(start), folder, true);
  job.Options = options;
  job.Connections = connections;
  const size_t logged = nginx.accessLog().size();
  TestHandle handle;
  TestHandle::Outcome outcome = handle.Run(&job);
  CopyRecord record;
  record.finished = outcome.finished;
  record.restored = outcome.restored;
  record.failed = outcome.failed;
  record.failedFiles.insert(outcome.failedFiles.begin(), outcome.failedFiles.end());
  std::istringstream lines(nginx.accessLog().substr(logged));
  for (std::string line; std::getline(lines, line);) record.requests.insert(line);
  const std::string site = folder + "/127.0.0.1/";
  for (const auto& entry : fs::recursive_directory_iterator(site)) {
    if (entry.is_regular_file()) {
      record.files[fs::relative(entry.path(), site).generic_string()] =
          ReadFileText(entry.path().string());
    }
  }
  return record;
}

void ExpectSameCopy(const CopyRecord& one, const CopyRecord& many) {
  ASSERT_TRUE(one.finished);
  ASSERT_TRUE(many.finished);
  EXPECT_FALSE(one.files.empty());
  EXPECT_EQ(one.requests, many.requests);
  EXPECT_EQ(one.files, many.files);
  EXPECT_EQ(one.restored, many.restored);
  EXPECT_EQ(one.failed, many.failed);
  EXPECT_EQ(one.failedFiles, many.failedFiles);
}

// The link options the command turns on.
constexpr int32_t kLinkOptions = HVR_OPT_ROOT_LINKS | HVR_OPT_MORE_LINKS | HVR_OPT_QUERY_PAGES |
                                 HVR_OPT_REMOTE_LINKS | HVR_OPT_COMPRESSION | HVR_OPT_ROBOTS |
                                 HVR_OPT_INDEX_ONCE;

TEST_F(SiteCopyTest, FourConnectionsMakeTheSameCopyAsOne) {
  for (int32_t options : {0, kLinkOptions}) {
    SCOPED_TRACE(options);
    TempDir one, many;
    ExpectSameCopy(CopyWith(*nginx_, "/", one.path(), options, 1),
                   CopyWith(*nginx_, "/", many.path(), options, 4));
  }
}

TEST(TodaysSiteCopyTest, FourConnectionsMakeTheSameCopyAsOne) {
  if (!NginxServer::Available()) GTEST_SKIP() << "nginx is not installed";
  TempDir site;
  CopyFolderContents(std::string(HARVO_SOURCE_DIR) + "/tests/e2e/today-site", site.path());
  NginxOptions gzip;
  gzip.gzip = true;
  NginxServer nginx(site.path(), gzip,
                    "location = /list.php { default_type text/html; "
                    "try_files /list-$arg_page.html =404; }");
  for (int32_t options : {0, kLinkOptions}) {
    SCOPED_TRACE(options);
    TempDir one, many;
    ExpectSameCopy(CopyWith(nginx, "/", one.path(), options, 1),
                   CopyWith(nginx, "/", many.path(), options, 4));
  }
}

// A chain of pages, each linking to the next, deeper than any thread's stack would allow for
// a recursive walk. Sanitizer builds walk 10,000 pages: still deeper than a recursive walk's
// stack would hold, at a tenth of the instrumented run's time.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HARVO_CHAIN_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define HARVO_CHAIN_SANITIZED 1
#endif
#endif
#ifdef HARVO_CHAIN_SANITIZED
constexpr int kChainPages = 10000;
#else
constexpr int kChainPages = 100000;
#endif

TEST(DeepSiteTest, AChainOf100000PagesIsCopiedCompletely) {
  constexpr int kPages = kChainPages;
  ScriptedServer server;
  server.SetHandler([](const ScriptedRequest& r) -> std::optional<ScriptedResponse> {
    int n = 0;
    if (std::sscanf(r.target.c_str(), "/chain/%d.html", &n) != 1) return std::nullopt;
    std::string body =
        n + 1 < kPages ? "<a href=" + std::to_string(n + 1) + ".html>next</a>" : "end";
    return ScriptedResponse::Ok(body).LastModified(1600000000);
  });
  TempDir save;
  HvrJobInfo job = MakeJob(server.url("/chain/0.html"), save.path(), false);
  job.MaxLinkDepth = -1;
  TestHandle handle;
  int index = -1;
  ASSERT_EQ(handle.Start(&job, &index), 0);
  EXPECT_TRUE(handle.WaitIdle(std::chrono::minutes(8)));
  EXPECT_EQ(HvrGetDLRestoredNum(handle.get(), index), kPages);
  EXPECT_EQ(HvrGetDLFailedNum(handle.get(), index), 0);
  HvrEnd(handle.get(), &job, index);
  EXPECT_EQ(ReadFileText(save / ("127.0.0.1/chain/" + std::to_string(kPages - 1) + ".html")),
            "end");
}

}  // namespace
