// The HTTP layer when things go wrong: cancellation, stalls, resets, lying lengths, malformed
// responses and unreachable servers. Every case must end in bounded time with a
// CInternetException (or, for a cancelled read, with what had arrived).
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/http_fixture.h"

namespace {

using Response = ScriptedResponse;

// Turns the cancel flag on from another thread once ready() returned, and tells how long ago.
class Canceller {
 public:
  Canceller(std::atomic<bool>& flag, std::function<bool()> ready)
      : thread_([this, &flag, ready = std::move(ready)] {
          readied_ = ready();
          at_ = std::chrono::steady_clock::now();
          flag = true;
        }) {}
  ~Canceller() { Join(); }
  // Seconds from the flag turning true until now; also fails when ready() never held.
  double SecondsSinceCancel() {
    Join();
    EXPECT_TRUE(readied_) << "the server never reached the awaited state";
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - at_).count();
  }

 private:
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool readied_ = false;
  std::chrono::steady_clock::time_point at_;
  std::thread thread_;
};

TEST_F(HttpLayerTest, Cancel_EndsAStalledHeaderWaitSoon) {
  server_.Set("/slow.html", Response::Ok("late").StallBeforeStatus());
  std::unique_ptr<CHttpFile> file = Open(Connection(), "slow.html");
  Canceller canceller(cancel_, [&] { return server_.WaitForRequests(1); });
  EXPECT_EQ(CauseOfFailure([&] { file->SendRequest(); }), CInternetException::kCancelled);
  double waited = canceller.SecondsSinceCancel();
  EXPECT_LT(waited, 2.0);
  EXPECT_GE(waited, 0.3);  // a grace for responsive servers, not an instant abort
  file.reset();
  EXPECT_TRUE(server_.WaitForOpenConnections(0));
}

TEST_F(HttpLayerTest, Cancel_EndsAStalledBodyReadWithWhatArrived) {
  server_.Set("/page.html", Response::Ok(std::string(100000, 'x')).StallAfter(1000));
  std::unique_ptr<CHttpFile> file = Get("page.html");
  Canceller canceller(cancel_, [&] { return server_.WaitForStalls(1); });
  char block[4096];
  EXPECT_EQ(file->Read(block, sizeof block), 1000);
  EXPECT_LT(canceller.SecondsSinceCancel(), 2.0);
  Clock::time_point again = Clock::now();
  EXPECT_EQ(file->Read(block, sizeof block), 0);  // the end, at once
  EXPECT_LT(SecondsSince(again), 0.3);
}

TEST_F(HttpLayerTest, Cancel_RequestStartedAfterwardsStillCompletes) {
  cancel_ = true;
  server_.Set("/index.html", Response::Ok("start page"));
  std::unique_ptr<CHttpFile> file = Get("index.html");
  EXPECT_EQ(file->QueryStatusCode(), 200);
  EXPECT_EQ(ReadAll(*file), "start page");
}

TEST_F(HttpLayerTest, StallTimeout_FailsAServerThatStopsSending) {
  UseSession("agent", "");
  session_->SetStallTimeout(1);
  server_.Set("/body", Response::Ok(std::string(50000, 'b')).StallAfter(100));
  server_.Set("/head", Response::Ok("x").StallBeforeStatus());
  // Pieces 300 ms apart are slow, not stalled.
  server_.Set("/paced",
              Response::Ok(std::string(5000, 'p')).Paced(1000, std::chrono::milliseconds(300)));

  std::unique_ptr<CHttpFile> file = Get("body");
  Clock::time_point start = Clock::now();
  EXPECT_EQ(CauseOfFailure([&] { ReadAll(*file); }), CInternetException::kTimeout);
  EXPECT_GE(SecondsSince(start), 0.9);
  EXPECT_LT(SecondsSince(start), 5.0);
  file.reset();

  start = Clock::now();
  EXPECT_EQ(CauseOfFailure([&] { Get("head"); }), CInternetException::kTimeout);
  EXPECT_LT(SecondsSince(start), 5.0);

  EXPECT_EQ(Fetch("paced"), std::string(5000, 'p'));
}

TEST_F(HttpLayerTest, Reset_InTheHeadOrMidBodyFails) {
  server_.Set("/head", Response::Ok("x").ResetInHeaders());
  server_.Set("/body", Response::Ok(std::string(200000, 'r')).ResetAfter(1000));
  EXPECT_EQ(CauseOfFailure([&] { Get("head"); }), CInternetException::kProtocol);
  std::unique_ptr<CHttpFile> file = Get("body");
  EXPECT_EQ(CauseOfFailure([&] { ReadAll(*file); }), CInternetException::kProtocol);
}

TEST_F(HttpLayerTest, ContentLength_ShortBodyFailsAndExtraBytesAreNotBody) {
  server_.Set("/short", Response::Ok(std::string(1000, 's')).AnnounceLength(2000));
  server_.Set("/long", Response::Ok("helloEXTRA").AnnounceLength(5));
  std::unique_ptr<CHttpFile> file = Get("short");
  std::string received;
  EXPECT_EQ(CauseOfFailure([&] {
              char block[512];
              while (int count = file->Read(block, sizeof block)) received.append(block, count);
            }),
            CInternetException::kProtocol);
  EXPECT_EQ(received, std::string(1000, 's'));
  EXPECT_EQ(Fetch("long"), "hello");
}

TEST_F(HttpLayerTest, MalformedResponses_FailWithoutHanging) {
  std::string manyHeaders = "HTTP/1.1 200 OK\r\n";
  while (manyHeaders.size() < (1u << 20))
    manyHeaders += "X-Padding: " + std::string(100, 'p') + "\r\n";
  manyHeaders += "Content-Length: 2\r\n\r\nok";
  server_.Set("/garbage", Response::Raw("garbage\r\n\r\nmore garbage"));
  server_.Set("/http09", Response::Raw("<html>no status line</html>"));
  server_.Set("/many", Response::Raw(manyHeaders));
  server_.Set("/long", Response::Raw("HTTP/1.1 200 OK\r\nX-Long: " + std::string(1 << 20, 'l') +
                                     "\r\nContent-Length: 2\r\n\r\nok"));
  server_.Set("/empty", Response::Raw(""));
  for (const char* object : {"garbage", "http09", "many", "long", "empty"}) {
    SCOPED_TRACE(object);
    Clock::time_point start = Clock::now();
    EXPECT_NE(CauseOfFailure([&] { Get(object); }), CInternetException::kCancelled);
    EXPECT_LT(SecondsSince(start), 5.0);
  }
}

TEST_F(HttpLayerTest, RefusedConnection_FailsWithConnectAfterBoundedRetries) {
  ClosedPort closed;
  session_->SetConnectRetries(3);
  session_->SetConnectTimeout(2000);
  std::unique_ptr<CHttpConnection> connection(
      session_->GetHttpConnection("127.0.0.1", closed.port()));
  std::unique_ptr<CHttpFile> file = Open(*connection, "index.html");
  Clock::time_point start = Clock::now();
  EXPECT_EQ(CauseOfFailure([&] { file->SendRequest(); }), CInternetException::kConnect);
  EXPECT_LT(SecondsSince(start), 5.0);
}

TEST_F(HttpLayerTest, Misuse_FailsCleanly) {
  server_.Set("/a", Response::Ok("still readable"));
  EXPECT_EQ(CauseOfFailure([&] { session_->GetHttpConnection("", 80); }),
            CInternetException::kConnect);

  std::unique_ptr<CHttpFile> unsent = Open(Connection(), "a");
  char block[64];
  EXPECT_EQ(CauseOfFailure([&] { unsent->Read(block, sizeof block); }), CInternetException::kOther);
  unsent.reset();

  // A request that outlives its connection stays usable.
  std::unique_ptr<CHttpFile> file = Get("a");
  connection_.reset();
  EXPECT_EQ(ReadAll(*file), "still readable");
}

}  // namespace
