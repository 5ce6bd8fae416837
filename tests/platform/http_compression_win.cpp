// Compression over WinInet: large bodies asked for compressed must read whole whatever the
// transport reports of the bytes received, and a body sent as it is still fails when it ends
// short.
#include <string>

#include "platform/http_fixture.h"
#include "support/gzip_body.h"

namespace {

using Response = ScriptedResponse;

std::unique_ptr<CHttpFile> Compressed(std::unique_ptr<CHttpFile> file) {
  file->SetAcceptEncoding(true);
  file->SendRequest();
  return file;
}

TEST_F(HttpLayerTest, AcceptEncoding_LargeBodiesReadWholeWithTheGuardOn) {
  // Well past the guard's allowance, at about one decoded byte per byte received: no bomb.
  std::string page;
  for (int i = 0; page.size() < (3u << 20); ++i) page += "line " + std::to_string(i) + "\n";
  server_.Set("/plain.txt", Response::Ok(page));
  server_.Set("/stored.txt", Response::Ok(GzipStored(page)).Header("Content-Encoding", "gzip"));
  // No length: the body ends with the connection.
  server_.Set(
      "/unsized.txt",
      Response::Ok(GzipStored(page)).Header("Content-Encoding", "gzip").NoContentLength().Close());
  for (const char* object : {"plain.txt", "stored.txt", "unsized.txt"}) {
    std::unique_ptr<CHttpFile> file = Compressed(Open(Connection(), object));
    std::string body;
    try {
      body = ReadAll(*file, 16384);
    } catch (const CInternetException& e) {
      ADD_FAILURE() << object << ": " << e.what();
    }
    EXPECT_EQ(body.size(), page.size()) << object;
    EXPECT_TRUE(body == page) << object;
  }
}

TEST_F(HttpLayerTest, AcceptEncoding_APlainBodyThatEndsShortStillFails) {
  const std::string page(200000, 'p');
  server_.Set("/short.txt", Response::Ok(page).AnnounceLength(400000));
  std::unique_ptr<CHttpFile> file = Compressed(Open(Connection(), "short.txt"));
  std::string message;
  try {
    ReadAll(*file);
  } catch (const CInternetException& e) {
    message = e.what();
  }
  EXPECT_NE(message.find("before the announced end"), std::string::npos) << message;
}

}  // namespace
