// Opening outputs: the streams each format gets, the sample-rate fallback, join mode,
// failures, and clean-up.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/tests/engine_test_support.h"
#include "engine/transcoder.h"
#include "tests/support/test_support.h"

namespace {

class OutputsTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadEngineLibraries(); }
};

struct TFormatRow {
  std::string Extension;
  std::vector<std::pair<std::string, std::string>> Options;
  std::string FormatName;
  std::vector<AVCodecID> Codecs;  // video first, as created
};

class OutputStreamsTest : public OutputsTest, public ::testing::WithParamInterface<TFormatRow> {};

// Title 1 holds video, two audio tracks and two subtitle tracks; each format takes the
// streams it has a codec for, and no subtitle stream (none has a bitmap-subtitle default).
TEST_P(OutputStreamsTest, CreatesTheStreamsTheFormatChooses) {
  const TFormatRow& row = GetParam();
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(1))) << transcoder.LastError();
  for (const auto& [name, value] : row.Options) transcoder.ParseOption(name, value);
  const std::string path = TestFolder() + "/out." + row.Extension;
  ASSERT_EQ(transcoder.OpenOutputFile(path, false), 1) << transcoder.LastError();
  const TOutputFile& output = transcoder.Output(0);
  EXPECT_EQ(std::string(output.Context->oformat->name), row.FormatName);
  ASSERT_EQ(output.Streams.size(), row.Codecs.size());
  for (size_t i = 0; i < row.Codecs.size(); ++i) {
    EXPECT_EQ(output.Streams[i]->Codec->codec_id, row.Codecs[i]) << i;
    ASSERT_NE(output.Streams[i]->Encoder, nullptr) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, OutputStreamsTest,
    ::testing::Values(
        TFormatRow{"flv", {}, "flv", {AV_CODEC_ID_FLV1, AV_CODEC_ID_MP3}},
        TFormatRow{"swf", {}, "swf", {AV_CODEC_ID_FLV1, AV_CODEC_ID_MP3}},
        TFormatRow{"mp4", {}, "mp4", {AV_CODEC_ID_H264, AV_CODEC_ID_AAC}},
        TFormatRow{"avi", {}, "avi", {AV_CODEC_ID_MPEG4, AV_CODEC_ID_MP3}},
        TFormatRow{"mpg", {}, "mpeg", {AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MP2}},
        TFormatRow{"mp3", {}, "mp3", {AV_CODEC_ID_MP3}},
        TFormatRow{"wav", {}, "wav", {AV_CODEC_ID_PCM_S16LE}},
        TFormatRow{"mkv", {}, "matroska", {AV_CODEC_ID_H264, AV_CODEC_ID_VORBIS}},
        TFormatRow{"vob", {{"target", "dvd"}}, "dvd", {AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_AC3}},
        TFormatRow{"flv", {{"vn", ""}}, "flv", {AV_CODEC_ID_MP3}},
        TFormatRow{"flv", {{"an", ""}}, "flv", {AV_CODEC_ID_FLV1}},
        TFormatRow{"mkv",
                   {{"scodec", "dvdsub"}},
                   "matroska",
                   {AV_CODEC_ID_H264, AV_CODEC_ID_VORBIS, AV_CODEC_ID_DVD_SUBTITLE}}),
    [](const auto& info) { return std::to_string(info.index) + "_" + info.param.Extension; });

TEST_F(OutputsTest, DvdTargetOnAPalInputAssumesPal) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  TLogCapture log;
  transcoder.ParseOption("target", "dvd");
  EXPECT_TRUE(log.Contains(llVerbose, "Assuming PAL for target."));
  EXPECT_TRUE(log.Contains(llInfo, "Assuming 4:3 for aspect ratio") ||
              !log.Contains("Assuming 16:9"))
      << "the input's aspect ratio is pending";
  ASSERT_EQ(transcoder.OpenOutputFile(TestFolder() + "/dvd.vob", false), 1);
  const AVCodecContext* video = transcoder.Output(0).Streams[0]->Codec.get();
  EXPECT_EQ(video->width, 720);
  EXPECT_EQ(video->height, 576);
  EXPECT_EQ(video->time_base.num, 1);
  EXPECT_EQ(video->time_base.den, 25);
  EXPECT_EQ(video->gop_size, 15);
  EXPECT_EQ(video->bit_rate, 6000000);
  const AVCodecContext* audio = transcoder.Output(0).Streams[1]->Codec.get();
  EXPECT_EQ(audio->sample_rate, 48000);
  EXPECT_EQ(audio->bit_rate, 448000);
  EXPECT_EQ(transcoder.Output(0).Context->packet_size, 2048u);
}

TEST_F(OutputsTest, UnsupportedSampleRateFallsBackToTheClosest) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  transcoder.ParseOption("acodec", "ac3");  // lists 48,000, 44,100 and 32,000 Hz
  transcoder.ParseOption("ar", "44000");
  TLogCapture log;
  ASSERT_EQ(transcoder.OpenOutputFile(TestFolder() + "/rate.mkv", false), 1);
  EXPECT_TRUE(log.Contains(llWarning,
                           "Requested sampling rate unsupported using closest supported (44100)"));
  const AVCodecContext* audio = transcoder.Output(0).Streams[1]->Codec.get();
  EXPECT_EQ(audio->sample_rate, 44100);
  EXPECT_EQ(audio->time_base.den, 44100);
}

TEST_F(OutputsTest, JoinSumsDurationsAndAllowsOneOutput) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(2)));
  const int64_t sum = transcoder.InputContext(0)->duration + transcoder.InputContext(1)->duration;
  const std::string folder = TestFolder();
  EXPECT_EQ(transcoder.OpenOutputFile(folder + "/joined.flv", true), 2) << "one entry per input";
  EXPECT_TRUE(transcoder.Join());
  EXPECT_EQ(transcoder.ExpectedDuration(), sum);
  EXPECT_EQ(&transcoder.Output(0), &transcoder.Output(1));
  EXPECT_EQ(transcoder.OpenOutputFile(folder + "/second.flv", true), -1);
  EXPECT_EQ(transcoder.LastError(), "Cannot join more than one output file.");
  EXPECT_EQ(transcoder.OpenOutputFile(folder + "/third.flv", false), -1);
}

TEST_F(OutputsTest, JoinWithOneInputIsAnOrdinaryOutput) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  EXPECT_EQ(transcoder.OpenOutputFile(TestFolder() + "/one.flv", true), 1);
  EXPECT_FALSE(transcoder.Join());
}

TEST_F(OutputsTest, FailuresLeaveNothingRegistered) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  const std::string folder = TestFolder();
  const std::string unwritable = folder + "/no_such_folder/out.flv";
  EXPECT_EQ(transcoder.OpenOutputFile(unwritable, false), -1);
  EXPECT_EQ(transcoder.LastError(), unwritable + ": No such file or directory");
  EXPECT_EQ(transcoder.OutputCount(), 0);
  try {
    transcoder.OpenOutputFile(folder + "/out.no_such_extension", false);
    ADD_FAILURE();
  } catch (const FFmpegException& e) {
    EXPECT_EQ(std::string(e.what()),
              "Unable to find a suitable output format for '" + folder + "/out.no_such_extension'");
  }
  transcoder.ParseOption("f", "no_such_muxer");
  try {
    transcoder.OpenOutputFile(folder + "/out.flv", false);
    ADD_FAILURE();
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(),
                 "Requested output format 'no_such_muxer' is not a suitable output format");
  }
  transcoder.ParseOption("vcodec", "no_such_encoder");
  try {
    transcoder.OpenOutputFile(folder + "/out.flv", false);
    ADD_FAILURE();
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "new_video_stream fail: Unknown encoder 'no_such_encoder'");
  }
  EXPECT_EQ(transcoder.OutputCount(), 0);
}

// Added streams, metadata and languages are consumed by the streams that take them.
TEST_F(OutputsTest, NewStreamsTakeAndClearThePendingValues) {
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(1)));
  transcoder.ParseOption("metadata", "title=First");
  transcoder.ParseOption("alang", "eng");
  ASSERT_EQ(transcoder.OpenOutputFile(TestFolder() + "/multi.mkv", false), 1);
  transcoder.ParseOption("acodec", "mp2");
  transcoder.ParseOption("alang", "fre");
  transcoder.ParseOption("newaudio", "");
  const TOutputFile& output = transcoder.Output(0);
  ASSERT_EQ(output.Streams.size(), 3u);
  EXPECT_EQ(output.Streams[2]->Codec->codec_id, AV_CODEC_ID_MP2);
  auto language = [&](int i) {
    const AVDictionaryEntry* e =
        av_dict_get(output.Streams[size_t(i)]->Stream->metadata, "language", nullptr, 0);
    return std::string(e ? e->value : "");
  };
  EXPECT_EQ(language(1), "eng");
  EXPECT_EQ(language(2), "fre");
  EXPECT_TRUE(transcoder.Settings().AudioCodecName.empty());
  const AVDictionaryEntry* title = av_dict_get(output.Context->metadata, "title", nullptr, 0);
  ASSERT_NE(title, nullptr);
  EXPECT_STREQ(title->value, "First");
  EXPECT_TRUE(transcoder.Settings().Metadata.empty());
}

// Clean-up deletes an output that stayed empty, but only a regular file.
TEST_F(OutputsTest, CleanupRemovesEmptyRegularOutputsOnly) {
  const std::string path = TestFolder() + "/empty.flv";
  {
    TCustomTranscoder transcoder;
    ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
    ASSERT_EQ(transcoder.OpenOutputFile(path, false), 1);
    EXPECT_TRUE(std::filesystem::exists(path));
    transcoder.Cleanup();
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3)));
  transcoder.ParseOption("f", "mp3");
  ASSERT_EQ(transcoder.OpenOutputFile("/dev/null", false), 1);
  transcoder.Cleanup();
  EXPECT_TRUE(std::filesystem::exists("/dev/null"));
}

// Many set-ups in a row leave nothing behind (checked under AddressSanitizer).
TEST_F(OutputsTest, ResetAndCleanupCyclesFreeEverything) {
  const std::string folder = TestFolder();
  TCustomTranscoder transcoder;
  for (int i = 0; i < 100; ++i) {
    transcoder.Reset();
    transcoder.ParseOption("vpre", "libx264-fast");
    transcoder.ParseOption("muxrate", "10080000");
    ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3))) << transcoder.LastError();
    transcoder.ParseOption("vcodec", "libx264");
    transcoder.ParseOption("vbsf", "h264_mp4toannexb");
    std::string matrix = "8";
    for (int j = 1; j < 64; ++j) matrix += ",16";
    transcoder.ParseOption("intra_matrix", matrix);
    transcoder.ParseOption("rc_override", "0,10,2");
    ASSERT_EQ(transcoder.OpenOutputFile(folder + "/cycle.mp4", false), 1) << transcoder.LastError();
  }
  transcoder.Cleanup();
  EXPECT_FALSE(std::filesystem::exists(folder + "/cycle.mp4"));
}

}  // namespace
