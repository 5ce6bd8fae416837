// NCSA Mosaic hotlists through HvrGetHotlists.
#include <chrono>
#include <string>
#include <vector>

#include "wine_prefix.h"

namespace {

using Links = std::vector<std::string>;

class MosaicTest : public WinePrefixTest {
 protected:
  static constexpr char kKey[] = "Software\\NCSA\\Mosaic\\Hotlist Manager";

  MosaicTest() { SetString(Hive::kUser, kKey, "CurrentHotfile", WinPath("Mosaic\\hotlist.ini")); }
  Links Read(const std::string& content, const char* root = "MO") {
    WriteFileText(OnDriveC("Mosaic/hotlist.ini"), content);
    LinkArrayVar links;
    EXPECT_EQ(HvrGetHotlists(&links.array, root, 0), 0);
    return Describe(links.array);
  }
};

TEST_F(MosaicTest, SubMenusAreReadWhereTheirItemStands) {
  EXPECT_EQ(Read("[Tools]\r\n"
                 "Menu_Name=Tools\r\n"
                 "Item1=Search,http://search.example/,0\r\n"
                 "[Main]\r\n"
                 "Menu_Type=TOPLEVEL\r\n"
                 "Menu_Name=Main menu\r\n"
                 "Item1=MENU,Tools\r\n"
                 "Item2=Home,http://home.example/,0\r\n"),
            (Links{"MO/Tools/|Search|http://search.example/", "MO/|Home|http://home.example/"}));
}

TEST_F(MosaicTest, FindsTheTopLevelAndMatchesSectionsAsTheFileNamesThem) {
  // No TOPLEVEL line: the last section is the top level. "[Hot List]" is found as HotList, but
  // a sub-menu item naming "Hot List" (with its space) matches no header.
  EXPECT_EQ(Read("[Main]\n"
                 "Item1=Main doc,http://main.example/,0\n"
                 "[Hot List]\n"
                 "Item1=MENU,Hot List\n"
                 "item2=MENU,main\n"
                 "Item3=Last,http://last.example/,0"),
            (Links{"MO/|Main doc|http://main.example/", "MO/|Last|http://last.example/"}));

  EXPECT_TRUE(Read("Item1=Orphan,http://orphan.example/,0\n").empty());
  EXPECT_TRUE(Read("").empty());
}

TEST_F(MosaicTest, ItemsNeedTwoCommasAndHttpAndMenuTitlesOpenSubMenus) {
  EXPECT_EQ(Read("[Main]\n"
                 "Menu_Type=TOPLEVEL\n"
                 "Item1=OneComma,http://one.example/\n"
                 "Item2=Secure,https://secure.example/,0\n"
                 "Item3=Elsewhere,ftp://f.example/,see http://x\n"
                 "Item4=Menu,http://m.example/,0\n"
                 "Item5 has no equals sign\n"
                 "Item6=MENU,Sub\n"
                 "Item7= Spaced , http://spaced.example/ ,0\n"
                 "[Sub]\n"
                 "Item1=Before name,http://before.example/,0\n"
                 "Menu_Name=\n"
                 "Menu_Name=Named\n"
                 "Menu_Name=Ignored\n"
                 "Item2=After name,http://after.example/,0\n"),
            (Links{"MO/|Elsewhere|ftp://f.example/", "MO/|Before name|http://before.example/",
                   "MO//Named/|After name|http://after.example/",
                   "MO/| Spaced | http://spaced.example/ "}));
}

TEST_F(MosaicTest, MenuCyclesAreNotFollowedAgain) {
  EXPECT_EQ(Read("[Main]\n"
                 "Menu_Type=TOPLEVEL\n"
                 "Item1=MENU,Main\n"
                 "Item2=MENU,Sub\n"
                 "Item3=Top,http://top.example/,0\n"
                 "[Sub]\n"
                 "Menu_Name=Sub\n"
                 "Item1=MENU,MAIN\n"
                 "Item2=MENU,Sub\n"
                 "Item3=Inner,http://inner.example/,0\n"),
            (Links{"MO/Sub/|Inner|http://inner.example/", "MO/|Top|http://top.example/"}));
}

TEST_F(MosaicTest, NestingAndSharedMenusAreBounded) {
  // A chain of 40 menus: levels 0 to 32 are read (33 open handles at the deepest point).
  std::string chain;
  for (int i = 0; i < 40; ++i) {
    chain += "[M" + std::to_string(i) + "]\n";
    if (i == 0) chain += "Menu_Type=TOPLEVEL\n";
    chain += "Menu_Name=m\nItem1=MENU,M" + std::to_string(i + 1) + "\n";
    chain += "Item2=D" + std::to_string(i) + ",http://d.example/,0\n";
  }
  Links got = Read(chain);
  ASSERT_EQ(got.size(), 33u);
  EXPECT_EQ(
      got.front(), "MO/" + [] {
        std::string s;
        for (int i = 0; i < 32; ++i) s += "m/";
        return s;
      }() + "|D32|http://d.example/");
  EXPECT_EQ(got.back(), "MO/|D0|http://d.example/");

  // Each menu names the next one twice: 2^30 reads if nothing bounded them.
  std::string fan;
  for (int i = 0; i < 30; ++i) {
    std::string next = "F" + std::to_string(i + 1);
    fan += "[F" + std::to_string(i) + "]\n" + (i == 0 ? "Menu_Type=TOPLEVEL\n" : "") +
           "Item1=MENU," + next + "\nItem2=MENU," + next + "\nItem3=x,http://x.example/,0\n";
  }
  auto start = std::chrono::steady_clock::now();
  got = Read(fan);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
  EXPECT_FALSE(got.empty());
  EXPECT_LT(got.size(), 1000000u);
}

TEST_F(MosaicTest, MissingRegistryValueOrFileAddsNothing) {
  EXPECT_EQ(Read("[Main]\nItem1=A,http://a.example/,0\n", nullptr), Links{"/|A|http://a.example/"});
  SetString(Hive::kUser, kKey, "CurrentHotfile", WinPath("Mosaic\\missing.ini"));
  EXPECT_TRUE(Read("[Main]\nItem1=A,http://a.example/,0\n").empty());
  ResetRegistry();
  EXPECT_TRUE(Read("[Main]\nItem1=A,http://a.example/,0\n").empty());
}

}  // namespace
