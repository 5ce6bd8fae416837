// "harvo mirror" end to end through the built binary: nginx and the scripted server on loopback.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "cli_fixture.h"
#include "support/nginx_server.h"
#include "support/scripted_server.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class MirrorTest : public CliTest {
 protected:
  static bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
  std::string Saved(const std::string& relative) const {
    return work_ / ("out/127.0.0.1/" + relative);
  }
};

TEST_F(MirrorTest, CopiesASiteAndSaysSoWithStatusZero) {
  TempDir site;
  WriteFileText(site / "index.html",
                "<html><body><a href=\"a.html\">a</a> <a href=\"sub/\">sub</a>\n"
                "<img src=\"img/dot.gif\"> <a href=\"http://203.0.113.9/away.html\">away</a>\n"
                "<a href=\"notes.txt\">not wanted</a></body></html>\n");
  WriteFileText(site / "a.html", "<p>a, back to <a href=\"index.html\">the start</a></p>\n");
  WriteFileText(site / "sub/index.html", "<p>sub <a href=\"../a.html\">a</a></p>\n");
  WriteFileText(site / "img/dot.gif", std::string("GIF89a\1\0\1\0\0\0\0;", 13));
  WriteFileText(site / "notes.txt", "text\n");
  NginxServer nginx(site.path());

  // Folder links (sub/) are followed only with every type wanted.
  ChildResult r = Harvo({"mirror", nginx.url("/"), "-o", "out", "--all-types", "--exclude", "txt",
                         "--log", "logs/job.log"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "Copy of " + nginx.url("/"))) << r.out;
  EXPECT_TRUE(Contains(r.out, "copy in:    out/127.0.0.1/")) << r.out;
  EXPECT_TRUE(Contains(r.out, "saved:      4 files")) << r.out;
  EXPECT_TRUE(Contains(r.out, "failed:     0 files")) << r.out;
  EXPECT_TRUE(Contains(r.out, "last error: none")) << r.out;
  EXPECT_FALSE(Contains(r.out, "failed files")) << r.out;
  // Not a terminal: no status line, so no control sequence at all.
  EXPECT_FALSE(Contains(r.out, "\x1b")) << r.out;
  EXPECT_FALSE(Contains(r.out, "\r")) << r.out;

  EXPECT_TRUE(fs::is_regular_file(Saved("index.html")));
  EXPECT_TRUE(fs::is_regular_file(Saved("a.html")));
  EXPECT_TRUE(fs::is_regular_file(Saved("sub/index.html")));
  EXPECT_EQ(ReadFileText(Saved("img/dot.gif")), std::string("GIF89a\1\0\1\0\0\0\0;", 13));
  EXPECT_FALSE(fs::exists(Saved("notes.txt")));
  EXPECT_FALSE(fs::exists(work_ / "out/203.0.113.9"));

  std::string log = ReadFileText(work_ / "logs/job.log");
  EXPECT_TRUE(Contains(log, "*** Log Start ***")) << log;
  EXPECT_TRUE(Contains(log, "*** Log End ***")) << log;
  EXPECT_TRUE(Contains(log, "img/dot.gif")) << log;
}

TEST_F(MirrorTest, FailedFileGivesStatusOneAndIsNamed) {
  ScriptedServer server;
  server.Set("/index.html",
             ScriptedResponse::Ok("<a href=\"ok.html\">ok</a> <a href=\"gone.html\">gone</a>"));
  server.Set("/ok.html", ScriptedResponse::Ok("<p>ok</p>"));  // gone.html: 404

  ChildResult r = Harvo({"mirror", server.url("/"), "-o", "out"});
  EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "saved:      2 files")) << r.out;
  EXPECT_TRUE(Contains(r.out, "failed:     1 file\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "failed files:\n    /gone.html (HTTP status 404)\n")) << r.out;
  EXPECT_TRUE(Contains(r.out,
                       "last error: 0x80010000 (a file could not be requested or "
                       "received: HTTP status 404)"))
      << r.out;
  EXPECT_TRUE(fs::is_regular_file(Saved("ok.html")));
}

TEST_F(MirrorTest, ManyFailuresAreNamedAScreenfulAtATimeAndTheLastErrorIsAFailure) {
  ScriptedServer server;
  std::string page;
  for (int i = 0; i < 70; ++i) page += "<a href=\"gone" + std::to_string(i) + ".html\">x</a>";
  // The last file has no Last-Modified: a notice that must not hide the failures before it.
  page += "<a href=\"ok.html\">ok</a>";
  server.Set("/index.html", ScriptedResponse::Ok(page).LastModified(1600000000));
  server.Set("/ok.html", ScriptedResponse::Ok("<p>ok</p>"));

  ChildResult r = Harvo({"mirror", server.url("/"), "-o", "out", "--log", "logs/job.log"});
  EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "failed:     70 files\n")) << r.out;
  EXPECT_TRUE(Contains(r.out,
                       "    /gone49.html (HTTP status 404)\n"
                       "    and 20 more; see the log logs/job.log\n"))
      << r.out;
  // The summary's list stops at a screenful; a progress line before it may name any file (which
  // one depends on when the display looked).
  const size_t list = r.out.find("failed files:");
  ASSERT_NE(list, std::string::npos) << r.out;
  EXPECT_FALSE(Contains(r.out.substr(list), "/gone50.html")) << r.out;
  EXPECT_TRUE(Contains(r.out,
                       "last error: 0x80010000 (a file could not be requested or "
                       "received: HTTP status 404)"))
      << r.out;
  std::string log = ReadFileText(work_ / "logs/job.log");
  EXPECT_TRUE(Contains(log, "Error(80010000):gone69.html")) << log;
}

TEST_F(MirrorTest, LogThatCannotBeOpenedIsReportedAndTheJobRunsOn) {
  ScriptedServer server;
  server.Set("/index.html", ScriptedResponse::Ok("<p>one page</p>"));
  WriteFileText(work_ / "blocker", "a file where the log's folder should be");
  ChildResult r = Harvo({"mirror", server.url("/"), "-o", "out", "--log", "blocker/job.log"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("cannot open the log file blocker/job.log"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_regular_file(Saved("index.html")));
}

TEST_F(MirrorTest, StartPageThatFailsGivesStatusOne) {
  ScriptedServer server;  // nothing but 404
  ChildResult r = Harvo({"mirror", server.url("/dir/start.html"), "-o", "out", "--quiet"});
  EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "saved:      0 files")) << r.out;
  EXPECT_TRUE(Contains(r.out, "last error: 0x80010000")) << r.out;
  EXPECT_TRUE(Contains(r.out, "the start page could not be copied")) << r.out;
}

TEST_F(MirrorTest, ControlCharactersFromTheServerAreEscaped) {
  ScriptedServer server;
  // Kept in their code: the Japanese code detection would take ESC for the start of JIS text.
  server.Set("/index.html", ScriptedResponse::Ok("<a href=\"a\x01"
                                                 "b.html\">1</a>"
                                                 "<a href=\"x\x1b[2Jy.html\">2</a>"
                                                 "<a href=\"d\x7f.html\">3</a>"
                                                 "<a href=\"c\xc2\x9b"
                                                 "31m.html\">4</a>"
                                                 "<a href=\"e\x9b"
                                                 "31m.html\">5</a>"));
  ChildResult r = Harvo(
      {"mirror", server.url("/"), "-o", "out", "--keep-code", "--site-name", "s\x1b]0;t\x07"});
  EXPECT_EQ(r.exitStatus, 1) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out,
                       "failed files:\n    /a\\x01b.html (a path with a control character)\n"
                       "    /x\\x1B[2Jy.html (a path with a control character)\n"
                       "    /d\\x7F.html (a path with a control character)\n"
                       "    /c\\xC2\\x9B31m.html (HTTP status 404)\n"
                       "    /e\\x9B31m.html (HTTP status 404)\n"))
      << r.out;
  for (char c : r.out + r.err) {
    unsigned char byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte >= 0x20 || byte == '\n') << "raw control byte " << int(byte) << "\n" << r.out;
    EXPECT_NE(byte, 0x7f);
    EXPECT_NE(byte, 0x9b);
  }
}

TEST_F(MirrorTest, FinishedFilesAreListedOnePerLineUnlessQuiet) {
  ScriptedServer server;
  server.Set("/index.html", ScriptedResponse::Ok("<a href=\"a.html\">a</a>"));
  server.Set("/a.html", ScriptedResponse::Ok("<p>" + std::string(1000, 'a') + "</p>"));
  // The pause after each file gives the polls, ten a second, time to see every file whole.
  ChildResult r = Harvo({"mirror", server.url("/"), "-o", "out", "--interval", "500"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "saved  /index.html (22 B)\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "saved  /a.html (1007 B)\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "received:   about 1.0 KiB (1,029 bytes)")) << r.out;

  r = Harvo({"mirror", server.url("/"), "-o", "out2", "--interval", "500", "-q"});
  EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_FALSE(Contains(r.out, "saved  /")) << r.out;
  EXPECT_TRUE(Contains(r.out, "saved:      2 files")) << r.out;
}

// A signal stops the job through the watcher thread, even while the polling thread waits on a
// request that the server never answers.
void ExpectStopBySignal(ChildProcess* child, ScriptedServer* server, int stalls, int signal,
                        int status, const char* name) {
  ASSERT_TRUE(server->WaitForStalls(stalls));
  auto sent = std::chrono::steady_clock::now();
  child->Signal(signal);
  ChildResult r = child->Wait(10s);
  auto took = std::chrono::steady_clock::now() - sent;
  EXPECT_FALSE(r.timedOut);
  EXPECT_LT(took, 2s);
  EXPECT_EQ(r.exitStatus, status) << r.out << r.err;
  EXPECT_NE(r.out.find(std::string("Stopped by ") + name + ": the copy is incomplete."),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("saved:      1 file\n"), std::string::npos) << r.out;
}

TEST_F(MirrorTest, SignalDuringAStalledRequestEndsTheRunWithAPartialSummary) {
  ScriptedServer server;
  server.Set("/index.html", ScriptedResponse::Ok("<a href=\"slow.html\">slow</a>"));
  server.Set("/slow.html", ScriptedResponse::Ok("never").StallBeforeStatus());
  {
    ChildProcess child(Command({"mirror", server.url("/"), "-o", "out"}), Env(), work_.path());
    ExpectStopBySignal(&child, &server, 1, SIGINT, 130, "SIGINT");
  }
  {
    ChildProcess child(Command({"mirror", server.url("/"), "-o", "out2", "-q"}), Env(),
                       work_.path());
    ExpectStopBySignal(&child, &server, 2, SIGTERM, 143, "SIGTERM");
  }
}

}  // namespace
