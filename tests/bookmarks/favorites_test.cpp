// Internet Explorer Favorites through HvrGetFavorites.
#include <filesystem>
#include <string>
#include <vector>

#include "wine_prefix.h"

namespace {

namespace fs = std::filesystem;
using Links = std::vector<std::string>;

class FavoritesTest : public WinePrefixTest {
 protected:
  static constexpr char kKey[] =
      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

  FavoritesTest() { SetExpandString(Hive::kUser, kKey, "Favorites", "%USERPROFILE%\\Favorites"); }

  void SetFavoritesValue(const std::string& data) {
    SetString(Hive::kUser, kKey, "Favorites", data);
  }
  std::string Favorites(const std::string& relative = "") const {
    return OnDriveC("users/tester/Favorites/" + relative);
  }
  void Shortcut(const std::string& relative, const std::string& url) {
    WriteFileText(Favorites(relative), "[InternetShortcut]\r\nURL=" + url + "\r\nIconIndex=0\r\n");
  }
  Links Read(const char* root = "IE") {
    LinkArrayVar links;
    EXPECT_EQ(HvrGetFavorites(&links.array, root, 0), 0);
    EXPECT_NE(links.array, nullptr);
    return Describe(links.array);
  }
};

TEST_F(FavoritesTest, SortsEachFolderByTitleAndPutsSubFoldersAfterTheirParent) {
  Shortcut("Zeta.url", "http://zeta.example/");
  Shortcut("alpha.url", "http://alpha.example/");
  Shortcut("News/b.url", "http://b.example/");
  EXPECT_EQ(Read(), (Links{"IE/|alpha|http://alpha.example/", "IE/|Zeta|http://zeta.example/",
                           "IE/News/|b|http://b.example/"}));

  // "A" sorts before "c" but a sub-folder's links always follow the folder's own.
  Shortcut("c.url", "http://c.example/");
  Shortcut("A/Deep/d.url", "http://d.example/");
  Shortcut("A/Deep/Deeper/e.url", "http://e.example/");
  fs::remove_all(Favorites("News"));
  EXPECT_EQ(Read(), (Links{"IE/|alpha|http://alpha.example/", "IE/|c|http://c.example/",
                           "IE/|Zeta|http://zeta.example/", "IE/A/Deep/|d|http://d.example/",
                           "IE/A/Deep/Deeper/|e|http://e.example/"}));
}

TEST_F(FavoritesTest, TakesOnlyVisibleShortcutsWithHttpInTheirUrl) {
  Shortcut("secure.url", "https://secure.example/");
  Shortcut("inside.url", "ftp://x.example/?from=http://y.example/");
  Shortcut("upper.URL", "http://upper.example/");
  Shortcut(".hidden.url", "http://hidden.example/");
  Shortcut(".url", "http://dotonly.example/");  // hidden: its name begins with "."
  MarkHidden("users/tester/Favorites/.hidden.url");
  MarkHidden("users/tester/Favorites/.url");
  Shortcut(".private/p.url", "http://private.example/");
  Shortcut("long.url", "http://long.example/" + std::string(3000, 'x'));
  WriteFileText(Favorites("nourl.url"), "[InternetShortcut]\r\nIconIndex=0\r\n");
  WriteFileText(Favorites("notes.txt"), "[InternetShortcut]\r\nURL=http://txt.example/\r\n");
  fs::create_directories(Favorites("Empty/Emptier"));

  Links got = Read();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0], "IE/|inside|ftp://x.example/?from=http://y.example/");
  EXPECT_EQ(got[1], "IE/|long|http://long.example/" + std::string(2047 - 20, 'x'));
  EXPECT_EQ(got[2], "IE/.private/|p|http://private.example/");
}

TEST_F(FavoritesTest, FolderLinksBackIntoTheWalkAreNotFollowed) {
  Shortcut("top.url", "http://top.example/");
  Shortcut("News/b.url", "http://b.example/");
  fs::create_directory_symlink("..", Favorites("News/up"));
  fs::create_directory_symlink(".", Favorites("News/self"));
  EXPECT_EQ(Read(), (Links{"IE/|top|http://top.example/", "IE/News/|b|http://b.example/"}));

  // A link to a folder that is not being walked is walked like any folder.
  Shortcut("Other/o.url", "http://o.example/");
  fs::create_directory_symlink("../Other", Favorites("News/other"));
  Links got = Read();
  EXPECT_EQ(std::count(got.begin(), got.end(), "IE/News/other/|o|http://o.example/"), 1);
  EXPECT_EQ(std::count(got.begin(), got.end(), "IE/Other/|o|http://o.example/"), 1);
  EXPECT_EQ(got.size(), 4u);
}

TEST_F(FavoritesTest, MissingOrUnusableFavoritesValueAddsNothing) {
  Shortcut("a.url", "http://a.example/");
  EXPECT_EQ(Read(nullptr), Links{"/|a|http://a.example/"});

  SetFavoritesValue(WinPath("users\\tester\\Missing"));
  EXPECT_TRUE(Read().empty());
  SetFavoritesValue("");  // would otherwise walk the root of the file system
  EXPECT_TRUE(Read().empty());
  // 259 characters as stored, over 260 once expanded.
  const std::string tail = "\\%USERPROFILE%";
  SetExpandString(Hive::kUser, kKey, "Favorites",
                  WinPath(std::string(259 - WinPath("").size() - tail.size(), 'x') + tail));
  EXPECT_TRUE(Read().empty());
  SetDword(Hive::kUser, kKey, "Favorites", 1);
  EXPECT_TRUE(Read().empty());
  RemoveValue(Hive::kUser, kKey, "Favorites");
  EXPECT_TRUE(Read().empty());
}

}  // namespace
