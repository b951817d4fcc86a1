// Sound and picture together: fixture disc E's flashes and beeps converted to every format of
// the catalogue, whole and cut (chapter range, trim, two chapters joined), measured from the
// output's own timestamps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <tuple>
#include <vector>

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
const TFormatCase kFormats[] = {
    {0, true},    {1, true},    {100, true},  {101, true},  {102, true}, {103, true},  {104, true},
    {105, true},  {106, true},  {107, true},  {108, true},  {109, true}, {200, false}, {201, false},
    {202, false}, {203, false}, {204, false}, {205, false}, {206, false}};

enum TCutKind { ckWhole, ckChapters, ckTrim, ckJoined };
struct TCutCase {
  const char* Name;
  TCutKind Kind;
};
const TCutCase kCuts[] = {{"Whole", ckWhole},
                          {"Chapters2To3", ckChapters},
                          {"Trim3s5For8s", ckTrim},
                          {"Joined1And3", ckJoined}};

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

// FFmpeg's own command line on the same cut of the title's VOB, into ASF with WMA 2 sound
// (and WMV 2 pictures when `video`), or into WAV: the reference for the ASF muxer's
// preroll, which FFmpeg's ASF demuxer does not take back exactly.
std::string ReferenceConversion(const std::string& disc, TCutKind kind, bool video, int rate,
                                const std::string& folder, bool asf) {
  const std::string vob = disc + "/VIDEO_TS/VTS_01_1.VOB";
  const std::string codecs = (video ? std::string("-c:v wmv2 -b:v 1000k ") : std::string("-vn ")) +
                             (asf ? "-c:a wmav2 -b:a 128k" : "-c:a pcm_s16le") + " -ar " +
                             std::to_string(rate) + " ";
  const std::string output = folder + (asf ? "/reference.asf" : "/reference.wav");
  std::string command = "ffmpeg -nostdin -v error -y ";
  const std::string chapter2 = std::to_string(150 * kFrame),
                    chapter3 = std::to_string(300 * kFrame), length = std::to_string(150 * kFrame);
  switch (kind) {
    case ckWhole:
      command += "-i '" + vob + "' " + codecs;
      break;
    case ckChapters:
      command += "-ss " + chapter2 + " -i '" + vob + "' " + codecs;
      break;
    case ckTrim:
      command += "-ss 3.5 -t 8 -i '" + vob + "' " + codecs;
      break;
    case ckJoined:
      command += "-t " + length + " -i '" + vob + "' -ss " + chapter3 + " -t " + length + " -i '" +
                 vob + "' -filter_complex '" +
                 (video ? "[0:v][0:a][1:v][1:a]concat=n=2:v=1:a=1[v][a]' -map '[v]' -map '[a]' "
                        : "[0:a][1:a]concat=n=2:v=0:a=1[a]' -map '[a]' ") +
                 codecs;
      break;
  }
  int status = 0;
  const std::string errors = RunCommand(command + "'" + output + "' 2>&1", &status);
  EXPECT_EQ(status, 0) << command << "\n" << errors;
  return output;
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

  // ASF: FFmpeg's demuxer does not quite take back the muxer's preroll; the same offset as
  // FFmpeg's own command line gives on the same cut is accepted.
  const bool asf = format.Code == 105 || format.Code == 203;
  auto acceptable = [&](double offset, auto referenceOffset) {
    if (std::fabs(offset) <= kLipSyncTolerance) return true;
    if (!asf) return false;
    const double reference = referenceOffset();
    std::printf("   FFmpeg's command line: %.1f ms\n", reference * 1000);
    return std::fabs(offset - reference) <= 0.005;
  };
  if (format.Video) {
    ASSERT_TRUE(onsets.HasVideo());
    const TLipSync sync = MeasureLipSync(onsets);
    std::printf("%d %s lipsync mean %.1f ms [%.1f, %.1f] pairs %d\n", format.Code, cut.Name,
                sync.Mean * 1000, sync.Min * 1000, sync.Max * 1000, sync.Pairs);
    EXPECT_EQ(sync.Pairs, int(expected.size())) << described;
    EXPECT_EQ(sync.Unpaired, 0) << described;
    EXPECT_TRUE(acceptable(
        sync.Mean,
        [&] {
          return MeasureLipSync(MeasureOnsets(ReferenceConversion(DiscPath, cut.Kind, true,
                                                                  onsets.SampleRate, Folder, true)))
              .Mean;
        }))
        << "lip-sync " << sync.Mean * 1000 << " ms\n"
        << described;
    const TLipSync place = MeasureAgainst(onsets.Flashes, expected, onsets.VideoStart);
    EXPECT_EQ(place.Unpaired, 0) << described;
    // The container says the cut lasts as long as its pictures (to one picture); ASF says
    // what FFmpeg's own command line makes it say.
    auto overrun = [](const TAvOnsets& o) {
      return o.ContainerDuration - (o.VideoEnd - o.VideoStart);
    };
    const double picture = (onsets.VideoEnd - onsets.VideoStart) / double(onsets.Pictures);
    std::printf("   container %.4f s, pictures %.4f s (%lld)\n", onsets.ContainerDuration,
                onsets.VideoEnd - onsets.VideoStart, onsets.Pictures);
    if (onsets.ContainerDuration > 0) {
      double allowed = 0;
      if (asf && std::fabs(overrun(onsets)) > picture)
        allowed = overrun(MeasureOnsets(
            ReferenceConversion(DiscPath, cut.Kind, true, onsets.SampleRate, Folder, true)));
      EXPECT_NEAR(overrun(onsets), allowed, picture * 1.01) << described;
    }
    std::printf("   flashes at %.1f ms [%.1f, %.1f]\n", place.Mean * 1000, place.Min * 1000,
                place.Max * 1000);
  } else {
    const TLipSync place = MeasureAgainst(onsets.Beeps, expected, onsets.AudioStart);
    std::printf("%d %s beeps at %.1f ms [%.1f, %.1f] pairs %d\n", format.Code, cut.Name,
                place.Mean * 1000, place.Min * 1000, place.Max * 1000, place.Pairs);
    EXPECT_EQ(place.Unpaired, 0) << described;
    // Against the command line's own placement of the same cut in WAV, which keeps the
    // sound the source has before the first picture.
    EXPECT_TRUE(
        acceptable(place.Mean,
                   [&] {
                     auto placement = [&](bool asf) {
                       const TAvOnsets reference = MeasureOnsets(ReferenceConversion(
                           DiscPath, cut.Kind, false, onsets.SampleRate, Folder, asf));
                       return MeasureAgainst(reference.Beeps, expected, reference.AudioStart).Mean;
                     };
                     return placement(true) - placement(false);
                   }))
        << "beeps off by " << place.Mean * 1000 << " ms\n"
        << described;
  }
}

// Every format with every cut; under a sanitizer every format with one cut in turn, so that
// each cut still meets video and sound-only formats.
std::vector<std::tuple<TFormatCase, TCutCase>> SyncCases() {
  std::vector<std::tuple<TFormatCase, TCutCase>> cases;
  size_t turn = 0;
  for (const TFormatCase& format : kFormats) {
    for (size_t cut = 0; cut < std::size(kCuts); ++cut)
      if (WholeTables() || cut == turn % std::size(kCuts)) cases.emplace_back(format, kCuts[cut]);
    ++turn;
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(DiscE, AvSyncTest, ::testing::ValuesIn(SyncCases()), [](const auto& info) {
  return std::to_string(std::get<0>(info.param).Code) + "_" + std::get<1>(info.param).Name;
});

}  // namespace

namespace {

// DV takes the sound of each picture with it: every title of disc E and every chapter
// range of it converts to both DV formats, with exactly the sound its pictures need.
struct TDvCase {
  int Code;
  int Title;
  int From, To;  // chapters
};

// Every title whole and every chapter alone; under a sanitizer every title whole, and one
// chapter alone for each format: the middle one of title 1 (NTSC), the one of title 4 where
// the sound ends (PAL).
std::vector<TDvCase> DvCases() {
  std::vector<TDvCase> cases;
  const bool whole = WholeTables();
  for (int code : {108, 109}) {
    cases.push_back({code, 1, 1, 3});
    for (int chapter = 1; chapter <= 3; ++chapter)
      if (whole || (code == 108 && chapter == 2)) cases.push_back({code, 1, chapter, chapter});
    for (int title = 2; title <= 4; ++title) {
      cases.push_back({code, title, 1, 2});
      for (int chapter = 1; chapter <= 2; ++chapter)
        if (whole || (code == 109 && title == 4 && chapter == 2))
          cases.push_back({code, title, chapter, chapter});
    }
  }
  return cases;
}

class DvTest : public DiscJobsTest, public ::testing::WithParamInterface<TDvCase> {
 protected:
  void SetUp() override { OpenFixtureDisc("e"); }
};

TEST_P(DvTest, EveryTitleAndChapterRangeConverts) {
  const TDvCase& c = GetParam();
  TDVDTitleRow& row = OnlyRow(c.Title);
  row.Record.ChapterFrom = c.From;
  row.Record.ChapterTo = c.To;
  const TDiscJobResult result = ConvertRow(c.Code, c.Title);
  ASSERT_TRUE(result.SetupError.empty()) << result.SetupError;
  ASSERT_TRUE(result.Ran);
  EXPECT_TRUE(result.End.Finished);
  ASSERT_FALSE(result.End.Failed) << result.End.ErrorMessage;
  ASSERT_FALSE(result.File.empty());
  std::string errors;
  EXPECT_TRUE(FFmpegDecodesCleanly(result.File, &errors)) << errors;
  const TAvOnsets onsets = MeasureOnsets(result.File);
  ASSERT_TRUE(onsets.Error.empty()) << onsets.Error;
  const std::string described = Describe(onsets);

  // The chapters' pictures, at the format's rate.
  // A copy: the list of records is a temporary.
  const ManifestRecord title = ManifestRecords(Manifest, "title", c.Title).at(0);
  std::vector<int> starts;
  {
    std::istringstream list(title.Get("chapter_frames"));
    for (std::string item; std::getline(list, item, ',');) starts.push_back(std::stoi(item));
  }
  starts.push_back(title.Int("frames"));
  const int first = starts[size_t(c.From - 1)], end = starts[size_t(c.To)];
  const double seconds = (end - first) * kFrame;
  const double rate = c.Code == 108 ? 30000.0 / 1001 : 25.0;
  EXPECT_NEAR(double(onsets.Pictures), seconds * rate, 1.0) << described;

  // 48 kHz stereo, exactly as long as the pictures.
  EXPECT_EQ(onsets.SampleRate, 48000);
  EXPECT_EQ(onsets.Channels, 2);
  EXPECT_NEAR(onsets.AudioEnd - onsets.AudioStart, onsets.VideoEnd - onsets.VideoStart, 0.001)
      << described;

  // The beeps where the title has sound, in step with the flashes; digital silence stays
  // silent.
  const ManifestRecord audio = ManifestRecords(Manifest, "audio", c.Title).at(0);
  if (audio.Get("sound") == "silence") {
    EXPECT_EQ(onsets.Peak, 0.0);
    EXPECT_TRUE(onsets.Beeps.empty());
    return;
  }
  const int soundEnd = audio.Int("audio_frames");
  size_t beeps = 0;
  for (int frame : FlashFrames(Manifest, c.Title))
    if (frame >= first && frame < end && frame < soundEnd) ++beeps;
  EXPECT_EQ(onsets.Beeps.size(), beeps) << described;
  const TLipSync sync = MeasureLipSync(onsets);
  EXPECT_EQ(size_t(sync.Pairs), beeps) << described;
  if (sync.Pairs > 0) {
    EXPECT_NEAR(sync.Mean, 0, kLipSyncTolerance) << described;
  }
}

INSTANTIATE_TEST_SUITE_P(DiscE, DvTest, ::testing::ValuesIn(DvCases()), [](const auto& info) {
  const TDvCase& c = info.param;
  return std::to_string(c.Code) + "_Title" + std::to_string(c.Title) + "_Chapters" +
         std::to_string(c.From) + "To" + std::to_string(c.To);
});

}  // namespace
