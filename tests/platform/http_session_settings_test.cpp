// The HTTP layer's compression, session-wide headers and cookie jar against the scripted server.
#include <string>
#include <vector>

#include "platform/http_fixture.h"
#include "support/gzip_body.h"
#include "support/temp_dir.h"

namespace {

using Response = ScriptedResponse;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(HttpLayerTest, AcceptEncoding_AsksForGzipAndReadsTheBodyDecoded) {
  const std::string page = "<html>" + std::string(100000, 'x') + "<a href=a.html></html>";
  server_.Set("/p.html", Response::Ok(GzipStored(page)).Header("Content-Encoding", "gzip"));

  std::unique_ptr<CHttpFile> file = Open(Connection(), "p.html");
  file->SetAcceptEncoding(true);
  file->SendRequest();
  std::string encoding;
  ASSERT_TRUE(file->QueryHeader("Content-Encoding", &encoding));
  EXPECT_EQ(encoding, "gzip");
  int32_t length = 0;
  ASSERT_TRUE(file->QueryContentLength(&length));  // the server's, of the encoded bytes
  EXPECT_EQ(static_cast<size_t>(length), GzipStored(page).size());
  EXPECT_EQ(ReadAll(*file, 1000), page);
  ASSERT_EQ(server_.requestCount(), 1u);
  std::string asked = server_.requests()[0].Header("Accept-Encoding").value_or("");
  EXPECT_TRUE(Contains(asked, "gzip") && Contains(asked, "deflate")) << asked;
  EXPECT_FALSE(Contains(asked, "br")) << asked;

  // Not asked for: nothing is announced and an encoded body is read as it came.
  std::unique_ptr<CHttpFile> plain = Get("p.html");
  EXPECT_EQ(ReadAll(*plain), GzipStored(page));
  EXPECT_EQ(server_.requests()[1].HeaderCount("Accept-Encoding"), 0u);
}

TEST_F(HttpLayerTest, AcceptEncoding_DecompressionBombIsRefusedEarly) {
  const uint64_t decoded = 64ull << 20;  // 64 MiB of zeros in about 400 KB
  const std::string bomb = GzipZeros(decoded);
  ASSERT_LT(bomb.size(), decoded / CHttpFile::kMaxExpansion);
  server_.Set("/bomb.html", Response::Ok(bomb).Header("Content-Encoding", "gzip"));

  std::unique_ptr<CHttpFile> file = Open(Connection(), "bomb.html");
  file->SetAcceptEncoding(true);
  file->SendRequest();
  uint64_t read = 0;
  std::string message;
  std::string buffer(16384, '\0');
  try {
    while (int count = file->Read(buffer.data(), 16384)) read += static_cast<uint64_t>(count);
  } catch (const CInternetException& e) {
    EXPECT_EQ(e.GetCause(), CInternetException::kProtocol);
    message = e.what();
  }
  EXPECT_TRUE(Contains(message, "decompression bomb")) << message;
  // Refused long before the end: well under a tenth of what it would decode to.
  EXPECT_LT(read, decoded / 10);
  EXPECT_GE(read, CHttpFile::kExpansionAllowance / 2);
  EXPECT_LE(file->BufferedBytesHighWater(), 1u << 20);

  // The same stream at a modest size (under the allowance) reads whole: the guard is no cap on
  // compression as such.
  server_.Set("/zeros.html", Response::Ok(GzipZeros(500000)).Header("Content-Encoding", "gzip"));
  std::unique_ptr<CHttpFile> small = Open(Connection(), "zeros.html");
  small->SetAcceptEncoding(true);
  small->SendRequest();
  EXPECT_EQ(ReadAll(*small), std::string(GzipZerosDecodedLength(500000), '\0'));
}

TEST_F(HttpLayerTest, AcceptEncoding_UnaskedEncodingFailsTheRequest) {
  server_.Set("/br.html", Response::Ok("\x1b\x03\x00").Header("Content-Encoding", "br"));
  std::unique_ptr<CHttpFile> file = Open(Connection(), "br.html");
  file->SetAcceptEncoding(true);
  std::string message;
  try {
    file->SendRequest();
    ReadAll(*file);
  } catch (const CInternetException& e) {
    message = e.what();
  }
  EXPECT_TRUE(Contains(message, "content encoding that was not asked for")) << message;
}

TEST_F(HttpLayerTest, ExtraHeaders_GoWithEveryRequestAndReplaceTheRequestsOwn) {
  ASSERT_TRUE(session_->SetExtraHeaders({"X-Token: abc 1", "user-agent: custom/2", "Empty:"}));
  server_.Set("/a", Response::Ok("x"));
  Fetch("a");
  Fetch("a");
  ASSERT_EQ(server_.requestCount(), 2u);
  for (const ScriptedRequest& request : server_.requests()) {
    EXPECT_EQ(request.Header("X-Token"), "abc 1");
    EXPECT_EQ(request.Header("User-Agent"), "custom/2");
    EXPECT_EQ(request.HeaderCount("User-Agent"), 1u);
    EXPECT_EQ(request.Header("Empty"), "");
    EXPECT_EQ(request.Header("Accept"), "*/*,text/*");
  }
  // Lines that are no header are refused, and the earlier set stays.
  for (const char* bad : {"no colon", ": no name", "Bad Name: x", "X: a\r\nInjected: 1",
                          "X: a\nY: b", "X: nul\x01"}) {
    EXPECT_FALSE(session_->SetExtraHeaders({"Good: 1", bad})) << bad;
  }
  EXPECT_EQ(session_->GetSettings().extraHeaders.size(), 3u);
}

TEST_F(HttpLayerTest, CookieFile_SendsItsCookiesKeepsNewOnesAndIsWrittenBack) {
  TempDir dir;
  const std::string jar = dir / "cookies.txt";
  WriteFileText(jar,
                "# Netscape HTTP Cookie File\n"
                "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\told\n"
                "127.0.0.1\tFALSE\t/private/\tFALSE\t0\tdeep\t1\n"
                "other.example\tFALSE\t/\tFALSE\t0\telse\twhere\n"
                "127.0.0.1\tFALSE\t/\tFALSE\t0\tgone\tsoon\n");
  ASSERT_TRUE(session_->SetCookieFile(jar));
  // Expiry dates in the forms servers send, and one in the past, which deletes its cookie.
  server_.Set("/login",
              Response::Ok("in")
                  .Header("Set-Cookie", "sid=new; Path=/")
                  .Header("Set-Cookie", "theme=dark; Path=/")
                  .Header("Set-Cookie", "until=1; Path=/; Expires=Wed, 21 Oct 2037 07:28:00 GMT")
                  .Header("Set-Cookie", "dashed=1; Path=/; expires=Wed, 21-Oct-2037 07:28:00 GMT")
                  .Header("Set-Cookie", "gone=x; Path=/; Expires=Thu, 01 Jan 1970 00:00:01 GMT"));
  server_.Set("/page", Response::Ok("p"));
  Fetch("login");
  Fetch("page");
  std::vector<ScriptedRequest> requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  std::string first = requests[0].Header("Cookie").value_or("");
  EXPECT_TRUE(Contains(first, "sid=old") && Contains(first, "gone=soon")) << first;
  std::string second = requests[1].Header("Cookie").value_or("");
  EXPECT_TRUE(Contains(second, "sid=new") && Contains(second, "theme=dark")) << second;
  EXPECT_TRUE(Contains(second, "until=1") && Contains(second, "dashed=1")) << second;
  EXPECT_FALSE(Contains(second, "deep") || Contains(second, "else") || Contains(second, "gone"))
      << second;

  // A second connection of the session shares the jar.
  std::unique_ptr<CHttpConnection> other(session_->GetHttpConnection("127.0.0.1", server_.port()));
  std::unique_ptr<CHttpFile> file = Open(*other, "page");
  file->SendRequest();
  ReadAll(*file);
  EXPECT_TRUE(Contains(server_.requests()[2].Header("Cookie").value_or(""), "theme=dark"));

  session_->SaveCookies();
  const std::string saved = ReadFileText(jar);
  EXPECT_TRUE(Contains(saved, "\tsid\tnew")) << saved;
  EXPECT_TRUE(Contains(saved, "\ttheme\tdark")) << saved;
  EXPECT_TRUE(Contains(saved, "\tdeep\t1")) << saved;
  EXPECT_FALSE(Contains(saved, "\tsid\told")) << saved;
  EXPECT_TRUE(Contains(saved, "\t2139722880\tuntil\t1")) << saved;
  EXPECT_TRUE(Contains(saved, "\t2139722880\tdashed\t1")) << saved;
  EXPECT_FALSE(Contains(saved, "gone")) << saved;
}

// A login answers with a redirect that sets the session cookie: the next hop carries it, as a
// later request to another folder of the same path does, and no other path's cookie goes along.
TEST_F(HttpLayerTest, CookieFile_ACookieSetOnARedirectGoesWithTheNextHop) {
  TempDir dir;
  ASSERT_TRUE(session_->SetCookieFile(dir / "c.txt"));
  server_.Set("/account/login", Response::Redirect("/account/home")
                                    .Header("Set-Cookie", "sid=42")
                                    .Header("Set-Cookie", "wide=1; Path=/"));
  server_.Set("/account/home", Response::Ok("home"));
  server_.Set("/elsewhere", Response::Ok("x"));
  EXPECT_EQ(Fetch("account/login"), "home");
  Fetch("elsewhere");
  std::vector<ScriptedRequest> requests = server_.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_FALSE(requests[0].Header("Cookie").has_value());
  EXPECT_EQ(requests[1].Header("Cookie"), "sid=42; wide=1");
  EXPECT_EQ(requests[2].Header("Cookie"), "wide=1");
}

TEST_F(HttpLayerTest, CookieFile_MissingIsMadeAndAnythingElseIsRefusedUntouched) {
  TempDir dir;
  EXPECT_TRUE(session_->SetCookieFile(dir / "new.txt"));
  server_.Set("/s", Response::Ok("s").Header("Set-Cookie", "k=v"));
  Fetch("s");
  session_->Close();
  EXPECT_TRUE(Contains(ReadFileText(dir / "new.txt"), "\tk\tv")) << ReadFileText(dir / "new.txt");

  const std::string page = "<html><body>not cookies</body></html>\n";
  WriteFileText(dir / "page.html", page);
  CInternetSession other("a", "");
  EXPECT_FALSE(other.SetCookieFile(dir / "page.html"));
  EXPECT_FALSE(other.SetCookieFile(dir.path()));  // a folder
  other.Close();
  EXPECT_EQ(ReadFileText(dir / "page.html"), page);
}

}  // namespace
