// Update modes, earlier copies, text-code conversion and the directory-depth limit.
#include <gtest/gtest.h>

#include <iconv.h>
#include <unistd.h>

#include "harvo.h"
#include "platform/fs.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;
using Targets = std::vector<std::string>;

constexpr int64_t kOld = 1600000000;
constexpr int64_t kNew = 1700000000;

std::string Iconv(const std::string& text, const char* to) {
  iconv_t cd = iconv_open(to, "UTF-8");
  std::string out(text.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* o = out.data();
  size_t outLeft = out.size();
  iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv(cd, nullptr, nullptr, &o, &outLeft);  // back to the initial shift state
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

class UpdateTest : public ::testing::Test {
 protected:
  std::string Site() const { return dir_ / "127.0.0.1/"; }
  HvrJobInfo Job(const std::string& path, int32_t options = 0) {
    HvrJobInfo job = MakeJob(server_.url(path), dir_.path());
    job.Options = options;
    return job;
  }
  // Puts an earlier copy into the save folder, stamped with time.
  void Earlier(const std::string& relative, const std::string& content, int64_t time) {
    WriteFileText(Site() + relative, content);
    hvfs::SetFileTime(Site() + relative, time);
  }
  void Serve(const std::string& target, const std::string& body, int64_t time) {
    server_.Set(target, R::Ok(body).LastModified(time));
  }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(UpdateTest, UpdateOnly_AnUnchangedStartPageIsRequestedOnly) {
  Serve("/index.html", "<a href=a.html>", kOld);
  Serve("/a.html", "a", kOld);
  Earlier("index.html", "<a href=a.html>", kOld);
  HvrJobInfo job = Job("/index.html", HVR_OPT_UPDATE_ONLY);
  job.CompareFolder = dir_.path();
  handle_.Run(&job);
  EXPECT_EQ(server_.requestTargets(), Targets{"/index.html"});
  EXPECT_EQ(job.Updated, 0);
}

TEST_F(UpdateTest, UpdateOnly_AChangedStartPageIsReceivedAndMarksTheJobUpdated) {
  Serve("/index.html", "<a href=a.html>", kNew);
  Serve("/a.html", "a", kOld);
  Earlier("index.html", "<a href=a.html>", kOld);
  Earlier("a.html", "a", kOld);
  HvrJobInfo job = Job("/index.html", HVR_OPT_UPDATE_ONLY);
  job.CompareFolder = dir_.path();
  handle_.Run(&job);
  // a.html is compared with the copy in the save folder and is unchanged: not received.
  EXPECT_EQ(server_.requestTargets(), (Targets{"/index.html", "/a.html"}));
  EXPECT_EQ(job.Updated, 1);
  hvfs::FileInfo info;
  ASSERT_TRUE(hvfs::GetFileInfo(Site() + "index.html", &info));
  EXPECT_EQ(info.time, kNew);
}

TEST_F(UpdateTest, UpdateNonHtml_ReceivesUnchangedPagesButNotUnchangedImages) {
  Serve("/index.html", "<img src=a.gif><img src=b.gif>", kOld);
  Serve("/a.gif", "GIF-a", kOld);
  Serve("/b.gif", "GIF-b2", kNew);
  Earlier("index.html", "<img src=a.gif><img src=b.gif>", kOld);
  Earlier("a.gif", "OLD-a", kOld);  // same size and time: unchanged
  Earlier("b.gif", "OLD-b", kOld);
  HvrJobInfo job = Job("/index.html", HVR_OPT_UPDATE_NONHTML);
  job.CompareFolder = dir_.path();
  handle_.Run(&job);
  EXPECT_EQ(server_.requestTargets(), (Targets{"/index.html", "/a.gif", "/b.gif"}));
  EXPECT_EQ(ReadFileText(Site() + "a.gif"), "OLD-a");
  EXPECT_EQ(ReadFileText(Site() + "b.gif"), "GIF-b2");
}

TEST_F(UpdateTest, CheckOnly_RequestsTheStartPageAndWritesNothing) {
  Serve("/dir/index.html", "<a href=a.html>", kOld);
  HvrJobInfo job = Job("/dir/index.html", HVR_OPT_CHECK_ONLY);
  auto outcome = handle_.Run(&job);
  EXPECT_EQ(server_.requestTargets(), Targets{"/dir/index.html"});
  hvfs::FileInfo info;
  EXPECT_FALSE(hvfs::GetFileInfo(dir_ / "127.0.0.1", &info));
  EXPECT_EQ(outcome.restored, 0);
  EXPECT_EQ(job.LastModified, kOld);
}

TEST_F(UpdateTest, JapanesePages_AreSavedAsShiftJisUnlessKeptAsReceived) {
  const std::string text = "<p>日本語のページです。漢字とかなを含みます。</p>\n";
  const std::string sjis = Iconv(text, "SHIFT_JIS");
  Serve("/euc.html", Iconv(text, "EUC-JP"), kOld);
  Serve("/jis.html", Iconv(text, "ISO-2022-JP"), kOld);
  Serve("/index.html", "<a href=euc.html><a href=jis.html><a href=bin.gif>", kOld);
  const std::string binary = Iconv(text, "EUC-JP") + std::string("\0\x1b$B\n", 5);
  Serve("/bin.gif", binary, kOld);
  HvrJobInfo job = Job("/index.html", HVR_OPT_RAW_HTML);
  job.BufferSize = 7;  // characters and escapes cut by the ends of blocks
  handle_.Run(&job);
  EXPECT_EQ(ReadFileText(Site() + "euc.html"), sjis);
  EXPECT_EQ(ReadFileText(Site() + "jis.html"), sjis);
  HvrJobInfo whole = Job("/index.html", HVR_OPT_RAW_HTML);
  TempDir other;
  whole.SaveFolder = other.path();
  whole.BufferSize = 65536;
  TestHandle second;
  second.Run(&whole);
  EXPECT_EQ(ReadFileText(other / "127.0.0.1/euc.html"), sjis);
  EXPECT_EQ(ReadFileText(other / "127.0.0.1/jis.html"), sjis);
  EXPECT_EQ(ReadFileText(other / "127.0.0.1/bin.gif"), binary);  // other files never convert

  HvrJobInfo keep = Job("/index.html", HVR_OPT_RAW_HTML | HVR_OPT_KEEP_CODE);
  TempDir third;
  keep.SaveFolder = third.path();
  TestHandle handle3;
  handle3.Run(&keep);
  EXPECT_EQ(ReadFileText(third / "127.0.0.1/euc.html"), Iconv(text, "EUC-JP"));
  EXPECT_EQ(ReadFileText(third / "127.0.0.1/jis.html"), Iconv(text, "ISO-2022-JP"));
}

TEST_F(UpdateTest, UpdateOnly_TheEarlierCopyIsLookedUpByItsExactName) {
  // "*.gif" names one file, not every .gif: a.gif (same size and time) is no copy of it.
  Serve("/index.html", "<img src=\"*.gif\">", kNew);
  Serve("/*.gif", "star", kOld);
  Earlier("a.gif", "abcd", kOld);
  HvrJobInfo job = Job("/index.html", HVR_OPT_UPDATE_ONLY);
  auto outcome = handle_.Run(&job);
  EXPECT_EQ(outcome.failed, 0);
  EXPECT_EQ(ReadFileText(Site() + "*.gif"), "star");
  EXPECT_EQ(ReadFileText(Site() + "a.gif"), "abcd");
}

TEST_F(UpdateTest, MaxDirDepth_ZeroRefusesTheRootAndOneAllowsOnlyRootFiles) {
  Serve("/index.html", "<a href=a.html><a href=dir/b.html>", kOld);
  Serve("/a.html", "a", kOld);
  Serve("/dir/b.html", "b", kOld);
  HvrJobInfo zero = Job("/index.html");
  zero.MaxDirDepth = 0;
  auto outcome = handle_.Run(&zero);
  EXPECT_EQ(server_.requestCount(), 0u);
  EXPECT_EQ(zero.Error, HVR_ERR_FILE);

  HvrJobInfo one = Job("/index.html");
  one.MaxDirDepth = 1;
  TestHandle handle;
  outcome = handle.Run(&one);
  EXPECT_EQ(server_.requestTargets(), (Targets{"/index.html", "/a.html"}));
  EXPECT_EQ(outcome.restored, 2);
}

TEST_F(UpdateTest, TransportFailureMidBody_KeepsTheEarlierCopy) {
  Serve("/index.html", "<img src=big.gif>", kOld);
  server_.Set("/big.gif", R::Ok(std::string(100000, 'n')).LastModified(kNew).ResetAfter(50000));
  Earlier("big.gif", "earlier copy", kOld);
  HvrJobInfo job = Job("/index.html");
  auto outcome = handle_.Run(&job);
  EXPECT_EQ(ReadFileText(Site() + "big.gif"), "earlier copy");
  EXPECT_EQ(outcome.failedFiles, Targets{"big.gif"});
  // No temporary file is left behind.
  int files = 0;
  hvfs::FileInfo info;
  for (const char* name : {"index.html", "big.gif"})
    files += hvfs::GetFileInfo(Site() + name, &info);
  EXPECT_EQ(files, 2);
  EXPECT_FALSE(hvfs::FindFirstFile(Site() + ".big.gif.hvtmp-*"));
}

}  // namespace

namespace {

class TextCodeTest : public UpdateTest {
 protected:
  // Serves text in EUC-JP and in ISO-2022-JP, links both from the start page, copies the site.
  void CopyJapanesePages(const std::string& text, int32_t options) {
    server_.Set("/euc.html", R::Ok(Iconv(text, "EUC-JP")).LastModified(kOld));
    server_.Set("/jis.html", R::Ok(Iconv(text, "ISO-2022-JP")).LastModified(kOld));
    server_.Set("/index.html", R::Ok("<a href=euc.html><a href=jis.html>").LastModified(kOld));
    HvrJobInfo job = Job("/index.html", options);
    handle_.Run(&job);
  }
  // Both pages are saved as the Shift_JIS form of expected.
  void ExpectBothSavedAs(const std::string& expected) {
    const std::string sjis = Iconv(expected, "SHIFT_JIS");
    EXPECT_EQ(ReadFileText(Site() + "euc.html"), sjis);
    EXPECT_EQ(ReadFileText(Site() + "jis.html"), sjis);
  }
};

TEST_F(TextCodeTest, Utf8PagesAreNotTakenForEucJp) {
  const std::string page = "<p>Café, naïve, 日本語 — ¿qué?</p><a href=\"é.html\">x</a>";
  server_.Set("/index.html", R::Ok(page).LastModified(kOld));
  HvrJobInfo job = Job("/index.html", HVR_OPT_RAW_HTML);
  handle_.Run(&job);
  EXPECT_EQ(ReadFileText(Site() + "index.html"), page);
  EXPECT_EQ(server_.requestTargets(), (Targets{"/index.html", "/%C3%A9.html"}));
}

TEST_F(TextCodeTest, ConvertedPagesDeclareShiftJis) {
  const std::string head =
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-JP\">"
      "<meta charset=\"euc-jp\"><!-- charset=EUC-JP --></head>";
  CopyJapanesePages(head + "<body>日本語 charset=EUC-JP</body></html>", 0);
  // Blanks between quotes go, as in any rewritten page; the label inside the comment and in
  // the text stays.
  ExpectBothSavedAs(
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html;charset=Shift_JIS\">"
      "<meta charset=\"Shift_JIS\"><!-- charset=EUC-JP --></head>"
      "<body>日本語 charset=EUC-JP</body></html>");
}

TEST_F(TextCodeTest, RawConvertedPagesDeclareShiftJisAndKeepEveryOtherByte) {
  CopyJapanesePages(
      "<html><head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-JP\">\n"
      "<meta charset=\"iso-2022-jp\"></head>\n<body>\"二つの  語\" charset=EUC-JP\n"
      "<a href=\"a.html\">日本語</a></body></html>\n",
      HVR_OPT_RAW_HTML);
  // Links are not rewritten, line ends and blanks stay: only the labels in tags change.
  ExpectBothSavedAs(
      "<html><head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">"
      "\n<meta charset=\"Shift_JIS\"></head>\n<body>\"二つの  語\" charset=EUC-JP\n"
      "<a href=\"a.html\">日本語</a></body></html>\n");
  EXPECT_EQ(server_.requestCount("/a.html"), 1u);
}

// The page with its declared charset turned into Shift_JIS, as converted pages declare it.
std::string Relabel(std::string page) {
  const std::string from = "charset=\"euc-jp\"", to = "charset=\"Shift_JIS\"";
  size_t at = page.find(from);
  if (at != std::string::npos) page.replace(at, from.size(), to);
  return page;
}

// Pages of about 36 KB whose characters and escape sequences the ends of blocks cut in many
// places, and whose first Japanese text follows several blocks of plain ASCII: the saved copies
// are the same whatever the job's block size, one byte included.
TEST_F(TextCodeTest, JapanesePagesAreSavedTheSameWhateverTheBlockSize) {
  const std::vector<std::string> sentences = {
      "吾輩は猫である。名前はまだ無い。",
      "国境の長いトンネルを抜けると雪国であった。",
      "営業時間は午前九時から午後五時まで、料金は¥１０００です。",
      "<b>ホームページ</b>の「最新情報」を更新しました（２００１年４月１日）。",
      "春はあけぼの。やうやう白くなりゆく山ぎは、すこしあかりて、",
  };
  // EUC-JP adds half-width katakana (single shift 0x8E) and a JIS X 0212 character (0x8F, which
  // has no Shift_JIS form and is saved as "?"); ISO-2022-JP has neither.
  const std::string head =
      "<html><head><meta charset=\"euc-jp\"></head>\r\n<p>" + std::string(3000, 'x') + "</p>\r\n";
  std::string text = head, eucText = head, eucExpected = head;
  for (int line = 0; text.size() < 54000; ++line) {
    const std::string common = sentences[line % sentences.size()] + std::to_string(line) + " ";
    text += "<p>" + common + "</p>\r\n";
    eucText += "<p>" + common + "ｶﾀｶﾅ丂</p>\r\n";
    eucExpected += "<p>" + common + "ｶﾀｶﾅ?</p>\r\n";
  }
  const std::string euc = Iconv(eucText, "EUC-JP"), jis = Iconv(text, "ISO-2022-JP");
  ASSERT_NE(euc.find("\x8F"), std::string::npos);
  ASSERT_NE(jis.find("\x1B(J"), std::string::npos);
  Serve("/euc.html", euc, kOld);
  Serve("/jis.html", jis, kOld);
  Serve("/index.html", "<a href=euc.html><a href=jis.html>", kOld);
  auto saved = [&](int bufferSize, int32_t options) {
    TempDir folder;
    HvrJobInfo job = Job("/index.html", options);
    job.SaveFolder = folder.path();
    job.BufferSize = bufferSize;
    TestHandle handle;
    handle.Run(&job);
    return std::vector<std::string>{ReadFileText(folder / "127.0.0.1/euc.html"),
                                    ReadFileText(folder / "127.0.0.1/jis.html")};
  };
  // Received whole, each page is converted in one piece: that is the reference.
  const std::vector<std::string> whole = saved(65536, 0);
  ASSERT_GT(whole[0].size(), 36000u);
  ASSERT_GT(whole[1].size(), 36000u);
  for (int bufferSize : {1, 7, 1001}) {
    const std::vector<std::string> copies = saved(bufferSize, 0);
    EXPECT_TRUE(copies == whole) << "block size " << bufferSize;
    // As received (but converted), the pages are exactly their Shift_JIS text.
    const std::vector<std::string> raw = saved(bufferSize, HVR_OPT_RAW_HTML);
    EXPECT_TRUE(raw[0] == Relabel(Iconv(eucExpected, "SHIFT_JIS"))) << "block size " << bufferSize;
    EXPECT_TRUE(raw[1] == Relabel(Iconv(text, "SHIFT_JIS"))) << "block size " << bufferSize;
  }
}

}  // namespace

namespace {

TEST_F(UpdateTest, AFileThatIsNotReceivedIsClosedWithoutReadingItsBody) {
  // The body stalls after its first mebibyte: reading it to its end would never finish.
  constexpr int64_t kSize = 64 << 20;
  Serve("/index.html", "<img src=big.gif><a href=next.html>", kNew);
  server_.Set("/big.gif", R::Generated(kSize).LastModified(kOld).StallAfter(1 << 20));
  Serve("/next.html", "next", kNew);
  WriteFileText(Site() + "big.gif", "");
  ASSERT_EQ(truncate((Site() + "big.gif").c_str(), kSize), 0);
  hvfs::SetFileTime(Site() + "big.gif", kOld);
  HvrJobInfo job = Job("/index.html", HVR_OPT_UPDATE_NONHTML);
  int index = -1;
  ASSERT_EQ(handle_.Start(&job, &index), 0);
  EXPECT_TRUE(handle_.WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(ReadFileText(Site() + "next.html"), "next");
  HvrStop(handle_.get(), &job, index);
  HvrEnd(handle_.get(), &job, index);
}

}  // namespace
