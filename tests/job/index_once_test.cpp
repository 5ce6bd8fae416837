// Index look-ups of server folders: asked again for every link and every walk into a folder, or
// once per folder and job with HVR_OPT_INDEX_ONCE.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "harvo.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;
using Counts = std::map<std::string, size_t>;

class IndexOnceTest : public ::testing::Test {
 protected:
  // A root page and a page in sub/ that name sub/ in every form a link can take (relative,
  // "./", "../", absolute), and other/, whose .htaccess names its index. Returns the requests
  // per target and the saved copy of sub/a.html.
  std::pair<Counts, std::string> Copy(int32_t options) {
    ScriptedServer server;
    server.Set("/index.html", R::Ok("<a href=sub/><a href=sub/a.html><a href=other/>"));
    server.Set("/sub/a.html", R::Ok("<a href=./><a href=../sub/><a href=\"" + server.url("/sub/") +
                                    "\"><a href=../other/>"));
    server.Set("/sub/index.html", R::Ok("sub index"));
    server.Set("/other/.htaccess", R::Ok("DirectoryIndex start.html\n"));
    server.Set("/other/start.html", R::Ok("other index"));
    TempDir dir;
    HvrJobInfo job = MakeJob(server.url("/"), dir.path());
    job.Options = options;
    TestHandle handle;
    auto outcome = handle.Run(&job);
    EXPECT_EQ(outcome.failed, 0);
    EXPECT_EQ(outcome.restored, 4);
    Counts counts;
    for (const std::string& target : server.requestTargets()) ++counts[target];
    return {counts, ReadFileText(dir / "127.0.0.1/sub/a.html")};
  }
};

TEST_F(IndexOnceTest, EachFolderIsLookedUpOnce) {
  auto [counts, page] = Copy(HVR_OPT_INDEX_ONCE);
  // One look-up per folder; sub/index.html is asked twice: the probe and the file itself.
  EXPECT_EQ(counts, (Counts{{"/.htaccess", 1},
                            {"/index.html", 2},
                            {"/sub/.htaccess", 1},
                            {"/sub/index.html", 2},
                            {"/sub/a.html", 1},
                            {"/other/.htaccess", 1},
                            {"/other/start.html", 1}}));
  // The copy is the same as without the look-ups saved.
  EXPECT_EQ(page, Copy(0).second);
  EXPECT_EQ(page,
            "<a href=./index.html><a href=../sub/index.html><a href=\"../sub/index.html\">"
            "<a href=../other/start.html>");
}

TEST_F(IndexOnceTest, WithoutTheOptionEveryLinkAndWalkLooksUpAgain) {
  auto [counts, page] = Copy(0);
  // sub/: the root page's link, the walk into it, and each of sub/a.html's three links.
  EXPECT_EQ(counts, (Counts{{"/.htaccess", 1},
                            {"/index.html", 2},
                            {"/sub/.htaccess", 5},
                            {"/sub/index.html", 6},
                            {"/sub/a.html", 1},
                            {"/other/.htaccess", 3},
                            {"/other/start.html", 1}}));
}

}  // namespace
