// The session's extra headers through the exports on the WinInet transport, without the
// cookie file that it refuses: every request of a job carries them, replacing the request's
// own header of the same name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harvo.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

TEST(SessionHeadersTest, ExtraHeadersGoWithEveryRequestOfAJob) {
  ScriptedServer server;
  server.Set("/index.html", ScriptedResponse::Ok("<a href=\"sub/\">s</a>"));
  server.Set("/sub/index.html", ScriptedResponse::Ok("<p>member page</p>"));
  TempDir out;
  HvrOpenInfo info;
  info.Agent = "harvo-test";
  info.ConnectTimeout = 5000;
  info.Headers = {"Authorization: Bearer t0k3n", "Accept: text/html"};
  KtWdlManager* handle = nullptr;
  ASSERT_EQ(HvrOpen(&handle, &info), 0);
  HvrJobInfo job = MakeJob(server.url("/index.html"), out.path());
  int index = -1;
  ASSERT_EQ(HvrStart(&handle, &job, &index), 0);
  const bool ended = WaitFor([&] { return HvrIsDL(&handle, index) == 0; }, std::chrono::minutes(5));
  HvrEnd(&handle, &job, index);
  HvrClose(&handle, &info);
  ASSERT_TRUE(ended);
  EXPECT_EQ(ReadFileText(out / "127.0.0.1/sub/index.html"), "<p>member page</p>");

  const std::vector<ScriptedRequest> requests = server.requests();
  ASSERT_GE(requests.size(), 2u);  // the page and the folder's index page at least
  for (const ScriptedRequest& request : requests) {
    EXPECT_EQ(request.Header("Authorization"), "Bearer t0k3n") << request.target;
    EXPECT_EQ(request.Header("Accept"), "text/html") << request.target;
    EXPECT_EQ(request.HeaderCount("Accept"), 1u) << request.target;
    EXPECT_EQ(request.HeaderCount("Cookie"), 0u) << request.target;
  }
}

}  // namespace
