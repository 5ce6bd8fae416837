// Local names of query pages: distinct per query, and safe whatever the query holds.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "site/query_name.h"

namespace {

// What no local name may hold: a separator, "..", a control byte, or a mark that a file system
// or a link in a page would take for something else.
void ExpectSafe(const std::string& name, const std::string& query) {
  EXPECT_EQ(name.find('/'), std::string::npos) << query;
  EXPECT_EQ(name.find('\\'), std::string::npos) << query;
  EXPECT_EQ(name.find(".."), std::string::npos) << query;
  for (char c : name) {
    const auto b = static_cast<unsigned char>(c);
    EXPECT_FALSE(b < 0x20 || b == 0x7F) << query;
    EXPECT_EQ(std::string(":*?\"<>|%#").find(c), std::string::npos) << query << " " << name;
  }
  EXPECT_LE(name.size(), kMaxQueryFileName) << query;
}

TEST(QueryNameTest, PlainQueriesKeepTheirTextAndPagesEndInHtml) {
  EXPECT_EQ(QueryFileName("list.php", "page=2", true), "list.php@page=2.html");
  EXPECT_EQ(QueryFileName("list.php", "page=3", true), "list.php@page=3.html");
  // Other files keep their extension at the end.
  EXPECT_EQ(QueryFileName("style.css", "v=3", false), "style.css@v=3.css");
  EXPECT_EQ(QueryFileName("img.cgi", "id=4&s=big", false), "img.cgi@id=4&s=big.cgi");
  EXPECT_EQ(QueryFileName("get", "f=a.zip", false), "get@f=a.zip");
  EXPECT_EQ(QueryFileName("a.zip", "f=a.zip", false), "a.zip@f=a.zip");
  EXPECT_EQ(QueryFileName("", "page=2", true), "index@page=2.html");
  EXPECT_EQ(QueryFileName("a.html", "x=1.html", true), "a.html@x=1.html");
  EXPECT_EQ(QueryFileName("a.HTM", "v", true), "a.HTM@v.html");
}

TEST(QueryNameTest, HostileQueriesGiveSafeDistinctNames) {
  const std::string hostile[] = {"../../x",
                                 "%2e%2e/",
                                 "a/b",
                                 "a\\b",
                                 std::string("a\0b", 3),
                                 "\r\nSet-Cookie: x",
                                 "..",
                                 "...",
                                 ":*?\"<>|",
                                 "a b",
                                 std::string(10 * 1024, 'q'),
                                 std::string(10 * 1024, '/'),
                                 "x#y",
                                 "\x95\x5c",
                                 "a_b",
                                 "a%2Fb"};
  std::set<std::string> names;
  for (const std::string& query : hostile) {
    const std::string name = QueryFileName("list.php", query, true);
    ExpectSafe(name, query);
    EXPECT_TRUE(name.starts_with("list.php@")) << name;
    EXPECT_TRUE(name.ends_with(".html")) << name;
    names.insert(name);
  }
  // A changed query carries a hash of what it was: "a/b" and "a_b" do not share a file.
  EXPECT_EQ(names.size(), std::size(hostile));
  // Long queries that differ only at their end are still two files.
  std::string a(10 * 1024, 'q'), b = a;
  b.back() = 'r';
  EXPECT_NE(QueryFileName("p", a, false), QueryFileName("p", b, false));
  EXPECT_LE(QueryFileName("p", a, false).size(), kMaxQueryFileName);
}

TEST(QueryNameTest, PagesAreKnownByTheirExtension) {
  for (const char* page :
       {"list.php", "a.HTML", "x.htm", "run.cgi", "s.aspx", "folder", "", "d/"}) {
    EXPECT_TRUE(NamesPage(page)) << page;
  }
  for (const char* file : {"img.gif", "style.css", "f.woff2", "a.zip", "dir.d/file.js"}) {
    EXPECT_FALSE(NamesPage(file)) << file;
  }
  EXPECT_EQ(DecodeQuery("a=1&amp;b=2&c=3&amp"), "a=1&b=2&c=3&amp");
}

}  // namespace
