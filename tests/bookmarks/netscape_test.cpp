// Netscape bookmark files through HvrGetBookmarks, and the 4.x user's file.
#include <string>
#include <vector>

#include "wine_prefix.h"

namespace {

using Links = std::vector<std::string>;
using namespace std::string_literals;

class NetscapeTest : public WinePrefixTest {
 protected:
  Links ReadFile(const std::string& content, const char* root = "NS") {
    WriteFileText(dir_ / "bookmark.htm", content);
    LinkArrayVar links;
    EXPECT_EQ(HvrGetBookmarks((dir_ / "bookmark.htm").c_str(), &links.array, root, 0), 0);
    return Describe(links.array);
  }
  static constexpr char kMainKey[] = "Software\\Netscape\\Netscape Navigator\\Main";
  static constexpr char kBiffKey[] = "Software\\Netscape\\Netscape Navigator\\biff";

  // Only the keys whose value is given exist afterwards.
  void SetNetscapeKeys(const std::string& install, const std::string& user) {
    ResetRegistry();
    if (!install.empty()) SetString(Hive::kUser, kMainKey, "Install Directory", install);
    if (!user.empty()) SetString(Hive::kUser, kBiffKey, "CurrentUser", user);
  }
};

TEST_F(NetscapeTest, FoldersNestThroughDefinitionLists) {
  EXPECT_EQ(ReadFile("<DL><p>\n"
                     "<DT><H3 ADD_DATE=\"1\">News</H3>\n"
                     "<DL><p>\n"
                     "<DT><A HREF=\"http://daily.example/\">Daily</A>\n"
                     "</DL><p>\n"
                     "<DT><A HREF=\"http://home.example/\">Home</A>\n"
                     "</DL><p>\n"),
            (Links{"NS/News/|Daily|http://daily.example/", "NS/|Home|http://home.example/"}));

  EXPECT_EQ(ReadFile("<DT><A HREF=\"http://before.example/\">Before</A>\n"
                     "<DL><p>\r\n"
                     "<DT><H3>Outer</H3>\r\n<DL><p>\r\n"
                     "<DT><H3>Inner</H3>\r\n<DL><p>\r\n"
                     "<DT><A HREF=\"http://in.example/\">In</A>\r\n"
                     "</DL><p>\r\n"
                     "<DT><A HREF=\"http://out.example/\">Out</A>\r\n"
                     "</DL><p>\r\n</DL><p>\r\n",
                     nullptr),
            (Links{"/|Before|http://before.example/", "/Outer/Inner/|In|http://in.example/",
                   "/Outer/|Out|http://out.example/"}));
}

TEST_F(NetscapeTest, TakesLinesByTheirExactTagsAndHttp) {
  EXPECT_EQ(ReadFile("<DL>\n"
                     "<DT><A HREF=\"https://secure.example/\">Secure</A>\n"
                     "<DT><A HREF=\"https://s.example/\">see http:// docs</A>\n"
                     "<A HREF=\"http://nodt.example/\">NoDT</A>\n"
                     "<dt><a href=\"http://lower.example/\">Lower</a>\n"
                     "<DT><A HREF=\"http://att.example/\">AT&amp;T</A>\n"
                     "<DT><A HREF=http://noquote.example/>NoQuote</A>\n"
                     "<DT><A HREF=\"http://noclose.example/\">NoClose\n"
                     "<DT><H3>NoEnd\n"
                     "<DT><H3><Empty</H3>\n"
                     "<DT><A HREF=\"http://empty.example/\">InEmpty</A>\n"),
            (Links{"NS/|see http:// docs|https://s.example/", "NS/|AT&amp;T|http://att.example/",
                   "NS//|InEmpty|http://empty.example/"}));
}

TEST_F(NetscapeTest, ReadsLongLinesInPiecesAndTheLastLineOnce) {
  std::string pad(1023, ' ');
  Links got = ReadFile(
      "<DL>\n"
      // cut inside the title: the piece after the cut is no bookmark
      "<DT><A HREF=\"http://cut.example/\">" +
      pad + "</A>\n" +
      // the second piece is a whole bookmark line of its own
      pad +
      "<DT><A HREF=\"http://second.example/\">Second</A>\n"
      "<DT><A HREF=\"http://last.example/\">Last</A>");
  EXPECT_EQ(got, (Links{"NS/|Second|http://second.example/", "NS/|Last|http://last.example/"}));
}

TEST_F(NetscapeTest, UnbalancedOrDamagedFilesAddWhatTheyCan) {
  // More "</DL>" than "<DL>": a header at a negative depth goes to the bottom of the stack.
  EXPECT_EQ(ReadFile("</DL>\n</DL>\n<DT><H3>Lost</H3>\n"
                     "<DT><A HREF=\"http://a.example/\">A</A>\n"),
            (Links{"Lost/NS/|A|http://a.example/"}));

  // Nesting far beyond any real file: deep headers are passed over, nothing blows up.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<DL><DT><H3>F</H3>\n";
  Links got = ReadFile(deep + "<DT><A HREF=\"http://deep.example/\">Deep</A>\n");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_LE(got[0].size(), 1024u + 40u);
  EXPECT_TRUE(got[0].starts_with("NS/F/F/"));

  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 131 % 256);
  std::string hugeLine(10 * 1024 * 1024, 'h');
  got = ReadFile(binary + "\n<DT><A HREF=\"http://x.example/\">X</A>\n"s + hugeLine +
                 "\n<DT><A HREF=\"http://y.example/\">Y</A>\0<A HREF=\"http://z/\">\n"s +
                 "<DT><A HREF=\"http://nul.example/\">N\0UL</A>\n"s);
  EXPECT_EQ(got, (Links{"NS/|X|http://x.example/", "NS/|Y|http://y.example/"}));

  LinkArrayVar links;
  EXPECT_EQ(HvrGetBookmarks(nullptr, &links.array, "NS", 0), 0);
  ASSERT_NE(links.array, nullptr);
  EXPECT_TRUE(links.array->empty());
  EXPECT_EQ(HvrGetBookmarks(dir_.path().c_str(), &links.array, "NS", 1), 0);  // a folder
  EXPECT_TRUE(links.array->empty());
}

TEST_F(NetscapeTest, FourXUserFileComesFromInstallFolderAndCurrentUser) {
  SetNetscapeKeys(WinPath("Program Files\\Netscape\\Program"), "");
  SetExpandString(Hive::kUser, kBiffKey, "CurrentUser", "%USERNAME%");
  std::string path = "unchanged";
  EXPECT_EQ(HvrGet4xBookmarksPath(&path), 0);
  EXPECT_EQ(path, MappedPath("Program Files\\Netscape\\") + "Users/tester/bookmark.htm");

  WriteFileText(OnDriveC("Program Files/Netscape/Users/tester/bookmark.htm"),
                "<DL><DT><A HREF=\"http://nav.example/\">Nav</A>\n");
  LinkArrayVar links;
  EXPECT_EQ(HvrGet4xBookmarks(&links.array, "NS4", 0), 0);
  EXPECT_EQ(Describe(links.array), Links{"NS4/|Nav|http://nav.example/"});

  // An installation folder ending in its separator.
  SetNetscapeKeys(WinPath("Apps\\Nav\\"), "guest");
  EXPECT_EQ(HvrGet4xBookmarksPath(&path), 0);
  EXPECT_EQ(path, MappedPath("Apps\\Nav\\") + "Users/guest/bookmark.htm");

  // Main without its value: the installation folder counts as empty.
  SetNetscapeKeys("", "guest");
  AddKey(Hive::kUser, kMainKey);
  EXPECT_EQ(HvrGet4xBookmarksPath(&path), 0);
  EXPECT_EQ(path, "Users/guest/bookmark.htm");

  path = "unchanged";
  SetNetscapeKeys(WinPath("Apps\\Nav\\Program"), "");
  EXPECT_EQ(HvrGet4xBookmarksPath(&path), 0);
  EXPECT_EQ(path, "unchanged");
  EXPECT_EQ(HvrDelLinkArray(&links.array), 0);
  EXPECT_EQ(HvrGet4xBookmarks(&links.array, "NS4", 0), 0);
  EXPECT_TRUE(links.array->empty());
  HvrDelLinkArray(&links.array);
  EXPECT_EQ(HvrGet4xBookmarksPath(nullptr), 0);
}

}  // namespace
