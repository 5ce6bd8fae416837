#include "util/fileutil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/temp_dir.h"

namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

// A kanji whose trail byte is the byte of "\".
const std::string kKanjiWithBackslashTrail = "\x95\x5C";

TEST(CreateFolders, CreatesEveryFolderBeforeASeparatorButNotTheLastName) {
  TempDir tmp;
  EXPECT_EQ(CreateFolders(tmp / "a/b/file.txt"), 0);
  EXPECT_TRUE(IsFolder(tmp / "a"));
  EXPECT_TRUE(IsFolder(tmp / "a/b"));
  EXPECT_FALSE(Exists(tmp / "a/b/file.txt"));

  EXPECT_EQ(CreateFolders(tmp / "c/d"), 0);
  EXPECT_TRUE(IsFolder(tmp / "c"));
  EXPECT_FALSE(Exists(tmp / "c/d")) << "a folder path must end with / for its last folder";

  EXPECT_EQ(CreateFolders(tmp / "c/d/e/"), 0);
  EXPECT_TRUE(IsFolder(tmp / "c/d/e"));
  EXPECT_EQ(CreateFolders(tmp / "c/d/e/"), 0) << "existing folders are passed over";
  EXPECT_EQ(CreateFolders(""), 0);
  EXPECT_EQ(CreateFolders("/"), 0) << "a / at position 0 is not a separator";

  // A file where a folder should be: the failure is ignored, the caller's open fails later.
  WriteFileText(tmp / "f", "x");
  EXPECT_EQ(CreateFolders(tmp / "f/g/h.txt"), 0);
  EXPECT_FALSE(Exists(tmp / "f/g"));
}

TEST(CreateFolders, DoubleByteFolderNamesStayOneComponent) {
  TempDir tmp;
  const std::string name = kKanjiWithBackslashTrail + "x";
  EXPECT_EQ(CreateFolders(tmp / (name + "/" + kKanjiWithBackslashTrail + "/page.html")), 0);
  EXPECT_TRUE(IsFolder(tmp / name));
  EXPECT_TRUE(IsFolder(tmp / (name + "/" + kKanjiWithBackslashTrail)));
  EXPECT_FALSE(Exists(tmp / "\x95")) << "the trail byte 0x5C split nothing";
}

TEST(FileExists, MatchesFilesFoldersAndWildcardsOfTheLastComponent) {
  TempDir tmp;
  WriteFileText(tmp / "site/index.html", "<html>");
  WriteFileText(tmp / "site/a[1].txt", "x");
  WriteFileText(tmp / ("site/" + kKanjiWithBackslashTrail + ".gif"), "GIF");
  CreateFolders(tmp / "empty/");

  EXPECT_EQ(FileExists((tmp / "site/index.html").c_str()), 1);
  EXPECT_EQ(FileExists((tmp / "site").c_str()), 1) << "a folder counts as existing";
  EXPECT_EQ(FileExists((tmp / "site/missing.html").c_str()), 0);
  EXPECT_EQ(FileExists((tmp / "nowhere/index.html").c_str()), 0);
  EXPECT_EQ(FileExists(nullptr), 0);
  EXPECT_EQ(FileExists(""), 0);

  EXPECT_EQ(FileExists((tmp / "site/*.html").c_str()), 1);
  EXPECT_EQ(FileExists((tmp / "site/*.htm").c_str()), 0);
  EXPECT_EQ(FileExists((tmp / "site/ind?x.html").c_str()), 1);
  EXPECT_EQ(FileExists((tmp / "site/ind?.html").c_str()), 0) << "? is exactly one character";
  EXPECT_EQ(FileExists((tmp / "site/*").c_str()), 1);
  EXPECT_EQ(FileExists((tmp / "site/i*x*l").c_str()), 1);
  EXPECT_EQ(FileExists((tmp / "site/**.txt").c_str()), 1);
  EXPECT_EQ(FileExists((tmp / "site/a[1].*").c_str()), 1) << "[ is an ordinary character";
  EXPECT_EQ(FileExists((tmp / "site/a[12].txt").c_str()), 0) << "[ ] is no character class";
  EXPECT_EQ(FileExists((tmp / "site/?.gif").c_str()), 1) << "? matches a double-byte character";
  EXPECT_EQ(FileExists((tmp / "site/??.gif").c_str()), 0);
  EXPECT_EQ(FileExists((tmp / "empty/*").c_str()), 0) << ". and .. are no entries";
  EXPECT_EQ(FileExists((tmp / "nowhere/*").c_str()), 0);
  EXPECT_EQ(FileExists((tmp / "s*/index.html").c_str()), 0) << "wildcards only in the last name";
}

TEST(CountOccurrences, CountsMatchesFromPositionOneIncludingOverlaps) {
  EXPECT_EQ(CountOccurrences("/a/b", "/"), 1);
  EXPECT_EQ(CountOccurrences("a/b/", "/"), 2);
  EXPECT_EQ(CountOccurrences("", "/"), 0);
  EXPECT_EQ(CountOccurrences("dir/sub/page.html", "/"), 2);
  EXPECT_EQ(CountOccurrences(nullptr, "/"), -1);
  EXPECT_EQ(CountOccurrences("a/b", nullptr), -1);
  EXPECT_EQ(CountOccurrences("xaaaa", "aa"), 3) << "overlapping matches count";
  EXPECT_EQ(CountOccurrences("aaa", "aa"), 1) << "a match at position 0 never counts";
  EXPECT_EQ(CountOccurrences("abc", ""), 0);
  // Multibyte-aware: the trail byte 0x5C is no "\", nor is a trail byte position 1.
  EXPECT_EQ(CountOccurrences(("a" + kKanjiWithBackslashTrail + "\\").c_str(), "\\"), 1);
  EXPECT_EQ(CountOccurrences((kKanjiWithBackslashTrail + "x").c_str(), "\\"), 0);
  EXPECT_EQ(CountOccurrences(("\x83\x41" + std::string("A")).c_str(), "A"), 1);
}

}  // namespace
