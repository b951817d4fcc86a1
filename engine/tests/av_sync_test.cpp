// Sound and picture together: fixture disc E's flashes and beeps converted to every format of
// the catalogue, whole and cut (chapter range, trim, two chapters joined), measured from the
// output's own timestamps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "app/core/format_catalogue.h"
#include "engine/tests/av_onsets.h"
#include "engine/tests/disc_jobs.h"

namespace {

constexpr double kFrame = 1001.0 / 30000;  // one picture of the disc
constexpr double kLipSyncTolerance = 0.020;

// The catalogue's formats, with whether they have pictures.
struct TFormatCase {
  int Code;
  bool Video;
};
const TFormatCase kFormats[] = {{0, true},    {1, true},    {100, true},  {101, true},
                                {102, true},  {103, true},  {104, true},  {105, true},
                                {106, true},  {107, true},  {108, true},  {109, true},
                                {200, false}, {201, false}, {202, false}, {203, false},
                                {204, false}, {205, false}, {206, false}};

enum TCutKind { ckWhole, ckChapters, ckTrim, ckJoined };
struct TCutCase {
  const char* Name;
  TCutKind Kind;
};
const TCutCase kCuts[] = {
    {"Whole", ckWhole}, {"Chapters2To3", ckChapters}, {"Trim3s5For8s", ckTrim}, {"Joined1And3", ckJoined}};

// The disc's pictures of one flash each second (title 1: 450 pictures, chapters at 150 and
// 300): where each flash's first picture lands in the output, seconds from the cut's start.
std::vector<double> ExpectedFlashes(const std::vector<int>& flashFrames, TCutKind kind) {
  std::vector<double> times;
  for (int frame : flashFrames) {
    const double t = frame * kFrame;
    switch (kind) {
      case ckWhole:
        times.push_back(t);
        break;
      case ckChapters:
        if (frame >= 150 && frame < 450) times.push_back(t - 150 * kFrame);
        break;
      case ckTrim:
        if (t >= 3.5 && t < 11.5) times.push_back(t - 3.5);
        break;
      case ckJoined:
        if (frame < 150) times.push_back(t);
        if (frame >= 300) times.push_back(t - 150 * kFrame);
        break;
    }
  }
  return times;
}

std::vector<int> FlashFrames(const std::vector<ManifestRecord>& manifest, int title) {
  std::vector<int> frames;
  std::istringstream list(ManifestRecords(manifest, "flashes", title).at(0).Get("frames"));
  for (std::string item; std::getline(list, item, ',');) frames.push_back(std::stoi(item));
  return frames;
}

std::string Describe(const TAvOnsets& o) {
  std::ostringstream text;
  text.precision(4);
  text << std::fixed << "video " << o.VideoStart << ".." << o.VideoEnd << " (" << o.Pictures
       << " pictures), audio " << o.AudioStart << ".." << o.AudioEnd << "\n  flashes:";
  for (double t : o.Flashes) text << " " << t;
  text << "\n  beeps:  ";
  for (double t : o.Beeps) text << " " << t;
  return text.str();
}

class AvSyncTest : public DiscJobsTest,
                   public ::testing::WithParamInterface<std::tuple<TFormatCase, TCutCase>> {
 protected:
  void SetUp() override { OpenFixtureDisc("e"); }

  TDiscJobResult Convert(int code, TCutKind kind) {
    TDVDTitleRow& row = OnlyRow(1);
    switch (kind) {
      case ckWhole:
        return ConvertRow(code, 1);
      case ckChapters:
        row.Record.ChapterFrom = 2;
        row.Record.ChapterTo = 3;
        return ConvertRow(code, 1);
      case ckTrim:
        row.Record.TrimStart = 3'500'000;
        row.Record.TrimLength = 8'000'000;
        return ConvertRow(code, 1);
      case ckJoined:
        return ConvertJob(code, 1, 1, 1, 3, 3);
    }
    return {};
  }
};

TEST_P(AvSyncTest, SoundAndPictureStayTogether) {
  const auto& [format, cut] = GetParam();
  const TDiscJobResult result = Convert(format.Code, cut.Kind);
  ASSERT_TRUE(result.SetupError.empty()) << result.SetupError;
  ASSERT_TRUE(result.Ran);
  EXPECT_TRUE(result.End.Finished);
  ASSERT_FALSE(result.End.Failed) << result.End.ErrorMessage;
  ASSERT_FALSE(result.File.empty());
  const TAvOnsets onsets = MeasureOnsets(result.File);
  ASSERT_TRUE(onsets.Error.empty()) << onsets.Error;
  EXPECT_FALSE(onsets.DecodeErrors);
  ASSERT_TRUE(onsets.HasAudio());
  const std::vector<double> expected = ExpectedFlashes(FlashFrames(Manifest, 1), cut.Kind);
  const std::string described = Describe(onsets);

  if (format.Video) {
    ASSERT_TRUE(onsets.HasVideo());
    const TLipSync sync = MeasureLipSync(onsets);
    std::printf("%d %s lipsync mean %.1f ms [%.1f, %.1f] pairs %d\n", format.Code, cut.Name,
                sync.Mean * 1000, sync.Min * 1000, sync.Max * 1000, sync.Pairs);
    EXPECT_EQ(sync.Pairs, int(expected.size())) << described;
    EXPECT_EQ(sync.Unpaired, 0) << described;
    EXPECT_NEAR(sync.Mean, 0, kLipSyncTolerance) << described;
    const TLipSync place = MeasureAgainst(onsets.Flashes, expected, onsets.VideoStart);
    EXPECT_EQ(place.Unpaired, 0) << described;
    std::printf("   flashes at %.1f ms [%.1f, %.1f]\n", place.Mean * 1000, place.Min * 1000,
                place.Max * 1000);
  } else {
    const TLipSync place = MeasureAgainst(onsets.Beeps, expected, onsets.AudioStart);
    std::printf("%d %s beeps at %.1f ms [%.1f, %.1f] pairs %d\n", format.Code, cut.Name,
                place.Mean * 1000, place.Min * 1000, place.Max * 1000, place.Pairs);
    EXPECT_EQ(place.Unpaired, 0) << described;
    EXPECT_NEAR(place.Mean, 0, kLipSyncTolerance) << described;
  }
}

INSTANTIATE_TEST_SUITE_P(DiscE, AvSyncTest,
                         ::testing::Combine(::testing::ValuesIn(kFormats),
                                            ::testing::ValuesIn(kCuts)),
                         [](const auto& info) {
                           return std::to_string(std::get<0>(info.param).Code) + "_" +
                                  std::get<1>(info.param).Name;
                         });

}  // namespace
