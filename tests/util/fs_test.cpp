#include "platform/fs.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

// Names in a folder other than "." and "..".
std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return names;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Sets the process umask for one test and restores it.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

TEST(Fs, CreateDirectoryFailsForExistingOrOrphanFolders) {
  TempDir tmp;
  EXPECT_TRUE(hvfs::CreateDirectory(tmp / "a"));
  EXPECT_FALSE(hvfs::CreateDirectory(tmp / "a")) << "it exists";
  EXPECT_FALSE(hvfs::CreateDirectory(tmp / "x/y")) << "no parent";
  EXPECT_FALSE(hvfs::CreateDirectory(""));
  hvfs::FileInfo info;
  ASSERT_TRUE(hvfs::GetFileInfo(tmp / "a", &info));
  EXPECT_TRUE(info.isDirectory);
}

TEST(Fs, FileInfoAndReadabilityDescribeTheFile) {
  TempDir tmp;
  WriteFileText(tmp / "f.txt", "12345");
  hvfs::FileInfo info;
  ASSERT_TRUE(hvfs::GetFileInfo(tmp / "f.txt", &info));
  EXPECT_EQ(info.size, 5);
  EXPECT_FALSE(info.isDirectory);
  EXPECT_FALSE(hvfs::GetFileInfo(tmp / "missing", &info));

  EXPECT_TRUE(hvfs::CanOpenForReading(tmp / "f.txt"));
  EXPECT_FALSE(hvfs::CanOpenForReading(tmp.path())) << "a folder is no file";
  EXPECT_FALSE(hvfs::CanOpenForReading(tmp / "missing"));
  if (::geteuid() != 0) {  // root reads anything
    ::chmod((tmp / "f.txt").c_str(), 0);
    EXPECT_FALSE(hvfs::CanOpenForReading(tmp / "f.txt"));
  }
}

TEST(Fs, SetFileTimeIsReadBackUnchanged) {
  TempDir tmp;
  WriteFileText(tmp / "f.txt", "x");
  for (int64_t t :
       {int64_t{0}, int64_t{1}, int64_t{946684800}, int64_t{1700000000}, int64_t{2147483647}}) {
    ASSERT_TRUE(hvfs::SetFileTime(tmp / "f.txt", t));
    hvfs::FileInfo info;
    ASSERT_TRUE(hvfs::GetFileInfo(tmp / "f.txt", &info));
    EXPECT_EQ(info.time, t);
  }
  EXPECT_FALSE(hvfs::SetFileTime(tmp / "missing", 1));
}

TEST(Fs, OutputFileCommitReplacesTheFileWithNormalPermissions) {
  TempDir tmp;
  ScopedUmask mask(027);
  WriteFileText(tmp / "page.html", "old");
  {
    hvfs::OutputFile out;
    ASSERT_TRUE(out.Open(tmp / "page.html"));
    // The half-written file is a dot file beside the target.
    std::vector<std::string> names = ListFolder(tmp.path());
    ASSERT_EQ(names.size(), 2u);
    for (const std::string& name : names) {
      if (name == "page.html") continue;
      EXPECT_EQ(name.rfind(".page.html.hvtmp-", 0), 0u) << name;
    }
    // Many writes around the 64 KiB buffer, one larger than it.
    std::string expected;
    for (size_t size : {size_t{1}, size_t{65535}, size_t{2}, size_t{200000}, size_t{70000}}) {
      std::string chunk(size, static_cast<char>('a' + expected.size() % 26));
      ASSERT_TRUE(out.Write(chunk.data(), chunk.size()));
      expected += chunk;
    }
    EXPECT_EQ(ReadFileText(tmp / "page.html"), "old") << "untouched until commit";
    ASSERT_TRUE(out.Commit(true, 1000000000));
    EXPECT_EQ(ReadFileText(tmp / "page.html"), expected);
  }
  EXPECT_EQ(ListFolder(tmp.path()), std::vector<std::string>{"page.html"});
  EXPECT_EQ(ModeOf(tmp / "page.html"), 0640u);
  hvfs::FileInfo info;
  ASSERT_TRUE(hvfs::GetFileInfo(tmp / "page.html", &info));
  EXPECT_EQ(info.time, 1000000000);

  // Without a stamp the file keeps the time of its writing.
  hvfs::OutputFile plain;
  ASSERT_TRUE(plain.Open(tmp / "new.txt"));
  ASSERT_TRUE(plain.Write("abc", 3));
  ASSERT_TRUE(plain.Commit(false, 5));
  ASSERT_TRUE(hvfs::GetFileInfo(tmp / "new.txt", &info));
  EXPECT_NE(info.time, 5);
  EXPECT_EQ(ReadFileText(tmp / "new.txt"), "abc");
  EXPECT_FALSE(plain.Write("x", 1)) << "a committed file takes no more data";
  EXPECT_FALSE(plain.Commit(false, 0));

  // A name with a zero byte in it names no file: nothing is created under its cut form.
  hvfs::OutputFile cut;
  EXPECT_FALSE(cut.Open(tmp / std::string("a\0b.html", 8)));
  EXPECT_FALSE(hvfs::GetFileInfo(tmp / "a", &info));
}

TEST(Fs, OutputFileAbortKeepsTheEarlierCopy) {
  TempDir tmp;
  WriteFileText(tmp / "page.html", "earlier copy");
  {
    hvfs::OutputFile out;
    ASSERT_TRUE(out.Open(tmp / "page.html"));
    ASSERT_TRUE(out.Write("half", 4));
    out.Abort();
    EXPECT_FALSE(out.IsOpen());
  }
  {
    hvfs::OutputFile dropped;  // destroyed without a commit
    ASSERT_TRUE(dropped.Open(tmp / "page.html"));
    ASSERT_TRUE(dropped.Write("half", 4));
  }
  EXPECT_EQ(ReadFileText(tmp / "page.html"), "earlier copy");
  EXPECT_EQ(ListFolder(tmp.path()), std::vector<std::string>{"page.html"});
}

TEST(Fs, OutputFileFailuresLeaveNothingBehind) {
  TempDir tmp;
  hvfs::OutputFile out;
  EXPECT_FALSE(out.Open(tmp / "missing/page.html"));
  EXPECT_FALSE(out.Open(tmp / "folder/")) << "no file name";
  EXPECT_FALSE(out.Write("x", 1));
  EXPECT_FALSE(out.Commit(false, 0));

  // A folder stands where the file should go: the commit fails and removes its temporary file.
  ASSERT_TRUE(hvfs::CreateDirectory(tmp / "page.html"));
  WriteFileText(tmp / "page.html/inside", "kept");
  ASSERT_TRUE(out.Open(tmp / "page.html"));
  ASSERT_TRUE(out.Write("data", 4));
  EXPECT_FALSE(out.Commit(false, 0));
  EXPECT_EQ(ListFolder(tmp.path()), std::vector<std::string>{"page.html"});
  EXPECT_EQ(ReadFileText(tmp / "page.html/inside"), "kept");
}

}  // namespace
