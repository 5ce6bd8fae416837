// Link forms beyond the link attributes in pages: srcset, poster, meta refresh, style attributes
// and style blocks; found, resolved and rewritten whatever the block boundaries.
#include <gtest/gtest.h>

#include "fetch/fetcher_peer.h"

namespace {

using Links = std::vector<std::string>;
using Copy = ScanFixture::Copy;

constexpr uint32_t kMore = HVR_OPT_MORE_LINKS | HVR_OPT_ROOT_LINKS;

// Scans page cut once at every position, in single bytes and in blocks larger than it; the
// links and the copy must be the same every time.
ScanResult ScanEveryCut(const std::string& page, uint32_t options, const std::string& dir = "/",
                        Copy copy = Copy::kRewritten) {
  ScanFixture fixture;
  fixture.site().AddOptions(options);
  ScanResult whole = fixture.Scan(page, {page.size() + 1}, dir, copy);
  for (size_t cut = 1; cut < page.size(); ++cut) {
    ScanResult split = fixture.Scan(page, {cut, page.size()}, dir, copy);
    EXPECT_EQ(split.links, whole.links) << "cut at " << cut;
    EXPECT_EQ(split.saved, whole.saved) << "cut at " << cut;
  }
  ScanResult bytes = fixture.Scan(page, {1}, dir, copy);
  EXPECT_EQ(bytes.links, whole.links) << "single bytes";
  EXPECT_EQ(bytes.saved, whole.saved) << "single bytes";
  return whole;
}

TEST(PageLinksTest, SrcsetPosterAndSourceAreFollowedAndRewritten) {
  const std::string page =
      "<img srcset=\"http://host/img/a.jpg 1x,\n /img/b.jpg 2x\" src=\"c.gif\">"
      "<picture><source srcset=d.webp type=image/webp><source src='/e.mp4'></picture>"
      "<video poster=\"/f.png\" src=g.mp4></video>";
  ScanResult r = ScanEveryCut(page, kMore, "dir/");
  EXPECT_EQ(r.links, (Links{"img/a.jpg", "img/b.jpg", "dir/c.gif", "dir/d.webp", "e.mp4", "f.png",
                            "dir/g.mp4"}));
  // Blanks inside srcset stay (they separate URL and descriptor); a value in single quotes is
  // the link they enclose.
  EXPECT_EQ(r.saved,
            "<img srcset=\"../img/a.jpg 1x,\r\n ../img/b.jpg 2x\" src=\"c.gif\">"
            "<picture><source srcset=d.webp type=image/webp><source src='../e.mp4'></picture>"
            "<video poster=\"../f.png\" src=g.mp4></video>");
}

TEST(PageLinksTest, MetaRefreshLeadsToItsUrl) {
  const std::string page =
      "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=http://host/next.html\">"
      "<meta http-equiv=refresh content='5;url=/dir/later.html'>"
      "<meta name=\"description\" content=\"1; url=not-a-link.html\">";
  ScanResult r = ScanEveryCut(page, kMore, "dir/");
  EXPECT_EQ(r.links, (Links{"next.html", "dir/later.html"}));
  EXPECT_EQ(r.saved,
            "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0; URL=../next.html\">"
            "<meta http-equiv=refresh content='5;url=../dir/later.html'>"
            "<meta name=\"description\" content=\"1;url=not-a-link.html\">");
}

TEST(PageLinksTest, StyleAttributesAndBlocksAreStyleSheets) {
  const std::string page =
      "<p style=\"color:#fff; background: url( '/img/a.png' )\">x</p>\n"
      "<style type=\"text/css\">\n@import \"/css/b.css\";\n"
      "body { background: url(c.png) } /* url(no.png) */ a:before { content: \"<a href=x>\" }\n"
      "</STYLE ><a href=\"d.html\">d</a><style>e{f:url(data:image/gif;base64,R0lGOD==)}</style>";
  ScanResult r = ScanEveryCut(page, kMore, "dir/");
  EXPECT_EQ(r.links, (Links{"img/a.png", "css/b.css", "dir/c.png", "dir/d.html"}));
  EXPECT_EQ(r.saved,
            "<p style=\"color:#fff; background: url( '../img/a.png' )\">x</p>\r\n"
            "<style type=\"text/css\">\r\n@import \"../css/b.css\";\r\n"
            "body { background: url(c.png) } /* url(no.png) */ a:before { content: \"<a href=x>\" "
            "}\r\n</STYLE ><a href=\"d.html\">d</a>"
            "<style>e{f:url(data:image/gif;base64,R0lGOD==)}</style>");
}

TEST(PageLinksTest, CommentsAndCutEndsAreHandledLikeOtherMarkup) {
  // Inside a comment nothing counts; a page that ends inside a value or a style block still
  // gives its links and keeps its text.
  ScanResult hidden = ScanEveryCut(
      "<!-- <style>a{b:url(x.png)}</style> <img srcset=y.png> -->"
      "<img srcset=z.png>",
      kMore);
  EXPECT_EQ(hidden.links, Links{"z.png"});
  ScanResult cutValue = ScanEveryCut("<img srcset=\"a.png 1x, b.png", kMore);
  EXPECT_EQ(cutValue.links, (Links{"a.png", "b.png"}));
  EXPECT_EQ(cutValue.saved, "<img srcset=\"a.png 1x, b.png");
  ScanResult cutStyle = ScanEveryCut("<style>a{b:url(c.png)}</sty", kMore);
  EXPECT_EQ(cutStyle.links, Links{"c.png"});
  EXPECT_EQ(cutStyle.saved, "<style>a{b:url(c.png)}</sty");
}

TEST(PageLinksTest, WithoutTheOptionNothingNewIsFoundOrChanged) {
  const std::string page =
      "<img srcset=\"a.jpg 1x, b.jpg 2x\" src=c.gif><video poster=p.png></video>"
      "<meta http-equiv=refresh content=\"0; url=n.html\"><p style=\"background:url(s.png)\">"
      "<style>a{b:url(t.png)}</style><a href=\"/root.html\">";
  ScanResult r = ScanEveryCut(page, 0);
  EXPECT_EQ(r.links, Links{"c.gif"});
  EXPECT_EQ(r.saved,
            "<img srcset=\"a.jpg1x,b.jpg2x\" src=c.gif><video poster=p.png></video>"
            "<meta http-equiv=refresh content=\"0;url=n.html\"><p style=\"background:url(s.png)\">"
            "<style>a{b:url(t.png)}</style><a href=\"/root.html\">");
}

TEST(PageLinksTest, RawPagesKeepTheirTextWhileTheLinksAreFollowed) {
  const std::string page =
      "<img srcset=\"/a.jpg 1x, b.jpg 2x\"><style>x{y:url(/c.png)}</style>"
      "<p style='z:url(\"d.png\")'>";
  ScanResult r = ScanEveryCut(page, kMore, "/", Copy::kRaw);
  EXPECT_EQ(r.saved, page);
  EXPECT_EQ(r.links, (Links{"a.jpg", "b.jpg", "c.png", "d.png"}));
}

TEST(PageLinksTest, LongStyleBlocksAndValuesGiveTheSameCopyInEveryBlockSize) {
  // Pages beyond the largest block size: a style block of many rules and a long srcset, in
  // single bytes, small odd blocks, and blocks of more than 1 MiB.
  std::string rules, srcset;
  for (int i = 0; i < 60000; ++i)
    rules += "r" + std::to_string(i) + "{b:url(/i/" + std::to_string(i % 7) + ".png)}\n";
  for (int i = 0; i < 20000; ++i)
    srcset += "/s/" + std::to_string(i % 5) + ".png " + std::to_string(i) + "w, ";
  const std::string data = "data:image/png;base64," + std::string(300 * 1024, 'A');
  const std::string page = "<style>" + rules + "x{y:url(" + data + ")}</style><img srcset=\"" +
                           srcset + "\"><a href=/z.html>";
  ASSERT_GT(page.size(), (1u << 20) + 1);
  ScanFixture fixture;
  fixture.site().AddOptions(kMore);
  ScanResult first;
  for (size_t size : {size_t{1}, size_t{7}, size_t{4096}, (size_t{1} << 20) + 1, size_t{4} << 20}) {
    ScanResult r = fixture.Scan(page, {size}, "d/");
    if (size == 1) {
      first = r;
      continue;
    }
    EXPECT_TRUE(r.links == first.links) << "blocks of " << size;
    EXPECT_TRUE(r.saved == first.saved) << "blocks of " << size;
  }
  // Each distinct link is listed once; the copy leads from d/ to the root's files.
  EXPECT_EQ(first.links.size(), 7u + 5u + 1u);
  EXPECT_NE(first.saved.find("r59999{b:url(../i/2.png)}"), std::string::npos);
  EXPECT_NE(first.saved.find("../s/4.png 19999w, \">"), std::string::npos);
  EXPECT_NE(first.saved.find("x{y:url(" + data + ")}</style>"), std::string::npos);
}

TEST(PageLinksTest, NestedQuotesAreTakenOffOnce) {
  // Only one pair of single quotes encloses a link; a value of many quotes must not make the
  // scanner take them off one pair after the other (a stack per pair).
  const std::string quotes(1u << 19, '\'');
  ScanFixture fixture;
  fixture.site().AddOptions(kMore | HVR_OPT_REMOTE_LINKS);
  ScanResult r = fixture.Scan("<a href=''x.html''><a href=" + quotes + ">", {4096}, "d/");
  ASSERT_EQ(r.links.size(), 2u);
  EXPECT_EQ(r.links[0], "d/'x.html'");
  EXPECT_TRUE(r.links[1] == "d/" + quotes.substr(2) + "/");  // no extension: a folder
  EXPECT_TRUE(r.saved == "<a href=''x.html''><a href=" + quotes + ">");
}

}  // namespace
