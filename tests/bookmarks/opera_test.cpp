// The Opera 5 hotlist through HvrGetOpera5.
#include <string>
#include <vector>

#include "wine_prefix.h"

namespace {

using Links = std::vector<std::string>;

class OperaTest : public WinePrefixTest {
 protected:
  static constexpr char kKey[] =
      "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Opera.exe";

  OperaTest() {
    SetString(Hive::kMachine, kKey, "", WinPath("Program Files\\Opera\\Opera.exe"));
    SetPath(WinPath("Program Files\\Opera"));
  }
  void SetPath(const std::string& data) { SetString(Hive::kMachine, kKey, "Path", data); }
  Links Read(const std::string& content, const char* root = "OP") {
    WriteFileText(OnDriveC("Program Files/Opera/Opera5.adr"), content);
    LinkArrayVar links;
    EXPECT_EQ(HvrGetOpera5(&links.array, root, 0), 0);
    return Describe(links.array);
  }
};

TEST_F(OperaTest, FoldersOpenWithTheirNameAndCloseWithADash) {
  EXPECT_EQ(Read("Opera Hotlist version 2.0\r\n\r\n"
                 "#URL\r\n\tNAME=Start\r\n\tURL=http://start.example/\r\n\r\n"
                 "#FOLDER\r\n\tNAME=Work\r\n\tCREATED=0\r\n\r\n"
                 "#URL\r\n\tNAME=Mail\r\n\tURL=http://mail.example/\r\n\r\n"
                 "-\r\n\r\n"
                 "#URL\r\n\tNAME=News\r\n\tURL=http://news.example/\r\n"),
            (Links{"OP/|Start|http://start.example/", "OP/Work/|Mail|http://mail.example/",
                   "OP/|News|http://news.example/"}));
}

TEST_F(OperaTest, TakesEveryUrlAndKeepsMarkersToTheirColumns) {
  EXPECT_EQ(Read("#FOLDER\n NAME=Web\n"
                 "   #FOLDER\n NAME=Opera\n"
                 "#URL\n NAME=Secure\n URL=https://secure.example/\n"
                 "#URL\n URL=ftp://files.example/\n"  // no NAME=: the last name read
                 "  #URL\n NAME=Indented\n URL=http://indented.example/\n"
                 "  -\n"
                 "#URL\n NAME=Empty\n URL=\n"
                 "-\n"
                 "#URL\n NAME=InWeb\n URL=http://inweb.example/\n"),
            (Links{"OP/Web/Opera/|Secure|https://secure.example/",
                   "OP/Web/Opera/|Secure|ftp://files.example/", "OP/Web/Opera/|Empty|",
                   "OP/Web/|InWeb|http://inweb.example/"}));
}

TEST_F(OperaTest, DashAtTheTopLevelCutsIntoTheRootLabel) {
  const std::string file =
      "#URL\nNAME=A\nURL=http://a.example/\n-\n#URL\nNAME=B\nURL=http://b.example/\n"
      "#FOLDER\nNAME=F\n#URL\nNAME=C\nURL=http://c.example/";
  EXPECT_EQ(Read(file),
            (Links{"OP/|A|http://a.example/", "|B|http://b.example/", "F/|C|http://c.example/"}));
  EXPECT_EQ(Read(file, "My/Root"), (Links{"My/Root/|A|http://a.example/", "My/|B|http://b.example/",
                                          "My/F/|C|http://c.example/"}));
}

TEST_F(OperaTest, AnEntryCutOffByTheEndOfTheFileEndsTheReading) {
  EXPECT_EQ(Read("#URL\nNAME=A\nURL=http://a.example/\n#URL\nNAME=B\n"),
            Links{"OP/|A|http://a.example/"});
  EXPECT_EQ(Read("#URL\nNAME=A\nURL=http://a.example/\n#FOLDER\n"),
            Links{"OP/|A|http://a.example/"});

  // Folders nested past any real hotlist stay out of the label but still close in pairs.
  std::string deep;
  for (int i = 0; i < 2000; ++i) deep += "#FOLDER\nNAME=Folder\n";
  deep += "#URL\nNAME=Deep\nURL=http://deep.example/\n";
  for (int i = 0; i < 2000; ++i) deep += "-\n";
  deep += "#URL\nNAME=Top\nURL=http://top.example/\n";
  Links got = Read(deep);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_LE(got[0].size(), 1024u + 30u);
  EXPECT_EQ(got[1], "OP/|Top|http://top.example/");
}

TEST_F(OperaTest, ProgramFolderComesFromTheRegistry) {
  const std::string file = "#URL\nNAME=A\nURL=http://a.example/\n";
  SetPath(WinPath("Program Files\\Opera\\"));
  EXPECT_EQ(Read(file, nullptr), Links{"/|A|http://a.example/"});
  SetPath("");
  EXPECT_TRUE(Read(file).empty());
  SetPath(WinPath("Elsewhere"));
  EXPECT_TRUE(Read(file).empty());
  ResetRegistry();
  EXPECT_TRUE(Read(file).empty());
}

}  // namespace
