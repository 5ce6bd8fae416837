// Arguments the command refuses, and the ones that only inform.
#include <string>
#include <vector>

#include "cli_fixture.h"
#include "harvo.h"

namespace {

class ArgsTest : public CliTest {
 protected:
  // Runs args and expects the usage status with a message that mentions each of words.
  void ExpectUsageError(const std::vector<std::string>& args,
                        const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& a : args) line += a + " ";
    ChildResult r = Harvo(args);
    EXPECT_EQ(r.exitStatus, 2) << line << "\n" << r.out << r.err;
    for (const std::string& word : words) {
      EXPECT_NE(r.err.find(word), std::string::npos) << line << "\nstderr: " << r.err;
    }
    EXPECT_TRUE(r.out.empty() || r.out.find("Copy of") == std::string::npos) << line;
  }
};

TEST_F(ArgsTest, BadArgumentsEndWithStatusTwoAndSayWhy) {
  ExpectUsageError({}, {"subcommand"});
  ExpectUsageError({"fetch", "http://127.0.0.1/"}, {"unknown command \"fetch\""});
  ExpectUsageError({"mirror"}, {"URL"});
  ExpectUsageError({"mirror", "http://127.0.0.1/", "--bogus"}, {"--bogus"});
  ExpectUsageError({"mirror", "http://127.0.0.1/", "--max-dir-depth", "deep"}, {"--max-dir-depth"});
  ExpectUsageError({"mirror", "http://127.0.0.1/", "--max-link-depth", "-2"}, {"--max-link-depth"});
  ExpectUsageError({"mirror", "http://127.0.0.1/", "--buffer-size", "0"}, {"--buffer-size"});
  ExpectUsageError({"mirror", "http://127.0.0.1/", "--interval", "99999999999"}, {"--interval"});
  ExpectUsageError({"mirror", "http://127.0.0.1/", "--type", ".gif,a/b"}, {"a/b"});
  ExpectUsageError({"mirror", "http://127.0.0.1/", "--exclude", "."}, {"--exclude"});
  ExpectUsageError({"mirror", "http://127.0.0.1/", "--all-types", "--type", ".gif"},
                   {"--all-types", "--type"});
  ExpectUsageError({"mirror", "http://127.0.0.1/", "--update-only", "--update-nonhtml"},
                   {"--update-only"});
  ExpectUsageError({"mirror", "http://127.0.0.1/", "--log", "logs/joblog"}, {"extension"});
  ExpectUsageError({"multi"}, {"--select"});
  ExpectUsageError({"multi", "--all", "--select", "1"}, {"--all"});
  ExpectUsageError({"bookmarks", "--netscape", "no-such-file.htm"}, {"no-such-file.htm"});
}

TEST_F(ArgsTest, BadSelectionsEndWithStatusTwo) {
  WriteFileText(work_ / "bookmark.htm",
                "<DL><p>\n"
                "<DT><A HREF=\"http://127.0.0.1:9/one/\">One</A>\n"
                "<DT><A HREF=\"http://127.0.0.1:9/two/\">Two</A>\n"
                "</DL><p>\n");
  for (const char* bad : {"0", "3", "2-1", "x", "1,", ""}) {
    ChildResult r = Harvo({"multi", "--netscape", "bookmark.htm", "--select", bad});
    EXPECT_EQ(r.exitStatus, 2) << bad << "\n" << r.out << r.err;
    EXPECT_NE(r.err.find("--select"), std::string::npos) << bad << "\n" << r.err;
  }
  // No store holds anything: nothing to choose from.
  ChildResult r = Harvo({"multi", "--opera", "--all"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_NE(r.err.find("no bookmarks"), std::string::npos) << r.err;
}

TEST_F(ArgsTest, JobThatCannotStartEndsWithStatusTwo) {
  ChildResult r = Harvo({"mirror", "http://"});
  EXPECT_EQ(r.exitStatus, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("cannot start"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("http://"), std::string::npos) << r.err;
}

TEST_F(ArgsTest, VersionAndHelpEndWithStatusZero) {
  ChildResult r = Harvo({"--version"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.out.find("harvo " HARVO_VERSION), std::string::npos) << r.out;

  r = Harvo({"--help"});
  EXPECT_EQ(r.exitStatus, 0);
  for (const char* word : {"mirror", "bookmarks", "multi", "Exit status"}) {
    EXPECT_NE(r.out.find(word), std::string::npos) << word << "\n" << r.out;
  }
  r = Harvo({"mirror", "--help"});
  EXPECT_EQ(r.exitStatus, 0);
  for (const char* word : {"--site-name",
                           "--compare",
                           "--max-dir-depth",
                           "--max-link-depth",
                           "--all-types",
                           "--type",
                           "--exclude",
                           "--update-only",
                           "--update-nonhtml",
                           "--raw-html",
                           "--keep-code",
                           "--cgi-only",
                           "--java-only",
                           "--check-only",
                           "--buffer-size",
                           "--interval",
                           "--agent",
                           "--proxy",
                           "--connect-timeout",
                           "--connect-retries",
                           "--log",
                           "--quiet",
                           "Harvo/" HARVO_VERSION}) {
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  }
  r = Harvo({"multi", "--help"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.out.find("--select"), std::string::npos);
  EXPECT_NE(r.out.find("--buffer-size"), std::string::npos);
  EXPECT_EQ(r.out.find("--site-name"), std::string::npos);
}

}  // namespace
