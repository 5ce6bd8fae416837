// "harvo mirror --update-only" refreshing a copy end to end, against nginx on loopback.
#include <sys/stat.h>
#include <utime.h>

#include <string>

#include "cli_fixture.h"
#include "support/nginx_server.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

void SetTime(const std::string& path, time_t time) {
  utimbuf times{time, time};
  ASSERT_EQ(utime(path.c_str(), &times), 0) << path;
}

class UpdateCommandTest : public CliTest {
 protected:
  std::string Saved(const std::string& relative) const {
    return work_ / ("out/127.0.0.1/" + relative);
  }
  int64_t Stamp(const std::string& relative) const {
    struct stat st {};
    return stat(Saved(relative).c_str(), &st) == 0 ? st.st_mtime : -1;
  }
};

TEST_F(UpdateCommandTest, AChangedImageBelowUnchangedPagesIsUpdated) {
  constexpr time_t kOld = 1600000000, kNew = 1700000000;
  TempDir site;
  WriteFileText(site / "index.html", "<html>\n<a href=\"docs/\">docs</a>\n</html>\n");
  WriteFileText(site / "docs/index.html", "<p><img src=\"../img/pic.gif\"></p>\n");
  WriteFileText(site / "img/pic.gif", "GIF-1");
  for (const char* file : {"index.html", "docs/index.html", "img/pic.gif"}) {
    SetTime(site / file, kOld);
  }
  NginxServer nginx(site.path());
  ChildResult first = Harvo({"mirror", nginx.url("/"), "-o", "out", "--all-types"});
  ASSERT_EQ(first.exitStatus, 0) << first.out << first.err;
  const std::string page = ReadFileText(Saved("docs/index.html"));
  ASSERT_TRUE(Contains(page, "\r\n")) << page;  // saved with CR LF: its size is not nginx's

  WriteFileText(site / "img/pic.gif", "GIF-2, larger");
  SetTime(site / "img/pic.gif", kNew);
  ChildResult update = Harvo(
      {"mirror", nginx.url("/"), "-o", "out", "--compare", "out", "--update-only", "--all-types"});
  EXPECT_EQ(update.exitStatus, 0) << update.out << update.err;
  EXPECT_EQ(ReadFileText(Saved("img/pic.gif")), "GIF-2, larger");
  EXPECT_EQ(Stamp("img/pic.gif"), kNew);
  EXPECT_TRUE(Contains(update.out, "saved:      1 file\n")) << update.out;
  EXPECT_EQ(ReadFileText(Saved("docs/index.html")), page);

  // The library's own walk: the pages' sizes differ from the server's, so they are received
  // again.
  ChildResult plain = Harvo({"mirror", nginx.url("/"), "-o", "out", "--compare", "out",
                             "--update-only", "--all-types", "--no-walk-unchanged"});
  EXPECT_EQ(plain.exitStatus, 0) << plain.out << plain.err;
  EXPECT_TRUE(Contains(plain.out, "saved:      2 files\n")) << plain.out;
}

}  // namespace
