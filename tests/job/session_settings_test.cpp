// Compression, cookies and extra headers through the exports: the session settings of
// HvrOpenInfo and the HVR_OPT_COMPRESSION bit, against nginx and the scripted server.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "harvo.h"
#include "support/gzip_body.h"
#include "support/job_runner.h"
#include "support/nginx_server.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Opens a handle with the settings that a test put into info.
class OpenedHandle {
 public:
  explicit OpenedHandle(HvrOpenInfo info) : info_(std::move(info)) {
    result_ = HvrOpen(&handle_, &info_);
  }
  ~OpenedHandle() { Close(); }
  void Close() {
    if (handle_ != nullptr) HvrClose(&handle_, &info_);
  }
  int result() const { return result_; }
  const HvrOpenInfo& info() const { return info_; }
  bool Run(HvrJobInfo* job) {
    int index = -1;
    if (HvrStart(&handle_, job, &index) != 0) return false;
    // Generous: a worker runs at idle priority, and loading the system's CA store takes it
    // long on a busy machine (more so in sanitizer builds).
    bool ended = WaitFor([&] { return HvrIsDL(&handle_, index) == 0; }, std::chrono::minutes(5));
    failedReasons_ = job->FailedReasons;
    HvrEnd(&handle_, job, index);
    return ended;
  }
  const std::vector<std::string>& failedReasons() const { return failedReasons_; }

 private:
  HvrOpenInfo info_;
  KtWdlManager* handle_ = nullptr;
  int result_ = 1;
  std::vector<std::string> failedReasons_;
};

HvrOpenInfo Settings() {
  HvrOpenInfo info;
  info.Agent = "harvo-test";
  info.ConnectTimeout = 5000;
  return info;
}

TEST(CompressionTest, GzipPagesAreScannedAndSavedDecoded) {
  if (!NginxServer::Available()) GTEST_SKIP() << "nginx missing (scripts/setup)";
  TempDir site, out;
  const std::string filler(20000, 'z');  // long enough for nginx to bother compressing
  WriteFileText(site / "index.html",
                "<html><body><a href=\"a.html\">a</a>" + filler + "</body></html>\n");
  WriteFileText(site / "a.html", "<p>a " + filler + "</p>\n");
  NginxServer nginx(site.path(), NginxOptions{{}, {}, true});
  OpenedHandle handle(Settings());
  HvrJobInfo job = MakeJob(nginx.url("/"), out.path(), false);
  job.Options = HVR_OPT_COMPRESSION;
  ASSERT_TRUE(handle.Run(&job));
  // nginx compresses on the fly and sends no length: that is no error of the job's.
  EXPECT_EQ(job.Error, 0) << job.ErrorText;
  // Rewritten pages end their lines in CR LF.
  EXPECT_EQ(ReadFileText(out / "127.0.0.1/index.html"),
            "<html><body><a href=\"a.html\">a</a>" + filler + "</body></html>\r\n");
  EXPECT_EQ(ReadFileText(out / "127.0.0.1/a.html"), "<p>a " + filler + "</p>\r\n");
  const std::string gzipLog = nginx.gzipLog();
  EXPECT_TRUE(Contains(gzipLog, "/a.html ")) << gzipLog;
  EXPECT_FALSE(Contains(gzipLog, "/a.html -")) << gzipLog;  // "-": sent uncompressed

  // Without the bit nothing is asked for compressed, and the pages come as they are.
  TempDir plainOut;
  HvrJobInfo plain = MakeJob(nginx.url("/"), plainOut.path(), false);
  ASSERT_TRUE(handle.Run(&plain));
  EXPECT_EQ(plain.Error, 0) << plain.ErrorText;
  EXPECT_EQ(ReadFileText(plainOut / "127.0.0.1/a.html"), "<p>a " + filler + "</p>\r\n");
  EXPECT_TRUE(Contains(nginx.gzipLog(), "/a.html -")) << nginx.gzipLog();
}

TEST(CompressionTest, DecompressionBombFailsTheFileAndKeepsTheEarlierCopy) {
  ScriptedServer server;
  server.Set("/index.html", ScriptedResponse::Ok("<a href=\"bomb.html\">b</a>"));
  server.Set("/bomb.html",
             ScriptedResponse::Ok(GzipZeros(40ull << 20)).Header("Content-Encoding", "gzip"));
  TempDir out;
  WriteFileText(out / "127.0.0.1/bomb.html", "earlier copy");
  OpenedHandle handle(Settings());
  HvrJobInfo job = MakeJob(server.url("/"), out.path());
  job.Options = HVR_OPT_COMPRESSION;
  ASSERT_TRUE(handle.Run(&job));
  ASSERT_EQ(handle.failedReasons().size(), 1u);
  EXPECT_TRUE(Contains(handle.failedReasons()[0], "decompression bomb"))
      << handle.failedReasons()[0];
  EXPECT_EQ(ReadFileText(out / "127.0.0.1/bomb.html"), "earlier copy");
}

TEST(CompressionTest, UpdateOfAnEncodedFileComparesItsTimeNotItsLength) {
  // The earlier copy has the decoded size and the server's time: unchanged, although the
  // encoded length differs from the file's size.
  const std::string body = "<p>" + std::string(5000, 'q') + "</p>";
  const int64_t stamp = 1000000000;
  ScriptedServer server;
  server.Set("/a.gif", ScriptedResponse::Ok(GzipStored(body))
                           .Header("Content-Encoding", "gzip")
                           .LastModified(stamp));
  TempDir out, earlier;
  WriteFileText(earlier / "127.0.0.1/a.gif", body);
  std::filesystem::last_write_time(
      earlier / "127.0.0.1/a.gif",
      std::filesystem::file_time_type::clock::from_sys(
          std::chrono::system_clock::from_time_t(static_cast<time_t>(stamp))));
  OpenedHandle handle(Settings());
  HvrJobInfo job = MakeJob(server.url("/a.gif"), out.path());
  job.CompareFolder = earlier.path();
  job.Options = HVR_OPT_COMPRESSION | HVR_OPT_UPDATE_ONLY;
  ASSERT_TRUE(handle.Run(&job));
  EXPECT_EQ(job.Updated, 0);
  EXPECT_FALSE(std::filesystem::exists(out / "127.0.0.1/a.gif"));
}

TEST(SessionSettingsTest, CookiesAndHeadersGoWithEveryRequestAndTheJarIsWrittenAtTheJobsEnd) {
  TempDir dir, out;
  const std::string jar = dir / "cookies.txt";
  WriteFileText(jar, "127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\tabc\n");
  ScriptedServer server;
  server.Set("/index.html", ScriptedResponse::Ok("<a href=\"sub/\">s</a>")
                                .Header("Set-Cookie", "session=renewed; Path=/"));
  server.Set("/sub/index.html", ScriptedResponse::Ok("<p>member page</p>"));
  HvrOpenInfo info = Settings();
  info.CookieFile = jar;
  info.Headers = {"Authorization: Bearer t0k3n", "Accept: text/html"};
  OpenedHandle handle(info);
  ASSERT_EQ(handle.result(), 0);
  HvrJobInfo job = MakeJob(server.url("/index.html"), out.path());
  ASSERT_TRUE(handle.Run(&job));
  EXPECT_EQ(ReadFileText(out / "127.0.0.1/sub/index.html"), "<p>member page</p>");

  std::vector<ScriptedRequest> requests = server.requests();
  ASSERT_GE(requests.size(), 3u);  // the page, the folder's index probes, its index page
  EXPECT_EQ(requests[0].Header("Cookie"), "session=abc");
  for (const ScriptedRequest& request : requests) {
    EXPECT_EQ(request.Header("Authorization"), "Bearer t0k3n") << request.target;
    EXPECT_EQ(request.Header("Accept"), "text/html") << request.target;
    EXPECT_EQ(request.HeaderCount("Accept"), 1u);
    if (&request != &requests[0]) {
      EXPECT_EQ(request.Header("Cookie"), "session=renewed") << request.target;
    }
  }
  // Written when the job ended, before the handle closes.
  EXPECT_TRUE(Contains(ReadFileText(jar), "\tsession\trenewed")) << ReadFileText(jar);
}

TEST(SessionSettingsTest, UnusableSettingsFailTheOpen) {
  TempDir dir;
  const std::string page = "<html>not a cookie file</html>\n";
  WriteFileText(dir / "page.html", page);
  struct Case {
    const char* name;
    std::string cookieFile;
    std::vector<std::string> headers;
  };
  const Case cases[] = {
      {"cookie file of something else", dir / "page.html", {}},
      {"cookie file that is a folder", dir.path(), {}},
      {"header without a name", "", {": x"}},
      {"header carrying another", "", {"X-A: 1\r\nX-B: 2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HvrOpenInfo info = Settings();
    info.CookieFile = c.cookieFile;
    info.Headers = c.headers;
    OpenedHandle handle(info);
    EXPECT_EQ(handle.result(), 1);
    EXPECT_EQ(handle.info().Error, HVR_ERR_SESSION);
  }
  EXPECT_EQ(ReadFileText(dir / "page.html"), page);
}

}  // namespace
