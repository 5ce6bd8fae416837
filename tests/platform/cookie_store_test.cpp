// The library's own cookie jar (the one a transport without a cookie file of its own uses): the
// file read and written back, which cookies go with which request, and what a server may set.
#include "platform/cookie_store.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace {

using hvhttp::CookieStore;

constexpr int64_t kNow = 2000000000;  // 2033-05-18
constexpr int64_t kLater = kNow + 86400;

// The transport's date reader stands in as a table of the dates the tests use.
bool ReadDate(const std::string& text, int64_t* seconds) {
  if (text == "Wed, 21 Oct 2037 07:28:00 GMT")
    *seconds = 2139722880;
  else if (text == "Thu, 01 Jan 1970 00:00:01 GMT")
    *seconds = 1;
  else
    return false;
  return true;
}

struct Jar {
  explicit Jar(const std::string& path) : store(path, &ReadDate) {}
  std::string For(const char* host, const char* target, bool secure = false) {
    return store.HeaderFor(host, target, secure, kNow);
  }
  void Set(const char* line, const char* host = "www.example.com", const char* target = "/a/b.html",
           bool secure = false) {
    store.Take(line, host, target, secure, kNow);
  }
  CookieStore store;
};

TEST(CookieStoreTest, TheFileIsReadAndWrittenBackLineForLine) {
  TempDir dir;
  const std::string path = dir / "cookies.txt";
  const std::string kept =
      ".example.com\tTRUE\t/\tFALSE\t0\tsid\tabc\n"
      "#HttpOnly_www.example.com\tFALSE\t/private\tTRUE\t" +
      std::to_string(kLater) +
      "\ttoken\tx=y\n"
      "127.0.0.1\tFALSE\t/\tFALSE\t0\t\tnameless\n";
  WriteFileText(path, "# Netscape HTTP Cookie File\n# a comment\n\n" + kept +
                          "old.example\tFALSE\t/\tFALSE\t1000\tgone\tlong ago\r\n");
  Jar jar(path);
  ASSERT_TRUE(jar.store.Load(kNow));
  ASSERT_EQ(jar.store.Cookies().size(), 3u);  // the expired one is dropped
  EXPECT_TRUE(jar.store.Cookies()[1].httpOnly);
  ASSERT_TRUE(jar.store.Save(kNow));
  EXPECT_EQ(ReadFileText(path), "# Netscape HTTP Cookie File\n" + kept);

  // What was written reads back the same.
  Jar again(path);
  ASSERT_TRUE(again.store.Load(kNow));
  EXPECT_EQ(again.For("www.example.com", "/private/x", true), "token=x=y; sid=abc");
}

TEST(CookieStoreTest, AnythingButACookieFileIsRefusedAndAMissingOneIsMade) {
  TempDir dir;
  const std::string page = "<html><body>not cookies</body></html>\n";
  WriteFileText(dir / "page.html", page);
  EXPECT_FALSE(Jar(dir / "page.html").store.Load(kNow));
  WriteFileText(dir / "six.txt", "a\tTRUE\t/\tFALSE\t0\tname\n");
  EXPECT_FALSE(Jar(dir / "six.txt").store.Load(kNow));
  WriteFileText(dir / "when.txt", "a\tTRUE\t/\tFALSE\tsoon\tname\tvalue\n");
  EXPECT_FALSE(Jar(dir / "when.txt").store.Load(kNow));
  EXPECT_FALSE(Jar(dir.path()).store.Load(kNow));  // a folder
  EXPECT_EQ(ReadFileText(dir / "page.html"), page);

  Jar made(dir / "new.txt");
  ASSERT_TRUE(made.store.Load(kNow));
  made.Set("k=v");
  ASSERT_TRUE(made.store.Save(kNow));
  EXPECT_EQ(ReadFileText(dir / "new.txt"),
            "# Netscape HTTP Cookie File\nwww.example.com\tFALSE\t/a\tFALSE\t0\tk\tv\n");
  // A file that cannot be written leaves the jar's earlier file as it was.
  Jar nowhere(dir / "missing-folder/c.txt");
  EXPECT_FALSE(nowhere.store.Save(kNow));
}

TEST(CookieStoreTest, ARequestGetsTheCookiesOfItsHostPathAndScheme) {
  TempDir dir;
  Jar jar(dir / "c.txt");
  jar.Set("wide=1; Domain=.Example.COM; Path=/");
  jar.Set("host=2; Path=/");
  jar.Set("deep=3; Path=/private");
  jar.Set("safe=4; Path=/; Secure", "www.example.com", "/", true);
  jar.Set("folder=5");  // kept for /a, the folder of /a/b.html

  EXPECT_EQ(jar.For("www.example.com", "/index.html"), "wide=1; host=2");
  EXPECT_EQ(jar.For("WWW.example.com", "/private/x?q=/", true), "deep=3; wide=1; host=2; safe=4");
  EXPECT_EQ(jar.For("www.example.com", "/private"), "deep=3; wide=1; host=2");
  EXPECT_EQ(jar.For("www.example.com", "/privateer"), "wide=1; host=2");
  EXPECT_EQ(jar.For("www.example.com", "/a/c.html"), "folder=5; wide=1; host=2");
  EXPECT_EQ(jar.For("www.example.com", "/ab"), "wide=1; host=2");
  EXPECT_EQ(jar.For("example.com", "/"), "wide=1");
  EXPECT_EQ(jar.For("img.example.com", "/"), "wide=1");
  EXPECT_EQ(jar.For("notexample.com", "/"), "");
  EXPECT_EQ(jar.For("sub.www.example.com", "/"), "wide=1");
}

TEST(CookieStoreTest, WhatAServerMaySetReplaceOrDelete) {
  TempDir dir;
  Jar jar(dir / "c.txt");
  jar.Set("a=1; Path=/");
  jar.Set("a=2; Path=/");  // replaces, keeps its place
  jar.Set("b=1; Path=/; Expires=Wed, 21 Oct 2037 07:28:00 GMT");
  jar.Set("c=1; Path=/; Max-Age=60; Expires=Wed, 21 Oct 2037 07:28:00 GMT");  // Max-Age wins
  jar.Set("d=1; Path=/; Expires=not a date");                                 // a session cookie
  std::vector<CookieStore::Cookie> cookies = jar.store.Cookies();
  ASSERT_EQ(cookies.size(), 4u);
  EXPECT_EQ(cookies[0].value, "2");
  EXPECT_EQ(cookies[1].expires, 2139722880);
  EXPECT_EQ(cookies[2].expires, kNow + 60);
  EXPECT_EQ(cookies[3].expires, 0);

  jar.Set("a=x; Path=/; Max-Age=0");
  jar.Set("b=x; Path=/; Expires=Thu, 01 Jan 1970 00:00:01 GMT");
  jar.Set("c=x; Path=/other; Max-Age=0");  // another path: another cookie, nothing deleted
  EXPECT_EQ(jar.For("www.example.com", "/"), "c=1; d=1");

  // Refused: other sites, a bare top label, secure cookies over http, bytes that would break
  // the file or a header, no name, oversized values.
  for (const char* line : {"e=1; Domain=other.com", "e=1; Domain=com", "e=1; Domain=ww.example.com",
                           "e=1; Domain=sub.www.example.com", "e=1; Secure", "e\tx=1", "e=1\x01",
                           "=1", "noequals", "e=1\r\nX-Injected: 1"}) {
    jar.Set(line);
  }
  jar.Set(("big=" + std::string(CookieStore::kMaxCookieBytes, 'v')).c_str());
  jar.Set("f=1; Domain=example.com", "127.0.0.1", "/");
  jar.Set("ip=1; Domain=0.0.1", "127.0.0.1", "/");
  EXPECT_EQ(jar.store.Cookies().size(), 2u);
  jar.Set("ok=1; Domain=example.com; Path=x");  // a path not starting with "/" is the default
  EXPECT_EQ(jar.store.Cookies().back().path, "/a");
  EXPECT_TRUE(jar.store.Cookies().back().subdomains);
}

TEST(CookieStoreTest, ServersAreBoundedButTheUsersOwnCookiesAreAllKept) {
  TempDir dir;
  std::string file;
  for (size_t i = 0; i < CookieStore::kMaxPerDomain + 10; ++i) {
    file += "www.example.com\tFALSE\t/\tFALSE\t0\tmine" + std::to_string(i) + "\tv\n";
  }
  WriteFileText(dir / "c.txt", file);
  Jar jar(dir / "c.txt");
  ASSERT_TRUE(jar.store.Load(kNow));
  jar.Set("theirs=1");
  EXPECT_EQ(jar.store.Cookies().size(), CookieStore::kMaxPerDomain + 10);
  jar.Set("mine0=new; Path=/");  // a replacement is no new cookie
  EXPECT_EQ(jar.store.Cookies()[0].value, "new");

  Jar other(dir / "d.txt");
  for (size_t i = 0; i < CookieStore::kMaxPerDomain + 5; ++i) {
    other.Set(("s" + std::to_string(i) + "=1").c_str());
  }
  EXPECT_EQ(other.store.Cookies().size(), CookieStore::kMaxPerDomain);
}

TEST(CookieStoreTest, ConnectionsOfOneSessionShareTheJarAtOnce) {
  TempDir dir;
  Jar jar(dir / "c.txt");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&jar, t] {
      for (int i = 0; i < 20; ++i) {
        const std::string line = "t" + std::to_string(t) + "i" + std::to_string(i) + "=1; Path=/";
        jar.store.Take(line, "h" + std::to_string(t) + ".example", "/", false, kNow);
        jar.store.HeaderFor("h0.example", "/", false, kNow);
        if (i % 5 == 0) jar.store.Save(kNow);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(jar.store.Save(kNow));
  EXPECT_EQ(jar.store.Cookies().size(), 80u);
  Jar back(dir / "c.txt");
  ASSERT_TRUE(back.store.Load(kNow));
  EXPECT_EQ(back.store.Cookies().size(), 80u);
}

}  // namespace
