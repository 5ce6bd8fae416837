// Text of a server that ends up in the log and in file names: link values and index names with
// terminal escapes, bells and line ends. The log stays one event per line with every control
// byte escaped, and no file or folder is ever named with a control byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "harvo.h"
#include "hostile_support.h"
#include "support/job_runner.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace {

using R = ScriptedResponse;

bool HasControlByte(const std::string& text, size_t from = 0) {
  return std::any_of(text.begin() + static_cast<long>(from), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

class ServerTextTest : public ::testing::Test {
 protected:
  ServerTextTest() {
    // Every file is answered, so that a refused path shows as a file that was never asked for.
    server_.SetHandler([](const ScriptedRequest& r) -> std::optional<ScriptedResponse> {
      if (r.target.ends_with("/.htaccess")) return std::nullopt;
      return R::Ok("T:" + r.target);
    });
  }
  std::string Site() const { return dir_ / "save/127.0.0.1/"; }

  ScriptedServer server_;
  TempDir dir_;
  TestHandle handle_;
};

TEST_F(ServerTextTest, ControlBytesNeverReachTheLogRawNorAFileName) {
  const std::string osc = "\x1b]0;TITLE\x07\x1b[2J";
  std::string page;
  for (const std::string& link :
       {osc + "evil.html", "dir" + osc + "/x.html", std::string("spoof/"), std::string("multi/"),
        std::string("ctl/"), std::string("bell\x01.gif"), std::string("del/\x7f.gif"),
        std::string("ok.html")}) {
    page += "<a href=\"" + link + "\">x</a>\n";
  }
  server_.Set("/index.html", R::Ok(page));
  // A CR that would end the log line early and forge a line of the server's choosing.
  server_.Set("/spoof/.htaccess",
              R::Ok("DirectoryIndex fake.html\rError(80060000):spoofed-line.html\n"));
  // Several names: the first one counts.
  server_.Set("/multi/.htaccess", R::Ok("DirectoryIndex  index.php index.html\n"));
  server_.Set("/ctl/.htaccess", R::Ok("DirectoryIndex a\x1b[2J.html\n"));
  const std::string log = dir_ / "job.log";
  HvrJobInfo job = MakeJob(server_.url("/index.html"), dir_ / "save/");
  // Kept in its code: the page's escape sequences would otherwise pass for ISO-2022-JP shifts
  // and be taken out of the text by the conversion before any link is found.
  job.Options = HVR_OPT_KEEP_CODE;
  TestHandle::Outcome outcome = handle_.Run(&job, log, &server_);
  ASSERT_TRUE(outcome.finished);

  // One event per line: only the line's own CR LF and a leading tab are control bytes.
  const std::string text = ReadFileText(log);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size());
  for (const std::string& line : lines) {
    EXPECT_FALSE(HasControlByte(line, line.starts_with("\t") ? 1 : 0)) << line;
    EXPECT_FALSE(line.starts_with("Error(80060000):spoofed")) << line;
  }
  auto logged = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(logged("\t\\x1B]0;TITLE\\x07\\x1B[2Jevil.html"));
  EXPECT_TRUE(logged("Error(80010000):\\x1B]0;TITLE\\x07\\x1B[2Jevil.html"));
  EXPECT_TRUE(logged("\tdel/\\x7F.gif"));

  // Paths with control bytes are refused with words, never asked for and never saved.
  std::set<std::string> failed(outcome.failedFiles.begin(), outcome.failedFiles.end());
  EXPECT_EQ(failed, (std::set<std::string>{osc + "evil.html", "dir" + osc + "/x.html", "ctl/",
                                           "bell\x01.gif", "del/\x7f.gif"}));
  for (size_t i = 0; i < outcome.failedFiles.size(); ++i) {
    EXPECT_EQ(outcome.failedReasons[i], "a path with a control character")
        << outcome.failedFiles[i];
  }
  for (const std::string& target : server_.requestTargets()) {
    EXPECT_FALSE(HasControlByte(target)) << target;
    if (target.ends_with(".htaccess")) continue;
    EXPECT_EQ(target.find("%1B"), std::string::npos) << target;
  }
  for (const auto& [rel, size] : hostile::FilesBelow(dir_.path())) {
    EXPECT_FALSE(HasControlByte(rel)) << rel;
  }
  // The index names that stay are the first names, and the page's links name those files.
  EXPECT_EQ(ReadFileText(Site() + "spoof/fake.html"), "T:/spoof/fake.html");
  EXPECT_EQ(ReadFileText(Site() + "multi/index.php"), "T:/multi/index.php");
  const std::string saved = ReadFileText(Site() + "index.html");
  EXPECT_NE(saved.find("\"spoof/fake.html\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("\"multi/index.php\""), std::string::npos) << saved;
  EXPECT_EQ(ReadFileText(Site() + "ok.html"), "T:/ok.html");
}

}  // namespace
