// The command's https, compression, cookie and header flags through the built binary.
#include <filesystem>
#include <memory>
#include <string>

#include "cli_fixture.h"
#include "support/nginx_server.h"
#include "support/scripted_server.h"
#include "support/test_certificates.h"

namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class TransportFlagsTest : public CliTest {
 protected:
  // The job's worker runs at idle priority, and loading the system's CA store takes it long on
  // a busy machine: the https runs get more time than the default.
  ChildResult SlowHarvo(const std::vector<std::string>& args) {
    return Harvo(args, {}, std::chrono::minutes(5));
  }
  std::string Saved(const std::string& relative) const {
    return work_ / ("out/127.0.0.1/" + relative);
  }
};

TEST_F(TransportFlagsTest, HttpsIsOnByDefaultAndCertificatesAreChecked) {
  if (!TestCertificates::Available() || !NginxServer::Available()) {
    GTEST_SKIP() << "openssl or nginx missing (scripts/setup)";
  }
  TestCertificates certs;
  TempDir site;
  WriteFileText(site / "index.html", "<a href=\"a.html\">a</a>\n");
  WriteFileText(site / "a.html", "<p>a</p>\n");
  NginxServer nginx(site.path(), NginxOptions{certs.good().cert, certs.good().key});
  const std::string url = nginx.url("/");

  // Trusted through the CA file.
  ChildResult r = SlowHarvo({"mirror", url, "-o", "out", "--ca-file", certs.caFile()});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_EQ(ReadFileText(Saved("a.html")), "<p>a</p>\r\n");
  EXPECT_FALSE(Contains(r.err, "warning")) << r.err;
  fs::remove_all(work_ / "out");

  // An issuer the system does not know: refused, with the reason in words, also when the
  // refusal came at the start folder's index look-up.
  r = SlowHarvo({"mirror", url, "-o", "out"});
  EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
#ifdef _WIN32
  EXPECT_TRUE(Contains(r.out, "certificate issuer is not trusted")) << r.out;
#else
  EXPECT_TRUE(Contains(r.out, "unable to get local issuer certificate")) << r.out;
#endif
  EXPECT_FALSE(fs::exists(Saved("index.html")));

  // --insecure copies it and warns once.
  r = SlowHarvo({"mirror", url, "-o", "out", "--insecure"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_EQ(CountOf(r.err, "warning: --insecure"), 1u) << r.err;
  EXPECT_EQ(ReadFileText(Saved("a.html")), "<p>a</p>\r\n");
  fs::remove_all(work_ / "out");

  // --no-https asks the way the library does by default: plain HTTP to the TLS port.
  r = SlowHarvo({"mirror", url, "-o", "out", "--no-https", "--ca-file", certs.caFile()});
  EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "HTTP status 400")) << r.out;

  // A CA file that is not there, or holds no certificate, is a usage error.
  r = SlowHarvo({"mirror", url, "-o", "out", "--ca-file", "missing.pem"});
  EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "missing.pem")) << r.err;
  WriteFileText(work_ / "key.pem", ReadFileText(certs.good().key));
  r = SlowHarvo({"mirror", url, "-o", "out", "--ca-file", "key.pem"});
  EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "must be readable and hold PEM certificates")) << r.err;
}

TEST_F(TransportFlagsTest, CookieFileAndHeaderFlags) {
  ScriptedServer server;
  server.Set(
      "/index.html",
      ScriptedResponse::Ok("<a href=\"a.html\">a</a>").Header("Set-Cookie", "seen=yes; Path=/"));
  server.Set("/a.html", ScriptedResponse::Ok("<p>a</p>"));
  WriteFileText(work_ / "jar.txt", "127.0.0.1\tFALSE\t/\tFALSE\t0\tlogin\tme\n");
  // Without robots.txt, whose request would come first.
  ChildResult r =
      Harvo({"mirror", server.url("/index.html"), "-o", "out", "--cookies", "jar.txt", "--header",
             "X-One: 1", "--header", "Referer: http://127.0.0.1/", "--no-robots"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  std::vector<ScriptedRequest> requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Header("Cookie"), "login=me");
  std::string second = requests[1].Header("Cookie").value_or("");
  EXPECT_TRUE(Contains(second, "login=me") && Contains(second, "seen=yes")) << second;
  for (const ScriptedRequest& request : requests) {
    EXPECT_EQ(request.Header("X-One"), "1");
    EXPECT_EQ(request.Header("Referer"), "http://127.0.0.1/");
  }
  EXPECT_TRUE(Contains(ReadFileText(work_ / "jar.txt"), "\tseen\tyes"));

  // A header that would carry another, and a cookie file of something else, are refused.
  r = Harvo({"mirror", server.url("/"), "-o", "out", "--header", "X-A: 1\r\nX-B: 2"});
  EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "is not a header")) << r.err;
  WriteFileText(work_ / "page.html", "<html>page</html>\n");
  r = Harvo({"mirror", server.url("/"), "-o", "out", "--cookies", "page.html"});
  EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "Netscape format")) << r.err;
  EXPECT_EQ(ReadFileText(work_ / "page.html"), "<html>page</html>\n");
}

TEST_F(TransportFlagsTest, CompressionIsAskedForUnlessTurnedOff) {
  ScriptedServer server;
  server.Set("/a.html", ScriptedResponse::Ok("<p>a</p>"));
  ChildResult r = Harvo({"mirror", server.url("/a.html"), "-o", "out", "--no-robots"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  ASSERT_FALSE(server.requests().empty());
  EXPECT_TRUE(Contains(server.requests().back().Header("Accept-Encoding").value_or(""), "gzip"));

  r = Harvo({"mirror", server.url("/a.html"), "-o", "out2", "--no-compression"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_EQ(server.requests().back().HeaderCount("Accept-Encoding"), 0u);
}

}  // namespace
