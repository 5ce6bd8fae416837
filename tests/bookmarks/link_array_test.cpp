// The link-array exports: creating, appending to and freeing arrays.
#include <string>
#include <vector>

#include "wine_prefix.h"

namespace {

using Links = std::vector<std::string>;

class LinkArrayTest : public WinePrefixTest {
 protected:
  LinkArrayTest() {
    SetString(Hive::kUser,
              "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
              "Favorites", WinPath("Fav"));
    WriteFileText(OnDriveC("Fav/b.url"), "[InternetShortcut]\nURL=http://fav-b.example/\n");
    WriteFileText(OnDriveC("Fav/a.url"), "[InternetShortcut]\nURL=http://fav-a.example/\n");
    WriteFileText(dir_ / "bookmark.htm",
                  "<DL>\n<DT><A HREF=\"http://ns-1.example/\">N1</A>\n"
                  "<DT><A HREF=\"http://ns-2.example/\">N2</A>\n");
  }
  std::string NetscapeFile() const { return dir_ / "bookmark.htm"; }
};

TEST_F(LinkArrayTest, AppendPutsFavoritesInFrontAndOtherStoresBehind) {
  LinkArrayVar links;
  ASSERT_EQ(HvrGetBookmarks(NetscapeFile().c_str(), &links.array, "NS", 0), 0);
  HvrLinkArray* first = links.array;
  ASSERT_EQ(HvrGetFavorites(&links.array, "IE", 1), 0);
  EXPECT_EQ(links.array, first);
  ASSERT_EQ(HvrGetBookmarks(NetscapeFile().c_str(), &links.array, "NS2", 1), 0);
  EXPECT_EQ(Describe(links.array),
            (Links{"IE/|a|http://fav-a.example/", "IE/|b|http://fav-b.example/",
                   "NS/|N1|http://ns-1.example/", "NS/|N2|http://ns-2.example/",
                   "NS2/|N1|http://ns-1.example/", "NS2/|N2|http://ns-2.example/"}));
  for (size_t i = 0; i < links.array->size(); ++i) {
    const HvrLinkInfo* link = links.array->at(i);
    EXPECT_EQ(link->Selected, 0);
    EXPECT_TRUE(link->Job.SaveFolder.empty());
    EXPECT_TRUE(link->Job.FailedFiles.empty());
  }
}

TEST_F(LinkArrayTest, ReadersAlwaysLeaveAnArrayToFree) {
  LinkArrayVar links;
  // Not installed: a new, empty array still comes back.
  ASSERT_EQ(HvrGetHotlists(&links.array, "MO", 0), 0);
  ASSERT_NE(links.array, nullptr);
  EXPECT_TRUE(links.array->empty());
  EXPECT_EQ(HvrDelLinkArray(&links.array), 0);
  EXPECT_EQ(links.array, nullptr);

  // append with no array yet creates one.
  ASSERT_EQ(HvrGetOpera5(&links.array, "OP", 1), 0);
  ASSERT_NE(links.array, nullptr);
  ASSERT_EQ(HvrGetFavorites(&links.array, "", 1), 0);
  EXPECT_EQ(Describe(links.array),
            (Links{"/|a|http://fav-a.example/", "/|b|http://fav-b.example/"}));

  // A null address is refused without touching anything.
  EXPECT_EQ(HvrGetFavorites(nullptr, "IE", 0), 0);
  EXPECT_EQ(HvrGetBookmarks(NetscapeFile().c_str(), nullptr, "NS", 1), 0);
  EXPECT_EQ(HvrGet4xBookmarks(nullptr, "NS", 0), 0);
  EXPECT_EQ(HvrGetHotlists(nullptr, "MO", 0), 0);
  EXPECT_EQ(HvrGetOpera5(nullptr, "OP", 0), 0);
  EXPECT_EQ(HvrDelLinkArray(nullptr), 1);
}

TEST_F(LinkArrayTest, DeletingTwiceFailsTheSecondTime) {
  HvrLinkArray* array = nullptr;
  EXPECT_EQ(HvrDelLinkArray(&array), 1);
  ASSERT_EQ(HvrGetBookmarks(NetscapeFile().c_str(), &array, "NS", 0), 0);
  ASSERT_EQ(array->size(), 2u);
  array->at(0)->Job.FailedFiles = {"dir/a.html", "dir/b.html"};
  EXPECT_EQ(HvrDelLinkArray(&array), 0);
  EXPECT_EQ(array, nullptr);
  EXPECT_EQ(HvrDelLinkArray(&array), 1);
}

}  // namespace
