// Sites over https: nginx on 127.0.0.1 with throw-away certificates made at test time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "harvo.h"
#include "support/job_runner.h"
#include "support/nginx_server.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A handle whose session trusts caFile (may be empty), closed with the object.
class Session {
 public:
  explicit Session(const std::string& caFile = {}) {
    info_.Agent = "harvo-test";
    info_.ConnectTimeout = 5000;
    info_.CaFile = caFile;
    opened_ = HvrOpen(&handle_, &info_);
  }
  ~Session() { HvrClose(&handle_, &info_); }
  int opened() const { return opened_; }
  const HvrOpenInfo& info() const { return info_; }

  // Runs the job to its end; false when it did not end in time.
  bool Run(HvrJobInfo* job) {
    int index = -1;
    if (HvrStart(&handle_, job, &index) != 0) return false;
    // Generous: a worker runs at idle priority, and loading the system's CA store takes it
    // long on a busy machine (more so in sanitizer builds).
    bool ended = WaitFor([&] { return HvrIsDL(&handle_, index) == 0; }, std::chrono::minutes(5));
    restored_ = HvrGetDLRestoredNum(&handle_, index);
    failedFiles_ = job->FailedFiles;
    failedReasons_ = job->FailedReasons;
    HvrEnd(&handle_, job, index);
    return ended;
  }
  int restored() const { return restored_; }
  const std::vector<std::string>& failedFiles() const { return failedFiles_; }
  const std::vector<std::string>& failedReasons() const { return failedReasons_; }

 private:
  HvrOpenInfo info_;
  KtWdlManager* handle_ = nullptr;
  int opened_ = 1;
  int restored_ = 0;
  std::vector<std::string> failedFiles_;
  std::vector<std::string> failedReasons_;
};

class TlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!TestCertificates::Available() || !NginxServer::Available()) return;
    certificates_ = new TestCertificates();
  }
  static void TearDownTestSuite() {
    delete certificates_;
    certificates_ = nullptr;
  }
  void SetUp() override {
    if (certificates_ == nullptr) GTEST_SKIP() << "openssl or nginx missing (scripts/setup)";
  }
  static const TestCertificates& certs() { return *certificates_; }

  std::unique_ptr<NginxServer> Serve(const CertificateFiles& files) {
    return std::make_unique<NginxServer>(site_.path(), NginxOptions{files.cert, files.key});
  }
  std::string Saved(const std::string& relative) const { return out_ / ("127.0.0.1/" + relative); }

  static TestCertificates* certificates_;
  TempDir site_;
  TempDir out_;
};

TestCertificates* TlsTest::certificates_ = nullptr;

TEST_F(TlsTest, HttpsSiteCopiedWithItsOwnAbsoluteLinksWhenTheCaFileTrustsIt) {
  WriteFileText(site_ / "index.html", "");  // rewritten below, once the port is known
  auto nginx = Serve(certs().good());
  const std::string origin = "127.0.0.1:" + std::to_string(nginx->port());
  WriteFileText(site_ / "index.html", "<a href=\"a.html\">a</a> <a href=\"https://" + origin +
                                          "/b.html\">b</a> <a href=\"http://" + origin +
                                          "/c.html\">c</a>\n");
  WriteFileText(site_ / "a.html", "<p>a</p>\n");
  WriteFileText(site_ / "b.html", "<p>b</p>\n");
  WriteFileText(site_ / "c.html", "<p>c</p>\n");

  Session session(certs().sessionCaFile());
  ASSERT_EQ(session.opened(), 0);
  HvrJobInfo job = MakeJob(nginx->url("/"), out_.path());
  job.Options = HVR_OPT_HTTPS;
  ASSERT_TRUE(session.Run(&job));
  EXPECT_EQ(job.Error, 0) << job.ErrorText;
  EXPECT_EQ(session.restored(), 3);
  EXPECT_EQ(ReadFileText(Saved("a.html")), "<p>a</p>\r\n");  // pages end lines in CR LF
  EXPECT_EQ(ReadFileText(Saved("b.html")), "<p>b</p>\r\n");
  // The site's own https link leads to the copy; an http link names another site and stays.
  const std::string index = ReadFileText(Saved("index.html"));
  EXPECT_TRUE(Contains(index, "<a href=\"b.html\">")) << index;
  EXPECT_TRUE(Contains(index, "href=\"http://" + origin + "/c.html\"")) << index;
  EXPECT_FALSE(Contains(nginx->accessLog(), "/c.html")) << nginx->accessLog();
}

TEST_F(TlsTest, RefusedCertificatesFailWithTheirReasonUnlessInsecure) {
  WriteFileText(site_ / "index.html", "<p>secret</p>\n");
  struct Case {
    const char* name;
    const CertificateFiles* files;
    bool trustCa;
    const char* reason;
  };
  // WinInet does not tell a self-signed certificate from one of an unknown issuer.
  const Case cases[] = {
      {"expired", &certs().expired(), true, "certificate has expired"},
#ifdef _WIN32
      {"self-signed", &certs().selfSigned(), true, "certificate issuer is not trusted"},
      {"unknown issuer", &certs().good(), false, "certificate issuer is not trusted"},
#else
      {"self-signed", &certs().selfSigned(), true, "self-signed certificate"},
      {"unknown issuer", &certs().good(), false, "unable to get local issuer certificate"},
#endif
      {"wrong host", &certs().wrongHost(), true, "subject name matches target host name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto nginx = Serve(*c.files);
    {
      Session session(c.trustCa ? certs().sessionCaFile() : "");
      HvrJobInfo job = MakeJob(nginx->url("/index.html"), out_.path());
      job.Options = HVR_OPT_HTTPS;
      ASSERT_TRUE(session.Run(&job));
      EXPECT_EQ(job.Error, HVR_ERR_FILE);
      EXPECT_TRUE(Contains(job.ErrorText, c.reason)) << job.ErrorText;
      EXPECT_EQ(session.restored(), 0);
      EXPECT_TRUE(ReadFileText(Saved("index.html")).empty());
    }
    {
      Session session(c.trustCa ? certs().sessionCaFile() : "");
      HvrJobInfo job = MakeJob(nginx->url("/index.html"), out_.path());
      job.Options = HVR_OPT_HTTPS | HVR_OPT_INSECURE;
      ASSERT_TRUE(session.Run(&job));
      EXPECT_EQ(job.Error, 0) << job.ErrorText;
      EXPECT_EQ(ReadFileText(Saved("index.html")), "<p>secret</p>\r\n");
    }
    std::filesystem::remove_all(out_ / "127.0.0.1");
  }
}

TEST_F(TlsTest, RefusedLinkedFileIsListedWithItsReason) {
  // A page on an http server links to the https server's file: the walk asks for it only
  // through a redirect, which follows the certificate rules of the session and the job.
  auto nginx = Serve(certs().expired());
  WriteFileText(site_ / "b.html", "<p>b</p>\n");
  ScriptedServer server;
  server.Set("/index.html", ScriptedResponse::Ok("<a href=\"b.html\">b</a>"));
  server.Redirect("/b.html", nginx->url("/b.html"));
  Session session(certs().sessionCaFile());
  HvrJobInfo job = MakeJob(server.url("/"), out_.path());
  job.Options = HVR_OPT_HTTPS;
  ASSERT_TRUE(session.Run(&job));
  ASSERT_EQ(session.failedFiles().size(), 1u);
  EXPECT_EQ(session.failedFiles()[0], "b.html");
  EXPECT_TRUE(Contains(session.failedReasons()[0], "certificate has expired"))
      << session.failedReasons()[0];
}

TEST_F(TlsTest, RedirectFromHttpToHttpsIsFollowed) {
  auto nginx = Serve(certs().good());
  WriteFileText(site_ / "moved.html", "<p>moved</p>\n");
  ScriptedServer server;
  server.Redirect("/index.html", nginx->url("/moved.html"), 301);
  Session session(certs().sessionCaFile());
  HvrJobInfo job = MakeJob(server.url("/index.html"), out_.path());
  job.Options = HVR_OPT_HTTPS;
  ASSERT_TRUE(session.Run(&job));
  EXPECT_EQ(job.Error, 0) << job.ErrorText;
  EXPECT_EQ(ReadFileText(Saved("index.html")), "<p>moved</p>\r\n");
}

TEST_F(TlsTest, WithoutTheBitAnHttpsUrlIsAskedOverPlainHttp) {
  WriteFileText(site_ / "index.html", "<p>secret</p>\n");
  auto nginx = Serve(certs().good());
  Session session(certs().sessionCaFile());
  HvrJobInfo job = MakeJob(nginx->url("/index.html"), out_.path());
  ASSERT_TRUE(session.Run(&job));
  // nginx answers a plain request on its TLS port with status 400.
  EXPECT_EQ(job.Error, HVR_ERR_FILE);
  EXPECT_EQ(job.ErrorText, "HTTP status 400");
  EXPECT_TRUE(ReadFileText(Saved("index.html")).empty());
}

TEST(TlsSessionTest, UnreadableCaFileFailsTheOpen) {
  TempDir dir;
  Session missing(dir / "no-such-ca.pem");
  EXPECT_EQ(missing.opened(), 1);
  EXPECT_EQ(missing.info().Error, HVR_ERR_SESSION);
  Session folder(dir.path());
  EXPECT_EQ(folder.opened(), 1);
  // A file that holds no certificate would fail every request later: it fails the open.
  WriteFileText(dir / "page.pem", "<html>not a certificate</html>\n");
  Session page(dir / "page.pem");
  EXPECT_EQ(page.opened(), 1);
  EXPECT_EQ(page.info().Error, HVR_ERR_SESSION);
}

}  // namespace
