// Absolute links of an https site: with HVR_OPT_HTTPS its own links are its https:// links.
#include <gtest/gtest.h>

#include "fetch/fetcher_peer.h"
#include "harvo.h"

namespace {

using Links = std::vector<std::string>;

TEST(SecureLinksTest, AnHttpsSitesOwnLinksAreItsHttpsLinks) {
  const std::string page =
      "<a href=\"https://host/docs/a.html\">"
      "<a href=\"https://host/docs/sub/b.html\">"
      "<a href=\"http://host/docs/c.html\">"
      "<a href=\"https://host:8443/docs/d.html\">"
      "<a href=\"https://other/docs/e.html\">";
  ScanFixture secure("https://host/docs/");
  secure.site().AddOptions(HVR_OPT_HTTPS);
  ScanResult result = secure.Scan(page, {7}, "docs/");
  EXPECT_EQ(result.links, (Links{"docs/a.html", "docs/sub/b.html"}));
  EXPECT_EQ(result.saved,
            "<a href=\"a.html\">"
            "<a href=\"sub/b.html\">"
            "<a href=\"http://host/docs/c.html\">"
            "<a href=\"https://host:8443/docs/d.html\">"
            "<a href=\"https://other/docs/e.html\">");

  // A named port other than 443 is part of the site's address.
  ScanFixture ported("https://host:8443/docs/");
  ported.site().AddOptions(HVR_OPT_HTTPS);
  EXPECT_EQ(ported.Scan(page, {4096}, "docs/").links, (Links{"docs/d.html"}));

  // Without the bit the site is an http site, whatever its start URL says.
  ScanFixture plain("https://host/docs/");
  EXPECT_EQ(plain.Scan(page, {4096}, "docs/").links, (Links{"docs/c.html"}));
}

}  // namespace
