// Converting a damaged title from the command line: fixture disc G (garbage over 32 sectors
// in the middle of its title), and a copy of its image cut off half-way. The run converts what can
// be read, ends (a generous timeout guards against a hang), says how much was lost, and the
// file plays.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "cli/tests/cli_test_support.h"
#include "tests/support/test_support.h"

namespace {

struct TDamagedCase {
  const char* Name;
  bool Iso;
  double Keep;                    // the share of the image or VOB left; 1: the disc as authored
  const char* Words;              // in the damage report
  double MinSeconds, MaxSeconds;  // the output's decoded length
};

const TDamagedCase kCases[] = {
    {"GarbageIso", true, 1.0, "0 unreadable, 32 holding no MPEG data", 8.5, 10.5},
    {"GarbageFolder", false, 1.0, "0 unreadable, 32 holding no MPEG data", 8.5, 10.5},
};

class CliDamagedDisc : public CliTest, public ::testing::WithParamInterface<TDamagedCase> {};

TEST_P(CliDamagedDisc, ConvertsWhatCanBeReadAndSaysWhatWasLost) {
  const TDamagedCase& c = GetParam();
  const std::string source = c.Keep < 1 ? CutDiscCopy("disc_g", c.Iso, c.Keep, Folder)
                                        : FixturesDir() + (c.Iso ? "/disc_g.iso" : "/disc_g");
  const std::string err = Folder + "/stderr.txt";
  int status = -1;
  // 124 is timeout's status: the run hung.
  const std::string out =
      RunCommand("timeout -k 10 900 " + Command() + " convert " + ShellQuote(source) +
                     " --title 1 --format 102 --out " + ShellQuote(OutDir) + " 2>" +
                     ShellQuote(err) + " </dev/null",
                 &status);
  const std::string errText = ReadFile(err);
  ASSERT_NE(status, 124) << "the conversion hung";
  // Damage is reported, not a failure: what could be read is in the file.
  ASSERT_EQ(status, 0) << errText;
  EXPECT_TRUE(std::regex_search(
      errText, std::regex("dvdswf-cli: warning: opendvd: the disc is damaged: [0-9]+ of [0-9]+ "
                          "sectors of the title")))
      << errText;
  EXPECT_NE(errText.find(c.Words), std::string::npos) << errText;
  ASSERT_EQ(errText.find("warning: opendvd"), errText.rfind("warning: opendvd"))
      << "one report per title: " << errText;

  const std::string file = OutDir + "/DVD Title 1_(new).mp4";
  ASSERT_FALSE(out.find(file) == std::string::npos) << out << errText;
  EXPECT_TRUE(DecodesCleanly(file));
  const double seconds = DecodedDuration(file);
  EXPECT_GE(seconds, c.MinSeconds);
  EXPECT_LE(seconds, c.MaxSeconds);
}

// An image cut off before the end of the title's video is refused when the titles are listed
// (the title's last sector cannot be read): a clear reason, exit status 2, nothing written;
// never a short file reported as done.
TEST_F(CliTest, ImageCutOffIsRefusedWithItsReason) {
  const std::string source = CutDiscCopy("disc_g", true, 0.55, Folder);
  const TRunResult r =
      Run("convert " + ShellQuote(source) + " --title 1 --out " + ShellQuote(OutDir));
  EXPECT_EQ(r.Status, 2) << r.Err;
  EXPECT_NE(r.Err.find("is damaged or truncated"), std::string::npos) << r.Err;
  EXPECT_TRUE(FileNames(OutDir).empty());
}

INSTANTIATE_TEST_SUITE_P(DiscG, CliDamagedDisc, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
