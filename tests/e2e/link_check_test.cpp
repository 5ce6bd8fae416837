// The checkers of a saved copy: references found in pages and stylesheets, broken ones named,
// and the browser's log read into loaded and failed resources.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/browser_check.h"
#include "support/link_check.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using Refs = std::vector<std::string>;

TEST(LinkCheck, FindsEveryReferenceFormOfAPage) {
  const std::string page =
      "<link rel=stylesheet href='/css/a.css'><style>p{background:url(\"bg.png\")}\n"
      "@import 'more.css';</style>"
      "<!-- <img src=commented.png> -->"
      "<IMG SRC=logo.png SrcSet=\"a.png 1x, b%20c.png 2x,d.png\">"
      "<a href=\"x.html?a=1&amp;b=2#top\">x</a>"
      "<meta http-equiv=\"Refresh\" content=\"5; URL='next.html'\">"
      "<video poster=poster.jpg></video>"
      "<div style=\"background-image: url( 'div.gif' )\"></div>"
      "<script>var s = '<img src=in-script.png>';</script><body background=body.gif>";
  EXPECT_EQ(PageReferences(page),
            (Refs{"/css/a.css", "bg.png", "more.css", "logo.png", "a.png", "b%20c.png", "d.png",
                  "x.html?a=1&b=2#top", "next.html", "poster.jpg", "div.gif", "body.gif"}));
}

TEST(LinkCheck, FindsUrlAndImportInStylesheets) {
  const std::string css =
      "@import \"a.css\";\n@import url(b.css) print;\n@import 'c.css';\n"
      "/* url(comment.png) */ .x{background:url(d.png)} .y{background:URL( \"e f.png\" )}";
  EXPECT_EQ(StylesheetReferences(css), (Refs{"a.css", "b.css", "c.css", "d.png", "e f.png"}));
}

TEST(LinkCheck, NamesWhatIsBrokenInACopy) {
  TempDir dir;
  fs::create_directories(dir / "site/sub");
  auto write = [&](const std::string& path, const std::string& text) {
    std::ofstream(dir / ("site/" + path), std::ios::binary) << text;
  };
  write("index.html",
        "<a href=sub/page.html>ok</a> <a href=missing.html>gone</a> <a href=/root.html>root</a>"
        "<a href=http://example.com/x.png>remote</a> <a href=#top>self</a>"
        "<a href=mailto:a@b>mail</a> <img src=sub/pic%20one.png> <a href=../../etc/passwd>up</a>"
        "<a href=sub/>folder</a>");
  write("sub/page.html", "<link rel=stylesheet href=s.css><a href='../index.html?x=1'>back</a>");
  write("sub/s.css", "body{background:url(nothere.gif)} @import 'page.html';");
  write("sub/pic one.png", "png");
  size_t checked = 0;
  auto broken = CheckSavedCopy(dir / "site", &checked);
  EXPECT_EQ(checked, 10u);
  std::set<std::string> found;
  for (const auto& b : broken) found.insert(b.page + " " + b.reference + " " + b.why);
  EXPECT_EQ(found,
            (std::set<std::string>{
                "index.html missing.html no such file", "index.html /root.html root-relative",
                "index.html ../../etc/passwd outside the copy", "index.html sub/ no such file",
                "sub/s.css nothere.gif no such file"}))
      << DescribeBroken(broken);
}

TEST(BrowserCheck, ReadsLoadedAndFailedResourcesFromTheLog) {
  TempDir dir;
  std::ofstream(dir / "there.png") << "png";
  const std::string log =
      "[1:2:1207/185607.084667:VERBOSE1:file_url_loader_factory.cc:477] FileURLLoader::Start: "
      "file://" +
      dir.path() +
      "there.png\n"
      "[1:2:1207/185607.084667:VERBOSE1:file_url_loader_factory.cc:477] FileURLLoader::Start: "
      "file://" +
      dir.path() +
      "not%20there.png?v=1\r\n"
      "[1:2:VERBOSE1:network_delegate.cc:38] NotifyBeforeURLRequest: http://127.0.0.1:9/x.png\n"
      "[1:2:VERBOSE1:network_delegate.cc:38] NotifyBeforeURLRequest: "
      "https://update.googleapis.com/service/update2/json?x=1\n"
      "unrelated line\n";
  BrowserResult result;
  ParseBrowserLog(log, &result);
  EXPECT_EQ(result.loaded, (Refs{dir.path() + "there.png", dir.path() + "not there.png"}));
  EXPECT_EQ(result.failed, (Refs{"missing: " + dir.path() + "not there.png",
                                 "network: http://127.0.0.1:9/x.png"}));
}

}  // namespace
