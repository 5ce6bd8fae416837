// The HTTP layer against the scripted server: what goes on the wire, what the queries report,
// redirects, the proxy, connection reuse and bounded block reads.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/http_fixture.h"

namespace {

using Response = ScriptedResponse;

TEST_F(HttpLayerTest, Request_CarriesExactHeaderBlockOverHttp10) {
  server_.Set("/dir/index.html", Response::Ok("hi"));
  EXPECT_EQ(Fetch("dir/index.html"), "hi");
  EXPECT_EQ(Fetch("/dir/index.html"), "hi");  // a leading "/" is not doubled

  std::vector<ScriptedRequest> requests = server_.requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const ScriptedRequest& request : requests) {
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, "/dir/index.html");
    EXPECT_EQ(request.version, "HTTP/1.0");
    EXPECT_NE(request.head.find("\r\nAccept: */*,text/*\r\n"), std::string::npos) << request.head;
    EXPECT_NE(request.head.find("\r\nUser-Agent: harvo-test/1.0\r\n"), std::string::npos);
    EXPECT_EQ(request.HeaderCount("Accept"), 1u);
    EXPECT_EQ(request.HeaderCount("User-Agent"), 1u);
    EXPECT_EQ(request.Header("Connection"), "keep-alive");
    EXPECT_EQ(request.HeaderCount("Accept-Encoding"), 0u);
  }
}

TEST_F(HttpLayerTest, AddRequestHeaders_AddIfNewKeepsTheFirstValue) {
  server_.Set("/a", Response::Ok("x"));
  std::unique_ptr<CHttpFile> file = Open(Connection(), "a");
  file->AddRequestHeaders("user-agent:other\r\nX-Extra:1\r\n", HTTP_ADDREQ_FLAG_ADD_IF_NEW);
  file->AddRequestHeaders("X-Replaced:old\nX-Replaced: new \nnot a header\r\n", 0);
  file->SendRequest();
  ReadAll(*file);
  ASSERT_EQ(server_.requestCount(), 1u);
  ScriptedRequest request = server_.requests()[0];
  EXPECT_EQ(request.Header("User-Agent"), "harvo-test/1.0");
  EXPECT_EQ(request.HeaderCount("User-Agent"), 1u);
  EXPECT_EQ(request.Header("X-Extra"), "1");
  EXPECT_EQ(request.Header("X-Replaced"), "new");
  EXPECT_EQ(request.HeaderCount("X-Replaced"), 1u);
}

TEST_F(HttpLayerTest, EmptyAgent_SendsEmptyUserAgentValue) {
  UseSession("", "");
  server_.Set("/a.html", Response::Ok("x"));
  Fetch("a.html");
  ASSERT_EQ(server_.requestCount(), 1u);
  ScriptedRequest request = server_.requests()[0];
  EXPECT_EQ(request.HeaderCount("User-Agent"), 1u);
  EXPECT_EQ(request.Header("User-Agent"), "");
  EXPECT_NE(request.head.find("\r\nUser-Agent:\r\n"), std::string::npos) << request.head;
}

TEST_F(HttpLayerTest, ObjectName_EncodesOnlyWhatCannotStandInAUrl) {
  server_.SetHandler([](const ScriptedRequest&) { return Response::Ok("any"); });
  Fetch("dir/a b\x82\xa0.html");
  Fetch("dir/%41{x}|\"q\".html");
  Fetch("dir/../secret/%2e%2e/x.html");
  EXPECT_EQ(server_.requestTargets(),
            (std::vector<std::string>{"/dir/a%20b%82%A0.html", "/dir/%41%7Bx%7D%7C%22q%22.html",
                                      "/dir/../secret/%2e%2e/x.html"}));
}

TEST_F(HttpLayerTest, Queries_ReportTheResponseHead) {
  server_.Set("/ok", Response::Ok("12345").LastModified(784111777).Header("X-Thing", " v a "));
  server_.Set("/missing", Response::Status(404, "gone"));
  std::unique_ptr<CHttpFile> file = Get("ok");
  EXPECT_EQ(file->QueryStatusCode(), 200);
  int32_t length = -1;
  EXPECT_TRUE(file->QueryContentLength(&length));
  EXPECT_EQ(length, 5);
  int64_t modified = 0;
  EXPECT_TRUE(file->QueryLastModified(&modified));
  EXPECT_EQ(modified, 784111777);
  std::string value;
  EXPECT_TRUE(file->QueryHeader("x-THING", &value));
  EXPECT_EQ(value, "v a");
  EXPECT_FALSE(file->QueryHeader("X-Absent", &value));
  EXPECT_EQ(ReadAll(*file), "12345");

  std::unique_ptr<CHttpFile> missing = Get("missing");
  EXPECT_EQ(missing->QueryStatusCode(), 404);
  EXPECT_EQ(ReadAll(*missing), "gone");
}

TEST_F(HttpLayerTest, Queries_RejectAbsentAndUnreadableValues) {
  server_.Set("/none", Response::Ok("abc").NoContentLength());
  server_.Set("/text", Response::Ok("abc")
                           .NoContentLength()
                           .Header("Content-Length", "12abc")
                           .Header("Last-Modified", "yesterday"));
  server_.Set("/negative", Response::Ok("").NoContentLength().Header("Content-Length", "-5"));
  server_.Set("/huge", Response::Ok("").NoContentLength().Header("Content-Length", "2147483648"));
  server_.Set("/max", Response::Ok("").NoContentLength().Header("Content-Length", "2147483647"));
  int32_t length = 7;
  int64_t modified = 0;

  std::unique_ptr<CHttpFile> none = Get("none");
  EXPECT_FALSE(none->QueryContentLength(&length));
  EXPECT_FALSE(none->QueryLastModified(&modified));
  EXPECT_EQ(ReadAll(*none), "abc");  // the body ends with the connection
  none.reset();

  std::unique_ptr<CHttpFile> text = Get("text");
  EXPECT_FALSE(text->QueryContentLength(&length));
  EXPECT_FALSE(text->QueryLastModified(&modified));
  text.reset();
  // libcurl refuses a negative length outright.
  EXPECT_EQ(CauseOfFailure([&] { Get("negative"); }), CInternetException::kProtocol);
  EXPECT_FALSE(Get("huge")->QueryContentLength(&length));
  EXPECT_TRUE(Get("max")->QueryContentLength(&length));
  EXPECT_EQ(length, 2147483647);
}

TEST_F(HttpLayerTest, ReadString_SplitsLinesAtLfAndCrLf) {
  server_.Set("/.htaccess", Response::Ok("Options None\r\n\nDirectoryIndex start.html\nlast"));
  std::unique_ptr<CHttpFile> file = Get(".htaccess");
  std::string line;
  std::vector<std::string> lines;
  while (file->ReadString(&line)) lines.push_back(line);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"Options None", "", "DirectoryIndex start.html", "last"}));
  EXPECT_FALSE(file->ReadString(&line));
}

TEST_F(HttpLayerTest, Redirects_AreFollowedToTheFinalResponse) {
  ScriptedServer other;
  other.Set("/there.html", Response::Ok("over there").LastModified(1000000000));
  server_.Redirect("/a", "/b");
  server_.Set("/b", Response::Redirect("/c", 301).LastModified(5));
  server_.Set("/c", Response::Ok("final").Header("X-Final", "yes"));
  server_.Redirect("/away", other.url("/there.html"), 307);
  server_.Set("/nowhere", Response::Status(301, "no location"));

  std::unique_ptr<CHttpFile> file = Get("a");
  EXPECT_EQ(file->QueryStatusCode(), 200);
  std::string value;
  EXPECT_TRUE(file->QueryHeader("X-Final", &value));
  int64_t modified = 0;
  EXPECT_FALSE(file->QueryLastModified(&modified));  // that was the intermediate 301's
  EXPECT_EQ(ReadAll(*file), "final");
  file.reset();

  file = Get("away");
  EXPECT_EQ(file->QueryStatusCode(), 200);
  EXPECT_TRUE(file->QueryLastModified(&modified));
  EXPECT_EQ(modified, 1000000000);
  EXPECT_EQ(ReadAll(*file), "over there");
  EXPECT_EQ(other.requestTargets(), std::vector<std::string>{"/there.html"});
  file.reset();

  file = Get("nowhere");
  EXPECT_EQ(file->QueryStatusCode(), 301);
  EXPECT_EQ(ReadAll(*file), "no location");
}

TEST_F(HttpLayerTest, Redirects_ToOtherSchemesOrInLoopsFail) {
  server_.Redirect("/passwd", "file:///etc/passwd");
  server_.Redirect("/ftp", "ftp://127.0.0.1/x");
  server_.Redirect("/loop", "/loop");
  server_.SetHandler([](const ScriptedRequest& request) -> std::optional<ScriptedResponse> {
    // /chain/N redirects to /chain/N+1: eleven hops are one too many.
    if (request.target.rfind("/chain/", 0) != 0) return std::nullopt;
    int hop = std::stoi(request.target.substr(7));
    return Response::Redirect("/chain/" + std::to_string(hop + 1));
  });
  EXPECT_EQ(CauseOfFailure([&] { Get("passwd"); }), CInternetException::kRedirect);
  EXPECT_EQ(CauseOfFailure([&] { Get("ftp"); }), CInternetException::kRedirect);
  EXPECT_EQ(CauseOfFailure([&] { Get("loop"); }), CInternetException::kRedirect);
  EXPECT_EQ(CauseOfFailure([&] { Get("chain/0"); }), CInternetException::kRedirect);
  EXPECT_EQ(server_.requestCount("/chain/10"), 1u);
  EXPECT_EQ(server_.requestCount("/chain/11"), 0u);
}

TEST_F(HttpLayerTest, SameServerRedirectsOnly_AreFollowedOnTheServerAndEndElsewhere) {
  ScriptedServer other;
  other.Set("/there.html", Response::Ok("over there"));
  const std::string port = std::to_string(server_.port());
  server_.Redirect("/a", "/b");
  server_.Set("/b", Response::Redirect("http://127.0.0.1:" + port + "/c", 301));
  server_.Set("/c", Response::Ok("final"));
  // Another port, another host name for the same address, another scheme, no server at all.
  Response away = Response::Redirect(other.url("/there.html"));
  away.body = "moved";
  server_.Set("/away", away);
  server_.Redirect("/byname", "http://localhost:" + port + "/c");
  server_.Redirect("/scheme", "https://127.0.0.1:" + port + "/c");
  server_.Redirect("/passwd", "file:///etc/passwd");
  server_.Redirect("/loop", "/loop");
  auto get = [&](const std::string& object) {
    std::unique_ptr<CHttpFile> file = Open(Connection(), object);
    file->SetSameServerRedirectsOnly(true);
    file->SendRequest();
    return file;
  };
  std::unique_ptr<CHttpFile> file = get("a");
  EXPECT_EQ(file->QueryStatusCode(), 200);
  EXPECT_EQ(ReadAll(*file), "final");
  // The redirect that leaves the server is the answer, body and all.
  file = get("away");
  EXPECT_EQ(file->QueryStatusCode(), 302);
  std::string location;
  EXPECT_TRUE(file->QueryHeader("Location", &location));
  EXPECT_EQ(ReadAll(*file), "moved");
  for (const char* object : {"byname", "scheme", "passwd"}) {
    file = get(object);
    EXPECT_EQ(file->QueryStatusCode(), 302) << object;
  }
  file.reset();
  EXPECT_EQ(other.requestCount(), 0u);
  EXPECT_EQ(server_.requestCount("/c"), 1u);
  EXPECT_EQ(CauseOfFailure([&] { get("loop"); }), CInternetException::kRedirect);
  EXPECT_EQ(server_.requestCount("/loop"), 11u);
  // Without the setting the same request goes to the other server.
  EXPECT_EQ(Fetch("away"), "over there");
}

TEST_F(HttpLayerTest, Proxy_ReceivesEveryRequestWithTheAbsoluteUrl) {
  UseSession("agent", "127.0.0.1:" + std::to_string(server_.port()));
  server_.Set("http://example.invalid:8080/dir/a.html", Response::Ok("via proxy"));
  std::unique_ptr<CHttpConnection> connection(session_->GetHttpConnection("example.invalid", 8080));
  std::unique_ptr<CHttpFile> file = Open(*connection, "dir/a.html");
  file->SendRequest();
  EXPECT_EQ(file->QueryStatusCode(), 200);
  EXPECT_EQ(ReadAll(*file), "via proxy");
  file.reset();
  ASSERT_EQ(server_.requestCount(), 1u);
  ScriptedRequest request = server_.requests()[0];
  EXPECT_EQ(request.target, "http://example.invalid:8080/dir/a.html");
  EXPECT_EQ(request.Header("Host"), "example.invalid:8080");
  EXPECT_EQ(request.Header("User-Agent"), "agent");
}

TEST_F(HttpLayerTest, DirectSession_IgnoresProxyEnvironment) {
  ClosedPort deadProxy;
  std::string proxy = "http://127.0.0.1:" + std::to_string(deadProxy.port());
  setenv("http_proxy", proxy.c_str(), 1);
  setenv("HTTP_PROXY", proxy.c_str(), 1);
  server_.Set("/a", Response::Ok("direct"));
  std::string body = Fetch("a");
  unsetenv("http_proxy");
  unsetenv("HTTP_PROXY");
  EXPECT_EQ(body, "direct");
}

TEST_F(HttpLayerTest, LargeBody_IsReadInBlocksWithBoundedMemory) {
  constexpr uint64_t kLength = 200ull << 20;
  constexpr unsigned kBlock = 16 * 1024;
  server_.Set("/big.zip", Response::Generated(kLength));
  std::unique_ptr<CHttpFile> file = Get("big.zip");
  int32_t announced = 0;
  ASSERT_TRUE(file->QueryContentLength(&announced));
  EXPECT_EQ(static_cast<uint64_t>(announced), kLength);
  std::vector<char> block(kBlock);
  uint64_t offset = 0;
  bool intact = true;
  while (int count = file->Read(block.data(), kBlock)) {
    if (offset + count < kLength) {
      ASSERT_EQ(count, static_cast<int>(kBlock));
    }
    intact = intact && GeneratedBody::Matches(offset, block.data(), static_cast<size_t>(count));
    offset += static_cast<uint64_t>(count);
  }
  EXPECT_EQ(offset, kLength);
  EXPECT_TRUE(intact);
  EXPECT_GT(file->BufferedBytesHighWater(), 0u);
  EXPECT_LE(file->BufferedBytesHighWater(), 128u * 1024);
}

TEST_F(HttpLayerTest, KeepAlive_SequentialRequestsShareOneConnection) {
  server_.Set("/a", Response::Ok("aaa"));
  server_.Set("/b", Response::Ok("bbb"));
  EXPECT_EQ(Fetch("a"), "aaa");
  EXPECT_EQ(Fetch("b"), "bbb");
  // An HTTP/1.0 answer that promises keep-alive keeps the connection as well.
  ScriptedResponse old = Response::Ok("ccc");
  old.version = "HTTP/1.0";
  server_.Set("/old-style", old);
  EXPECT_EQ(Fetch("old-style"), "ccc");
  EXPECT_EQ(Fetch("a"), "aaa");
  EXPECT_EQ(server_.requestCount(), 4u);
  EXPECT_EQ(server_.connectionCount(), 1);
}

TEST_F(HttpLayerTest, KeepAlive_UnreadBodyClosesItsConnection) {
  server_.Set("/big", Response::Generated(16 << 20));
  server_.Set("/small", Response::Ok("small"));
  std::unique_ptr<CHttpFile> big = Get("big");
  char block[4096];
  ASSERT_EQ(big->Read(block, sizeof block), 4096);
  big->Close();
  ASSERT_TRUE(server_.WaitForOpenConnections(0));  // not drained: closed
  EXPECT_EQ(Fetch("small"), "small");
  EXPECT_EQ(Fetch("small"), "small");
  EXPECT_EQ(server_.connectionCount(), 2);
}

TEST_F(HttpLayerTest, TwoRequestsOpenAtOnce_ProceedIndependently) {
  constexpr uint64_t kLength = 4 << 20;
  server_.Set("/page.html", Response::Generated(kLength));
  server_.Set("/dir/index.html", Response::Ok("index"));
  server_.Set("/dir/index.htm", Response::Status(404));
  std::unique_ptr<CHttpFile> page = Get("page.html");
  std::vector<char> block(8192);
  ASSERT_EQ(page->Read(block.data(), 8192), 8192);
  ASSERT_TRUE(GeneratedBody::Matches(0, block.data(), 8192));

  std::unique_ptr<CHttpFile> probe = Get("dir/index.html");
  EXPECT_EQ(probe->QueryStatusCode(), 200);
  EXPECT_EQ(ReadAll(*probe), "index");
  probe.reset();
  EXPECT_EQ(Get("dir/index.htm")->QueryStatusCode(), 404);

  uint64_t offset = 8192;
  bool intact = true;
  while (int count = page->Read(block.data(), 8192)) {
    intact = intact && GeneratedBody::Matches(offset, block.data(), static_cast<size_t>(count));
    offset += static_cast<uint64_t>(count);
  }
  EXPECT_EQ(offset, kLength);
  EXPECT_TRUE(intact);
  EXPECT_LE(page->BufferedBytesHighWater(), 128u * 1024);
  EXPECT_GE(server_.connectionCount(), 2);
}

TEST_F(HttpLayerTest, InterimResponse_IsSkippedForTheFinalOne) {
  server_.Set("/a", Response::Raw("HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n"
                                  "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nbody"));
  std::unique_ptr<CHttpFile> file = Get("a");
  EXPECT_EQ(file->QueryStatusCode(), 200);
  std::string value;
  EXPECT_FALSE(file->QueryHeader("X-Interim", &value));
  EXPECT_EQ(ReadAll(*file), "body");
}

}  // namespace
