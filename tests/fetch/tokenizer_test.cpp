// The page scanner: tokens, tags, quotes and comments across blocks, and the saved copy.
#include <gtest/gtest.h>

#include <random>

#include "fetch/fetcher_peer.h"

namespace {

using Links = std::vector<std::string>;

ScanResult ScanWhole(const std::string& page, const std::string& dir = "/") {
  return ScanFixture().Scan(page, {page.size() + 1}, dir);
}

TEST(TokenizerTest, EverySplitOfThePageGivesTheSameLinksAndTheSameCopy) {
  const std::string page =
      "<html>\n<head><title>T \"quoted  words\"</title></head>\r\n"
      "<body background=\"bg.gif\">\n"
      "<a HREF = \"dir/page.html\">x</a> <img src=img/a.gif alt=\"a  b\">\n"
      "<!-- <a href=\"hidden.html\"> -->\n"
      "<a href=\"#top\">top</a><a href=\"p.html?x=1\">q</a><a href=\"\" title=\"t.html\">e</a>\n"
      "<applet code=\"Main.class\"></applet>\n"
      "<COMMENT><a href=\"c.html\"></COMMENT><a href='sq.html'>s</a>\n"
      "tail-word";
  ScanFixture fixture;
  ScanResult whole = fixture.Scan(page, {page.size()});
  EXPECT_EQ(whole.links, (Links{"bg.gif", "dir/page.html", "img/a.gif", "p.html", "title/",
                                "Main.class", "'sq.html'"}));
  EXPECT_EQ(fixture.Scan(page, {1}).links, whole.links);
  EXPECT_EQ(fixture.Scan(page, {1}).saved, whole.saved);
  std::mt19937 random(20261207);
  for (int round = 0; round < 50; ++round) {
    std::vector<size_t> blocks;
    for (int i = 0; i < 64; ++i) blocks.push_back(1 + random() % 17);
    ScanResult split = fixture.Scan(page, blocks);
    EXPECT_EQ(split.links, whole.links) << "round " << round;
    EXPECT_EQ(split.saved, whole.saved) << "round " << round;
  }
}

TEST(TokenizerTest, SavedCopyTurnsLineFeedsIntoCrLfAndDropsBlanksBetweenQuotes) {
  EXPECT_EQ(ScanWhole("a\nb\r\nc").saved, "a\r\nb\r\r\nc");
  EXPECT_EQ(ScanWhole("say \"two  words\" \tend").saved, "say \"twowords\" \tend");
  EXPECT_EQ(ScanWhole("<p class=\"x\ny\">").saved, "<p class=\"xy\">");
  // A page that ends in the middle of a word keeps the word.
  EXPECT_EQ(ScanWhole("text with a last wo").saved, "text with a last wo");
  EXPECT_EQ(ScanWhole("").saved, "");
}

TEST(TokenizerTest, CommentsHideLinksOnlyWhenTheOpenerIsAWholeToken) {
  EXPECT_TRUE(ScanWhole("<!-- <a href=\"a.html\"> -->").links.empty());
  EXPECT_TRUE(ScanWhole("<!--<a href=\"a.html\">-->").links.empty());
  // The comment ends at a ">" after a token ending in "--".
  EXPECT_EQ(ScanWhole("<!-- x y--><a href=\"b.html\">").links, Links{"b.html"});
  // "!--x--" is one token, no opener: the next anchor counts.
  EXPECT_EQ(ScanWhole("<!--x--><a href=\"c.html\">").links, Links{"c.html"});
  // Only the upper-case COMMENT tag opens a comment.
  EXPECT_EQ(ScanWhole("<comment><a href=\"d.html\"></comment>").links, Links{"d.html"});
  EXPECT_TRUE(ScanWhole("<COMMENT><a href=\"e.html\"></COMMENT>").links.empty());
  // An unterminated comment hides the rest of the page.
  EXPECT_TRUE(ScanWhole("<!-- <a href=\"f.html\">").links.empty());
}

TEST(TokenizerTest, ValuesAreCutAtDelimitersAndFragmentsAreDropped) {
  EXPECT_EQ(ScanWhole("<a href=page.html#part>").links, Links{"page.html"});
  EXPECT_EQ(ScanWhole("<a href=\"#top\"><a href=x.html>").links, Links{"x.html"});
  EXPECT_EQ(ScanWhole("<A HREF=Page.HTML>").links, Links{"Page.HTML"});
  EXPECT_EQ(ScanWhole("<frame SrC = \"f.html\" >").links, Links{"f.html"});
  // The value of an attribute that is not a link attribute is ignored.
  EXPECT_TRUE(ScanWhole("<a title=\"t.html\">").links.empty());
  // An empty quoted value leaves the next ordinary token to be taken as the value.
  EXPECT_EQ(ScanWhole("<a href=\"\" title=\"x\">").links, Links{"title/"});
}

TEST(TokenizerTest, LongTokensAreCollectedWhole) {
  std::string name(3000, 'n');
  ScanFixture fixture;
  ScanResult result = fixture.Scan("<a href=" + name + ".html>", {100});
  EXPECT_EQ(result.links, Links{name + ".html"});
  EXPECT_EQ(result.saved, "<a href=" + name + ".html>");
}

TEST(TokenizerTest, RunningTextIsCopiedAsItsTokensWouldBe) {
  // Running text between tags is copied in runs; the copy and the links must be exactly what
  // token-by-token handling gives, whatever the block boundaries.
  const std::string page =
      "plain words\n\tand a tab\r\nthen <b>bold</b> text\n"
      // An attribute name left pending by a tag still takes "=" and a value from the text.
      "<a href>= pending.html and more\n"
      // Outside tags a link attribute name in the text is only a word.
      "href=\"text.html\" \"quoted  words\" after\n"
      "<img src=pic.gif>trailing text with no end";
  ScanFixture fixture;
  ScanResult whole = fixture.Scan(page, {page.size()});
  EXPECT_EQ(whole.links, (Links{"pending.html", "pic.gif"}));
  EXPECT_EQ(whole.saved,
            "plain words\r\n\tand a tab\r\r\nthen <b>bold</b> text\r\n"
            "<a href>= pending.html and more\r\n"
            "href=\"text.html\" \"quotedwords\" after\r\n"
            "<img src=pic.gif>trailing text with no end");
  for (size_t block = 1; block <= 9; ++block) {
    ScanResult split = fixture.Scan(page, {block});
    EXPECT_EQ(split.links, whole.links) << "blocks of " << block;
    EXPECT_EQ(split.saved, whole.saved) << "blocks of " << block;
  }
}

}  // namespace
