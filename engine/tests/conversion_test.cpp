// End-to-end conversions of fixture titles, two-pass encoding, and the failure paths.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "engine/tests/engine_run_support.h"
#include "engine/tests/engine_test_support.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

class ConversionTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadEngineLibraries(); }
};

struct TConversionRow {
  std::string Label;
  int Title;
  TOptionList InputOptions;
  TOptionList Options;  // before the output
  std::string Extension;
  std::string VideoCodec;  // empty: no video stream
  int Width, Height;
  std::string AudioCodec;  // empty: no audio stream
  int SampleRate;
  double Duration;  // seconds
};

class FormatConversionTest : public ConversionTest,
                             public ::testing::WithParamInterface<TConversionRow> {};

TEST_P(FormatConversionTest, DecodesCompletelyWithTheExpectedStreams) {
  const TConversionRow& row = GetParam();
  TCustomTranscoder transcoder;
  ApplyOptions(transcoder, row.InputOptions);
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(row.Title))) << transcoder.LastError();
  ApplyOptions(transcoder, row.Options);
  const std::string output = TestFolder() + "/out." + row.Extension;
  ASSERT_GE(transcoder.OpenOutputFile(output, false), 1) << transcoder.LastError();
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  EXPECT_TRUE(transcoder.Finished());

  EXPECT_TRUE(DecodesCleanly(output));
  const auto streams = ProbeStreams(output);
  const TProbedStream* video = FindStream(streams, "video");
  const TProbedStream* audio = FindStream(streams, "audio");
  if (row.VideoCodec.empty()) {
    EXPECT_EQ(video, nullptr);
  } else {
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->CodecName, row.VideoCodec);
    EXPECT_EQ(video->Width, row.Width);
    EXPECT_EQ(video->Height, row.Height);
    EXPECT_GT(video->DecodedFrames, 0);
    EXPECT_NEAR(video->Duration, row.Duration, 0.1);
  }
  if (row.AudioCodec.empty()) {
    EXPECT_EQ(audio, nullptr);
  } else {
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(audio->CodecName, row.AudioCodec);
    EXPECT_EQ(audio->SampleRate, row.SampleRate);
    EXPECT_EQ(audio->Channels, 2);
    EXPECT_NEAR(audio->Duration, row.Duration, 0.1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatConversionTest,
    ::testing::Values(
        TConversionRow{"flv",
                       3,
                       {},
                       {{"s", "320x240"}, {"ar", "44100"}},
                       "flv",
                       "flv1",
                       320,
                       240,
                       "mp3",
                       44100,
                       3.0},
        TConversionRow{"swf",
                       3,
                       {},
                       {{"s", "320x240"}, {"ar", "22050"}},
                       "swf",
                       "flv1",
                       320,
                       240,
                       "mp3",
                       22050,
                       3.0},
        TConversionRow{"avi",
                       3,
                       {},
                       {{"vcodec", "mpeg4"}, {"acodec", "libmp3lame"}},
                       "avi",
                       "mpeg4",
                       720,
                       576,
                       "mp3",
                       48000,
                       3.0},
        TConversionRow{
            "mp4",
            3,
            {},
            {{"vcodec", "libx264"}, {"vpre", "fast"}, {"acodec", "aac"}, {"s", "352x288"}},
            "mp4",
            "h264",
            352,
            288,
            "aac",
            48000,
            3.0},
        TConversionRow{
            "dvd", 3, {}, {{"target", "dvd"}}, "vob", "mpeg2video", 720, 576, "ac3", 48000, 3.0},
        TConversionRow{"mp3", 3, {}, {{"ar", "44100"}}, "mp3", "", 0, 0, "mp3", 44100, 3.0},
        TConversionRow{"wav", 3, {}, {}, "wav", "", 0, 0, "pcm_s16le", 48000, 3.0},
        TConversionRow{"flv_t2",
                       2,
                       {},
                       {{"t", "2"}, {"s", "176x144"}, {"ar", "22050"}},
                       "flv",
                       "flv1",
                       176,
                       144,
                       "mp3",
                       22050,
                       2.0},
        TConversionRow{"avi_ss",
                       2,
                       {{"ss", "4"}},
                       {{"s", "176x144"}},
                       "avi",
                       "mpeg4",
                       176,
                       144,
                       "mp3",
                       48000,
                       3.0}),
    [](const auto& info) { return info.param.Label; });

// Bitmap subtitles re-encoded, a bitstream filter on the way, per-frame statistics and
// chapters: the less common parts of a run, on one conversion each.
TEST_F(ConversionTest, SubtitlesAreReencoded) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(1)));
  ApplyOptions(transcoder, {{"t", "5"},
                            {"vcodec", "mpeg4"},
                            {"s", "176x144"},
                            {"acodec", "mp2"},
                            {"scodec", "dvdsub"},
                            {"vbsf", "null"}});
  const std::string output = TestFolder() + "/subtitles.mkv";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  const auto streams = ProbeStreams(output);
  const TProbedStream* subtitle = FindStream(streams, "subtitle");
  ASSERT_NE(subtitle, nullptr);
  EXPECT_EQ(subtitle->CodecName, "dvd_subtitle");
  EXPECT_GE(subtitle->DecodedFrames, 2) << "the subpictures of the first two chapters";
  EXPECT_TRUE(DecodesCleanly(output));
}

TEST_F(ConversionTest, VideoStatisticsFileHasALinePerPicture) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  const std::string folder = TestFolder();
  ApplyOptions(transcoder, {{"vstats_file", folder + "/stats.log"}, {"s", "176x144"}, {"an", ""}});
  ASSERT_EQ(transcoder.OpenOutputFile(folder + "/stats.avi", false), 1);
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  std::istringstream lines(ReadFile(folder + "/stats.log"));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_EQ(line.rfind("frame= ", 0), 0u) << line;
    EXPECT_NE(line.find(" f_size= "), std::string::npos) << line;
    EXPECT_NE(line.find(" type= "), std::string::npos) << line;
  }
  EXPECT_EQ(count, 75);
}

TEST_F(ConversionTest, ChaptersAreCopied) {
  const std::string folder = TestFolder();
  const std::string input = folder + "/chapters.mkv";
  {
    std::ofstream meta(folder + "/meta.txt");
    meta << ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
            "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n";
  }
  MakeMedia("-f lavfi -i testsrc=d=2:r=25:s=64x48 -i '" + folder +
            "/meta.txt' -map_metadata 1 -c:v mpeg4 '" + input + "'");
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(input));
  const std::string output = folder + "/out.mkv";
  transcoder.ParseOption("vcodec", "mpeg4");
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  const std::string chapters = RunCommand(
      "ffprobe -v error -show_entries chapter=start_time:"
      "chapter_tags=title -of csv=p=0 '" +
      output + "'");
  EXPECT_NE(chapters.find("One"), std::string::npos) << chapters;
  EXPECT_NE(chapters.find("Two"), std::string::npos) << chapters;
}

// ---- Two-pass ----

TEST_F(ConversionTest, PassOneWritesTheLogThatPassTwoReads) {
  const std::string folder = TestFolder();
  const std::string previous = fs::current_path();
  fs::current_path(folder);
  auto pass = [&](int number, const std::string& output) {
    TCustomTranscoder transcoder;
    EXPECT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
    ApplyOptions(
        transcoder,
        {{"pass", std::to_string(number)}, {"vcodec", "mpeg4"}, {"b", "400000"}, {"s", "320x240"}});
    EXPECT_EQ(transcoder.OpenOutputFile(output, false), 1);
    RunToEnd(transcoder);
    return std::make_pair(transcoder.Failed(), transcoder.ErrorMessage());
  };
  const auto first = pass(1, "pass1.avi");
  EXPECT_FALSE(first.first) << first.second;
  const bool logWritten = fs::exists("ffmpeg2pass-0.log") && fs::file_size("ffmpeg2pass-0.log") > 0;
  const auto second = pass(2, "pass2.avi");
  fs::remove("ffmpeg2pass-0.log");
  const auto missing = pass(2, "pass2b.avi");
  const bool emptyOutputLeft = fs::exists("pass2b.avi");
  fs::current_path(previous);

  EXPECT_TRUE(logWritten);
  EXPECT_FALSE(second.first) << second.second;
  EXPECT_TRUE(DecodesCleanly(folder + "/pass2.avi"));
  EXPECT_TRUE(missing.first);
  EXPECT_EQ(missing.second,
            "Cannot read file: Error reading log file \"ffmpeg2pass-0.log\" for pass-2 encoding");
  EXPECT_FALSE(emptyOutputLeft) << "a run that fails before writing leaves no file";
}

// ---- Failure paths ----

struct TFailureRow {
  std::string Label;
  TOptionList Options;
  std::string Extension;
  std::string Error;  // the start of the failure text
};

class FailingRunTest : public ConversionTest, public ::testing::WithParamInterface<TFailureRow> {};

TEST_P(FailingRunTest, FailsWithItsTextAndLeavesNoFile) {
  const TFailureRow& row = GetParam();
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  ApplyOptions(transcoder, row.Options);
  const std::string output = TestFolder() + "/out." + row.Extension;
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1) << transcoder.LastError();
  ASSERT_TRUE(RunToEnd(transcoder));
  EXPECT_TRUE(transcoder.Failed());
  EXPECT_FALSE(transcoder.Finished());
  EXPECT_EQ(transcoder.ErrorMessage().substr(0, row.Error.size()), row.Error)
      << transcoder.ErrorMessage();
  EXPECT_TRUE(transcoder.Terminated());
  EXPECT_FALSE(fs::exists(output));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailingRunTest,
    ::testing::Values(
        // 3GP's default audio codec (AMR) has no encoder in this FFmpeg.
        TFailureRow{"missing_encoder",
                    {{"s", "176x144"}},
                    "3gp",
                    "Encoder (codec id 73728) not found for output stream #0.1 (audio)"},
        TFailureRow{"bad_filter", {{"vf", "no_such_filter=1"}}, "flv", "Error opening filters: "},
        TFailureRow{"bad_encoder_parameters",
                    {{"vcodec", "mpeg2video"}, {"r", "7"}, {"force_fps", "1"}},
                    "mpg",
                    "Error while opening encoder for output stream #0.0 (video)"},
        TFailureRow{"copy_with_volume",
                    {{"acodec", "copy"}, {"vol", "512"}},
                    "mkv",
                    "-acodec copy and -vol are incompatible (frames are not decoded)"},
        TFailureRow{"maps_count",
                    {{"map", "0:1"}},
                    "flv",
                    "Number of stream maps must match number of output streams"}),
    [](const auto& info) { return info.param.Label; });

TEST_F(ConversionTest, VideoCopyRefusesWhenFramesMustBeDecoded) {
  for (int kind = 0; kind < 2; ++kind) {
    TCustomTranscoder transcoder;
    ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
    transcoder.ParseOption("vcodec", "copy");
    ASSERT_EQ(transcoder.OpenOutputFile(TestFolder() + "/copy.vob", false), 1);
    if (kind == 0)
      transcoder.SetPreviewFlags(2);
    else
      transcoder.OnCustomHook = [](THookInfo&) {};
    RunToEnd(transcoder);
    EXPECT_EQ(transcoder.ErrorMessage(),
              kind == 0 ? "-vcodec copy and PostHooks are incompatible (frames are not decoded)"
                        : "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
  }
}

// A full disk: the write error ends the run with a clear text; the device stays.
TEST_F(ConversionTest, WriteErrorEndsTheRunCleanly) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  transcoder.ParseOption("f", "flv");
  ASSERT_EQ(transcoder.OpenOutputFile("/dev/full", false), 1) << transcoder.LastError();
  ASSERT_TRUE(RunToEnd(transcoder));
  EXPECT_TRUE(transcoder.Failed());
  EXPECT_NE(transcoder.ErrorMessage().find("No space left on device"), std::string::npos)
      << transcoder.ErrorMessage();
  EXPECT_TRUE(fs::exists("/dev/full"));
}

// Stream copy of a title keeps its packets.
TEST_F(ConversionTest, StreamCopyKeepsThePackets) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  ApplyOptions(transcoder, {{"vcodec", "copy"}, {"acodec", "copy"}});
  const std::string output = TestFolder() + "/copy.mkv";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  ASSERT_TRUE(RunToEnd(transcoder));
  ASSERT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  const auto streams = ProbeStreams(output);
  const TProbedStream* video = FindStream(streams, "video");
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->CodecName, "mpeg2video");
  EXPECT_EQ(video->DecodedFrames, 75);
  const TProbedStream* audio = FindStream(streams, "audio");
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->CodecName, "ac3");
}

// A damaged title: 64 KiB of random bytes in its middle. The run ends (converted or failed
// with a text), never crashes, and what it wrote decodes.
TEST_F(ConversionTest, DamagedInputConvertsOrFailsCleanly) {
  const std::string folder = TestFolder();
  const std::string damaged = folder + "/damaged.vob";
  fs::copy_file(DiscAVob(2), damaged);
  {
    std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(std::streamoff(fs::file_size(damaged) / 2));
    std::mt19937 random(1234);
    std::string noise(64 * 1024, '\0');
    for (char& c : noise) c = char(random());
    file.write(noise.data(), std::streamsize(noise.size()));
  }
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(damaged)) << transcoder.LastError();
  ApplyOptions(transcoder, {{"s", "320x240"}, {"ar", "44100"}});
  const std::string output = folder + "/out.flv";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1);
  ASSERT_TRUE(RunToEnd(transcoder));
  if (transcoder.Failed()) {
    EXPECT_FALSE(transcoder.ErrorMessage().empty());
  } else {
    EXPECT_TRUE(transcoder.Finished());
    const auto streams = ProbeStreams(output);
    const TProbedStream* video = FindStream(streams, "video");
    ASSERT_NE(video, nullptr);
    EXPECT_GT(video->DecodedFrames, 100);
  }
}

TEST_F(ConversionTest, JobWithoutOutputOrInputRefusesToStart) {
  TCustomTranscoder transcoder;
  TTerminateInfo terminated;
  transcoder.OnTerminate = [&](const TTerminateInfo& info) { terminated = info; };
  EXPECT_FALSE(transcoder.Start());
  EXPECT_TRUE(transcoder.Terminated());
  EXPECT_TRUE(terminated.Failed);
  EXPECT_EQ(terminated.ErrorMessage, "At least one output file must be specified");
  EXPECT_FALSE(transcoder.Start()) << "a terminated job cannot start again";
}

}  // namespace
