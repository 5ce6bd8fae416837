// "harvo bookmarks" and "harvo multi" through the built binary, on bookmark stores in a
// Wine-style prefix and in a Netscape file, with the scripted server for the copies.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "support/scripted_server.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class BookmarksTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    fs::create_directories(prefix_ / "drive_c/users/tester");
    fs::create_directories(prefix_ / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix_ / "dosdevices/c:");
  }

  // The user's registry with the Favorites folder at its usual place.
  void UseFavorites() {
    WriteFileText(prefix_ / "user.reg",
                  "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0\n\n"
                  "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\User Shell "
                  "Folders] 1700000000\n\"Favorites\"=str(2):\"%USERPROFILE%\\\\Favorites\"\n\n");
  }
  void Shortcut(const std::string& relative, const std::string& url) {
    WriteFileText(prefix_ / ("drive_c/users/tester/Favorites/" + relative),
                  "[InternetShortcut]\r\nURL=" + url + "\r\n");
  }
  // A Netscape bookmark file in the working folder with one line per entry.
  void NetscapeFile(const std::string& name, const std::vector<std::string>& entries) {
    std::string text = "<DL><p>\n";
    for (const std::string& entry : entries) text += entry + "\n";
    WriteFileText(work_ / name, text + "</DL><p>\n");
  }
  // The child sees this prefix and user; nothing else of the machine's.
  ChildResult Run(const std::vector<std::string>& args) {
    return Harvo(args, {"USER=tester", "USERPROFILE", "APPDATA"});
  }
};

TEST_F(BookmarksTest, JsonListsEveryStoreInOrderWithSafeStrings) {
  UseFavorites();
  Shortcut("Home.url", "http://home.example/");
  Shortcut("Bad\x1bTitle.url", "http://bad.example/?a=1&b=2");
  Shortcut("News/Daily.url", "http://daily.example/");
  NetscapeFile("ns.htm", {"<DT><H3>Tools</H3>", "<DL><p>",
                          "<DT><A HREF=\"http://q.example/\">Say \"hi\" \\ there</A>", "</DL><p>",
                          "<DT><A HREF=\"http://jp.example/\">\x93\xfa\x96\x7b</A>"});

  ChildResult r = Run({"bookmarks", "--json", "--favorites", "--netscape", "ns.htm"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out,
            "[\n"
            "  {\"number\": 1, \"folder\": \"IE/\", \"title\": \"Bad\\u001bTitle\", \"url\": "
            "\"http://bad.example/?a=1&b=2\"},\n"
            "  {\"number\": 2, \"folder\": \"IE/\", \"title\": \"Home\", \"url\": "
            "\"http://home.example/\"},\n"
            "  {\"number\": 3, \"folder\": \"IE/News/\", \"title\": \"Daily\", \"url\": "
            "\"http://daily.example/\"},\n"
            "  {\"number\": 4, \"folder\": \"Netscape/Tools/\", \"title\": \"Say \\\"hi\\\" \\\\ "
            "there\", \"url\": \"http://q.example/\"},\n"
            "  {\"number\": 5, \"folder\": \"Netscape/\", \"title\": \"\\u0093\\u00fa\\u0096{\", "
            "\"url\": \"http://jp.example/\"}\n"
            "]\n");

  // No store chosen: every store that exists (here only the Favorites), with one root label.
  r = Run({"bookmarks", "--json", "--root", "Mine"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("{\"number\": 3, \"folder\": \"Mine/News/\", \"title\": \"Daily\""),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("\"number\": 4"), std::string::npos) << r.out;

  // Nothing found: an empty array for scripts, a sentence for people.
  r = Run({"bookmarks", "--json", "--opera"});
  EXPECT_EQ(r.out, "[]\n");
  r = Run({"bookmarks", "--mosaic"});
  EXPECT_EQ(r.out, "No bookmarks found.\n");
}

TEST_F(BookmarksTest, ListingEscapesControlCharactersAndNumbersEntries) {
  UseFavorites();
  Shortcut("Bad\x1b[2JTitle.url", "http://bad.example/");
  Shortcut("Good.url", "http://good.example/\x7f");
  ChildResult r = Run({"bookmarks"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out,
            "1. IE/ | Bad\\x1B[2JTitle | http://bad.example/\n"
            "2. IE/ | Good | http://good.example/\\x7F\n");
}

TEST_F(BookmarksTest, MultiCopiesTheChosenSitesOneAfterTheOther) {
  ScriptedServer server;
  for (const char* site : {"one", "two", "three"}) {
    std::string dir = std::string("/") + site + "/";
    server.Set(dir + "start.html", ScriptedResponse::Ok("<a href=\"page.html\">page</a>"
                                                        "<a href=\"gone.html\">gone</a>"));
    server.Set(dir + "page.html", ScriptedResponse::Ok("<p>" + std::string(site) + "</p>"));
  }
  server.Set("/one/gone.html", ScriptedResponse::Ok("<p>here after all</p>"));
  NetscapeFile("ns.htm", {"<DT><A HREF=\"" + server.url("/one/start.html") + "\">One</A>",
                          "<DT><A HREF=\"" + server.url("/two/start.html") + "\">Two</A>",
                          "<DT><A HREF=\"" + server.url("/three/start.html") + "\">Three</A>"});

  // At idle priority the worker leaves the progress time to look at each file: the lines below
  // name a file only when a look falls while it is under way.
  ChildResult r = Run({"multi", "--netscape", "ns.htm", "--select", "1,3", "-o", "out", "--log",
                       "logs/run.log", "--interval", "300", "--idle"});
  EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;  // three/gone.html is missing

  // One site after the other, the unchosen one never asked for.
  std::vector<std::string> targets = server.requestTargets();
  size_t lastOne = 0;
  size_t firstThree = targets.size();
  for (size_t i = 0; i < targets.size(); ++i) {
    EXPECT_EQ(targets[i].find("/two/"), std::string::npos) << targets[i];
    if (targets[i].find("/one/") == 0) lastOne = i;
    if (targets[i].find("/three/") == 0 && firstThree == targets.size()) firstThree = i;
  }
  EXPECT_LT(lastOne, firstThree);
  EXPECT_TRUE(fs::is_regular_file(work_ / "out/127.0.0.1/one/gone.html"));
  EXPECT_TRUE(fs::is_regular_file(work_ / "out/127.0.0.1/three/page.html"));
  EXPECT_FALSE(fs::exists(work_ / "out/127.0.0.1/two"));
  EXPECT_NE(ReadFileText(work_ / "logs/run-1.log").find("one/page.html"), std::string::npos);
  EXPECT_NE(ReadFileText(work_ / "logs/run-3.log").find("three/page.html"), std::string::npos);

  // The progress names each site as it crawls; the summary takes them in turn.
  EXPECT_NE(r.out.find("[1/2 One] saved  /one/start.html"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[2/2 Three] saved  /three/start.html"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1. One <" + server.url("/one/start.html") +
                       ">\n  copy in:    out/127.0.0.1/\n  saved:      3 files\n"
                       "  failed:     0 files\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("3. Three <" + server.url("/three/start.html") +
                       ">\n  copy in:    out/127.0.0.1/\n  saved:      2 files\n"
                       "  failed:     1 file\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("failed files:\n    /three/gone.html (HTTP status 404)\n2 sites (1 with "
                       "failures): 5 files "
                       "saved, 1 file failed"),
            std::string::npos)
      << r.out;
}

TEST_F(BookmarksTest, MultiThatCannotStartSaysWhichEntryAndEndsWithStatusTwo) {
  ScriptedServer server;
  NetscapeFile("ns.htm", {"<DT><A HREF=\"" + server.url("/a/") + "\">A</A>",
                          "<DT><A HREF=\"http://\">No server</A>",
                          "<DT><A HREF=\"" + server.url("/c/") + "\">C</A>"});
  ChildResult r = Run({"multi", "--netscape", "ns.htm", "--all", "-o", "out"});
  EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("cannot start the multi-site run"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("2. http://: 0x80000300"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("3. "), std::string::npos) << r.err;  // never got as far as this one
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(BookmarksTest, MultiStopsEverySiteOnCtrlC) {
  ScriptedServer server;
  server.Set("/a/start.html", ScriptedResponse::Ok("<a href=\"slow.html\">slow</a>"));
  server.Set("/a/slow.html", ScriptedResponse::Ok("never").StallBeforeStatus());
  server.Set("/b/start.html", ScriptedResponse::Ok("<a href=\"more.html\">more</a>"));
  server.Set("/b/more.html", ScriptedResponse::Ok("more"));
  NetscapeFile("ns.htm", {"<DT><A HREF=\"" + server.url("/a/start.html") + "\">A</A>",
                          "<DT><A HREF=\"" + server.url("/b/start.html") + "\">B</A>"});

  ChildProcess child(Command({"multi", "--netscape", "ns.htm", "--all", "-o", "out"}),
                     Env({"USER=tester"}), work_.path());
  ASSERT_TRUE(server.WaitForStalls(1));
  auto sent = std::chrono::steady_clock::now();
  child.Signal(SIGINT);
  ChildResult r = child.Wait(10s);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
  EXPECT_EQ(r.exitStatus, 130) << r.out << r.err;
  EXPECT_NE(r.out.find("Stopped by SIGINT: the copy is incomplete."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2 sites"), std::string::npos) << r.out;
  // A stopped run asks each later site for its start page only.
  EXPECT_EQ(server.requestCount("/b/more.html"), 0u);
}

}  // namespace
