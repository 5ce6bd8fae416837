// The option bits the command's flags give a job. The command is built only on the shared
// library, so the flag code is compiled into this test directly (its helpers come with
// tool_units_test.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../tools/harvo/job_options.cpp"

namespace {

int32_t OptionsFor(std::vector<std::string> args) {
  CLI::App app;
  JobOptions options;
  AddJobOptions(&app, &options, true);
  std::reverse(args.begin(), args.end());  // CLI11 takes the arguments last first
  app.parse(args);
  HvrJobInfo job;
  FillJobInfo(options, &job);
  return job.Options;
}

TEST(JobFlags, ExtensionsAreOnUnlessTurnedOff) {
  const int32_t plain = OptionsFor({});
  EXPECT_EQ(plain & HVR_OPT_INDEX_ONCE, HVR_OPT_INDEX_ONCE);
  EXPECT_EQ(plain & HVR_OPT_NORMAL_PRIORITY, HVR_OPT_NORMAL_PRIORITY);
  // The walk of unchanged pages belongs to an update.
  EXPECT_EQ(plain & HVR_OPT_WALK_UNCHANGED, 0);
  EXPECT_EQ(OptionsFor({"--update-only"}) & HVR_OPT_WALK_UNCHANGED, HVR_OPT_WALK_UNCHANGED);
  EXPECT_EQ(OptionsFor({"--update-nonhtml"}) & HVR_OPT_WALK_UNCHANGED, HVR_OPT_WALK_UNCHANGED);

  const int32_t kept = OptionsFor({"--update-only", "--no-walk-unchanged"});
  EXPECT_EQ(kept & (HVR_OPT_UPDATE_ONLY | HVR_OPT_WALK_UNCHANGED), HVR_OPT_UPDATE_ONLY);
  EXPECT_EQ(OptionsFor({"--no-index-once"}) & HVR_OPT_INDEX_ONCE, 0);
  EXPECT_EQ(OptionsFor({"--idle"}) & HVR_OPT_NORMAL_PRIORITY, 0);
}

}  // namespace
