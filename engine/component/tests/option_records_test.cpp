// The option records and how they become options of a job's transcoder.
#include "engine/component/option_records.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "engine/component/converter.h"
#include "engine/component/transcoder_job.h"
#include "media/loader.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

std::string Title(int number) {
  return FixturesDir() + "/disc_a/VIDEO_TS/VTS_0" + std::to_string(number) + "_1.VOB";
}

struct SplitCase {
  const char* text;
  Lines lines;
};

class SplitOptionLinesTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitOptionLinesTest, Splits) {
  EXPECT_EQ(SplitOptionLines(GetParam().text), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SplitOptionLinesTest,
    ::testing::Values(SplitCase{"", {}}, SplitCase{"  \r\n ", {}},
                      SplitCase{"vcodec=mpeg4<CRLF>b=800000",
                                {{"vcodec", "mpeg4"}, {"b", "800000"}}},
                      SplitCase{" VCodec=MPEG4\r\nNewVideo\rs= 320x240 \n",
                                {{"vcodec", "MPEG4"}, {"newvideo", ""}, {"s", " 320x240"}}},
                      SplitCase{"metadata=title=a=b", {{"metadata", "title=a=b"}}},
                      SplitCase{"a=1\n\nb=2<CRLF><CRLF>c", {{"a", "1"}, {"b", "2"}, {"c", ""}}},
                      SplitCase{"=x\nab=", {{"ab", ""}}}));

TEST(OptionRecordsTest, Defaults) {
  TInputOptions input;
  input.FileName = "x";
  input.ProgramNumber = 3;
  InitInputOptions(input);
  EXPECT_EQ(input.FileName, "");
  EXPECT_EQ(input.StartTime, AV_NOPTS_VALUE);
  EXPECT_EQ(input.ProgramNumber, -1);

  TOutputOptions output;
  output.AudioVolume = 3;
  output.Target = 2;
  output.Metadata.Year = 2000;
  InitOutputOptions(output);
  EXPECT_EQ(output.AudioVolume, -1);
  EXPECT_EQ(output.AudioSync, 0);
  EXPECT_EQ(output.VideoSync, -1);
  EXPECT_EQ(output.MuxDelay, -1.0f);
  EXPECT_EQ(output.Duration, AV_NOPTS_VALUE);
  EXPECT_EQ(output.Target, 0);
  EXPECT_EQ(output.FallbackNorm, 1);
  EXPECT_EQ(output.Metadata.Timestamp, -1.0);
  EXPECT_EQ(output.Metadata.Year, -1);
}

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(GlobalLoader().LoadLibraries(ConverterLibraries));
    folder = TestFolder();
  }
  // A job with the fixture title opened, as AddTask leaves it.
  void OpenInput(TTranscoder& job) { ASSERT_TRUE(job.OpenInputFile(Title(3))) << job.LastError(); }

  std::vector<std::string> VideoEncoders(const TTranscoder& job) {
    std::vector<std::string> names;
    for (const auto& stream : job.Output(0).Streams)
      if (stream->Type == AVMEDIA_TYPE_VIDEO)
        names.push_back(stream->Encoder ? stream->Encoder->name : "copy");
    return names;
  }
  std::string folder;
};

TEST_F(RecordTest, CodecLinesReachTheParserOnInputsOnly) {
  TTranscoder input;
  TInputOptions in;
  in.OptionLines = "vcodec=mpeg4<CRLF>b=123456";
  ApplyInputOptions(input, in, "name.vob");
  EXPECT_EQ(in.FileName, "name.vob");
  EXPECT_EQ(input.InputOptions(0).FileName, "name.vob");
  EXPECT_EQ(input.Settings().VideoCodecName, "mpeg4");
  EXPECT_EQ(input.OptionCodecContext(AVMEDIA_TYPE_VIDEO)->bit_rate, 123456);

  // On an output the line only feeds the defaults, and the record's own field wins.
  TTranscoder output;
  OpenInput(output);
  TOutputOptions out;
  out.VideoCodec = "libx264";
  out.OptionLines = "vcodec=mpeg4<CRLF>b=123456";
  EXPECT_FALSE(ApplyOutputOptions(output, out, "out.mkv"));
  EXPECT_EQ(output.Settings().VideoCodecName, "libx264");
  EXPECT_EQ(output.OptionCodecContext(AVMEDIA_TYPE_VIDEO)->bit_rate, 123456);
  EXPECT_EQ(output.OutputOptions(0).FileName, "out.mkv");

  // Without the field the first line is the default.
  TTranscoder fallback;
  OpenInput(fallback);
  out.VideoCodec.clear();
  ApplyOutputOptions(fallback, out, "out.mkv");
  EXPECT_EQ(fallback.Settings().VideoCodecName, "mpeg4");
}

TEST_F(RecordTest, InputFields) {
  TTranscoder job;
  TInputOptions in;
  in.FileName = "kept.vob";
  in.FileFormat = "mpeg";
  in.StartTime = 1500000;
  in.ProgramNumber = 0;
  ApplyInputOptions(job, in, "other.vob");
  EXPECT_EQ(in.FileName, "kept.vob");
  EXPECT_EQ(job.Settings().FormatName, "mpeg");
  EXPECT_EQ(job.Settings().StartTime, 1500000);
  EXPECT_EQ(job.Settings().ProgramId, 0);
}

struct NewVideoCase {
  const char* videoCodec;
  std::vector<std::string> encoders;
};

class NewVideoTest : public RecordTest, public ::testing::WithParamInterface<NewVideoCase> {};

TEST_P(NewVideoTest, AddedStreamTakesTheCodecLine) {
  TConverter converter;
  ASSERT_EQ(converter.AddTask(Title(3)), 0) << converter.LastError();
  TOutputOptions out;
  out.VideoCodec = GetParam().videoCodec;
  out.AudioCodec = "mp2";
  out.OptionLines = "vcodec=mpeg4\r\nnewvideo=";
  ASSERT_TRUE(converter.SetOutputFile(0, folder + "/new.mkv", &out)) << converter.LastError();
  EXPECT_EQ(VideoEncoders(*converter.Task(0)), GetParam().encoders);
}

INSTANTIATE_TEST_SUITE_P(Codecs, NewVideoTest,
                         ::testing::Values(NewVideoCase{"libx264", {"libx264", "mpeg4"}},
                                           NewVideoCase{"", {"mpeg4", "mpeg4"}}));

TEST_F(RecordTest, SecondAddedStreamUsesTheDefault) {
  TConverter converter;
  ASSERT_EQ(converter.AddTask(Title(3)), 0) << converter.LastError();
  TOutputOptions out;
  out.VideoCodec = "mpeg2video";
  out.AudioCodec = "mp2";
  out.OptionLines = "vcodec=mpeg4\nnewvideo\nnewvideo";
  ASSERT_TRUE(converter.SetOutputFile(0, folder + "/two.mkv", &out)) << converter.LastError();
  EXPECT_EQ(VideoEncoders(*converter.Task(0)),
            (std::vector<std::string>{"mpeg2video", "mpeg4", "mpeg2video"}));
}

TEST_F(RecordTest, PalDvdTargetWithMp2Audio) {
  TConverter converter;
  ASSERT_EQ(converter.AddTask(Title(3)), 0) << converter.LastError();
  TOutputOptions out;
  out.Target = 3;
  out.TargetNorm = 1;
  out.AudioCodec = "mp2";
  ASSERT_TRUE(converter.SetOutputFile(0, folder + "/dvd.mpg", &out)) << converter.LastError();
  const TTranscoder& job = *converter.Task(0);
  EXPECT_STREQ(job.OutputContext(0)->oformat->name, "dvd");
  bool video = false, audio = false;
  for (const auto& stream : job.Output(0).Streams) {
    ASSERT_NE(stream->Encoder, nullptr);
    if (stream->Type == AVMEDIA_TYPE_VIDEO) {
      video = true;
      EXPECT_STREQ(stream->Encoder->name, "mpeg2video");
      EXPECT_EQ(stream->Codec->width, 720);
      EXPECT_EQ(stream->Codec->height, 576);
      EXPECT_EQ(av_q2d(stream->Codec->framerate), 25.0);
    } else if (stream->Type == AVMEDIA_TYPE_AUDIO) {
      audio = true;
      EXPECT_STREQ(stream->Encoder->name, "mp2");
      EXPECT_EQ(stream->Codec->sample_rate, 48000);
    }
  }
  EXPECT_TRUE(video);
  EXPECT_TRUE(audio);
}

struct VolumeCase {
  int recordVolume;
  int expected;
};

class VolumeTest : public RecordTest, public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(VolumeTest, VolumeAppliedWhenNotNegative) {
  TTranscoder job;
  OpenInput(job);
  TOutputOptions out;
  out.OptionLines = "vol=100";  // applied before the fields
  out.AudioVolume = GetParam().recordVolume;
  ApplyOutputOptions(job, out, "out.mkv");
  EXPECT_EQ(job.Settings().AudioVolume, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Volumes, VolumeTest,
                         ::testing::Values(VolumeCase{256, 256}, VolumeCase{-1, 100},
                                           VolumeCase{0, 0}, VolumeCase{512, 512}));

TEST_F(RecordTest, FieldsBecomeOptions) {
  TTranscoder job;
  OpenInput(job);
  TOutputOptions out;
  out.AudioChannels = 1;
  out.AudioSampleRate = 22050;
  out.AudioBitrate = 64000;
  out.AudioLanguage = "eng";
  out.AudioSync = 1;
  out.FrameRate = "30000/1001";
  out.FrameSize = "320x240";
  out.AspectRatio = "4:3";
  out.CropTop = 16;
  out.CropBottom = 0;  // not applied
  out.GopSize = 12;
  out.VideoBitrate = 500000;
  out.VideoSync = 2;
  out.DisableSubtitle = true;
  out.CopyTimestamps = true;
  out.StartTime = 500000;
  out.Duration = 2000000;
  out.Join = true;
  out.Metadata.Year = 2009;
  out.Metadata.Track = 0;  // not written
  out.Metadata.Title = "A title";
  out.Metadata.Genre = "Test";
  EXPECT_TRUE(ApplyOutputOptions(job, out, "out.mkv"));
  const TTranscoderSettings& s = job.Settings();
  EXPECT_EQ(s.AudioChannels, 1);
  EXPECT_EQ(s.AudioSampleRate, 22050);
  EXPECT_EQ(job.OptionCodecContext(AVMEDIA_TYPE_AUDIO)->bit_rate, 64000);
  EXPECT_EQ(s.AudioLanguage, "eng");
  EXPECT_EQ(s.AudioSyncMethod, 1);
  EXPECT_EQ(s.FrameRate.num, 30000);
  EXPECT_EQ(s.FrameWidth, 320);  // the size comes after the crop
  EXPECT_EQ(s.FrameHeight, 240);
  EXPECT_EQ(s.TopBand, 16);
  EXPECT_EQ(s.BottomBand, 0);
  EXPECT_FLOAT_EQ(s.FrameAspectRatio, 4.0f / 3.0f);
  EXPECT_EQ(job.OptionCodecContext(AVMEDIA_TYPE_VIDEO)->gop_size, 12);
  EXPECT_EQ(job.OptionCodecContext(AVMEDIA_TYPE_VIDEO)->bit_rate, 500000);
  EXPECT_EQ(s.VideoSyncMethod, 2);
  EXPECT_TRUE(s.SubtitleDisable);
  EXPECT_FALSE(s.AudioDisable);
  EXPECT_TRUE(s.CopyTs);
  EXPECT_EQ(s.StartTime, 500000);
  EXPECT_EQ(s.RecordingTime, 2000000);
  EXPECT_EQ(job.ExpectedDuration(), 2000000);
  const std::vector<std::pair<std::string, std::string>> metadata = {
      {"year", "2009"}, {"title", "A title"}, {"genre", "Test"}};
  EXPECT_EQ(s.Metadata, metadata);
}

TEST_F(RecordTest, CropBeyondTheInputIsRejected) {
  TConverter converter;
  ASSERT_EQ(converter.AddTask(Title(3)), 0);
  TOutputOptions out;
  out.CropLeft = 800;
  out.FrameSize = "1024x768";  // set after the crop is checked against 720 pixels
  EXPECT_FALSE(converter.SetOutputFile(0, folder + "/crop.mkv", &out));
  EXPECT_NE(converter.LastError().find("Horizontal crop dimensions"), std::string::npos)
      << converter.LastError();
}

// The time stamp uses the zone's standard offset, also on a summer date.
class TimestampTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* zone = std::getenv("TZ");
    saved = zone ? zone : "";
    hadZone = zone != nullptr;
  }
  void TearDown() override {
    if (hadZone)
      setenv("TZ", saved.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  std::string saved;
  bool hadZone = false;
};

TEST_F(TimestampTest, ToUnixSeconds) {
  setenv("TZ", "UTC0", 1);
  EXPECT_EQ(TimestampToUnixSeconds(25569.0), 0);
  EXPECT_EQ(TimestampToUnixSeconds(25569.5), 43200);
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  EXPECT_EQ(TimestampToUnixSeconds(25569.0), -3600);
  // 2009-07-01 12:00 local: standard offset one hour, not the summer two.
  EXPECT_EQ(TimestampToUnixSeconds(39995.5), 1246449600 - 3600);
}

TEST_F(TimestampTest, StampBecomesTheRecordingTimestamp) {
  setenv("TZ", "UTC0", 1);
  ASSERT_TRUE(GlobalLoader().LoadLibraries(ConverterLibraries));
  struct Case {
    double stamp;
    int64_t expected;  // -1: now
  } cases[] = {{-1.0, 0}, {25569.5, 43200}, {39995.5, 1246449600}, {0.0, -1}};
  for (const Case& c : cases) {
    TTranscoder job;
    TOutputOptions out;
    out.Metadata.Timestamp = c.stamp;
    ApplyOutputOptions(job, out, "out.mkv");
    if (c.expected >= 0) {
      EXPECT_EQ(job.Settings().RecordingTimestamp, c.expected) << c.stamp;
    } else {
      EXPECT_NEAR(double(job.Settings().RecordingTimestamp), double(time(nullptr)), 5.0);
    }
  }
}

}  // namespace
