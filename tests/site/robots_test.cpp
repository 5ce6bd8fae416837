#include "site/robots.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
  const char* path;
  bool allowed;
};

void ExpectCases(const RobotsRules& rules, std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(rules.IsAllowed(c.path), c.allowed) << c.path;
  }
}

TEST(RobotsRules, LongestMatchDecidesAndAllowWinsATie) {
  const RobotsRules rules = RobotsRules::Parse(
      "User-agent: *\n"
      "Disallow: /private/\n"
      "Allow: /private/open/\n"
      "Disallow: /private/open/secret.html\n"
      "Disallow: /tie\n"
      "Allow: /tie\n"
      "Disallow: /page\n",
      "Harvo/1.1.0");
  ExpectCases(rules, {
                         {"/", true},
                         {"/index.html", true},
                         {"/private", true},  // the rule names the folder, with its "/"
                         {"/private/", false},
                         {"/private/a.html", false},
                         {"/private/open/", true},
                         {"/private/open/b.html", true},
                         {"/private/open/secret.html", false},
                         {"/private/open/secret.html.bak", false},
                         {"/tie/x", true},
                         {"/page", false},
                         {"/pages/x.html", false},   // a pattern matches a prefix
                         {"/Page", true},            // paths are compared with their case
                         {"private/a.html", false},  // read as "/private/a.html"
                     });
}

TEST(RobotsRules, WildcardsAndEndAnchor) {
  const RobotsRules rules = RobotsRules::Parse(
      "User-agent: *\n"
      "Disallow: /*.gif$\n"
      "Disallow: /*?sort=\n"
      "Disallow: /a*b*c\n"
      "Disallow: /exact$\n"
      "Allow: /pics/*.gif$\n",
      "Harvo");
  ExpectCases(rules, {
                         {"/x.gif", false},
                         {"/dir/y.gif", false},
                         {"/x.gif?v=2", true},  // "$" ends the path
                         {"/x.gifs", true},
                         {"/pics/z.gif", true},  // longer Allow
                         {"/list.php?page=2", true},
                         {"/list.php?sort=name", false},
                         {"/list.php?page=2&sort=name", true},  // "?sort=" is not in it
                         {"/aXbYc", false},
                         {"/abc/d", false},
                         {"/acb", true},  // the parts must come in order
                         {"/ab", true},
                         {"/exact", false},
                         {"/exact/", true},
                     });
}

TEST(RobotsRules, GroupOfTheAgentOrElseTheStarGroup) {
  const std::string text =
      "# comment line\n"
      "Disallow: /before-any-agent\n"
      "User-agent: OtherBot\n"
      "Disallow: /\n"
      "\n"
      "User-agent: *\n"
      "Disallow: /star-only/\n"
      "\n"
      "User-agent: ExampleBot\n"
      "User-agent: harvo/9.9\n"  // the product token matters, in any case
      "Disallow: /mine/  # trailing comment\n"
      "Sitemap: http://127.0.0.1/sitemap.xml\n"
      "Disallow: /mine-too/\n"
      "User-agent: HARVO\n"
      "Disallow: /merged/\n";
  const RobotsRules harvo = RobotsRules::Parse(text, "Harvo/1.1.0");
  ExpectCases(harvo, {
                         {"/star-only/a.html", true},  // a group of its own replaces "*"
                         {"/mine/a.html", false},
                         {"/mine-too/a.html", false},
                         {"/merged/a.html", false},
                         {"/before-any-agent", true},
                     });
  const RobotsRules other = RobotsRules::Parse(text, "Mozilla/5.0 (X11)");
  ExpectCases(other, {
                         {"/star-only/a.html", false},
                         {"/mine/a.html", true},
                         {"/index.html", true},
                     });
  const RobotsRules blocked = RobotsRules::Parse(text, "OtherBot");
  ExpectCases(blocked, {{"/", false}, {"/index.html", false}});
  // "Harvobot" is another agent's token, not ours.
  const RobotsRules prefix =
      RobotsRules::Parse("User-agent: Harvobot\nDisallow: /\n", "Harvo/1.1.0");
  EXPECT_FALSE(prefix.HasRules());
  EXPECT_TRUE(prefix.IsAllowed("/x"));
}

TEST(RobotsRules, EmptyOrBrokenFilesAllowEverything) {
  for (const char* text :
       {"", "\xEF\xBB\xBF", "User-agent: *\nDisallow:\n", "garbage without fields\n\x01\x02",
        "Disallow: /\n", "User-agent: *\nCrawl-delay: 10\n"}) {
    const RobotsRules rules = RobotsRules::Parse(text, "Harvo/1.1.0");
    EXPECT_FALSE(rules.HasRules()) << text;
    EXPECT_TRUE(rules.IsAllowed("/anything.html")) << text;
  }
}

TEST(RobotsRules, LineEndsByteOrderMarkAndFieldCase) {
  for (const char* text : {"\xEF\xBB\xBFUser-agent: *\r\nDisallow: /x/\r\n",
                           "user-AGENT:*\rDISALLOW :/x/\r", "User-agent: *\nDisallow: /x/"}) {
    const RobotsRules rules = RobotsRules::Parse(text, "Harvo/1.1.0");
    EXPECT_FALSE(rules.IsAllowed("/x/a.html")) << text;
    EXPECT_TRUE(rules.IsAllowed("/y/a.html")) << text;
  }
}

TEST(RobotsRules, PercentEscapesAndEightBitPathsCompareAsTheSame) {
  const RobotsRules rules = RobotsRules::Parse(
      "User-agent: *\nDisallow: /%7Euser/\nDisallow: /caf%c3%a9/\nDisallow: /a%2fb\n", "Harvo");
  ExpectCases(rules, {
                         {"/~user/page.html", false},
                         {"/%7euser/page.html", false},
                         {"/caf\xC3\xA9/menu.html", false},
                         {"/a%2Fb", false},
                         {"/a/b", true},  // an escaped "/" is no separator
                     });
}

TEST(RobotsRules, HostileInputStaysBounded) {
  // Many stars against a long path that almost matches: must end quickly and correctly.
  std::string pattern = "/";
  for (int i = 0; i < 200; ++i) pattern += "*a";
  pattern += "b$";
  std::string path = "/" + std::string(20000, 'a');
  EXPECT_FALSE(RobotsRules::PatternMatches(pattern, path));
  EXPECT_TRUE(RobotsRules::PatternMatches(pattern, path + "b"));

  std::string many = "User-agent: *\n";
  for (size_t i = 0; i < RobotsRules::kMaxRules + 50; ++i) {
    many += "Disallow: /d" + std::to_string(i) + "/\n";
  }
  const RobotsRules rules = RobotsRules::Parse(many, "Harvo");
  EXPECT_FALSE(rules.IsAllowed("/d0/"));
  EXPECT_TRUE(rules.IsAllowed("/d" + std::to_string(RobotsRules::kMaxRules + 10) + "/"));

  const std::string longRule = "User-agent: *\nDisallow: /" + std::string(100000, 'x') + "\n";
  const RobotsRules cut = RobotsRules::Parse(longRule, "Harvo");
  EXPECT_FALSE(cut.IsAllowed("/" + std::string(RobotsRules::kMaxPatternLength, 'x')));
}

TEST(RobotsRules, ProductToken) {
  EXPECT_EQ(RobotsRules::ProductToken("Harvo/1.1.0"), "harvo");
  EXPECT_EQ(RobotsRules::ProductToken("  Example Host 2"), "example");
  EXPECT_EQ(RobotsRules::ProductToken(""), "");
}

}  // namespace
