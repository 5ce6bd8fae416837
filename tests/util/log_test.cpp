#include "util/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harvo.h"
#include "support/temp_dir.h"

namespace {

const char* const kStart = "*** Log Start ***";
const char* const kEnd = "*** Log End ***";

// The lines of a log file without their CR LF; a line end without CR fails the test.
std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string text = ReadFileText(path);
  size_t begin = 0;
  while (begin < text.size()) {
    size_t lf = text.find('\n', begin);
    if (lf == std::string::npos) {
      ADD_FAILURE() << "unterminated last line in " << path;
      break;
    }
    if (lf == begin || text[lf - 1] != '\r') {
      ADD_FAILURE() << "line without CR LF in " << path;
      break;
    }
    lines.push_back(text.substr(begin, lf - 1 - begin));
    begin = lf + 1;
  }
  return lines;
}

// True when line is the asctime text of local time (24 characters), ":" and text.
bool IsStamped(const std::string& line, const std::string& text) {
  static const std::regex stamp(
      "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
  return line.size() == 25 + text.size() && line[24] == ':' && line.substr(25) == text &&
         std::regex_match(line.substr(0, 24), stamp);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

TEST(KtWdlLog, OpenCreatesMissingFoldersAndStampsTheFirstLine) {
  TempDir tmp;
  const std::string path = tmp / "logs/jobs/job.log";
  KtWdlLog log;
  const std::time_t before = std::time(nullptr);
  EXPECT_EQ(log.Open(path.c_str()), 0);
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(log.IsOpen(), 1);
  EXPECT_EQ(log.WriteLine("\tdir/a.html", 0), 0);
  EXPECT_EQ(log.WriteLine("Error(80060000):dir/b.html", 2), 0) << "any flag but 1 is plain";
  EXPECT_EQ(log.WriteLine(nullptr, 0), -1);
  EXPECT_EQ(log.Close(), 0);
  EXPECT_EQ(log.IsOpen(), 0);

  const std::vector<std::string> lines = Lines(path);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_TRUE(IsStamped(lines[0], kStart)) << lines[0];
  EXPECT_EQ(lines[1], "\tdir/a.html");
  EXPECT_EQ(lines[2], "Error(80060000):dir/b.html");
  EXPECT_TRUE(IsStamped(lines[3], kEnd)) << lines[3];

  // The stamp is the local time of the writing.
  std::tm parsed{};
  ASSERT_NE(strptime(lines[0].substr(0, 24).c_str(), "%a %b %d %H:%M:%S %Y", &parsed), nullptr);
  parsed.tm_isdst = -1;
  const std::time_t stamped = std::mktime(&parsed);
  EXPECT_GE(stamped, before - 1);
  EXPECT_LE(stamped, after + 1);
}

TEST(KtWdlLog, ControlBytesAreEscapedSoThatEachLineStaysOneLine) {
  TempDir tmp;
  const std::string path = tmp / "job.log";
  {
    KtWdlLog log;
    log.Open(path.c_str());
    // A server's text that would retitle a terminal and forge a line of its own.
    log.WriteLine("\tdir/\x1b]0;TITLE\x07\x1b[2J.html", 0);
    log.WriteLine("Error(80060000):fake.html\rError(80060000):spoofed-line.html\n\x7f", 0);
    // Only a leading tab is the line's own; Shift_JIS text is kept as it is.
    log.WriteLine("\tRestored(a\tb\x82\xa0\x95\\.html)", 0);
    log.WriteLine("x\x01", 1);
  }
  std::vector<std::string> lines = Lines(path);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1], "\tdir/\\x1B]0;TITLE\\x07\\x1B[2J.html");
  EXPECT_EQ(lines[2], "Error(80060000):fake.html\\x0DError(80060000):spoofed-line.html\\x0A\\x7F");
  EXPECT_EQ(lines[3], "\tRestored(a\\x09b\x82\xa0\x95\\.html)");
  EXPECT_TRUE(IsStamped(lines[4], "x\\x01")) << lines[4];
}

TEST(KtWdlLog, PathWithoutExtensionOpensNothing) {
  TempDir tmp;
  KtWdlLog log;
  for (const std::string& path :
       {tmp / "logs/joblog", tmp / "logs.d/joblog", std::string(".log"), std::string("/")}) {
    EXPECT_EQ(log.Open(path.c_str()), 0);
    EXPECT_EQ(log.IsOpen(), 0) << path;
    EXPECT_EQ(log.WriteLine("lost", 0), -1);
  }
  EXPECT_FALSE(Exists(tmp / "logs")) << "no folder is made for a path that is not opened";
  EXPECT_EQ(log.Open(nullptr), 0);
  EXPECT_EQ(log.IsOpen(), 0);
  EXPECT_EQ(log.Close(), 0);
}

TEST(KtWdlLog, UnopenableFileLeavesTheLogClosed) {
  TempDir tmp;
  WriteFileText(tmp / "blocker", "a file where a folder should be");
  KtWdlLog log;
  EXPECT_EQ(log.Open((tmp / "blocker/job.log").c_str()), 0);
  EXPECT_EQ(log.IsOpen(), 0);
  EXPECT_EQ(log.WriteLine("dropped", 0), -1);
}

TEST(KtWdlLog, ReopeningTheSamePathTruncates) {
  TempDir tmp;
  const std::string path = tmp / "job.log";
  KtWdlLog log;
  log.Open(path.c_str());
  log.WriteLine("first run", 0);
  log.Close();
  log.Open(path.c_str());
  log.WriteLine("second run", 0);
  log.Close();
  const std::vector<std::string> lines = Lines(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "second run");
}

TEST(KtWdlLog, DeletingAnOpenLogWritesTheEndLine) {
  TempDir tmp;
  const std::string path = tmp / "job.log";
  {
    KtWdlLog log;
    log.Open(path.c_str());
  }
  const std::vector<std::string> lines = Lines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(IsStamped(lines[1], kEnd));
}

TEST(LogExports, StartTwiceClosesTheFirstFileAndStopTwiceDoesNothingMore) {
  TempDir tmp;
  HvrJobInfo job;
  KtWdlLog log;
  job.Log = &log;
  HvrLogStart(&job, (tmp / "one.log").c_str());
  log.WriteLine("to one", 0);
  HvrLogStart(&job, (tmp / "two.log").c_str());
  log.WriteLine("to two", 0);
  HvrLogStop(&job);
  HvrLogStop(&job);
  EXPECT_EQ(log.IsOpen(), 0);

  const std::vector<std::string> one = Lines(tmp / "one.log");
  ASSERT_EQ(one.size(), 3u);
  EXPECT_TRUE(IsStamped(one[0], kStart));
  EXPECT_EQ(one[1], "to one");
  EXPECT_TRUE(IsStamped(one[2], kEnd));
  const std::vector<std::string> two = Lines(tmp / "two.log");
  ASSERT_EQ(two.size(), 3u) << "one end line only";
  EXPECT_EQ(two[1], "to two");
  EXPECT_TRUE(IsStamped(two[2], kEnd));

  // A null path closes; null records and records without a log are ignored.
  HvrLogStart(&job, (tmp / "three.log").c_str());
  HvrLogStart(&job, nullptr);
  EXPECT_EQ(log.IsOpen(), 0);
  HvrLogStart(nullptr, (tmp / "four.log").c_str());
  HvrLogStop(nullptr);
  HvrJobInfo notStarted;
  HvrLogStart(&notStarted, (tmp / "four.log").c_str());
  HvrLogStop(&notStarted);
  EXPECT_FALSE(Exists(tmp / "four.log"));
}

// The host closes and reopens the log while the worker writes: every line in the files is whole,
// and every line the worker was told was written is in one of them.
TEST(KtWdlLog, LinesStayWholeWhileTheHostReopensDuringWrites) {
  TempDir tmp;
  KtWdlLog log;
  constexpr int kCycles = 60;
  const std::string payload(60, 'x');
  std::atomic<bool> stop{false};
  std::atomic<int> written{0};
  std::vector<int> accepted;  // owned by the worker until it is joined

  std::thread worker([&] {
    for (int n = 0; !stop.load(); ++n) {
      const std::string line = "line " + std::to_string(n) + " " + payload;
      if (log.WriteLine(line.c_str(), 0) == 0) {
        accepted.push_back(n);
        written.fetch_add(1);
      }
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int k = 0; k < kCycles; ++k) {
    log.Open((tmp / ("run" + std::to_string(k) + ".log")).c_str());
    // Keep the file open until the worker has put lines into it. The count may still lack one
    // line that went into the previous file, hence one more than the three wanted here.
    const int target = written.load() + 4;
    while (written.load() < target && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    log.Close();
  }
  stop.store(true);
  worker.join();
  ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the worker could not write";

  std::set<int> found;
  const std::regex workerLine("line ([0-9]+) x{60}");
  for (int k = 0; k < kCycles; ++k) {
    const std::vector<std::string> lines = Lines(tmp / ("run" + std::to_string(k) + ".log"));
    ASSERT_GE(lines.size(), 5u) << "run " << k;
    EXPECT_TRUE(IsStamped(lines.front(), kStart)) << "run " << k;
    EXPECT_TRUE(IsStamped(lines.back(), kEnd)) << "run " << k;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(lines[i], m, workerLine)) << "run " << k << ": " << lines[i];
      EXPECT_TRUE(found.insert(std::stoi(m[1])).second) << "line written twice: " << lines[i];
    }
  }
  EXPECT_EQ(found, std::set<int>(accepted.begin(), accepted.end()));
}

}  // namespace
