// The command line's value syntax, good rows and bad rows.
#include <gtest/gtest.h>

#include "cli/cli_command_line.h"
#include "cli/cli_options.h"

#include <optional>
#include <sstream>

namespace {

struct TTimeRow {
  const char* Text;
  int64_t Us;
};
class CliTimeTest : public ::testing::TestWithParam<TTimeRow> {};
TEST_P(CliTimeTest, Parses) {
  EXPECT_EQ(ParseCliTime(GetParam().Text), GetParam().Us);
}
INSTANTIATE_TEST_SUITE_P(
    Good, CliTimeTest,
    ::testing::Values(TTimeRow{"0", 0}, TTimeRow{"12", 12'000'000}, TTimeRow{"7.5", 7'500'000},
                      TTimeRow{"0:00:03", 3'000'000}, TTimeRow{"1:02:03", 3'723'000'000},
                      TTimeRow{"2:03.25", 123'250'000}, TTimeRow{"0:00:00.001", 1'000}));

class CliBadTimeTest : public ::testing::TestWithParam<const char*> {};
TEST_P(CliBadTimeTest, Refused) {
  EXPECT_THROW(ParseCliTime(GetParam()), TCliError);
}
INSTANTIATE_TEST_SUITE_P(Bad, CliBadTimeTest,
                         ::testing::Values("", "-1", "abc", "1:2:3:4", "0:60", "1:00:75", "1.5:00",
                                           "1..2", ":", "12s", "1e3"));

TEST(CliCrop, FourWholeNumbers) {
  const TCliCrop crop = ParseCliCrop("8,16,0,4");
  EXPECT_EQ(crop.Top, 8);
  EXPECT_EQ(crop.Bottom, 16);
  EXPECT_EQ(crop.Left, 0);
  EXPECT_EQ(crop.Right, 4);
  for (const char* bad : {"", "1,2,3", "1,2,3,4,5", "1,2,-3,4", "a,b,c,d", "1,,2,3", "1.5,0,0,0"})
    EXPECT_THROW(ParseCliCrop(bad), TCliError) << bad;
}

TEST(CliChapters, RangeOrSingle) {
  EXPECT_EQ(ParseCliChapters("2-3"), std::make_pair(2, 3));
  EXPECT_EQ(ParseCliChapters("2"), std::make_pair(2, 2));
  for (const char* bad : {"", "0-2", "3-2", "1-2-3", "x", "1-"})
    EXPECT_THROW(ParseCliChapters(bad), TCliError) << bad;
}

TEST(CliWatermark, FieldsAndDefaults) {
  TCliWatermark mark = ParseCliWatermark("Hello@10,20");
  EXPECT_EQ(mark.What, "Hello");
  EXPECT_EQ(mark.X, 10);
  EXPECT_EQ(mark.Y, 20);
  EXPECT_EQ(mark.Alpha, 255);
  EXPECT_EQ(mark.Start, 0);
  EXPECT_EQ(mark.End, INT32_MAX);
  // The last "@" separates, so the text may hold one.
  mark = ParseCliWatermark("me@example.org@1,2,128,3-5");
  EXPECT_EQ(mark.What, "me@example.org");
  EXPECT_EQ(mark.Alpha, 128);
  EXPECT_EQ(mark.Start, 3);
  EXPECT_EQ(mark.End, 5);
  for (const char* bad : {"", "text", "@1,2", "t@1", "t@1,2,256", "t@1,2,3,4", "t@1,2,3,5-4",
                          "t@x,2", "t@1,2,3,4-5,6"})
    EXPECT_THROW(ParseCliWatermark(bad), TCliError) << bad;
}

TEST(CliSetting, KnownKeysAnyCase) {
  EXPECT_EQ(ParseCliSetting("paravideosize=640x480"),
            std::make_pair(std::string("paraVideoSize"), std::string("640x480")));
  EXPECT_EQ(ParseCliSetting("paraVideoSize=as source").second, "as source");
  EXPECT_EQ(ParseCliSetting("PARAVIDEOBITRATE=800").first, "paraVideoBitRate");
  EXPECT_EQ(ParseCliSetting("paraZoom=pan").first, "paraZoom");
  EXPECT_EQ(ParseCliSetting("paraAudioEncoder=").second, "");
  EXPECT_EQ(ParseCliSetting("paraVolume=512").second, "512");
  for (const char* bad :
       {"paraVideoSize", "=1", "paraNothing=1", "paraVideoSize=640x", "paraVideoSize=x480",
        "paraVideoSize=0x0", "paraZoom=wide", "paraVolume=loud", "FormatCode=2"})
    EXPECT_THROW(ParseCliSetting(bad), TCliError) << bad;
}

}  // namespace

// The command line as the program parses it, without running anything.
struct TCommandLineCase {
  const char* Name;
  std::vector<std::string> Args;  // after the program's name
  std::optional<int> Status;      // nullopt: a command to run
  const char* Out;                // in the help text, or ""
  const char* Err;                // the refusal line, or ""
};

void PrintTo(const TCommandLineCase& c, std::ostream* os) {
  *os << c.Name;
}

class CommandLineTest : public ::testing::TestWithParam<TCommandLineCase> {};

TEST_P(CommandLineTest, ParsesOrEndsWithTheRightStatus) {
  const TCommandLineCase& c = GetParam();
  std::vector<const char*> argv = {"dvdswf-cli"};
  for (const std::string& arg : c.Args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  TCommandLine line;
  std::ostringstream out, err;
  EXPECT_EQ(ParseCommandLine(int(argv.size()) - 1, argv.data(), line, out, err), c.Status);
  EXPECT_NE(out.str().find(c.Out), std::string::npos) << out.str();
  if (*c.Err)
    EXPECT_EQ(err.str(), std::string(c.Err) + "\n");
  else
    EXPECT_EQ(err.str(), "");
}

const TCommandLineCase kCommandLines[] = {
    {"NoCommand",
     {},
     kExitUsage,
     "",
     "dvdswf-cli: a sub-command is needed: titles, formats or convert (see --help)"},
    {"UnknownCommand",
     {"rip"},
     kExitUsage,
     "",
     "dvdswf-cli: unknown sub-command \"rip\" (titles, formats or convert; see --help)"},
    {"Help", {"--help"}, 0, "convert", ""},
    {"EmptyStart",
     {"convert", "disc", "--start", ""},
     kExitUsage,
     "",
     "dvdswf-cli: --start is empty"},
    {"Titles", {"titles", "disc", "--json"}, std::nullopt, "", ""},
    {"Formats", {"formats"}, std::nullopt, "", ""},
    {"Convert",
     {"convert", "disc", "--title", "2", "--title", "3", "--set", "paraVolume=300"},
     std::nullopt,
     "",
     ""},
};
INSTANTIATE_TEST_SUITE_P(Cases, CommandLineTest, ::testing::ValuesIn(kCommandLines),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(CommandLine, KeepsWhatWasTyped) {
  const char* argv[] = {"dvdswf-cli", "convert",    "/dev/sr0", "--title",   "2",    "--title",
                        "03",         "--chapters", "2-4",      "--verbose", nullptr};
  TCommandLine line;
  std::ostringstream out, err;
  ASSERT_EQ(ParseCommandLine(10, argv, line, out, err), std::nullopt) << err.str();
  EXPECT_EQ(line.Command, TCliCommand::Convert);
  EXPECT_EQ(line.Convert.Source, "/dev/sr0");
  EXPECT_EQ(line.Convert.Titles, (std::vector<std::string>{"2", "03"}));
  EXPECT_TRUE(line.Convert.Verbose);
  const TChoices choices = ReadChoices(line.Convert);
  EXPECT_EQ(choices.Titles, (std::vector<int>{2, 3}));
  EXPECT_EQ(choices.Chapters, std::make_pair(2, 4));
}
