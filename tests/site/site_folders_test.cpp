// Start URL parsing, site folders and page folders.
#include <gtest/gtest.h>

#include <memory>

#include "harvo.h"
#include "site/site.h"

namespace {

struct Parsed {
  int result;
  std::string server;
  uint16_t port;
  std::string startPath;
  std::string address;
};

Parsed ParseUrl(const std::string& url) {
  HvrJobInfo job;
  KtWdlSite site(nullptr, &job);
  int result = site.SetUrl(url.c_str());
  return {result, site.GetServer(), site.GetPort(), site.GetStartPath(), site.GetServerAddress()};
}

TEST(SiteFoldersTest, SetUrl_SplitsServerPortAndStartPath) {
  Parsed p = ParseUrl("http://host/dir/page.html");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.server, "host");
  EXPECT_EQ(p.port, 80);
  EXPECT_EQ(p.startPath, "dir/page.html");
  EXPECT_EQ(p.address, "host");

  EXPECT_EQ(ParseUrl("http://host/dir").startPath, "dir/");
  EXPECT_EQ(ParseUrl("http://host/dir/").startPath, "dir/");
  EXPECT_EQ(ParseUrl("http://host/").startPath, "");
  EXPECT_EQ(ParseUrl("http://host").startPath, "");
  EXPECT_EQ(ParseUrl("http://host/.hidden").startPath, ".hidden/");
  EXPECT_EQ(ParseUrl("http://host/dir/.hidden").startPath, "dir/.hidden");
  EXPECT_EQ(ParseUrl("https://host/a.html").port, 443);
}

TEST(SiteFoldersTest, SetUrl_PortAndUserInformationStayOutOfTheStartPath) {
  Parsed p = ParseUrl("http://127.0.0.1:8080/dir/page.html");
  EXPECT_EQ(p.server, "127.0.0.1");
  EXPECT_EQ(p.port, 8080);
  EXPECT_EQ(p.startPath, "dir/page.html");
  EXPECT_EQ(p.address, "127.0.0.1:8080");

  Parsed user = ParseUrl("http://host:pw@host/dir/");
  EXPECT_EQ(user.server, "host");
  EXPECT_EQ(user.startPath, "dir/");
  // A named default port is the same server as no port.
  EXPECT_EQ(ParseUrl("http://host:80/x.html").address, "host");
}

TEST(SiteFoldersTest, SetUrl_RefusesWhatNamesNoServer) {
  EXPECT_EQ(ParseUrl("").result, -1);
  EXPECT_EQ(ParseUrl("not a url").result, -1);
  EXPECT_EQ(ParseUrl("host/dir/").result, -1);
  EXPECT_EQ(ParseUrl("http:///dir/").result, -1);
  HvrJobInfo job;
  KtWdlSite site(nullptr, &job);
  EXPECT_EQ(site.SetUrl(nullptr), -1);
}

TEST(SiteFoldersTest, SetUrl_ParsesTheFirst255CharactersButTakesTheWholeStartPath) {
  std::string longPath(300, 'a');
  Parsed p = ParseUrl("http://host/" + longPath + ".html");
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.server, "host");
  EXPECT_EQ(p.startPath, longPath + ".html");
  // Only the parsed part names the server; the start path follows the whole authority.
  Parsed cut = ParseUrl("http://" + std::string(260, 'h') + "/a.html");
  EXPECT_EQ(cut.server, std::string(248, 'h'));
  EXPECT_EQ(cut.startPath, "a.html");
}

TEST(SiteFoldersTest, Construction_ReportsUnusableUrlAndMissingConnection) {
  HvrJobInfo job;
  job.Url = "nothing";
  job.SiteName = "name";
  job.MaxDirDepth = 3;
  KtWdlSite bad(nullptr, &job);
  EXPECT_EQ(job.Error, HVR_ERR_SETTING);
  EXPECT_STREQ(bad.GetName(), "name");  // the other settings are still copied
  EXPECT_EQ(bad.GetMaxDirDepth(), 3);

  HvrJobInfo good;
  good.Url = "http://host/";
  KtWdlSite noSession(nullptr, &good);
  EXPECT_EQ(good.Error, HVR_ERR_SESSION);
  EXPECT_EQ(noSession.GetConnection(), nullptr);
}

TEST(SiteFoldersTest, SaveFolder_IsTheRootTheServerAndASlash) {
  HvrJobInfo job;
  KtWdlSite site(nullptr, &job);
  site.SetUrl("http://host/dir/");
  const char* roots[] = {"mirror", "mirror/", "/srv/m", "/srv/m/"};
  const char* expected[] = {"mirror/host/", "mirror/host/", "/srv/m/host/", "/srv/m/host/"};
  for (size_t i = 0; i < 4; ++i) {
    site.SetSaveFolder(roots[i]);
    EXPECT_EQ(site.GetSaveFolder(), std::string(expected[i])) << roots[i];
  }
  site.SetCompareFolder("");
  EXPECT_STREQ(site.GetCompareFolder(), "");
  site.SetCompareFolder("old");
  EXPECT_STREQ(site.GetCompareFolder(), "old/host/");
  site.SetSaveFolder(nullptr);
  EXPECT_STREQ(site.GetSaveFolder(), "");
}

TEST(SiteFoldersTest, PageFolder_CutsAFileNameAndKeepsFolders) {
  EXPECT_EQ(PageFolder("m/host/", "dir/sub/page.html"), "m/host/dir/sub/");
  EXPECT_EQ(PageFolder("m/host/", "dir/sub/"), "m/host/dir/sub/");
  EXPECT_EQ(PageFolder("m/host/", ""), "m/host/");
  EXPECT_EQ(PageFolder("m/host/", "dir/sub"), "m/host/dir/sub/");
  EXPECT_EQ(PageFolder("m/host/", ".hidden"), "m/host/");  // a file name in a page folder
  EXPECT_EQ(PageFolder("m/host/", "v1.2/"), "m/host/v1.2/");
}

TEST(SiteFoldersTest, ShiftJisNameWithTrailByte5CStaysOneComponent) {
  // 0x95 0x5C is one character whose trail byte equals "\".
  const std::string name = "\x95\x5C\x8E\xA6";  // two double-byte characters
  EXPECT_EQ(PageFolder("m/host/", name + "/page.html"), "m/host/" + name + "/");
  EXPECT_EQ(ParseUrl("http://host/" + name + ".html").startPath, name + ".html");
  // A byte after a lead byte belongs to its character, so 0x81 0x2E holds no ".".
  const std::string dotTrail = "ab\x81\x2E";
  EXPECT_EQ(PageFolder("m/host/", dotTrail), "m/host/" + dotTrail + "/");
}

}  // namespace
