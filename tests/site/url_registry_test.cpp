// The registry's folder table, name store and hash indexes.
#include "site/url_registry.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UrlRegistryTest, PathsComeBackWholeAndEachFolderIsKeptOnce) {
  KtWdlUrlRegistry registry;
  const std::string deep = std::string(3000, 'd') + "/sub/";
  const std::string longName(70000, 'n');  // beyond a block of the name store
  const std::vector<std::string> paths = {
      "", "top.html", deep + "a.html", deep, deep + "b", deep + longName, "x/" + longName + ".gif"};
  for (const std::string& path : paths) registry.Add(path);
  for (int i = 0; i < 2000; ++i) registry.Add(deep + std::to_string(i) + ".gif");

  EXPECT_EQ(registry.Size(), paths.size() + 2000);
  EXPECT_EQ(registry.FolderCount(), 4u) << "the root, the deep folder, its sub/ and x/";
  for (uint32_t id = 0; id < paths.size(); ++id) {
    EXPECT_EQ(registry.PathOf(id), paths[id]);
    EXPECT_EQ(registry.FindExact(paths[id]), id);
    EXPECT_EQ(registry.FindNoCase(paths[id]), id);
  }
  EXPECT_EQ(registry.PathOf(static_cast<uint32_t>(paths.size()) + 1999), deep + "1999.gif");
  EXPECT_EQ(registry.Item(2).GetName(), "a.html");

  registry.Clear();
  EXPECT_EQ(registry.Size(), 0u);
  EXPECT_EQ(registry.FindExact("top.html"), KtWdlUrlRegistry::kNone);
  EXPECT_EQ(registry.Add("top.html"), 0u);
}

TEST(UrlRegistryTest, LookupsFindEveryItemAfterTheIndexesGrew) {
  KtWdlUrlRegistry registry;
  const int count = 100000;
  // Many folders and many names per folder, so that both kinds of index grow many times.
  auto path = [](int n) { return "f" + std::to_string(n % 997) + "/p" + std::to_string(n); };
  for (int n = 0; n < count; ++n) ASSERT_EQ(registry.Add(path(n)), static_cast<uint32_t>(n));
  EXPECT_EQ(registry.FolderCount(), 998u);
  int wrong = 0;
  for (int n = 0; n < count; ++n) {
    std::string p = path(n);
    if (registry.FindExact(p) != static_cast<uint32_t>(n)) ++wrong;
    p[0] = 'F';
    if (registry.FindNoCase(p) != static_cast<uint32_t>(n)) ++wrong;
    if (registry.FindExact(p) != KtWdlUrlRegistry::kNone) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(registry.FindExact("f1/p"), KtWdlUrlRegistry::kNone);
  EXPECT_EQ(registry.FindExact("f1/"), KtWdlUrlRegistry::kNone);
  EXPECT_EQ(registry.FindNoCase("g1/p1"), KtWdlUrlRegistry::kNone);
}

// Folders share their prefixes: a thousand folders below one deep folder keep its text once.
TEST(UrlRegistryTest, FoldersBelowADeepFolderCostTheirOwnNames) {
  KtWdlUrlRegistry registry;
  const std::string deep = std::string(200, 'a') + "/" + std::string(200, 'b') + "/";
  for (int n = 0; n < 1000; ++n) registry.Add(deep + std::to_string(n) + "/x.htm");
  EXPECT_EQ(registry.FolderCount(), 1003u);
  EXPECT_EQ(registry.PathOf(999), deep + "999/x.htm");
  EXPECT_EQ(registry.FindExact(deep + "999/x.htm"), 999u);
  EXPECT_EQ(registry.FindNoCase(std::string(200, 'A') + "/" + std::string(200, 'b') + "/5/X.htm"),
            5u);
  EXPECT_EQ(registry.FindExact(deep + "1000/x.htm"), KtWdlUrlRegistry::kNone);
  // "//" makes a folder with an empty name, which is not its parent.
  uint32_t doubled = registry.Add(deep + "/y.htm");
  EXPECT_EQ(registry.PathOf(doubled), deep + "/y.htm");
  EXPECT_EQ(registry.FindExact(deep + "y.htm"), KtWdlUrlRegistry::kNone);
}

TEST(UrlRegistryTest, IgnoringCaseTheFirstAcceptedPathIsFoundWhicheverFolderSpellingItHas) {
  KtWdlUrlRegistry registry;
  uint32_t upper = registry.Add("Dir/a.html");
  uint32_t lower = registry.Add("dir/A.html");
  uint32_t other = registry.Add("dir/b.html");  // its folder is spelt unlike the first Dir/
  uint32_t deeper = registry.Add("DIR/Sub/c.gif");
  EXPECT_EQ(registry.FindNoCase("DIR/A.HTML"), upper);
  EXPECT_EQ(registry.FindExact("dir/A.html"), lower);
  EXPECT_EQ(registry.FindNoCase("dIR/B.html"), other);
  EXPECT_EQ(registry.FindNoCase("dir/sub/C.GIF"), deeper);
  EXPECT_EQ(registry.FindNoCase("dir/sub/"), KtWdlUrlRegistry::kNone);
  // A name's "/" decides the folder: "a/b.html" is not the item "a" + "/b.html".
  registry.Add("a");
  EXPECT_EQ(registry.FindNoCase("a/b.html"), KtWdlUrlRegistry::kNone);
  EXPECT_EQ(registry.FolderCount(), 5u);  // the root, Dir/, dir/, DIR/ and DIR/Sub/
}

}  // namespace
