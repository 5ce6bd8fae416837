// What "harvo mirror" does without being told (robots.txt obeyed, every type copied) and with
// --no-robots, --pages-only, --plain and the limits, through the built binary.
#include <filesystem>
#include <string>

#include "cli_fixture.h"
#include "support/scripted_server.h"

namespace {

namespace fs = std::filesystem;
using R = ScriptedResponse;

class DefaultsTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    server_.Set("/robots.txt", R::Ok("User-agent: *\nDisallow: /private/\n"));
    server_.Set("/index.html",
                R::Ok("<a href=pub.html>p</a> <a href=private/a.html>a</a> <img src=dot.gif>"));
    server_.Set("/pub.html", R::Ok("pub"));
    server_.Set("/private/a.html", R::Ok("private"));
    server_.Set("/dot.gif", R::Ok("GIF89a"));
  }
  static bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
  bool Saved(const std::string& relative) const {
    return fs::is_regular_file(work_ / ("out/127.0.0.1/" + relative));
  }

  ScriptedServer server_;
};

TEST_F(DefaultsTest, RobotsTxtIsObeyedUnlessNoRobots) {
  ChildResult r = Harvo({"mirror", server_.url("/index.html"), "-o", "out"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_EQ(server_.requestCount("/robots.txt"), 1u);
  EXPECT_EQ(server_.requestCount("/private/a.html"), 0u);
  EXPECT_TRUE(Saved("pub.html"));
  EXPECT_FALSE(Saved("private/a.html"));
  EXPECT_FALSE(Saved("robots.txt"));

  r = Harvo({"mirror", server_.url("/index.html"), "-o", "out", "--no-robots"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_EQ(server_.requestCount("/robots.txt"), 1u);  // not asked again
  EXPECT_EQ(server_.requestCount("/private/a.html"), 1u);
  EXPECT_TRUE(Saved("private/a.html"));
}

TEST_F(DefaultsTest, EveryTypeByDefaultPagesOnlyWhenAskedOrPlain) {
  ChildResult r = Harvo({"mirror", server_.url("/index.html"), "-o", "out"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_TRUE(Saved("dot.gif"));

  fs::remove_all(work_ / "out");
  r = Harvo({"mirror", server_.url("/index.html"), "-o", "out", "--pages-only"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_TRUE(Saved("pub.html"));
  EXPECT_FALSE(Saved("dot.gif"));
  EXPECT_EQ(server_.requestCount("/robots.txt"), 2u);

  // The library's own walk: pages only, and no robots.txt.
  fs::remove_all(work_ / "out");
  r = Harvo({"mirror", server_.url("/index.html"), "-o", "out", "--plain"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_TRUE(Saved("private/a.html"));
  EXPECT_FALSE(Saved("dot.gif"));
  EXPECT_EQ(server_.requestCount("/robots.txt"), 2u);
}

TEST_F(DefaultsTest, MaxFilesEndsTheCopyWithStatusThreeAndSaysWhy) {
  ChildResult r = Harvo({"mirror", server_.url("/index.html"), "-o", "out", "--max-files", "2"});
  EXPECT_EQ(r.exitStatus, 3) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "saved:      2 files")) << r.out;
  EXPECT_TRUE(Contains(r.out, "stopped by the --max-files 2 limit")) << r.out;
  EXPECT_FALSE(Saved("dot.gif"));
}

TEST_F(DefaultsTest, MaxSizeEndsAnEndlessFile) {
  server_.Set("/index.html", R::Ok("<a href=endless.bin>e</a>"));
  server_.Set("/endless.bin", R::Endless());
  ChildResult r = Harvo({"mirror", server_.url("/index.html"), "-o", "out", "--max-size", "200K"});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitStatus, 3) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "stopped by the --max-size 200K limit")) << r.out;
}

TEST_F(DefaultsTest, MaxTimeEndsACopyThatAServerStalls) {
  server_.Set("/pub.html", R::Ok("pub").StallBeforeStatus());
  ChildResult r = Harvo({"mirror", server_.url("/index.html"), "-o", "out", "--max-time", "1s"});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitStatus, 3) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "Stopped by the --max-time 1s limit: the copy is incomplete."))
      << r.out;
  EXPECT_TRUE(Saved("index.html"));
}

TEST_F(DefaultsTest, InsecureIsSaidOnceAndPlainRefusesIt) {
  ChildResult r = Harvo({"mirror", server_.url("/index.html"), "-o", "out", "--insecure"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "--insecure")) << r.err;
  EXPECT_EQ(r.err.find("--insecure"), r.err.rfind("--insecure")) << r.err;
  r = Harvo({"mirror", server_.url("/index.html"), "--plain", "--insecure"});
  EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
}

}  // namespace
