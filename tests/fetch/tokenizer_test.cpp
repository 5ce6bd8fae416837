// The page scanner: tokens, tags, quotes and comments across blocks, and the saved copy.
#include <gtest/gtest.h>

#include <random>

#include "fetch/fetcher_peer.h"

namespace {

using Links = std::vector<std::string>;

// Block sizes every page is scanned with: single bytes, small odd ones, a usual one, and ones
// beyond the longest token the scanner holds (1 MiB), where a whole token fits in one block.
const std::vector<size_t> kBlockSizes = {1, 3, 7, 4096, (1u << 20) + 1, 4u << 20};

// Scans page with every block size; the links and the saved copy must not depend on it.
ScanResult ScanEverySize(const std::string& page, const std::string& dir = "/",
                         ScanFixture::Copy copy = ScanFixture::Copy::kRewritten) {
  ScanFixture fixture;
  ScanResult first = fixture.Scan(page, {kBlockSizes.front()}, dir, copy);
  for (size_t size : kBlockSizes) {
    ScanResult result = fixture.Scan(page, {size}, dir, copy);
    // (Through EXPECT_TRUE, so that a failure on a page of megabytes prints no megabytes.)
    EXPECT_TRUE(result.links == first.links) << "blocks of " << size;
    EXPECT_TRUE(result.saved == first.saved) << "blocks of " << size;
  }
  return first;
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
  ScanResult whole = ScanEverySize(page);
  EXPECT_EQ(whole.links, (Links{"bg.gif", "dir/page.html", "img/a.gif", "p.html", "title/",
                                "Main.class", "'sq.html'"}));
  ScanFixture fixture;
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
  EXPECT_EQ(ScanEverySize("a\nb\r\nc").saved, "a\r\nb\r\r\nc");
  EXPECT_EQ(ScanEverySize("say \"two  words\" \tend").saved, "say \"twowords\" \tend");
  EXPECT_EQ(ScanEverySize("<p class=\"x\ny\">").saved, "<p class=\"xy\">");
  // A page that ends in the middle of a word keeps the word.
  EXPECT_EQ(ScanEverySize("text with a last wo").saved, "text with a last wo");
  EXPECT_EQ(ScanEverySize("").saved, "");
}

TEST(TokenizerTest, CommentsHideLinksOnlyWhenTheOpenerIsAWholeToken) {
  EXPECT_TRUE(ScanEverySize("<!-- <a href=\"a.html\"> -->").links.empty());
  EXPECT_TRUE(ScanEverySize("<!--<a href=\"a.html\">-->").links.empty());
  // The comment ends at a ">" after a token ending in "--".
  EXPECT_EQ(ScanEverySize("<!-- x y--><a href=\"b.html\">").links, Links{"b.html"});
  // "!--x--" is one token, no opener: the next anchor counts.
  EXPECT_EQ(ScanEverySize("<!--x--><a href=\"c.html\">").links, Links{"c.html"});
  // Only the upper-case COMMENT tag opens a comment.
  EXPECT_EQ(ScanEverySize("<comment><a href=\"d.html\"></comment>").links, Links{"d.html"});
  EXPECT_TRUE(ScanEverySize("<COMMENT><a href=\"e.html\"></COMMENT>").links.empty());
  // An unterminated comment hides the rest of the page.
  EXPECT_TRUE(ScanEverySize("<!-- <a href=\"f.html\">").links.empty());
}

TEST(TokenizerTest, ValuesAreCutAtDelimitersAndFragmentsAreDropped) {
  EXPECT_EQ(ScanEverySize("<a href=page.html#part>").links, Links{"page.html"});
  EXPECT_EQ(ScanEverySize("<a href=\"#top\"><a href=x.html>").links, Links{"x.html"});
  EXPECT_EQ(ScanEverySize("<A HREF=Page.HTML>").links, Links{"Page.HTML"});
  EXPECT_EQ(ScanEverySize("<frame SrC = \"f.html\" >").links, Links{"f.html"});
  // The value of an attribute that is not a link attribute is ignored.
  EXPECT_TRUE(ScanEverySize("<a title=\"t.html\">").links.empty());
  // An empty quoted value leaves the next ordinary token to be taken as the value.
  EXPECT_EQ(ScanEverySize("<a href=\"\" title=\"x\">").links, Links{"title/"});
}

TEST(TokenizerTest, LongTokensAreCollectedWhole) {
  std::string name(3000, 'n');
  ScanResult result = ScanEverySize("<a href=" + name + ".html>");
  EXPECT_EQ(result.links, Links{name + ".html"});
  EXPECT_EQ(result.saved, "<a href=" + name + ".html>");
}

TEST(TokenizerTest, TokensBeyondTheLongestLinkAreNoLinksWhateverTheBlockSize) {
  // In blocks above 1 MiB the first piece of such a token is already too long to be a link;
  // none of its pieces may become a token of its own.
  const std::string big(2u << 20, 'x');
  const std::string value = "<a href=" + big + "BBB.html> <a href=after.html>";
  ScanResult result = ScanEverySize(value);
  EXPECT_TRUE(result.links == Links{"after.html"});
  EXPECT_TRUE(result.saved == value);
  // A block that ends where the value's tail begins: the tail is no link of its own.
  result = ScanFixture().Scan(value, {8 + big.size()});
  EXPECT_TRUE(result.links == Links{"after.html"});
  EXPECT_TRUE(result.saved == value);
  // Blanks between quotes leave the copy, also from a token too long to hold.
  std::string quoted, unquoted;
  for (int i = 0; i < (1 << 19); ++i) {
    quoted += "a b\n";
    unquoted += "ab";
  }
  result = ScanEverySize("<p title=\"" + quoted + "\"> <a href=q.html>");
  EXPECT_TRUE(result.links == Links{"q.html"});
  EXPECT_TRUE(result.saved == "<p title=\"" + unquoted + "\"> <a href=q.html>");
  // An overlong token that ends with "--" ends a comment like a short one.
  result = ScanEverySize("<!-- " + big + "--> <a href=c.html><!-- " + big + "-x> <a href=d.html>");
  EXPECT_TRUE(result.links == Links{"c.html"});
}

TEST(TokenizerTest, RawPagesKeepTheirTextButARelabelledCharset) {
  using Copy = ScanFixture::Copy;
  const std::string page =
      "<html>\n<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset= EUC-JP \">"
      "\r\n<meta charset=euc-jp><!-- charset=EUC-JP --></head>\n"
      "<body>\"two  words\" charset=EUC-JP <a href=\"dir/\"><a href=x.html>tail";
  const Links links = ScanEverySize(page).links;
  ScanResult raw = ScanEverySize(page, "/", Copy::kRaw);
  EXPECT_EQ(raw.saved, page);
  EXPECT_EQ(raw.links, links);
  // Converted text declares what it now is; nothing else changes, line ends and blanks
  // between quotes included.
  ScanResult converted = ScanEverySize(page, "/", Copy::kRawConverted);
  EXPECT_EQ(converted.saved,
            "<html>\n<head><meta http-equiv=\"Content-Type\" content=\"text/html; charset= "
            "Shift_JIS \">\r\n<meta charset=Shift_JIS><!-- charset=EUC-JP --></head>\n"
            "<body>\"two  words\" charset=EUC-JP <a href=\"dir/\"><a href=x.html>tail");
  EXPECT_EQ(converted.links, links);
  // A label that ends the page, and a page of one overlong token.
  EXPECT_EQ(ScanEverySize("<meta charset=EUC-JP", "/", Copy::kRawConverted).saved,
            "<meta charset=Shift_JIS");
  const std::string big = "<p " + std::string((1u << 20) + 5, 'x') + " charset=eucjp>";
  EXPECT_TRUE(ScanEverySize(big, "/", Copy::kRawConverted).saved ==
              big.substr(0, big.size() - 6) + "Shift_JIS>");
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
  ScanResult whole = ScanEverySize(page);
  EXPECT_EQ(whole.links, (Links{"pending.html", "pic.gif"}));
  EXPECT_EQ(whole.saved,
            "plain words\r\n\tand a tab\r\r\nthen <b>bold</b> text\r\n"
            "<a href>= pending.html and more\r\n"
            "href=\"text.html\" \"quotedwords\" after\r\n"
            "<img src=pic.gif>trailing text with no end");
}

}  // namespace
