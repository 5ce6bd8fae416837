// The command's flags as they reach the job record: its defaults against the library's, each
// extension's --no-... flag, --plain, --pages-only, and the limits with their units.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../../tools/harvo/job_options.cpp"
#include "../../tools/harvo/limits.cpp"

namespace {

struct Parsed {
  bool ok = false;
  std::string error;
  JobOptions options;
  HvrJobInfo job;
};

Parsed Parse(std::vector<std::string> args) {
  Parsed parsed;
  CLI::App app("test", "harvo");
  AddJobOptions(&app, &parsed.options, true);
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
    parsed.ok = true;
  } catch (const CLI::ParseError& error) {
    parsed.error = error.what();
    return parsed;
  }
  FillJobInfo(parsed.options, &parsed.job);
  return parsed;
}

constexpr int32_t kEveryExtension = HVR_OPT_WALK_UNCHANGED | HVR_OPT_HTTPS | HVR_OPT_ROOT_LINKS |
                                    HVR_OPT_MORE_LINKS | HVR_OPT_QUERY_PAGES |
                                    HVR_OPT_REMOTE_LINKS | HVR_OPT_COMPRESSION | HVR_OPT_ROBOTS |
                                    HVR_OPT_INDEX_ONCE | HVR_OPT_NORMAL_PRIORITY;

TEST(JobOptions, DefaultsTurnOnEveryExtensionButInsecureAndEveryType) {
  Parsed p = Parse({});
  ASSERT_TRUE(p.ok) << p.error;
  // The walk of unchanged pages comes with an update option only.
  EXPECT_EQ(p.job.Options, kEveryExtension & ~HVR_OPT_WALK_UNCHANGED);
  EXPECT_EQ(CommandExtensionBits(), kEveryExtension);
  EXPECT_EQ(p.job.AllTypes, 1);
  EXPECT_TRUE(p.job.Types.empty());
  EXPECT_EQ(p.job.MaxFiles, 0);
  EXPECT_EQ(p.job.MaxKBytes, 0);
  EXPECT_EQ(p.options.maxTimeMs, 0);
}

TEST(JobOptions, EachNoFlagTurnsOffItsOwnBitOnly) {
  const struct {
    const char* flag;
    int32_t bit;
  } kFlags[] = {{"--no-https", HVR_OPT_HTTPS},
                {"--no-root-links", HVR_OPT_ROOT_LINKS},
                {"--no-more-links", HVR_OPT_MORE_LINKS},
                {"--no-query-pages", HVR_OPT_QUERY_PAGES},
                {"--no-remote-links", HVR_OPT_REMOTE_LINKS},
                {"--no-compression", HVR_OPT_COMPRESSION},
                {"--no-robots", HVR_OPT_ROBOTS},
                {"--no-walk-unchanged", HVR_OPT_WALK_UNCHANGED},
                {"--no-index-once", HVR_OPT_INDEX_ONCE},
                {"--idle", HVR_OPT_NORMAL_PRIORITY}};
  int32_t all = 0;
  std::vector<std::string> every;
  for (const auto& f : kFlags) {
    Parsed p = Parse({f.flag});
    ASSERT_TRUE(p.ok) << f.flag << ": " << p.error;
    EXPECT_EQ(p.job.Options, kEveryExtension & ~HVR_OPT_WALK_UNCHANGED & ~f.bit) << f.flag;
    EXPECT_EQ(p.job.AllTypes, 1) << f.flag;
    all |= f.bit;
    every.push_back(f.flag);
  }
  EXPECT_EQ(all, kEveryExtension);
  Parsed none = Parse(every);
  ASSERT_TRUE(none.ok) << none.error;
  EXPECT_EQ(none.job.Options, 0);
}

TEST(JobOptions, PlainGivesTheLibrarysOwnWalk) {
  Parsed p = Parse({"--plain"});
  ASSERT_TRUE(p.ok) << p.error;
  HvrJobInfo library;  // a record as a host that asks for nothing new makes it
  EXPECT_EQ(p.job.Options, library.Options);
  EXPECT_EQ(p.job.AllTypes, library.AllTypes);
  EXPECT_EQ(p.job.Types, library.Types);
  EXPECT_EQ(p.job.BufferSize, library.BufferSize);
  EXPECT_EQ(p.job.MaxDirDepth, library.MaxDirDepth);
  EXPECT_EQ(p.job.MaxLinkDepth, library.MaxLinkDepth);

  // The walk's own settings still apply; extensions asked for one by one do not come back.
  p = Parse({"--plain", "--type", "gif", "--update-only", "--no-robots"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.job.Options, HVR_OPT_UPDATE_ONLY);
  EXPECT_EQ(p.job.AllTypes, 0);
  EXPECT_EQ(p.job.Types, std::vector<std::string>{".gif"});
  p = Parse({"--plain", "--all-types"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.job.AllTypes, 1);
  EXPECT_FALSE(Parse({"--plain", "--insecure"}).ok);
}

TEST(JobOptions, TypeSelections) {
  Parsed p = Parse({"--pages-only"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.job.AllTypes, 0);
  EXPECT_EQ(p.job.Options, kEveryExtension & ~HVR_OPT_WALK_UNCHANGED);
  p = Parse({"--type", ".png,jpg"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.job.AllTypes, 0);
  EXPECT_EQ(p.job.Types, (std::vector<std::string>{".png", ".jpg"}));
  EXPECT_FALSE(Parse({"--pages-only", "--all-types"}).ok);
  EXPECT_FALSE(Parse({"--pages-only", "--type", "gif"}).ok);
  p = Parse({"--insecure"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.job.Options, (kEveryExtension & ~HVR_OPT_WALK_UNCHANGED) | HVR_OPT_INSECURE);
}

TEST(JobOptions, LimitsReachTheRecordAndBadOnesAreRefused) {
  Parsed p = Parse({"--max-files", "25", "--max-size", "1.5M", "--max-time", "1h30m"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.job.MaxFiles, 25);
  EXPECT_EQ(p.job.MaxKBytes, 1536);
  EXPECT_EQ(p.options.maxTimeMs, 90 * 60 * 1000);
  EXPECT_EQ(LimitWords(p.options, HVR_LIMIT_FILES), "--max-files 25");
  EXPECT_EQ(LimitWords(p.options, HVR_LIMIT_SIZE), "--max-size 1.5M");
  EXPECT_EQ(LimitWords(p.options, HVR_LIMIT_NONE), "");
  EXPECT_EQ(TimeLimitWords(p.options), "--max-time 1h30m");
  for (std::vector<std::string> bad : {std::vector<std::string>{"--max-files", "0"},
                                       {"--max-files", "-3"},
                                       {"--max-size", "0"},
                                       {"--max-size", "12Q"},
                                       {"--max-size", "lots"},
                                       {"--max-size", "9T"},
                                       {"--max-time", "0"},
                                       {"--max-time", "soon"},
                                       {"--max-time", "5 minutes"}}) {
    Parsed refused = Parse(bad);
    EXPECT_FALSE(refused.ok) << bad[0] << " " << bad[1];
  }
}

TEST(JobOptions, ConnectionsDefaultToFourOneWithPlainAndAreBounded) {
  EXPECT_EQ(Parse({}).job.Connections, 4);
  EXPECT_EQ(Parse({"--plain"}).job.Connections, 1);
  EXPECT_EQ(Parse({"--connections", "8"}).job.Connections, 8);
  EXPECT_EQ(Parse({"--plain", "--connections", "2"}).job.Connections, 2);
  EXPECT_EQ(Parse({"--connections", "16"}).job.Connections, HVR_MAX_CONNECTIONS);
  for (const char* bad : {"0", "-1", "17", "many"}) {
    EXPECT_FALSE(Parse({"--connections", bad}).ok) << bad;
  }
}

TEST(Limits, SizesInKiBRoundedUp) {
  const struct {
    const char* text;
    int32_t kib;
  } kSizes[] = {{"1", 1},        {"1024", 1}, {"1025", 2},    {"500K", 500},
                {"500kb", 500},  {"2KiB", 2}, {"20M", 20480}, {"1.5g", 1572864},
                {"1T", 1 << 30}, {"0.5k", 1}, {"3b", 1}};
  for (const auto& s : kSizes) {
    int32_t kib = -1;
    EXPECT_TRUE(ParseSizeKiB(s.text, &kib)) << s.text;
    EXPECT_EQ(kib, s.kib) << s.text;
  }
  for (const char* bad : {"", "K", "-1K", "1..5M", "1 M", "2X", "0", "0K", "2048T", "1e3"}) {
    int32_t kib = 0;
    EXPECT_FALSE(ParseSizeKiB(bad, &kib)) << bad;
  }
}

TEST(Limits, DurationsInMilliseconds) {
  const struct {
    const char* text;
    int64_t ms;
  } kDurations[] = {{"90", 90000},      {"90s", 90000},   {"15m", 900000}, {"2h", 7200000},
                    {"1h30m", 5400000}, {"1m30", 90000},  {"500ms", 500},  {"1.5s", 1500},
                    {"1d", 86400000},   {"10MIN", 600000}};
  for (const auto& d : kDurations) {
    int64_t ms = -1;
    EXPECT_TRUE(ParseDurationMs(d.text, &ms)) << d.text;
    EXPECT_EQ(ms, d.ms) << d.text;
  }
  for (const char* bad : {"", "s", "0", "0s", "1 h", "1x", "1h-5m", "30 30", "0.1ms", "10m10 5"}) {
    int64_t ms = 0;
    EXPECT_FALSE(ParseDurationMs(bad, &ms)) << bad;
  }
}

TEST(JobOptions, TheWalkOfUnchangedPagesComesWithAnUpdateOption) {
  EXPECT_EQ(Parse({}).job.Options & HVR_OPT_WALK_UNCHANGED, 0);
  EXPECT_EQ(Parse({"--update-only"}).job.Options & HVR_OPT_WALK_UNCHANGED, HVR_OPT_WALK_UNCHANGED);
  EXPECT_EQ(Parse({"--update-nonhtml"}).job.Options & HVR_OPT_WALK_UNCHANGED,
            HVR_OPT_WALK_UNCHANGED);
  const int32_t kept = Parse({"--update-only", "--no-walk-unchanged"}).job.Options;
  EXPECT_EQ(kept & (HVR_OPT_UPDATE_ONLY | HVR_OPT_WALK_UNCHANGED), HVR_OPT_UPDATE_ONLY);
}

}  // namespace
