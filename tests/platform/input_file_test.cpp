// Reading local files in blocks.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "platform/input_file.h"
#include "support/temp_dir.h"

namespace {

TEST(InputFile, ReadsAFileInBlocksAndRefusesWhatIsNoRegularFile) {
  TempDir dir;
  const std::string text(10000, 'x');
  WriteFileText(dir / "page.html", text + "end");
  hvfs::InputFile in;
  ASSERT_TRUE(in.Open(dir / "page.html"));
  std::string read;
  char block[4096];
  int64_t count = 0;
  int blocks = 0;
  while ((count = in.Read(block, sizeof(block))) > 0) {
    read.append(block, static_cast<size_t>(count));
    ++blocks;
  }
  EXPECT_EQ(count, 0);
  EXPECT_EQ(read, text + "end");
  EXPECT_EQ(blocks, 3);

  EXPECT_FALSE(in.Open(dir / "missing.html"));
  EXPECT_FALSE(in.ErrorText().empty());
  EXPECT_FALSE(in.IsOpen());
  EXPECT_FALSE(in.Open(dir.path()));
  // A FIFO without a writer would block an open for reading, and a read after it.
  ASSERT_EQ(mkfifo((dir / "fifo.html").c_str(), 0600), 0);
  EXPECT_FALSE(in.Open(dir / "fifo.html"));
  EXPECT_EQ(in.Read(block, sizeof(block)), -1);
}

}  // namespace
