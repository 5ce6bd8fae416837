// Runs the built harvo command in a temporary working folder, with an empty Wine prefix so that
// no bookmark store of the machine is ever read.
#ifndef HARVO_TESTS_CLI_CLI_FIXTURE_H
#define HARVO_TESTS_CLI_CLI_FIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::is_regular_file(HarvoBinary()))
        << HarvoBinary() << " is missing: build the harvo_cli target before these tests";
  }

  // The command line with the binary in front.
  static std::vector<std::string> Command(const std::vector<std::string>& args) {
    std::vector<std::string> argv{HarvoBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  // The environment changes every run gets, then extra (which may override them).
  std::vector<std::string> Env(const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> env{"WINEPREFIX=" + prefix_.path(), "HOME=" + work_.path()};
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
  }

  ChildResult Harvo(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                    std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    return RunCommand(Command(args), Env(env), work_.path(), timeout);
  }

  TempDir work_;    // the command's working folder
  TempDir prefix_;  // an empty Wine prefix
};

#endif  // HARVO_TESTS_CLI_CLI_FIXTURE_H
