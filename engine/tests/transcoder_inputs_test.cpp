// Opening inputs: programs, the start-time seek and offset, failures, input schemes, FindCodec.
#include <gtest/gtest.h>

#include "engine/tests/engine_test_support.h"
#include "engine/transcoder.h"
#include "media/file_stream.h"
#include "media/io_scheme.h"
#include "tests/support/test_support.h"

namespace {

class InputsTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadEngineLibraries(); }
};

// An MPEG-TS with three programs: 1 (video), 2 (video + audio), 3 (audio).
std::string MakeThreeProgramTs(const std::string& folder) {
  const std::string path = folder + "/programs.ts";
  MakeMedia(
      "-f lavfi -i testsrc=d=1:s=64x48:r=25 -f lavfi -i sine=d=1 -f lavfi -i "
      "testsrc2=d=1:s=64x48:r=25 -f lavfi -i sine=f=880:d=1 -map 0:v -map 1:a -map 2:v "
      "-map 3:a -c:v mpeg2video -c:a mp2 -program program_num=1:st=0 -program "
      "program_num=2:st=2:st=1 -program program_num=3:st=3 -f mpegts '" +
      path + "'");
  return path;
}

TEST_F(InputsTest, ProgramIdKeepsOnlyThatProgramsStreams) {
  const std::string path = MakeThreeProgramTs(TestFolder());
  TCustomTranscoder transcoder;
  transcoder.ParseOption("programid", "2");
  ASSERT_TRUE(transcoder.OpenInputFile(path)) << transcoder.LastError();
  AVFormatContext* ic = transcoder.InputContext(0);
  int kept = 0;
  for (unsigned i = 0; i < ic->nb_programs; ++i) {
    const AVProgram* program = ic->programs[i];
    for (unsigned j = 0; j < program->nb_stream_indexes; ++j) {
      const AVStream* st = ic->streams[program->stream_index[j]];
      if (program->id == 2) {
        EXPECT_NE(st->discard, AVDISCARD_ALL);
        ++kept;
      } else {
        EXPECT_EQ(program->discard, AVDISCARD_ALL);
      }
    }
  }
  EXPECT_EQ(kept, 2);
  EXPECT_EQ(transcoder.Settings().ProgramId, 0) << "consumed by the input";
}

TEST_F(InputsTest, UnmatchedProgramIdFails) {
  const std::string path = MakeThreeProgramTs(TestFolder());
  TCustomTranscoder transcoder;
  transcoder.ParseOption("programid", "7");
  EXPECT_FALSE(transcoder.OpenInputFile(path));
  EXPECT_EQ(transcoder.LastError(), "Specified program id not found");
  EXPECT_EQ(transcoder.InputCount(), 0);
}

class StartTimeTest : public InputsTest, public ::testing::WithParamInterface<bool> {};

// A file whose timestamps start at 1.4 s: "ss" 10 seeks to 11.4 s; the offset brings the
// seek target to zero unless timestamps are copied.
TEST_P(StartTimeTest, SeeksPastTheFileStartAndOffsetsTimestamps) {
  const bool copyTs = GetParam();
  const std::string path = TestFolder() + "/late.ts";
  MakeMedia(
      "-f lavfi -i testsrc=d=15:s=64x48:r=25 -c:v mpeg2video -g 5 -muxdelay 0 "
      "-muxpreload 0 -output_ts_offset 1.4 -f mpegts '" +
      path + "'");
  TCustomTranscoder transcoder;
  transcoder.ParseOption("ss", "10");
  if (copyTs) transcoder.ParseOption("copyts", "");
  ASSERT_TRUE(transcoder.OpenInputFile(path)) << transcoder.LastError();
  AVFormatContext* ic = transcoder.InputContext(0);
  ASSERT_NEAR(double(ic->start_time), 1400000, 1000);
  const TInputFile& input = transcoder.Input(0);
  EXPECT_EQ(input.SeekTarget, 10000000 + ic->start_time);
  EXPECT_EQ(input.TimestampOffset, copyTs ? 0 : -input.SeekTarget);
  EXPECT_EQ(transcoder.Settings().StartTime, 0) << "consumed by the seek";
  // The transport stream has no index of key pictures: the seek lands on the picture after
  // the key picture at 11.4 s and steps back a second, so that the decoder meets a key
  // picture (one every 0.2 s) at or before the target and nothing after it is lost.
  AVPacketPtr packet = MakePacket();
  ASSERT_GE(av_read_frame(ic, packet.get()), 0);
  const AVRational base = ic->streams[packet->stream_index]->time_base;
  const double seconds = double(packet->dts) * av_q2d(base);
  EXPECT_LE(seconds, 11.4 - 1 + 1e-3);
  EXPECT_GE(seconds, 11.4 - 1 - 0.25);
  double firstKey = -1;
  do {
    if (packet->flags & AV_PKT_FLAG_KEY) firstKey = double(packet->pts) * av_q2d(base);
    av_packet_unref(packet.get());
  } while (firstKey < 0 && av_read_frame(ic, packet.get()) >= 0);
  EXPECT_GE(firstKey, seconds);
  EXPECT_LE(firstKey, 11.4 + 1e-3);
}

INSTANTIATE_TEST_SUITE_P(CopyTs, StartTimeTest, ::testing::Bool());

TEST_F(InputsTest, MissingFileGivesTheOpenErrorText) {
  TCustomTranscoder transcoder;
  const std::string path = TestFolder() + "/no_such.vob";
  EXPECT_FALSE(transcoder.OpenInputFile(path));
  EXPECT_EQ(transcoder.LastError(), path + ": No such file or directory");
}

TEST_F(InputsTest, TakesPendingValuesAndExpectedDurationFromTheInput) {
  TCustomTranscoder transcoder;
  transcoder.ParseOption("vcodec", "mpeg2video");
  ASSERT_TRUE(transcoder.OpenInputFile(DiscAVob(3))) << transcoder.LastError();
  const auto& s = transcoder.Settings();
  EXPECT_EQ(s.FrameWidth, 720);
  EXPECT_EQ(s.FrameHeight, 576);
  EXPECT_NEAR(s.FrameAspectRatio, 4.0 / 3, 1e-3);
  EXPECT_EQ(s.FrameRate.num, 25);
  EXPECT_EQ(s.FrameRate.den, 1);
  EXPECT_EQ(s.AudioSampleRate, 48000);
  EXPECT_EQ(s.AudioChannels, 2);
  EXPECT_TRUE(s.VideoCodecName.empty()) << "decoder names are consumed by the input";
  EXPECT_NEAR(double(transcoder.ExpectedDuration()), 3.0e6, 0.05e6);
}

TEST_F(InputsTest, UnknownDecoderNameFailsTheOpen) {
  TCustomTranscoder transcoder;
  transcoder.ParseOption("acodec", "no_such_decoder");
  EXPECT_FALSE(transcoder.OpenInputFile(DiscAVob(3)));
  EXPECT_EQ(transcoder.LastError(), "Unknown decoder 'no_such_decoder'");
}

TEST_F(InputsTest, UnknownInputFormatRaises) {
  TCustomTranscoder transcoder;
  transcoder.ParseOption("f", "no_such_format");
  try {
    transcoder.OpenInputFile(DiscAVob(3));
    ADD_FAILURE();
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Unknown input format: \"no_such_format\"");
  }
}

// Inputs whose name begins with a registered scheme open through the scheme's stream.
TEST_F(InputsTest, RegisteredSchemeOpensThroughItsStream) {
  int opened = 0;
  RegisterInputScheme("enginetest", [&opened](const std::string& rest, int& error) {
    ++opened;
    return OpenFileStream(rest, error);
  });
  TCustomTranscoder transcoder;
  const bool ok = transcoder.OpenInputFile("enginetest:" + DiscAVob(3));
  UnregisterInputScheme("enginetest");
  ASSERT_TRUE(ok) << transcoder.LastError();
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(transcoder.InputContext(0)->nb_streams, 3u);
  EXPECT_FALSE(transcoder.OpenInputFile("enginetest:" + DiscAVob(3))) << "scheme unregistered";
}

struct TFindCodecRow {
  const char* Name;
  AVMediaType Type;
  bool Encoder;
  int Strict;
  bool Found;
  std::string Error;
};

class FindCodecTest : public InputsTest, public ::testing::WithParamInterface<TFindCodecRow> {};

TEST_P(FindCodecTest, FindsOrExplains) {
  const auto& row = GetParam();
  TCustomTranscoder transcoder;
  AVCodecID id = AV_CODEC_ID_PROBE;
  EXPECT_EQ(transcoder.FindCodec(row.Name, row.Type, row.Encoder, row.Strict, id), row.Found);
  if (row.Found) {
    if (*row.Name)
      EXPECT_NE(id, AV_CODEC_ID_NONE);
    else
      EXPECT_EQ(id, AV_CODEC_ID_NONE);
  } else {
    EXPECT_EQ(transcoder.LastError(), row.Error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FindCodecTest,
    ::testing::Values(
        TFindCodecRow{"", AVMEDIA_TYPE_VIDEO, true, 0, true, ""},
        TFindCodecRow{"mpeg4", AVMEDIA_TYPE_VIDEO, true, 0, true, ""},
        TFindCodecRow{"libfaac", AVMEDIA_TYPE_AUDIO, true, 0, true, ""},
        TFindCodecRow{"libflac", AVMEDIA_TYPE_AUDIO, true, 0, true, ""},
        TFindCodecRow{"no_such_codec", AVMEDIA_TYPE_VIDEO, true, 0, false,
                      "Unknown encoder 'no_such_codec'"},
        TFindCodecRow{"no_such_codec", AVMEDIA_TYPE_VIDEO, false, 0, false,
                      "Unknown decoder 'no_such_codec'"},
        TFindCodecRow{"libmp3lame", AVMEDIA_TYPE_VIDEO, true, 0, false,
                      "Invalid encoder type 'libmp3lame'"},
        TFindCodecRow{"vorbis", AVMEDIA_TYPE_AUDIO, true, 0, false,
                      "encoder 'vorbis' is experimental and might produce bad results.\r\nAdd "
                      "'-strict experimental' if you want to use it.\r\nOr use the non "
                      "experimental encoder 'libvorbis'."},
        TFindCodecRow{"vorbis", AVMEDIA_TYPE_AUDIO, true, FF_COMPLIANCE_EXPERIMENTAL, true, ""}));

}  // namespace
