// Pages that attack the page scanner: a huge token, runs of unclosed quotes and comments, NUL
// bytes, and byte sequences that are neither valid Shift_JIS nor valid EUC-JP or JIS. The job
// finishes, the page is saved, and the links the rules find are followed.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fetch/fetcher_peer.h"
#include "harvo.h"
#include "hostile_support.h"
#include "platform/fs.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;

// The text of a page made of a prefix, count copies of fill and a suffix, produced on demand.
struct Repeated {
  std::string prefix;
  char fill;
  size_t count;
  std::string suffix;

  size_t size() const { return prefix.size() + count + suffix.size(); }
  char at(size_t i) const {
    if (i < prefix.size()) return prefix[i];
    i -= prefix.size();
    return i < count ? fill : suffix[i - count];
  }
  std::string Build() const {
    std::string text;
    text.reserve(size());
    text += prefix;
    text.append(count, fill);
    text += suffix;
    return text;
  }
};

// Compares a file with the page block by block, without reading either whole.
bool FileEquals(const std::string& path, const Repeated& page) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> block(1 << 20);
  size_t offset = 0;
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    size_t got = static_cast<size_t>(in.gcount());
    if (offset + got > page.size()) return false;
    for (size_t i = 0; i < got; ++i) {
      if (block[i] != page.at(offset + i)) return false;
    }
    offset += got;
  }
  return offset == page.size();
}

std::string WithoutWhitespace(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(),
                            [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }),
             text.end());
  return text;
}

size_t CountOf(const std::string& text, char c) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

class ScannerAttackTest : public ::testing::Test {
 protected:
  ScannerAttackTest() {
    // Every leaf the scanner finds exists.
    server_.SetHandler([](const ScriptedRequest& r) -> std::optional<ScriptedResponse> {
      if (r.target.ends_with("/.htaccess")) return std::nullopt;
      return R::Ok("leaf " + r.target);
    });
  }
  std::string Site() const { return dir_ / "127.0.0.1/"; }
  TestHandle::Outcome Run(const std::string& target, int bufferSize = 4096,
                          std::chrono::minutes limit = std::chrono::minutes(1)) {
    HvrJobInfo job = MakeJob(server_.url(target), dir_.path());
    job.BufferSize = bufferSize;
    TestHandle::Outcome outcome;
    outcome.start = handle_.Start(&job, &outcome.index);
    outcome.finished = handle_.WaitIdle(limit);
    outcome.restored = HvrGetDLRestoredNum(handle_.get(), outcome.index);
    outcome.failed = HvrGetDLFailedNum(handle_.get(), outcome.index);
    outcome.failedFiles = job.FailedFiles;
    HvrEnd(handle_.get(), &job, outcome.index);
    return outcome;
  }
  std::set<std::string> Asked() const {
    std::vector<std::string> targets = server_.requestTargets();
    return {targets.begin(), targets.end()};
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(ScannerAttackTest, AHugeTokenIsSavedWholeAndTheLinkAfterItIsFollowed) {
  const size_t size = hostile::kSanitized ? (16u << 20) : (100u << 20);
  const Repeated page{"<html><body><p>", 'a', size, "</p><a href=after.html>after</a></body>"};
  // The page is produced per request, so that the server holds it once.
  server_.SetHandler([&](const ScriptedRequest& r) -> std::optional<ScriptedResponse> {
    if (r.target == "/huge.html") return R::Ok(page.Build());
    if (r.target == "/after.html") return R::Ok("after");
    return std::nullopt;
  });
  // Generous: a scan that is not linear in the token's length would take hours, not minutes.
  TestHandle::Outcome outcome = Run("/huge.html", 65536, std::chrono::minutes(5));
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.restored, 2);
  EXPECT_EQ(outcome.failed, 0);
  EXPECT_TRUE(FileEquals(Site() + "huge.html", page));
  EXPECT_EQ(ReadFileText(Site() + "after.html"), "after");
}

TEST_F(ScannerAttackTest, HugeLinkValuesAreNoLinksOrFailWithACodeAndTheWalkGoesOn) {
  const size_t huge = hostile::kSanitized ? (2u << 20) : (10u << 20);
  const size_t large = 512u << 10;
  // Beyond any link's length: no link at all. Long, but still a link: asked for, and refused by
  // the server (its request line is too long), which fails the file with a code.
  const Repeated page{"<a href=" + std::string(large, 'l') + ".html>x</a> <a href=", 'v', huge,
                      ".html>x</a> <a href=after.html>after</a>"};
  server_.SetHandler([&](const ScriptedRequest& r) -> std::optional<ScriptedResponse> {
    if (r.target == "/index.html") return R::Ok(page.Build());
    if (r.target == "/after.html") return R::Ok("after");
    return std::nullopt;
  });
  TestHandle::Outcome outcome = Run("/index.html", 4096, std::chrono::minutes(5));
  ASSERT_TRUE(outcome.finished);
  EXPECT_TRUE(FileEquals(Site() + "index.html", page));
  EXPECT_EQ(ReadFileText(Site() + "after.html"), "after");
  EXPECT_EQ(server_.requestTargets(), (std::vector<std::string>{"/index.html", "/after.html"}));
  ASSERT_EQ(outcome.failedFiles.size(), 1u);
  EXPECT_TRUE(outcome.failedFiles[0] == std::string(large, 'l') + ".html");
}

// A page that is one endless token must not fill the memory: a token beyond any link's length
// is written to the copy as it arrives, and never taken for a link.
TEST(EndlessTokenTest, ATokenWithoutEndIsWrittenAsItArrivesInBoundedMemory) {
  const size_t total = hostile::kSanitized ? (32u << 20) : (256u << 20);
  ScanFixture fixture;
  KtWdlFetcherTestPeer peer(&fixture.fetcher());
  peer.Begin("/");
  hvfs::OutputFile out;
  ASSERT_TRUE(out.Open(fixture.CopyPath()));
  KtWdlLinkList links;
  const std::string block(64 << 10, 'a');
  size_t held = 0;
  ASSERT_EQ(peer.Feed("<p>", &out, &links), 0);
  for (size_t fed = 0; fed < total; fed += block.size()) {
    ASSERT_EQ(peer.Feed(block, &out, &links), 0);
    held = std::max(held, peer.TokenBytesHeld());
  }
  ASSERT_EQ(peer.Feed(" <a href=after.html>", &out, &links), 0);
  ASSERT_EQ(peer.End(&out, &links), 0);
  ASSERT_TRUE(out.Commit(false, 0));
  EXPECT_LE(held, 4u << 20);
  EXPECT_TRUE(fixture.site().GetUrlPaths(links) == std::vector<std::string>{"after.html"});
  EXPECT_TRUE(FileEquals(fixture.CopyPath(), {"<p>", 'a', total, " <a href=after.html>"}));
}

TEST_F(ScannerAttackTest, ThousandsOfUnclosedCommentsAndQuotesKeepTheDocumentedLinks) {
  std::string page = "<a href=first.html>\n";
  for (int i = 0; i < 10000; ++i) page += "<!-- <a href=hidden.html> ";
  page += "-->\n<a href=mid.html>\n<p title=";
  // An odd number of quotes in a tag: the ">" that ends the tag also ends the quote.
  for (int i = 0; i < 10001; ++i) page += "\" word ";
  page += ">\n<a href=last.html>\n";
  // A comment that never ends hides the rest of the page.
  for (int i = 0; i < 10000; ++i) page += "<!-- \" ";
  page += "<a href=never.html>";
  server_.Set("/index.html", R::Ok(page));

  TestHandle::Outcome outcome = Run("/index.html", 1000);
  ASSERT_TRUE(outcome.finished);
  std::set<std::string> asked = Asked();
  for (const char* found : {"/first.html", "/mid.html", "/last.html"}) {
    EXPECT_EQ(asked.count(found), 1u) << found;
  }
  EXPECT_EQ(asked.count("/hidden.html"), 0u);
  EXPECT_EQ(asked.count("/never.html"), 0u);
  // Nothing but whitespace between quotes is dropped from the saved copy.
  std::string saved = ReadFileText(Site() + "index.html");
  EXPECT_EQ(WithoutWhitespace(saved), WithoutWhitespace(page));
  EXPECT_EQ(CountOf(saved, '\n'), CountOf(page, '\n'));
}

TEST_F(ScannerAttackTest, NulBytesAreKeptInThePageAndNeverReachAFileName) {
  using namespace std::string_literals;
  const std::string page =
      "<p>a\0b\0</p>\0<a href=ok.html>\0<a href=\"zero\0.html\">"
      "<a href=d\0ir/x.html><a href=nuldir/><a href=after.html>\0\0"s;
  server_.Set("/index.html", R::Ok(page));
  server_.Set("/nuldir/.htaccess", R::Ok("DirectoryIndex a\0b.html\n"s));
  TestHandle::Outcome outcome = Run("/index.html");
  ASSERT_TRUE(outcome.finished);
  // Option 0x4 clear: the copy equals the page (no quotes with blanks, no line feeds) but for the
  // index name that the folder link gets.
  std::string copy = page;
  copy.replace(copy.find("nuldir/"), 7, "nuldir/a\0b.html"s);
  EXPECT_EQ(ReadFileText(Site() + "index.html"), copy);
  EXPECT_EQ(ReadFileText(Site() + "ok.html"), "leaf /ok.html");
  EXPECT_EQ(ReadFileText(Site() + "after.html"), "leaf /after.html");
  // A link value is a text up to its first zero byte, as every path of the site is: the cut
  // value names a folder, which is saved where its URL path says.
  EXPECT_EQ(ReadFileText(Site() + "zero/index.html"), "leaf /zero/index.html");
  EXPECT_EQ(ReadFileText(Site() + "d/index.html"), "leaf /d/index.html");
  // An index name with a zero byte cannot be saved: the folder fails with its code.
  EXPECT_EQ(outcome.failedFiles, std::vector<std::string>{"nuldir/"});
  std::map<std::string, uintmax_t> files = hostile::FilesBelow(Site());
  EXPECT_EQ(files.size(), 5u);
  for (const auto& [rel, size] : files) {
    EXPECT_EQ(rel.find('\0'), std::string::npos) << rel;
    EXPECT_EQ(rel.find(".hvtmp-"), std::string::npos) << rel;
  }
}

TEST_F(ScannerAttackTest, InvalidJapaneseByteSequencesNeitherCrashNorGrowTheCopy) {
  using namespace std::string_literals;
  // Detected as EUC-JP by its first pair, then every kind of broken unit.
  const std::string euc =
      "\xA4\xA2\xA4\xA4 <a href=e1.html>\x8E <a href=e2.html> \x8F\xA1 "
      "<a href=e3.html> \xFF\xFE\0 <a href=e4.html>\n\xA4\xA2\xA4\n\xE0"s;
  // Detected as JIS: an escape cut at the end, a pair cut by a line end.
  const std::string jis =
      "\x1B$B\x30\x21\x1B(B <a href=j1.html> \x1B$B\x30\n\x1B(B "
      "<a href=j2.html> \x1B$"s;
  // Shift_JIS lead bytes before delimiters and at the very end.
  const std::string sjis = "\x82\xA0 <a href=\"s1\x81.html\">\x81<a href=s2.html>\x9F\"\xE0"s;
  server_.Set("/euc.html", R::Ok(euc));
  server_.Set("/jis.html", R::Ok(jis));
  server_.Set("/sjis.html", R::Ok(sjis));
  const std::vector<std::pair<const char*, std::string>> pages = {
      {"/euc.html", euc}, {"/jis.html", jis}, {"/sjis.html", sjis}};
  // Every block size from 1 up cuts the units at every place.
  for (int block = 1; block <= 17; ++block) {
    for (const auto& [target, text] : pages) {
      TestHandle::Outcome outcome = Run(target, block);
      ASSERT_TRUE(outcome.finished) << target << " " << block;
      std::string saved = ReadFileText(Site() + (target + 1));
      // Conversion never lengthens a block; the copy only adds a CR before each line feed.
      EXPECT_LE(saved.size(), text.size() + CountOf(text, '\n')) << target << " " << block;
      EXPECT_FALSE(saved.empty()) << target << " " << block;
    }
  }
  std::set<std::string> asked = Asked();
  for (const char* found :
       {"/e1.html", "/e2.html", "/e3.html", "/e4.html", "/j1.html", "/j2.html", "/s2.html"}) {
    EXPECT_EQ(asked.count(found), 1u) << found;
  }
}

}  // namespace
