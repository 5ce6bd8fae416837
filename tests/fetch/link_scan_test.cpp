// The streaming link scanners on their own: which links they find, what the text becomes, and
// that neither depends on where the blocks are cut.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fetch/link_scan.h"

namespace {

using Links = std::vector<std::string>;

// Records every link and replaces it with "[link]".
class RecordingSink : public KtWdlLinkSink {
 public:
  bool Write(std::string_view text) override {
    out.append(text);
    return true;
  }
  std::string Resolve(std::string_view link) override {
    links.emplace_back(link);
    return "[" + std::string(link) + "]";
  }
  std::string out;
  Links links;
};

struct Scanned {
  Links links;
  std::string out;
};

Scanned ScanWhole(KtWdlLinkScanner* scanner, const std::string& text, bool shiftJis = false) {
  RecordingSink sink;
  scanner->Reset(shiftJis);
  EXPECT_TRUE(scanner->Feed(text, &sink));
  EXPECT_TRUE(scanner->Finish(&sink));
  return {sink.links, sink.out};
}

// The text cut once at every position, and in single bytes, must give what the whole gives.
template <typename Scanner>
Scanned ScanEveryCut(const std::string& text, bool shiftJis = false) {
  Scanner scanner;
  Scanned whole = ScanWhole(&scanner, text, shiftJis);
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    RecordingSink sink;
    scanner.Reset(shiftJis);
    scanner.Feed(std::string_view(text).substr(0, cut), &sink);
    scanner.Feed(std::string_view(text).substr(cut), &sink);
    scanner.Finish(&sink);
    EXPECT_EQ(sink.links, whole.links) << "cut at " << cut;
    EXPECT_EQ(sink.out, whole.out) << "cut at " << cut;
  }
  RecordingSink bytes;
  scanner.Reset(shiftJis);
  for (char c : text) scanner.Feed(std::string_view(&c, 1), &bytes);
  scanner.Finish(&bytes);
  EXPECT_EQ(bytes.links, whole.links) << "single bytes";
  EXPECT_EQ(bytes.out, whole.out) << "single bytes";
  return whole;
}

TEST(CssScannerTest, FindsUrlsInEveryQuotingFormAndImports) {
  const std::string css =
      "@import \"a.css\";\n@import 'b.css' screen;\n@IMPORT url(c.css);\n"
      "body { background: URL( d.png ) no-repeat; }\n"
      ".x { background-image: url('e f.png'), url(\"g.png\"); }\n"
      "@font-face { src: url(h.woff2?v=1#x) format('woff2'); }\n"
      ".e { background: url( ); }";
  Scanned s = ScanEveryCut<KtWdlCssScanner>(css);
  EXPECT_EQ(s.links,
            (Links{"a.css", "b.css", "c.css", "d.png", "e f.png", "g.png", "h.woff2?v=1#x"}));
  EXPECT_EQ(s.out,
            "@import \"[a.css]\";\n@import '[b.css]' screen;\n@IMPORT url([c.css]);\n"
            "body { background: URL( [d.png] ) no-repeat; }\n"
            ".x { background-image: url('[e f.png]'), url(\"[g.png]\"); }\n"
            "@font-face { src: url([h.woff2?v=1#x]) format('woff2'); }\n"
            ".e { background: url( ); }");
}

TEST(CssScannerTest, CommentsStringsAndOtherNamesHoldNoLinks) {
  const std::string css =
      "/* url(no1.png) @import \"no2.css\"; */ .a { content: \"url(no3.png)\"; }\n"
      ".b { content: 'it\\'s url(no4.png)'; } .c { background: myurl(no5.png); }\n"
      ".d { background: -x-url(no6.png); } .e::after { content: \"\\\"\" } "
      ".f{background:url(yes.png)}"
      "/* unterminated url(no7.png)";
  Scanned s = ScanEveryCut<KtWdlCssScanner>(css);
  EXPECT_EQ(s.links, Links{"yes.png"});
  EXPECT_EQ(s.out,
            "/* url(no1.png) @import \"no2.css\"; */ .a { content: \"url(no3.png)\"; }\n"
            ".b { content: 'it\\'s url(no4.png)'; } .c { background: myurl(no5.png); }\n"
            ".d { background: -x-url(no6.png); } .e::after { content: \"\\\"\" } "
            ".f{background:url([yes.png])}/* unterminated url(no7.png)");
}

TEST(CssScannerTest, EscapesAndCutEndsAreKeptAsText) {
  // An escaped quote stays in the link; an unterminated string is no link; a bare value cut by
  // the end of the text still is one.
  Scanned escaped = ScanEveryCut<KtWdlCssScanner>("a{b:url(\"x\\\"y.png\")}");
  EXPECT_EQ(escaped.links, Links{"x\\\"y.png"});
  Scanned open = ScanEveryCut<KtWdlCssScanner>("a{b:url(\"never-closed.png");
  EXPECT_TRUE(open.links.empty());
  EXPECT_EQ(open.out, "a{b:url(\"never-closed.png");
  Scanned lineEnd = ScanEveryCut<KtWdlCssScanner>("a{b:url('x.png\n')} c{d:url(e.png)}");
  EXPECT_EQ(lineEnd.links, Links{"e.png"});
  EXPECT_EQ(lineEnd.out, "a{b:url('x.png\n')} c{d:url([e.png])}");
  Scanned bare = ScanEveryCut<KtWdlCssScanner>("a{b:url(cut.png");
  EXPECT_EQ(bare.links, Links{"cut.png"});
  EXPECT_EQ(bare.out, "a{b:url([cut.png]");
}

TEST(CssScannerTest, ShiftJisTrailBytesAreNoMarks) {
  // 0x95 0x5C is one character whose second byte is a backslash: it must not escape the quote.
  const std::string css = "a{content:\"\x95\\\"} b{c:url(\"\x95\\.png\")}";
  Scanned sjis = ScanEveryCut<KtWdlCssScanner>(css, true);
  EXPECT_EQ(sjis.links, Links{"\x95\\.png"});
  // Read as single bytes the backslash escapes the quote and the rest is one string.
  KtWdlCssScanner plain;
  EXPECT_TRUE(ScanWhole(&plain, css).links.empty());
}

TEST(CssScannerTest, OverlongLinksPassUnchangedWithBoundedMemory) {
  const std::string data = "data:image/png;base64," + std::string(200 * 1024, 'A');
  const std::string css = "a{b:url(" + data + ")} c{d:url(\"" + data + "\")} e{f:url(ok.png)}";
  KtWdlCssScanner scanner;
  Scanned whole = ScanWhole(&scanner, css);
  EXPECT_EQ(whole.links, Links{"ok.png"});
  EXPECT_TRUE(whole.out == "a{b:url(" + data + ")} c{d:url(\"" + data + "\")} e{f:url([ok.png])}");
  // In small blocks too.
  RecordingSink sink;
  scanner.Reset(false);
  for (size_t at = 0; at < css.size(); at += 1000) {
    scanner.Feed(std::string_view(css).substr(at, 1000), &sink);
  }
  scanner.Finish(&sink);
  EXPECT_EQ(sink.links, whole.links);
  EXPECT_TRUE(sink.out == whole.out);
}

TEST(SrcsetScannerTest, EveryCandidateIsALink) {
  Scanned s = ScanEveryCut<KtWdlSrcsetScanner>("a.jpg 1x, b/b.jpg  2x,c.jpg 480w ,\n d.jpg");
  EXPECT_EQ(s.links, (Links{"a.jpg", "b/b.jpg", "c.jpg", "d.jpg"}));
  EXPECT_EQ(s.out, "[a.jpg] 1x, [b/b.jpg]  2x,[c.jpg] 480w ,\n [d.jpg]");
  // Commas that end a URL end its candidate; commas inside it are part of it.
  Scanned commas = ScanEveryCut<KtWdlSrcsetScanner>("a.jpg,, b,c.jpg 2x");
  EXPECT_EQ(commas.links, (Links{"a.jpg", "b,c.jpg"}));
  EXPECT_EQ(commas.out, "[a.jpg],, [b,c.jpg] 2x");
  EXPECT_TRUE(ScanEveryCut<KtWdlSrcsetScanner>("  , ").links.empty());
}

TEST(RefreshScannerTest, TheUrlAfterTheDelayIsTheLink) {
  struct Row {
    std::string content, link, out;
  };
  const Row rows[] = {
      {"0; url=next.html", "next.html", "0; url=[next.html]"},
      {"5;URL='a b.html'", "a b.html", "5;URL='[a b.html]'"},
      {"3 , Url = \"x.html\" ", "x.html", "3 , Url = \"[x.html]\" "},
      {"1; page.html", "page.html", "1; [page.html]"},
      {"10", "", "10"},
      {"0; url=", "", "0; url="},
  };
  for (const Row& row : rows) {
    Scanned s = ScanEveryCut<KtWdlRefreshScanner>(row.content);
    EXPECT_EQ(s.links, row.link.empty() ? Links{} : Links{row.link}) << row.content;
    EXPECT_EQ(s.out, row.out) << row.content;
  }
}

}  // namespace
