// Link resolution: which link values are followed, and how each is rewritten for the copy.
#include <gtest/gtest.h>

#include "fetch/fetcher_peer.h"
#include "job/session.h"
#include "support/scripted_server.h"

namespace {

using R = ScriptedResponse;
using Links = std::vector<std::string>;

class ResolveTest : public ::testing::Test {
 protected:
  ResolveTest() : session_("harvo-test", nullptr) {
    // Every folder's index is index.html: no .htaccess, and index.html answers.
    server_.SetHandler([](const ScriptedRequest& r) -> std::optional<R> {
      if (r.target.ends_with("/index.html")) return R::Ok("index");
      return std::nullopt;
    });
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(server_.port()); }
  std::string Http(const std::string& path) const { return "http://" + Host() + path; }

  struct Resolved {
    Links reported;
    std::string value;
  };
  // Scans one anchor with the value on a page in pageDirectory, for the start path.
  Resolved Resolve(const std::string& pageDirectory, const std::string& value,
                   const std::string& startPath = "", int32_t options = 0) {
    ScanFixture fixture(Http("/" + startPath), &session_);
    fixture.site().AddOptions(static_cast<uint32_t>(options));
    ScanResult result = fixture.Scan("<a href=\"" + value + "\">", {4096}, pageDirectory);
    const std::string prefix = "<a href=\"", suffix = "\">";
    EXPECT_TRUE(result.saved.starts_with(prefix) && result.saved.ends_with(suffix)) << result.saved;
    std::string saved =
        result.saved.substr(prefix.size(), result.saved.size() - prefix.size() - suffix.size());
    return {result.links, saved};
  }

  ScriptedServer server_;
  KtWdlSession session_;
};

TEST_F(ResolveTest, WorkedResults_ForTheRootAsStartPath) {
  struct Row {
    std::string page, link;
    Links reported;
    std::string value;
  };
  const std::string h = Http("");
  const Row rows[] = {
      {"/", h + "/dir/a.html", {"dir/a.html"}, "dir/a.html"},
      {"dir/", h + "/dir/a.html", {"dir/a.html"}, "../dir/a.html"},
      {"/", h + "/", {""}, "index.html"},
      {"dir/", h + "/sub/", {"sub/"}, "../sub/index.html"},
      {"dir/", "a.html", {"dir/a.html"}, "a.html"},
      {"dir/", "sub/", {"dir/sub/"}, "sub/index.html"},
      {"dir/sub/", "../b.html", {"dir/b.html"}, "../b.html"},
      {"dir/sub/", "../../c.html", {"c.html"}, "../../c.html"},
      {"dir/", "../../c.html", {}, "../../c.html"},
      // A root page's climb ends at the root: the file fetched from there is the one linked.
      {"/", "../index.html", {"index.html"}, "index.html"},
      {"dir/sub/", "./d.html", {"dir/sub/d.html"}, "./d.html"},
      {"dir/", "/abs/e.html", {}, "/abs/e.html"},
      {"dir/", "http://elsewhere/x.html", {}, "http://elsewhere/x.html"},
  };
  for (const Row& row : rows) {
    Resolved r = Resolve(row.page, row.link);
    EXPECT_EQ(r.reported, row.reported) << row.page << " " << row.link;
    EXPECT_EQ(r.value, row.value) << row.page << " " << row.link;
  }
}

TEST_F(ResolveTest, StartDirectory_AdmitsItselfWithoutItsSlashAndNothingOutside) {
  Resolved self = Resolve("dir/", Http("/dir/"), "dir/");
  EXPECT_EQ(self.reported, Links{"dir/"});
  EXPECT_EQ(self.value, "./index.html");
  Resolved bare = Resolve("dir/", Http("/dir"), "dir/");
  EXPECT_EQ(bare.reported, Links{"dir/"});
  Resolved outside = Resolve("dir/", Http("/other.html"), "dir/");
  EXPECT_TRUE(outside.reported.empty());
  EXPECT_EQ(outside.value, Http("/other.html"));
}

TEST_F(ResolveTest, StartFile_TheStartAreaIsTheFolderOfTheStartPage) {
  struct Row {
    std::string page, link;
    Links reported;
    std::string value;
  };
  // Started at dir/index.html: absolute links are taken as they would be from dir/, and each
  // saved value leads from the page's folder to where its file is saved.
  const Row rows[] = {
      {"dir/", Http("/dir/a.html"), {"dir/a.html"}, "a.html"},
      {"dir/sub/", Http("/dir/a.html"), {"dir/a.html"}, "../a.html"},
      {"dir/", Http("/dir/sub/b.html"), {"dir/sub/b.html"}, "sub/b.html"},
      {"dir/", Http("/dir/"), {"dir/"}, "./index.html"},
      {"dir/", Http("/dir/index.html"), {"dir/index.html"}, "index.html"},
      {"dir/", Http("/other.html"), {}, Http("/other.html")},
      {"dir/", "a.html", {"dir/a.html"}, "a.html"},
      // Pages outside the start folder, reached through relative links.
      {"/", Http("/dir/a.html"), {"dir/a.html"}, "dir/a.html"},
      {"other/", Http("/dir/a.html"), {"dir/a.html"}, "../dir/a.html"},
      {"other/deep/", Http("/dir/"), {"dir/"}, "../../dir/index.html"},
  };
  for (const Row& row : rows) {
    Resolved r = Resolve(row.page, row.link, "dir/index.html");
    EXPECT_EQ(r.reported, row.reported) << row.page << " " << row.link;
    EXPECT_EQ(r.value, row.value) << row.page << " " << row.link;
  }
  // A start file at the root makes the whole server the start area.
  Resolved root = Resolve("dir/", Http("/x/y.html"), "index.html");
  EXPECT_EQ(root.reported, Links{"x/y.html"});
  EXPECT_EQ(root.value, "../x/y.html");
}

TEST_F(ResolveTest, BareServerLink_NamesTheSiteRoot) {
  // "http://127.0.0.1:PORT" without a path: dots in the host and a port must not make it a file.
  Resolved root = Resolve("/", Http(""));
  EXPECT_EQ(root.reported, Links{""});
  EXPECT_EQ(root.value, "index.html");
  Resolved dir = Resolve("dir/", Http(""));
  EXPECT_EQ(dir.reported, Links{""});
  EXPECT_EQ(dir.value, "../index.html");
  Resolved deep = Resolve("dir/sub/", Http(""));
  EXPECT_EQ(deep.value, "../../index.html");
  // Outside a start folder the bare server is outside the start area.
  Resolved outside = Resolve("dir/", Http(""), "dir/");
  EXPECT_TRUE(outside.reported.empty());
  EXPECT_EQ(outside.value, Http(""));
}

TEST_F(ResolveTest, SameServer_MeansSameHostAndPort) {
  const std::string otherPort =
      "http://127.0.0.1:" + std::to_string(server_.port() + 1) + "/x.html";
  const std::string longerPort = Http("") + "5/x.html";
  const std::string longerHost = "http://127.0.0.10:" + std::to_string(server_.port()) + "/x.html";
  for (const std::string& link :
       {otherPort, longerPort, longerHost, std::string("http://127.0.0.1/x.html")}) {
    Resolved r = Resolve("/", link);
    EXPECT_TRUE(r.reported.empty()) << link;
    EXPECT_EQ(r.value, link);
  }
}

TEST_F(ResolveTest, SchemesMatchInAnyCase) {
  for (const char* link :
       {"HTTPS://x/a.html", "MAILTO:me@x", "JavaScript:go()", "Ftp://x/", "FILE:///etc/passwd"}) {
    Resolved r = Resolve("dir/", link);
    EXPECT_TRUE(r.reported.empty()) << link;
    EXPECT_EQ(r.value, link);
  }
  Resolved upper = Resolve("dir/", "HTTP://" + Host() + "/dir/a.html");
  EXPECT_EQ(upper.reported, Links{"dir/a.html"});
}

TEST_F(ResolveTest, DotLinksAloneClimbOrStayAndGetTheIndexName) {
  Resolved up = Resolve("dir/sub/", "../");
  EXPECT_TRUE(up.reported.empty());
  EXPECT_EQ(up.value, "../index.html");
  Resolved here = Resolve("dir/sub/", "./");
  EXPECT_EQ(here.reported, Links{"dir/sub/"});
  EXPECT_EQ(here.value, "./index.html");
  Resolved rootUp = Resolve("/", "../x.html");
  EXPECT_EQ(rootUp.reported, Links{"x.html"});
  Resolved dots = Resolve("dir/", "..");
  EXPECT_TRUE(dots.reported.empty());
  EXPECT_EQ(dots.value, "..");
  // A value made only of blanks is emptied and names the page's own folder.
  Resolved empty = Resolve("dir/", "  ");
  EXPECT_EQ(empty.reported, Links{"dir/"});
  EXPECT_EQ(empty.value, "index.html");
}

TEST_F(ResolveTest, DirectoryLinks_GetTheIndexNameOfTheFolderTheyName) {
  server_.Set("/dir/sub/.htaccess", R::Ok("DirectoryIndex home.html\n"));
  Resolved sub = Resolve("dir/", "sub/");
  EXPECT_EQ(sub.value, "sub/home.html");
  server_.Set("/dir/sub/.htaccess", R::Status(404));
  server_.Set("/dir/sub/index.html", R::Status(404));
  server_.Set("/dir/sub/index.htm", R::Ok("htm"));
  size_t before = server_.requestCount();
  Resolved htm = Resolve("dir/", "./sub/");
  EXPECT_EQ(htm.value, "./sub/index.htm");
  auto targets = server_.requestTargets();
  EXPECT_EQ(std::vector<std::string>(targets.begin() + static_cast<long>(before), targets.end()),
            (Links{"/dir/sub/.htaccess", "/dir/sub/index.html", "/dir/sub/index.htm"}));
}

TEST_F(ResolveTest, RootLinks_AreFollowedOnlyWithTheirOptionAndLeadFromThePage) {
  struct Row {
    std::string page, link, start;
    Links reported;
    std::string value;
  };
  const std::string other = "//elsewhere:1/x.html";
  const Row rows[] = {
      {"/", "/dir/a.html", "", {"dir/a.html"}, "dir/a.html"},
      {"dir/sub/", "/dir/a.html", "", {"dir/a.html"}, "../../dir/a.html"},
      {"dir/", "/x.html", "", {"x.html"}, "../x.html"},
      {"dir/", "/", "", {""}, "../index.html"},
      {"dir/", "/sub/", "", {"sub/"}, "../sub/index.html"},
      // The start area holds as for absolute links; what is left out keeps its text.
      {"dir/", "/dir/b.html", "dir/", {"dir/b.html"}, "b.html"},
      {"dir/", "/other.html", "dir/", {}, "/other.html"},
      // "//host/path" names a server: this one, or another that is left alone.
      {"dir/", "//" + Host() + "/dir/c.html", "", {"dir/c.html"}, "../dir/c.html"},
      {"dir/", other, "", {}, other},
  };
  for (const Row& row : rows) {
    Resolved r = Resolve(row.page, row.link, row.start, HVR_OPT_ROOT_LINKS);
    EXPECT_EQ(r.reported, row.reported) << row.page << " " << row.link;
    EXPECT_EQ(r.value, row.value) << row.page << " " << row.link;
    // Without the option nothing of this changes: not followed, not rewritten.
    Resolved plain = Resolve(row.page, row.link, row.start);
    EXPECT_TRUE(plain.reported.empty()) << row.link;
    EXPECT_EQ(plain.value, row.link);
  }
}

TEST_F(ResolveTest, QueryLinks_AreReportedWithTheirQueryAndLeadToTheQuerysFile) {
  struct Row {
    std::string page, link;
    Links reported;
    std::string value;
  };
  const Row rows[] = {
      {"dir/", "list.php?page=2", {"dir/list.php?page=2"}, "list.php@page=2.html"},
      {"dir/", "list.php?a=1&amp;b=2", {"dir/list.php?a=1&b=2"}, "list.php@a=1&b=2.html"},
      {"dir/sub/", "../list.php?p=3", {"dir/list.php?p=3"}, "../list.php@p=3.html"},
      {"dir/", Http("/dir/list.php?p=4"), {"dir/list.php?p=4"}, "../dir/list.php@p=4.html"},
      {"dir/", Http("/search?q=x"), {"search?q=x"}, "../search@q=x.html"},
      {"dir/", "sub/?page=2", {"dir/sub/?page=2"}, "sub/index@page=2.html"},
      {"dir/", "img.gif?v=2", {"dir/img.gif?v=2"}, "img.gif@v=2.gif"},
      // An empty query is none.
      {"dir/", "a.html?", {"dir/a.html"}, "a.html"},
      // Not followed: the value stays as it was.
      {"dir/", "http://elsewhere/list.php?p=1", {}, "http://elsewhere/list.php?p=1"},
      {"dir/", "../../x.php?p=1", {}, "../../x.php?p=1"},
  };
  for (const Row& row : rows) {
    Resolved r = Resolve(row.page, row.link, "", HVR_OPT_QUERY_PAGES);
    EXPECT_EQ(r.reported, row.reported) << row.page << " " << row.link;
    EXPECT_EQ(r.value, row.value) << row.page << " " << row.link;
  }
  // Without the option the query is cut off by the scanner, as ever.
  Resolved plain = Resolve("dir/", "list.php?page=2");
  EXPECT_EQ(plain.reported, Links{"dir/list.php"});
  EXPECT_EQ(plain.value, "list.php?page=2");
}

TEST_F(ResolveTest, RemoteLinks_NameTheServersFileWhenItIsNotCopied) {
  const std::string origin = Http("");
  struct Row {
    std::string link, value;
  };
  // The fixture's site wants every type and has no limits: followed links stay local.
  const Row rows[] = {
      {"a.html", "a.html"},
      {"/x/b.html", origin + "/x/b.html"},
      {"//elsewhere/c.html", "http://elsewhere/c.html"},
      {"../../../d.html", origin + "/d.html"},
      {"http://elsewhere/e.html", "http://elsewhere/e.html"},
      {"mailto:me@example.org", "mailto:me@example.org"},
  };
  for (const Row& row : rows) {
    Resolved r = Resolve("dir/", row.link, "", HVR_OPT_REMOTE_LINKS);
    EXPECT_EQ(r.value, row.value) << row.link;
  }
  // A start folder leaves the rest of the server out.
  Resolved outside = Resolve("dir/", "/y.html", "dir/", HVR_OPT_REMOTE_LINKS | HVR_OPT_ROOT_LINKS);
  EXPECT_TRUE(outside.reported.empty());
  EXPECT_EQ(outside.value, origin + "/y.html");
}

}  // namespace
