// A stop ends as a stop in every format of the catalogue: Finished false, no failure, and a
// file that plays. Each format is stopped before its first picture is encoded, early and
// late; dvdswf-cli, interrupted, exits with 130 and no failure message.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

#include "engine/tests/av_onsets.h"
#include "engine/tests/disc_jobs.h"

namespace {

namespace fs = std::filesystem;

enum TStopMoment { smAtStart, smEarly, smLate };

struct TStopCase {
  int Code;
  TStopMoment Moment;
};

const int kCodes[] = {0,   1,   100, 101, 102, 103, 104, 105, 106, 107,
                      108, 109, 200, 201, 202, 203, 204, 205, 206};
const char* const kMomentNames[] = {"AtStart", "Early", "Late"};

// Every format at every moment; under a sanitizer every format at one moment in turn, and
// DV (whose muxer refuses a picture without its sound) at all three.
std::vector<TStopCase> StopCases() {
  std::vector<TStopCase> cases;
  int turn = 0;
  for (int code : kCodes) {
    const bool dv = code == 108 || code == 109;
    for (TStopMoment moment : {smAtStart, smEarly, smLate})
      if (WholeTables() || dv || moment == turn % 3) cases.push_back({code, moment});
    ++turn;
  }
  return cases;
}

class StopTest : public DiscJobsTest, public ::testing::WithParamInterface<TStopCase> {
 protected:
  void SetUp() override { OpenFixtureDisc("e"); }
};

// Title 2 of disc E (6 s, mono sound): at start the stop comes before the first packet is
// read; early at the first progress report after the first packet was written; late at the
// first report past 4 s.
TEST_P(StopTest, StopEndsAsAStopWithAPlayableFile) {
  const TStopCase& c = GetParam();
  bool stopped = false;
  double stoppedAt = -1;
  auto prepare = [&](TTranscoder& job) {
    if (c.Moment == smAtStart) return;
    job.ProgressIntervalUs = 0;
    job.OnProgress = [&, job = &job](TProgressInfo& info) {
      if (stopped) return;
      // (10^16: no packet written yet.)
      if (info.OutputTime >= 1e15 || (c.Moment == smLate && info.OutputTime < 4'000'000)) return;
      stopped = true;
      stoppedAt = double(info.OutputTime) / 1e6;
      job->RequestStop();
    };
  };
  auto started = [&](TTranscoder& job) {
    if (c.Moment != smAtStart) return;
    stopped = true;
    job.RequestStop();
  };
  const TDiscJobResult result = ConvertJob(c.Code, 2, 1, 2, 0, 0, prepare, started);
  ASSERT_TRUE(result.SetupError.empty()) << result.SetupError;
  ASSERT_TRUE(result.Ran);
  ASSERT_TRUE(stopped) << "the conversion ended before the stop";
  EXPECT_FALSE(result.End.Finished);
  EXPECT_FALSE(result.End.Failed) << result.End.ErrorMessage;
  EXPECT_EQ(result.End.ErrorMessage, "");
  if (c.Moment == smAtStart) {
    // Nothing was encoded: a file of headers alone plays nowhere, so none is left.
    EXPECT_EQ(result.File, "");
    return;
  }
  ASSERT_FALSE(result.File.empty()) << "a stopped conversion leaves its file";
  std::string errors;
  EXPECT_TRUE(FFmpegDecodesCleanly(result.File, &errors)) << errors;
  const TAvOnsets onsets = MeasureOnsets(result.File);
  ASSERT_TRUE(onsets.Error.empty()) << onsets.Error;
  EXPECT_FALSE(onsets.DecodeErrors);
  const double end = onsets.HasVideo() ? onsets.VideoEnd : onsets.AudioEnd;
  if (c.Moment == smLate) {
    EXPECT_GE(end, 3.9) << "stopped at " << stoppedAt;
  }
  EXPECT_LT(end, 6.0) << "stopped at " << stoppedAt;
  // DV holds the sound of each picture with it, to the last one.
  if (c.Code == 108 || c.Code == 109) {
    EXPECT_NEAR(onsets.AudioEnd - onsets.AudioStart, onsets.VideoEnd - onsets.VideoStart, 0.001);
  }
}

INSTANTIATE_TEST_SUITE_P(DiscE, StopTest, ::testing::ValuesIn(StopCases()), [](const auto& info) {
  return std::to_string(info.param.Code) + "_" + kMomentNames[info.param.Moment];
});

#ifdef DVDSWF_CLI
// dvdswf-cli as a user stops it with Ctrl-C: the first progress line, then SIGINT. A DV
// conversion stopped that way exits 130, says "stopped" and not "failed", and prints its
// file, which plays.
class CliStopTest : public DiscJobsTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override { OpenFixtureDisc("e"); }
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

TEST_P(CliStopTest, InterruptExitsWith130AndAPlayableFile) {
  const int code = GetParam();
  const std::string out = Folder + "/cli", err = Folder + "/stderr.txt";
  const std::string script =
      "DVDSWF_CONFIG_DIR=" + Quote(Folder + "/config") + " " + Quote(DVDSWF_CLI) + " convert " +
      Quote(DiscPath) + " --title 1 --format " + std::to_string(code) + " --out " + Quote(out) +
      " >" + Quote(Folder + "/stdout.txt") + " 2>" + Quote(err) +
      " </dev/null & pid=$!; while kill -0 $pid 2>/dev/null && ! grep -q % " + Quote(err) +
      "; do sleep 0.01; done; kill -INT $pid 2>/dev/null; wait $pid; echo $?";
  const int status = std::atoi(RunCommand("bash -c " + Quote(script)).c_str());
  const std::string said = ReadFile(err);
  std::istringstream printed(ReadFile(Folder + "/stdout.txt"));
  std::string file;
  std::getline(printed, file);
  // The run may have ended before the signal came; then it succeeded.
  ASSERT_TRUE(status == 130 || status == 0) << status << "\n" << said;
  EXPECT_EQ(said.find("failed"), std::string::npos) << said;
  if (status == 130) {
    EXPECT_NE(said.find("stopped"), std::string::npos) << said;
  }
  ASSERT_FALSE(file.empty()) << said;
  std::string errors;
  EXPECT_TRUE(FFmpegDecodesCleanly(file, &errors)) << errors;
}

INSTANTIATE_TEST_SUITE_P(Dv, CliStopTest, ::testing::Values(108, 109));
#endif

}  // namespace
