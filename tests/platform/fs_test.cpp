// Folders and files below a base folder without following symbolic links, the mark of a file
// cut short, and the names and clean-up of temporary files.
#include "platform/fs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

TEST(FoldersBeneath, CreatesMissingFoldersAndRefusesClimbsAndForeignPaths) {
  TempDir dir;
  const std::string base = dir / "site/";
  fs::create_directories(base);
  EXPECT_EQ(hvfs::CreateFoldersBeneath(base, base + "a//b/./c/"), 0);
  EXPECT_TRUE(fs::is_directory(base + "a/b/c"));
  EXPECT_EQ(hvfs::CreateFoldersBeneath(base, base + "a/b/c/"), 0);  // all there already
  EXPECT_EQ(hvfs::CreateFoldersBeneath(base, base), 0);

  WriteFileText(base + "file", "x");
  EXPECT_EQ(hvfs::CreateFoldersBeneath(base, base + "file/sub/"), ENOTDIR);
  EXPECT_EQ(hvfs::CreateFoldersBeneath(base, base + "a/../../escape/"), EINVAL);
  EXPECT_EQ(hvfs::CreateFoldersBeneath(base, dir / "elsewhere/"), EINVAL);
  EXPECT_FALSE(fs::exists(dir / "escape"));
  EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

TEST(FoldersBeneath, RefusesLinkedFoldersButFollowsTheBase) {
  TempDir dir;
  const std::string base = dir / "site/";
  fs::create_directories(base + "a");
  fs::create_directories(dir / "outside");
  fs::create_directory_symlink(dir / "outside", base + "a/link");
  EXPECT_EQ(hvfs::CreateFoldersBeneath(base, base + "a/link/new/"), ELOOP);
  EXPECT_EQ(hvfs::CreateFoldersBeneath(base, base + "a/link/"), ELOOP);
  EXPECT_FALSE(fs::exists(dir / "outside/new"));
  EXPECT_NE(hvfs::DescribeBeneathError(ELOOP).find("symbolic link"), std::string::npos);

  // The base itself is followed: it is the user's own path.
  fs::create_directory_symlink(base, dir / "site-link");
  EXPECT_EQ(hvfs::CreateFoldersBeneath(dir / "site-link/", dir / "site-link/d/"), 0);
  EXPECT_TRUE(fs::is_directory(base + "d"));
}

TEST(OutputFileBeneath, FailsThroughALinkedFolder) {
  TempDir dir;
  const std::string base = dir / "site/";
  fs::create_directories(base + "real");
  fs::create_directories(dir / "outside");
  fs::create_directory_symlink(dir / "outside", base + "real/link");

  hvfs::OutputFile out;
  EXPECT_FALSE(out.Open(base + "real/link/x.html", &base));
  EXPECT_NE(out.ErrorText().find("symbolic link"), std::string::npos) << out.ErrorText();
  EXPECT_TRUE(fs::is_empty(dir / "outside"));
  // Without a base the path is taken as the file system resolves it.
  ASSERT_TRUE(out.Open(base + "real/link/plain.html"));
  out.Abort();
}

TEST(OutputFileBeneath, WritesInPlaceAndMarksAFileCutShort) {
  TempDir dir;
  const std::string base = dir / "site/";
  fs::create_directories(base + "real");
  hvfs::OutputFile out;
  EXPECT_FALSE(out.Open(base + "missing/x.html", &base));
  EXPECT_FALSE(out.Open(base + "../x.html", &base));
  EXPECT_FALSE(fs::exists(dir / "x.html"));

  ASSERT_TRUE(out.Open(base + "real/x.html", &base));
  EXPECT_FALSE(out.TargetExists());
  ASSERT_TRUE(out.Write("complete", 8));
  ASSERT_TRUE(out.Commit(true, 1600000000));
  hvfs::FileInfo info;
  ASSERT_TRUE(hvfs::GetFileInfo(base + "real/x.html", &info));
  EXPECT_EQ(info.time, 1600000000);
  EXPECT_FALSE(info.partial);

  // A file cut short keeps the stamp's seconds and carries the mark; a complete one clears it.
  ASSERT_TRUE(out.Open(base + "real/x.html", &base));
  EXPECT_TRUE(out.TargetExists());
  ASSERT_TRUE(out.Write("part", 4));
  ASSERT_TRUE(out.Commit(true, 1600000100, true));
  ASSERT_TRUE(hvfs::GetFileInfo(base + "real/x.html", &info));
  EXPECT_EQ(info.time, 1600000100);
  EXPECT_TRUE(info.partial);
  ASSERT_TRUE(out.Open(base + "real/x.html", &base));
  ASSERT_TRUE(out.Commit(true, 1600000200));
  ASSERT_TRUE(hvfs::GetFileInfo(base + "real/x.html", &info));
  EXPECT_FALSE(info.partial);
  for (const auto& entry : fs::directory_iterator(base + "real")) {
    EXPECT_FALSE(hvfs::IsTemporaryName(entry.path().filename().string())) << entry.path();
  }
}

TEST(TemporaryFiles, NamesAreRecognisedExactly) {
  hvfs::OutputFile out;
  TempDir dir;
  ASSERT_TRUE(out.Open(dir / "page.html"));
  size_t temporary = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    temporary += hvfs::IsTemporaryName(entry.path().filename().string()) ? 1 : 0;
  }
  EXPECT_EQ(temporary, 1u);
  out.Abort();
  EXPECT_TRUE(fs::is_empty(dir.path()));

  EXPECT_TRUE(hvfs::IsTemporaryName(".a.hvtmp-Ab12Cd"));
  for (const char* name : {"a.gif.hvtmp-Ab12Cd", ".a.gif.hvtmp-Ab12C", ".a.gif.hvtmp-Ab12Cd7",
                           ".a.gif.hvtmp-Ab-2Cd", ".hvtmp-Ab12Cd", ".a.gif.hvtmpXAb12Cd"}) {
    EXPECT_FALSE(hvfs::IsTemporaryName(name)) << name;
  }
}

TEST(TemporaryFiles, StaleOnesAreRemovedAndTheWalkCanBeStopped) {
  TempDir dir;
  const std::string base = dir / "site/";
  const int64_t hourAgo = static_cast<int64_t>(std::time(nullptr)) - 3600;
  for (const char* rel : {"deep/er/.a.gif.hvtmp-Ab12Cd", ".b.html.hvtmp-Zz99zz", "c.gif"}) {
    WriteFileText(base + rel, "x");
    ASSERT_TRUE(hvfs::SetFileTime(base + rel, hourAgo));
  }
  WriteFileText(base + ".young.gif.hvtmp-Yy88yy", "x");

  // Asked to stop at once, the walk removes nothing.
  EXPECT_EQ(hvfs::RemoveStaleTemporaryFiles(base, 60, [] { return true; }), 0);
  EXPECT_TRUE(fs::exists(base + ".b.html.hvtmp-Zz99zz"));

  EXPECT_EQ(hvfs::RemoveStaleTemporaryFiles(base, 60), 2);
  EXPECT_FALSE(fs::exists(base + "deep/er/.a.gif.hvtmp-Ab12Cd"));
  EXPECT_FALSE(fs::exists(base + ".b.html.hvtmp-Zz99zz"));
  EXPECT_TRUE(fs::exists(base + "c.gif"));
  EXPECT_TRUE(fs::exists(base + ".young.gif.hvtmp-Yy88yy"));
  EXPECT_EQ(hvfs::RemoveStaleTemporaryFiles(dir / "missing/", 60), 0);
}

TEST(TemporaryFiles, LinksAreNeitherFollowedNorRemoved) {
  TempDir dir;
  const std::string base = dir / "site/";
  const int64_t hourAgo = static_cast<int64_t>(std::time(nullptr)) - 3600;
  WriteFileText(dir / "outside/.a.gif.hvtmp-Ab12Cd", "x");
  ASSERT_TRUE(hvfs::SetFileTime(dir / "outside/.a.gif.hvtmp-Ab12Cd", hourAgo));
  WriteFileText(base + "c.gif", "x");
  fs::create_symlink(base + "c.gif", base + ".link.gif.hvtmp-Ll77ll");
  fs::create_directory_symlink(dir / "outside", base + "linked");

  EXPECT_EQ(hvfs::RemoveStaleTemporaryFiles(base, 60), 0);
  EXPECT_TRUE(fs::is_symlink(base + ".link.gif.hvtmp-Ll77ll"));
  EXPECT_TRUE(fs::exists(dir / "outside/.a.gif.hvtmp-Ab12Cd"));
}

}  // namespace
