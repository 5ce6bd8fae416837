// The command's own building blocks that need no process: escaping, selections, error words and
// the tracking of finished files. The command is built only on the shared library, so its
// sources are compiled into this test directly.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "../../tools/harvo/error_text.cpp"
#include "../../tools/harvo/progress.cpp"
#include "../../tools/harvo/selection.cpp"
#include "../../tools/harvo/stop_watcher.cpp"
#include "../../tools/harvo/stop_watcher_signals.cpp"
#include "../../tools/harvo/summary.cpp"
#include "../../tools/harvo/text_escape.cpp"
// summary.cpp needs FormatBytes.
#include "../../tools/harvo/progress_display.cpp"
#include "../../tools/harvo/terminal.cpp"

namespace {

using namespace std::string_literals;

TEST(EscapeForTerminal, WritesEveryControlAsHexAndKeepsText) {
  EXPECT_EQ(EscapeForTerminal("plain/page.html"), "plain/page.html");
  EXPECT_EQ(EscapeForTerminal("a\x1b[31mred"), "a\\x1B[31mred");
  EXPECT_EQ(EscapeForTerminal("tab\there\r\n"), "tab\\x09here\\x0D\\x0A");
  EXPECT_EQ(EscapeForTerminal("nul\0x"s), "nul\\x00x");
  EXPECT_EQ(EscapeForTerminal("del\x7f"), "del\\x7F");
  // UTF-8 text passes, Japanese included, though its bytes lie between 0x80 and 0x9F.
  EXPECT_EQ(EscapeForTerminal("日本語/ページ.html"), "日本語/ページ.html");
  // C1 controls: CSI as a lone byte (8-bit terminals) and as U+009B (UTF-8 terminals).
  EXPECT_EQ(EscapeForTerminal("a\x9b"
                              "31mb"),
            "a\\x9B31mb");
  EXPECT_EQ(EscapeForTerminal("a\xc2\x9b"
                              "31mb"),
            "a\\xC2\\x9B31mb");
  EXPECT_EQ(EscapeForTerminal("\xc2\x85"), "\\xC2\\x85");
  // Shift_JIS text (not UTF-8): lead bytes 0x81 to 0x9F are escaped, bytes from 0xA0 pass.
  EXPECT_EQ(EscapeForTerminal("\x93\xfa\x96\x7b"), "\\x93\xfa\\x96{");
  EXPECT_EQ(EscapeForTerminal("\xb1\xb2"), "\xb1\xb2");
}

TEST(EscapeForTerminal, WritesBidiControlsAsHexSoServerTextCannotReorderALine) {
  // U+202E (right-to-left override) would show "page<RLO>lmth.exe" as "pageexe.html".
  EXPECT_EQ(EscapeForTerminal("page\u202Elmth.exe"), "page\\xE2\\x80\\xAElmth.exe");
  for (const char* control :
       {"\u202A", "\u202B", "\u202C", "\u202D", "\u202E", "\u2066", "\u2067", "\u2068", "\u2069"}) {
    std::string escaped = EscapeForTerminal(std::string("a") + control + "b");
    EXPECT_EQ(escaped.size(), 2u + 12u) << escaped;
    EXPECT_EQ(escaped.find('\xE2'), std::string::npos) << escaped;
  }
  // The code points just outside both ranges pass.
  for (const char* text : {"\u2029", "\u202F", "\u2065", "\u206A"}) {
    EXPECT_EQ(EscapeForTerminal(text), text);
  }
  // JSON keeps them as escapes of the same characters.
  EXPECT_EQ(JsonQuote("a\u2067b\u202Ac"), "\"a\\u2067b\\u202ac\"");
}

TEST(JsonQuote, GivesValidJsonForAnyBytes) {
  EXPECT_EQ(JsonQuote("News/Daily"), "\"News/Daily\"");
  EXPECT_EQ(JsonQuote("say \"hi\" \\ bye"), "\"say \\\"hi\\\" \\\\ bye\"");
  EXPECT_EQ(JsonQuote("a\nb\tc\rd\x01\x1f\x7f"), "\"a\\nb\\tc\\rd\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(JsonQuote("\xc2\x9b"), "\"\\u009b\"");
  EXPECT_EQ(JsonQuote("日本"), "\"日本\"");
  // Bytes outside valid UTF-8 each become the code point of their value.
  EXPECT_EQ(JsonQuote("\x93\xfa"), "\"\\u0093\\u00fa\"");
  EXPECT_EQ(JsonQuote("\xe6\x97"), "\"\\u00e6\\u0097\"");             // a cut sequence
  EXPECT_EQ(JsonQuote("\xc0\xaf"), "\"\\u00c0\\u00af\"");             // an overlong "/"
  EXPECT_EQ(JsonQuote("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");  // a surrogate
  EXPECT_EQ(JsonQuote(""), "\"\"");
}

TEST(DisplayColumns, CountsWideCharactersTwiceAndCutsBetweenCharacters) {
  EXPECT_EQ(DisplayColumns("abc"), 3u);
  EXPECT_EQ(DisplayColumns("日本a"), 5u);
  EXPECT_EQ(FitColumns("日本語", 5), "日本");
  EXPECT_EQ(FitColumns("日本語", 6), "日本語");
  EXPECT_EQ(FitColumns("ab日", 3), "ab");
}

TEST(ParseSelection, TakesNumbersAndRangesWithinTheList) {
  std::vector<size_t> chosen;
  std::string error;
  ASSERT_TRUE(ParseSelection("1,4-7", 10, &chosen, &error));
  EXPECT_EQ(chosen, (std::vector<size_t>{0, 3, 4, 5, 6}));
  ASSERT_TRUE(ParseSelection(" 3 , 1-2,2 ", 3, &chosen, &error));
  EXPECT_EQ(chosen, (std::vector<size_t>{0, 1, 2}));
  ASSERT_TRUE(ParseSelection("5-5", 5, &chosen, &error));
  EXPECT_EQ(chosen, (std::vector<size_t>{4}));

  for (const char* bad :
       {"", "0", "1,,2", "x", "1-", "-3", "+2", "1.5", "2 3", "1-2-3", "99999999999999999999999"}) {
    EXPECT_FALSE(ParseSelection(bad, 10, &chosen, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EXPECT_FALSE(ParseSelection("7-4", 10, &chosen, &error));
  EXPECT_NE(error.find("backwards"), std::string::npos);
  EXPECT_FALSE(ParseSelection("2-11", 10, &chosen, &error));
  EXPECT_NE(error.find("entry 11 does not exist"), std::string::npos);
  EXPECT_FALSE(ParseSelection("1", 0, &chosen, &error));
}

TEST(ErrorText, NamesEveryLibraryCode) {
  EXPECT_STREQ(ErrorMeaning(HVR_ERR_HTTP_404), "HTTP status 404 (not found)");
  EXPECT_EQ(ErrorHex(HVR_ERR_HTTP_404), "0x80060000");
  for (int32_t code : {HVR_ERR_BAD_INDEX, HVR_ERR_THREAD, HVR_ERR_SESSION, HVR_ERR_SETTING,
                       HVR_ERR_FILE, HVR_ERR_NO_LENGTH, HVR_ERR_NO_MODIFIED, HVR_ERR_HTTP_400,
                       HVR_ERR_HTTP_405, HVR_ERR_HTTP_500, HVR_ERR_HTTP_503, HVR_ERR_HTTP_OTHER}) {
    EXPECT_STRNE(ErrorMeaning(code), "unknown error code") << ErrorHex(code);
  }
  EXPECT_STREQ(ErrorMeaning(0x12345), "unknown error code");
  EXPECT_FALSE(IsFailureCode(HVR_ERR_NONE));
  EXPECT_FALSE(IsFailureCode(HVR_ERR_NO_LENGTH));
  EXPECT_FALSE(IsFailureCode(HVR_ERR_NO_MODIFIED));
  EXPECT_TRUE(IsFailureCode(HVR_ERR_FILE));
  EXPECT_TRUE(IsFailureCode(HVR_ERR_HTTP_404));
}

TEST(SiteFolder, NamesTheServerWithoutPortOrUser) {
  EXPECT_EQ(SiteFolder(".", "http://127.0.0.1:8080/dir/"), "./127.0.0.1/");
  EXPECT_EQ(SiteFolder("out/", "http://user@example.com/x"), "out/example.com/");
  EXPECT_EQ(SiteFolder("/srv/m", "http://example.com"), "/srv/m/example.com/");
  EXPECT_EQ(SiteFolder("m", "http://[::1]:81/"), "m/[::1]/");
  EXPECT_EQ(GroupDigits(1234567), "1,234,567");
  EXPECT_EQ(GroupDigits(999), "999");
}

JobSample Sample(const std::string& dir, const std::string& file, int64_t received,
                 int64_t announced, int32_t saved, int32_t failed) {
  JobSample s;
  s.directory = dir;
  s.fileName = file;
  s.received = received;
  s.announced = announced;
  s.saved = saved;
  s.failed = failed;
  return s;
}

TEST(FileTracker, ReportsEachFileOnceWhenTheNextOneShows) {
  FileTracker tracker;
  EXPECT_TRUE(tracker.Update(Sample("", "", 0, 0, 0, 0)).empty());
  EXPECT_TRUE(tracker.Update(Sample("/", "index.html", 100, 1000, 0, 0)).empty());
  EXPECT_TRUE(tracker.Update(Sample("/", "index.html", 600, 1000, 0, 0)).empty());

  // The page was saved in full between two polls: credited with its announced length.
  auto done = tracker.Update(Sample("dir/", "a.gif", 0, 50, 1, 0));
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].path, "/index.html");
  EXPECT_EQ(done[0].outcome, FinishedFile::Outcome::kSaved);
  EXPECT_EQ(done[0].bytes, 1000);
  EXPECT_EQ(tracker.bytes(), 1000);

  // Two more files were saved and one failed unseen before b.html showed: a.gif, of which
  // bytes arrived, is taken as saved, the rest as unseen.
  EXPECT_TRUE(tracker.Update(Sample("dir/", "a.gif", 20, 50, 1, 0)).empty());
  done = tracker.Update(Sample("dir/", "b.html", 0, 0, 3, 1));
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].path, "/dir/a.gif");
  EXPECT_EQ(done[0].outcome, FinishedFile::Outcome::kSaved);
  EXPECT_EQ(done[0].bytes, 50);
  EXPECT_EQ(done[0].unseenSaved, 1);
  EXPECT_EQ(done[0].unseenFailed, 1);

  // The end: b.html was not received (an unchanged copy, say).
  done = tracker.Finish(3, 1);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].path, "/dir/b.html");
  EXPECT_EQ(done[0].outcome, FinishedFile::Outcome::kNotReceived);
  EXPECT_EQ(done[0].unseenSaved, 0);
  EXPECT_EQ(tracker.unseen(), 1);
}

TEST(FileTracker, LeavesASaveToANewFileThatArrivedWhole) {
  FileTracker tracker;
  tracker.Update(Sample("/", "index.html", 53, 53, 1, 0));
  // a.html was requested, received and saved before the counts were read; a failed file went
  // by in between.
  auto done = tracker.Update(Sample("/", "a.html", 1007, 1007, 2, 1));
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].path, "/index.html");
  EXPECT_EQ(done[0].outcome, FinishedFile::Outcome::kSaved);
  EXPECT_EQ(done[0].unseenSaved, 0);
  EXPECT_EQ(done[0].unseenFailed, 1);
  done = tracker.Finish(2, 1);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].path, "/a.html");
  EXPECT_EQ(done[0].outcome, FinishedFile::Outcome::kSaved);
  EXPECT_EQ(tracker.bytes(), 1060);
  EXPECT_EQ(tracker.unseen(), 0);
}

TEST(FileTracker, TakesAFileWithoutAnnouncedLengthAsTheFailedOne) {
  FileTracker tracker;
  tracker.Update(Sample("/", "index.html", 700, 700, 0, 0));
  // A failed request shows its name with the length cleared, and the byte count of the file
  // before it, which must not be credited.
  auto done = tracker.Update(Sample("/", "missing.html", 700, 0, 1, 0));
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].outcome, FinishedFile::Outcome::kSaved);
  done = tracker.Update(Sample("/", "next.html", 0, 0, 2, 1));
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].path, "/missing.html");
  EXPECT_EQ(done[0].outcome, FinishedFile::Outcome::kFailed);
  EXPECT_EQ(done[0].bytes, 0);
  EXPECT_EQ(done[0].unseenSaved, 1);
  EXPECT_EQ(tracker.bytes(), 700);
}

TEST(FileTracker, CreditsOnlyWhatWasSeenAfterAStopAndCountsUnseenFiles) {
  FileTracker tracker;
  tracker.Update(Sample("/", "big.bin", 300, 5000, 0, 0));
  tracker.NoteStop();
  auto done = tracker.Finish(1, 0);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].outcome, FinishedFile::Outcome::kSaved);
  EXPECT_EQ(done[0].bytes, 300);

  FileTracker fast;  // a job that ended before the first poll saw anything
  done = fast.Finish(4, 1);
  ASSERT_EQ(done.size(), 1u);
  EXPECT_TRUE(done[0].path.empty());
  EXPECT_EQ(done[0].unseenSaved, 4);
  EXPECT_EQ(done[0].unseenFailed, 1);
  EXPECT_EQ(fast.unseen(), 4);
  EXPECT_EQ(fast.bytes(), 0);
}

TEST(StatusLine, FitsTheTerminalByShorteningThePathFromTheFront) {
  StatusInfo status;
  status.site = "site\x1b";
  status.path = "/very/long/path/to/some/file/deep/down/in/the/tree/page.html";
  status.received = 2048;
  status.announced = 4096;
  status.saved = 12;
  status.failed = 1;
  status.bytes = 5 << 20;
  std::string line = ProgressDisplay::Compose(status, 1024.0, 200);
  EXPECT_EQ(line,
            "[site\\x1B] /very/long/path/to/some/file/deep/down/in/the/tree/page.html  "
            "2.0 KiB/4.0 KiB | 12 saved, 1 failed | 5.0 MiB at 1.0 KiB/s");
  line = ProgressDisplay::Compose(status, 0, 79);
  EXPECT_EQ(DisplayColumns(line), 79u);
  EXPECT_EQ(line,
            "[site\\x1B] ...he/tree/page.html  2.0 KiB/4.0 KiB | 12 saved, 1 failed | 5.0 MiB");
  EXPECT_EQ(DisplayColumns(ProgressDisplay::Compose(status, 0, 20)), 20u);
  status.stopping = true;
  EXPECT_EQ(ProgressDisplay::Compose(status, 1024.0, 79),
            "[site\\x1B] ...in/the/tree/page.html  12 saved, 1 failed | 5.0 MiB | stopping...");
  status.path.clear();
  EXPECT_EQ(ProgressDisplay::Compose(status, 0, 200),
            "[site\\x1B] (starting)  2.0 KiB/4.0 KiB | 12 saved, 1 failed | 5.0 MiB | stopping...");
  EXPECT_EQ(FormatBytes(999), "999 B");
  EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
  EXPECT_EQ(FormatBytes(300 << 20), "300 MiB");
}

std::string SummaryText(const SiteResult& site) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  PrintSiteSummary(out, site, "");
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(SiteSummary, NamesAScreenfulOfFailedFilesEachWithItsReasonAndCountsTheRest) {
  SiteResult site;
  site.failed = 120;
  site.error = HVR_ERR_FILE;
  for (int i = 0; i < 120; ++i) {
    site.failedFiles.push_back("dir/f" + std::to_string(i) + ".html");
    site.failedReasons.push_back(i % 2 == 0 ? "HTTP status 404" : "Connection refused");
  }
  site.logFile = "logs/job.log";
  std::string text = SummaryText(site);
  EXPECT_EQ(CountOf(text, "\n    /dir/f"), kListedFailures) << text;
  EXPECT_NE(
      text.find("    /dir/f0.html (HTTP status 404)\n    /dir/f1.html (Connection refused)\n"),
      std::string::npos)
      << text;
  EXPECT_NE(text.find("    /dir/f49.html (Connection refused)\n    and 70 more; see the log "
                      "logs/job.log\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("/dir/f50.html"), std::string::npos) << text;

  site.logFile.clear();
  site.failedFiles.resize(1051);
  site.failedReasons.resize(1051);
  text = SummaryText(site);
  EXPECT_NE(text.find("    and 1,001 more; --log FILE names every one\n"), std::string::npos)
      << text;

  // Exactly a screenful: no line about more.
  site.failedFiles.resize(kListedFailures);
  EXPECT_EQ(SummaryText(site).find(" more;"), std::string::npos);
}

TEST(SiteSummary, LastErrorIsTheFailureThatMattersNotALaterNotice) {
  SiteResult site;
  site.error = HVR_ERR_NO_MODIFIED;  // a page without Last-Modified came after the failures
  site.failed = 2;
  site.failedFiles = {"a.html", "b.gif"};
  site.failedReasons = {"HTTP status 500", "HTTP status 404"};
  EXPECT_NE(SummaryText(site).find("  last error: 0x80010000 (a file could not be requested or "
                                   "received: HTTP status 404)\n"),
            std::string::npos)
      << SummaryText(site);

  site.failed = 0;
  site.failedFiles.clear();
  site.failedReasons.clear();
  EXPECT_NE(SummaryText(site).find("  last error: none (latest notice: 0x80040000 (a response "
                                   "had no Last-Modified))\n"),
            std::string::npos)
      << SummaryText(site);

  // A failure of the job itself is its own latest code, shown with the job's reason.
  site.error = HVR_ERR_SESSION;
  site.errorText = "Connection refused";
  EXPECT_NE(SummaryText(site).find("  last error: 0x80000100 (the session or the connection to the "
                                   "server could not be opened: Connection refused)\n"),
            std::string::npos)
      << SummaryText(site);
  site.error = HVR_ERR_NONE;
  site.errorText.clear();
  EXPECT_NE(SummaryText(site).find("  last error: none\n"), std::string::npos);
}

// Once the jobs have ended only the summary is left to print: a Ctrl-C then ends the command
// at once, whatever it is printing.
TEST(StopWatcher, ASignalAfterTheJobsEndedEndsTheProcess) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    StopWatcher watcher;
    watcher.Arm([] {});
    watcher.Disarm();
    watcher.EndOnSignal();
    kill(getpid(), SIGINT);
    // Only the signal can end this wait before its minute is up.
    for (int i = 0; i < 600; ++i) usleep(100000);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
}

// A Ctrl-C between the end of the jobs and the summary, when nothing was left to stop.
TEST(StopWatcher, ASignalWhileDisarmedEndsTheProcessOnceTheJobsHaveEnded) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    StopWatcher watcher;
    watcher.Arm([] {});
    watcher.Disarm();
    kill(getpid(), SIGTERM);
    // The watcher takes the signal on its own thread; wait until it has.
    for (int i = 0; i < 600 && watcher.signal() == 0; ++i) usleep(100000);
    watcher.EndOnSignal();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
}

}  // namespace
