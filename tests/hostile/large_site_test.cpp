// One page with 100,000 links to distinct pages: every page is requested once, saved once where
// its URL says, and counted once.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "harvo.h"
#include "hostile_support.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;

// Pages lie in a tree of folders, a thousand to a folder.
std::string PagePath(int n) {
  return "p/" + std::to_string(n / 1000) + "/" + std::to_string(n) + ".html";
}

TEST(LargeSiteTest, AnIndexOf100000LinksIsCopiedPageForPage) {
  const int pages = hostile::kSanitized ? 10000 : 100000;
  std::string index = "<html><body>\n";
  // Every link twice: the second occurrence is already listed and changes nothing.
  for (int pass = 0; pass < 2; ++pass) {
    for (int n = 0; n < pages; ++n)
      index += "<a href=\"" + PagePath(n) + "\">" + std::to_string(n) + "</a>\n";
  }
  index += "</body></html>\n";
  ScriptedServer server;
  server.SetHandler([&](const ScriptedRequest& r) -> std::optional<ScriptedResponse> {
    if (r.target == "/index.html") return R::Ok(index).LastModified(1600000000);
    int folder = -1, n = -1;
    char tail = 0;
    if (std::sscanf(r.target.c_str(), "/p/%d/%d.htm%c", &folder, &n, &tail) != 3 || tail != 'l' ||
        n < 0 || n >= pages || folder != n / 1000) {
      return std::nullopt;
    }
    // Each page links back to the index and to its neighbours, which are all listed already.
    std::string body = "page " + std::to_string(n) + " <a href=\"../../index.html\">up</a>";
    if (n + 1 < pages) body += " <a href=\"../../" + PagePath(n + 1) + "\">next</a>";
    return R::Ok(body).LastModified(1600000000);
  });
  TempDir save;
  HvrJobInfo job = MakeJob(server.url("/index.html"), save.path(), false);
  TestHandle handle;
  int slot = -1;
  ASSERT_EQ(handle.Start(&job, &slot), 0);
  ASSERT_TRUE(handle.WaitIdle(std::chrono::minutes(10)));
  EXPECT_EQ(HvrGetDLRestoredNum(handle.get(), slot), pages + 1);
  EXPECT_EQ(HvrGetDLFailedNum(handle.get(), slot), 0);
  EXPECT_EQ(job.Error, 0);
  HvrEnd(handle.get(), &job, slot);

  EXPECT_EQ(server.requestCount(), static_cast<size_t>(pages) + 1);
  const std::string site = save / "127.0.0.1/";
  auto files = hostile::FilesBelow(site);
  EXPECT_EQ(files.size(), static_cast<size_t>(pages) + 1);
  int wrong = 0;
  for (int n = 0; n < pages; ++n) {
    std::string text = ReadFileText(site + PagePath(n));
    if (text.rfind("page " + std::to_string(n) + " ", 0) != 0) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(files.count("index.html"), 1u);
}

}  // namespace
