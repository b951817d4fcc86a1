// The option vocabulary, row by row: every option sets what it names or fails with its text.
#include <gtest/gtest.h>

#include <functional>
#include <regex>

extern "C" {
#include <libavutil/opt.h>
}

#include "engine/tests/engine_test_support.h"
#include "engine/transcoder.h"

namespace {

using TCheck = std::function<void(const TCustomTranscoder&, const TLogCapture&)>;

struct TOptionRow {
  std::string Label;
  std::string Name;
  std::string Value;
  std::vector<std::pair<std::string, std::string>> Before;  // options given first
  TCheck Check;                                             // when the option succeeds
  std::string Error;                                        // the exact failure text otherwise
};

const TTranscoderSettings& S(const TCustomTranscoder& t) {
  return t.Settings();
}
const AVCodecContext* Video(const TCustomTranscoder& t) {
  return t.OptionCodecContext(AVMEDIA_TYPE_VIDEO);
}
const AVCodecContext* Audio(const TCustomTranscoder& t) {
  return t.OptionCodecContext(AVMEDIA_TYPE_AUDIO);
}
std::string DictValue(const AVDictionary* dict, const char* key) {
  const AVDictionaryEntry* entry = av_dict_get(dict, key, nullptr, 0);
  return entry ? entry->value : "";
}

TOptionRow Sets(std::string name, std::string value, TCheck check,
                std::vector<std::pair<std::string, std::string>> before = {}) {
  return {name + "_" + value, name, value, std::move(before), std::move(check), ""};
}
TOptionRow Fails(std::string name, std::string value, std::string error,
                 std::vector<std::pair<std::string, std::string>> before = {}) {
  return {name + "_" + value + "_fails", name, value, std::move(before), nullptr, std::move(error)};
}
TOptionRow Logs(std::string name, std::string value, TLogLevel level, std::string text) {
  return Sets(name, value, [level, text](const TCustomTranscoder&, const TLogCapture& log) {
    EXPECT_TRUE(log.Contains(level, text)) << text;
  });
}

std::vector<TOptionRow> Rows() {
  std::vector<TOptionRow> rows;
  for (const char* name :
       {"h", "version", "formats", "codecs", "bsfs", "protocols", "filters", "i", "y", "benchmark"})
    rows.push_back(Logs(name, "x", llInfo, std::string("Do nothing: option - ") + name));
  std::vector<TOptionRow> more = {
      // General
      Sets("loglevel", "warning",
           [](auto&, auto&) { EXPECT_EQ(GlobalLogger().LogLevel(), llWarning); }),
      Sets("f", "avi", [](auto& t, auto&) { EXPECT_EQ(S(t).FormatName, "avi"); }),
      Sets("f", "pgmyuv",
           [](auto& t, auto& log) {
             EXPECT_EQ(S(t).FormatName, "image2");
             EXPECT_TRUE(S(t).PgmYuv);
             EXPECT_TRUE(log.Contains(llInfo, "pgmyuv format is deprecated, use image2"));
           }),
      Sets("f", "", [](auto& t, auto&) { EXPECT_EQ(S(t).FormatName, ""); }),
      Sets("v", "3", [](auto& t, auto&) { EXPECT_EQ(S(t).Verbose, 3); }),
      Fails("v", "three", "'three' is not a valid integer value"),
      Fails("threads", "4", "TODO: option - threads"),
      Logs("timelimit", "10", llWarning, "Warning: -timelimit not implemented on Windows"),
      Sets("xerror", "", [](auto& t, auto&) { EXPECT_TRUE(S(t).ExitOnError); }),
      Sets("dump", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).DoPktDump); }),
      Sets("hex", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).DoHexDump); }),
      Sets("vstats", "",
           [](auto& t, auto&) {
             EXPECT_TRUE(
                 std::regex_match(S(t).VStatsFileName, std::regex(".*/vstats_[0-9]{6}\\.log")))
                 << S(t).VStatsFileName;
           }),
      Sets("vstats_file", "stats.log",
           [](auto& t, auto&) { EXPECT_EQ(S(t).VStatsFileName, "stats.log"); }),
      Sets("pass", "2", [](auto& t, auto&) { EXPECT_EQ(S(t).DoPass, 2); }),
      Fails("pass", "3", "pass number can be only 1 or 2"),
      Sets("passlogfile", "mylog",
           [](auto& t, auto&) { EXPECT_EQ(S(t).PassLogFileName, "mylog"); }),
      Sets("target", "ntsc-dvd",
           [](auto& t, auto&) {
             EXPECT_EQ(S(t).FrameWidth, 720);
             EXPECT_EQ(S(t).FrameHeight, 480);
             EXPECT_EQ(S(t).FrameRate.num, 30000);
             EXPECT_EQ(S(t).FrameRate.den, 1001);
             EXPECT_EQ(Video(t)->gop_size, 18);
             EXPECT_EQ(Video(t)->bit_rate, 6000000);
             EXPECT_EQ(Video(t)->rc_max_rate, 9000000);
             EXPECT_EQ(Video(t)->rc_buffer_size, 1835008);
             EXPECT_EQ(Audio(t)->bit_rate, 448000);
             EXPECT_EQ(S(t).VideoCodecName, "mpeg2video");
             EXPECT_EQ(S(t).AudioCodecName, "ac3");
             EXPECT_EQ(S(t).FormatName, "dvd");
             EXPECT_EQ(S(t).AudioSampleRate, 48000);
             EXPECT_EQ(t.OptionFormatContext()->packet_size, 2048u);
             EXPECT_EQ(DictValue(t.PrivateFormatOptions(), "muxrate"), "10080000");
             EXPECT_NEAR(S(t).FrameAspectRatio, 16.0 / 9, 1e-4);
           }),
      Fails("target", "ntsc-laserdisc", "Unknown target type"),
      Fails("target", "dvd", "frame_rate is invalid."),

      // Files, maps and times
      Sets("map", "0:1",
           [](auto& t, auto&) {
             ASSERT_EQ(S(t).StreamMaps.size(), 1u);
             const auto& map = S(t).StreamMaps[0];
             EXPECT_EQ(map.FileIndex, 0);
             EXPECT_EQ(map.StreamIndex, 1);
             EXPECT_EQ(map.SyncFileIndex, 0);
             EXPECT_EQ(map.SyncStreamIndex, 1);
           }),
      Sets("map", "1.2:0.0x3",
           [](auto& t, auto&) {
             const auto& map = S(t).StreamMaps.at(0);
             EXPECT_EQ(map.FileIndex, 1);
             EXPECT_EQ(map.StreamIndex, 2);
             EXPECT_EQ(map.SyncFileIndex, 0);
             EXPECT_EQ(map.SyncStreamIndex, 3);
           }),
      Sets("map_meta_data", "1:0",
           [](auto& t, auto&) {
             ASSERT_EQ(S(t).MetaDataMaps.size(), 1u);
             EXPECT_EQ(S(t).MetaDataMaps[0].OutFile, 1);
             EXPECT_EQ(S(t).MetaDataMaps[0].InFile, 0);
           }),
      Sets("t", "00:01:02.5",
           [](auto& t, auto&) {
             EXPECT_EQ(S(t).RecordingTime, 62500000);
             EXPECT_EQ(t.ExpectedDuration(), 62500000);
           }),
      Fails("t", "abc", "Invalid duration specification for t: abc"),
      Sets("fs", "123456789012",
           [](auto& t, auto&) { EXPECT_EQ(S(t).LimitFileSize, 123456789012LL); }),
      Sets("ss", "10", [](auto& t, auto&) { EXPECT_EQ(S(t).StartTime, 10000000); }),
      Fails("ss", "1:x", "Invalid duration specification for ss: 1:x"),
      Sets("itsoffset", "-1.5", [](auto& t, auto&) { EXPECT_EQ(S(t).InputTsOffset, -1500000); }),
      Sets("itsscale", "1:2.5", [](auto& t, auto&) { EXPECT_EQ(S(t).TimeScales[0][1], 2.5); }),
      Fails("itsscale", "20:2", "stream index over MAX_STREAMS(20)"),
      Sets("timestamp", "2020-01-02T03:04:05Z",
           [](auto& t, auto&) { EXPECT_EQ(S(t).RecordingTimestamp, 1577934245); }),
      Fails("timestamp", "yesterday", "Invalid date specification for timestamp: yesterday"),
      Sets("metadata", "title=A=B",
           [](auto& t, auto&) {
             ASSERT_EQ(S(t).Metadata.size(), 1u);
             EXPECT_EQ(S(t).Metadata[0].first, "title");
             EXPECT_EQ(S(t).Metadata[0].second, "A=B");
           }),
      Fails("metadata", "title", "Missing ="),
      Sets("vframes", "10", [](auto& t, auto&) { EXPECT_EQ(S(t).MaxFrames[0], 10); }),
      Sets("aframes", "11", [](auto& t, auto&) { EXPECT_EQ(S(t).MaxFrames[1], 11); }),
      Sets("dframes", "12", [](auto& t, auto&) { EXPECT_EQ(S(t).MaxFrames[2], 12); }),
      Sets("re", "", [](auto& t, auto&) { EXPECT_TRUE(S(t).RateEmu); }),
      Sets("loop_input", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).LoopInput); }),
      Sets("loop_output", "3", [](auto& t, auto&) { EXPECT_EQ(S(t).LoopOutput, 3); }),
      Sets("programid", "2", [](auto& t, auto&) { EXPECT_EQ(S(t).ProgramId, 2); }),
      Sets("copyts", "0", [](auto& t, auto&) { EXPECT_TRUE(S(t).CopyTs); }),
      Sets("shortest", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).Shortest); }),
      Sets("dts_delta_threshold", "2.5",
           [](auto& t, auto&) { EXPECT_EQ(S(t).DtsDeltaThreshold, 2.5); }),
      Sets("copyinkf", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).CopyInitialNonKeyFrames); }),
      Sets("isync", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).InputSync); }),
      Sets("muxdelay", "0.25", [](auto& t, auto&) { EXPECT_FLOAT_EQ(S(t).MuxMaxDelay, 0.25f); }),
      Sets("muxpreload", "0.75", [](auto& t, auto&) { EXPECT_FLOAT_EQ(S(t).MuxPreload, 0.75f); }),
      Sets("streamid", "1:257", [](auto& t, auto&) { EXPECT_EQ(S(t).StreamIds[1], 257); }),
      Fails("streamid", "257",
            "Invalid value \"257\" for option \"streamid\", required syntax is \"index:value\""),

      // Synchronisation
      Sets("vsync", "2", [](auto& t, auto&) { EXPECT_EQ(S(t).VideoSyncMethod, 2); }),
      Sets("async", "1000", [](auto& t, auto&) { EXPECT_EQ(S(t).AudioSyncMethod, 1000); }),
      Sets("adrift_threshold", "0.5",
           [](auto& t, auto&) { EXPECT_FLOAT_EQ(S(t).AudioDriftThreshold, 0.5f); }),
      Sets("vglobal", "1", [](auto& t, auto&) { EXPECT_EQ(S(t).VideoGlobalHeader, 1); }),

      // Video
      Sets("b", "500",
           [](auto& t, auto& log) {
             EXPECT_EQ(Video(t)->bit_rate, 500);
             EXPECT_NE(Audio(t)->bit_rate, 500) << "the plain name means video";
             EXPECT_TRUE(log.Contains(llWarning,
                                      "WARNING: The bitrate parameter is set too low. "
                                      "It takes bits/s as argument, not kbits/s"));
           }),
      Sets("vb", "800000",
           [](auto& t, auto& log) {
             EXPECT_EQ(Video(t)->bit_rate, 800000);
             EXPECT_FALSE(log.Contains("WARNING: The bitrate"));
           }),
      Sets("r", "30000/1001",
           [](auto& t, auto&) {
             EXPECT_EQ(S(t).FrameRate.num, 30000);
             EXPECT_EQ(S(t).FrameRate.den, 1001);
           }),
      Fails("r", "fast", "Incorrect frame rate"),
      Sets("s", "352x288",
           [](auto& t, auto&) {
             EXPECT_EQ(S(t).FrameWidth, 352);
             EXPECT_EQ(S(t).FrameHeight, 288);
           }),
      Sets("s", "vga", [](auto& t, auto&) { EXPECT_EQ(S(t).FrameWidth, 640); }),
      Fails("s", "big", "Incorrect frame size"),
      Sets("aspect", "16:9",
           [](auto& t, auto&) { EXPECT_NEAR(S(t).FrameAspectRatio, 16.0 / 9, 1e-5); }),
      Sets("aspect", "1.5", [](auto& t, auto&) { EXPECT_FLOAT_EQ(S(t).FrameAspectRatio, 1.5f); }),
      Fails("aspect", "4:0", "Incorrect aspect ratio specification."),
      Fails("aspect", "wide", "Incorrect aspect ratio specification."),
      Sets("pix_fmt", "yuv422p",
           [](auto& t, auto&) { EXPECT_EQ(S(t).FramePixFmt, AV_PIX_FMT_YUV422P); }),
      Fails("pix_fmt", "nope", "Unknown pixel format requested: nope"),
      Logs("pix_fmt", "list", llInfo, "yuv420p"),
      Sets("croptop", "100",
           [](auto& t, auto& log) {
             EXPECT_EQ(S(t).TopBand, 100);
             EXPECT_EQ(S(t).FrameHeight, 380);
             EXPECT_TRUE(
                 log.Contains(llWarning, "CropTop is deprecated in favor of the crop avfilter"));
           },
           {{"s", "720x480"}}),
      Fails("croptop", "480",
            "Vertical crop dimensions are outside the range of the original image.\nRemember to "
            "crop first and scale second.",
            {{"s", "720x480"}}),
      Sets("cropbottom", "8", [](auto& t, auto&) { EXPECT_EQ(S(t).FrameHeight, 472); },
           {{"s", "720x480"}}),
      Sets("cropleft", "16", [](auto& t, auto&) { EXPECT_EQ(S(t).FrameWidth, 704); },
           {{"s", "720x480"}}),
      Fails("cropright", "720",
            "Horizontal crop dimensions are outside the range of the original image.\nRemember to "
            "crop first and scale second.",
            {{"s", "720x480"}}),
      Sets("croptop", "0", [](auto& t, auto&) { EXPECT_EQ(S(t).FrameHeight, 480); },
           {{"s", "720x480"}}),
      Fails("padtop", "8", "Please use vfilters=pad"),
      Fails("padcolor", "000000", "Please use vfilters=pad"),
      Sets("intra", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).IntraOnly); }),
      Sets("vn", "0", [](auto& t, auto&) { EXPECT_FALSE(S(t).VideoDisable); }),
      Sets("vn", "", [](auto& t, auto&) { EXPECT_TRUE(S(t).VideoDisable); }),
      Sets("vn", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).VideoDisable); }),
      Sets("vdt", "48", [](auto& t, auto&) { EXPECT_EQ(S(t).VideoDiscard, 48); }),
      Sets("qscale", "4.5", [](auto& t, auto&) { EXPECT_FLOAT_EQ(S(t).VideoQScale, 4.5f); }),
      Fails("qscale", "0", "qscale must be > 0.0 and <= 255"),
      Fails("qscale", "256", "qscale must be > 0.0 and <= 255"),
      Sets("rc_override", "0,10,2/20,30,-50",
           [](auto& t, auto&) { EXPECT_EQ(S(t).VideoRcOverride, "0,10,2/20,30,-50"); }),
      Sets("vcodec", "mpeg4", [](auto& t, auto&) { EXPECT_EQ(S(t).VideoCodecName, "mpeg4"); }),
      Sets("vcodec", "copy", [](auto& t, auto&) { EXPECT_TRUE(S(t).VideoStreamCopy); }),
      Sets("me_threshold", "5", [](auto& t, auto&) { EXPECT_EQ(S(t).MeThreshold, 5); }),
      Sets("sameq", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).SameQuality); }),
      Sets("deinterlace", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).DoDeinterlace); }),
      Sets("psnr", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).DoPSNR); }),
      Fails("vhook", "libno_such_hook.so -x",
            "Failed to add video hook function: libno_such_hook.so -x"),
      Sets("vf", "hflip", [](auto& t, auto&) { EXPECT_EQ(S(t).VideoFilters, "hflip"); }),
      Sets("vfilters", "vflip", [](auto& t, auto&) { EXPECT_EQ(S(t).VideoFilters, "vflip"); }),
      Sets("intra_matrix",
           "8,16,19,22,26,27,29,34,16,16,22,24,27,29,34,37,19,22,26,27,29,34,34,38,22,22,26,27,29,"
           "34,37,40,22,26,27,29,32,35,40,48,26,27,29,32,35,40,48,58,26,27,29,34,38,46,56,69,27,29,"
           "35,38,46,56,69,83",
           [](auto& t, auto&) {
             ASSERT_EQ(S(t).IntraMatrix.size(), 64u);
             EXPECT_EQ(S(t).IntraMatrix[0], 8);
             EXPECT_EQ(S(t).IntraMatrix[63], 83);
           }),
      Fails("inter_matrix", "1,2,3,4,5,6,7,8,9,10",
            "Syntax error in matrix \"1,2,3,4,5,6,7,8,9,10\" at coeff 9"),
      Sets("top", "0", [](auto& t, auto&) { EXPECT_EQ(S(t).TopFieldFirst, 0); }),
      Sets("dc", "9", [](auto& t, auto&) { EXPECT_EQ(S(t).IntraDcPrecision, 9); }),
      Sets("vtag", "XVID",
           [](auto& t, auto&) { EXPECT_EQ(S(t).VideoCodecTag, MKTAG('X', 'V', 'I', 'D')); }),
      Fails("vtag", "XVI", "video tag parameter must be 4 chars"),
      Fails("newvideo", "", "At least one output file must be specified"),
      Fails("newaudio", "", "At least one output file must be specified"),
      Fails("newsubtitle", "", "At least one output file must be specified"),
      Sets("vlang", "eng", [](auto& t, auto&) { EXPECT_EQ(S(t).VideoLanguage, "eng"); }),
      Sets("qphist", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).QpHist); }),
      Sets("force_fps", "1", [](auto& t, auto&) { EXPECT_TRUE(S(t).ForceFps); }),
      Sets("vc", "2", [](auto& t, auto&) { EXPECT_EQ(S(t).VideoChannel, 2); }),
      Sets("tvstd", "pal", [](auto& t, auto&) { EXPECT_EQ(S(t).VideoStandard, "pal"); }),

      // Audio
      Sets("ab", "96000",
           [](auto& t, auto&) {
             EXPECT_EQ(Audio(t)->bit_rate, 96000);
             EXPECT_NE(Video(t)->bit_rate, 96000);
           }),
      Logs("ab", "128", llWarning, "WARNING: The bitrate parameter is set too low"),
      Sets("aq", "3", [](auto& t, auto&) { EXPECT_FLOAT_EQ(S(t).AudioQScale, 3.0f); }),
      Sets("ar", "22050", [](auto& t, auto&) { EXPECT_EQ(S(t).AudioSampleRate, 22050); }),
      Sets("ar", "0", [](auto& t, auto&) { EXPECT_EQ(S(t).AudioSampleRate, 44100); }),
      Sets("ac", "1", [](auto& t, auto&) { EXPECT_EQ(S(t).AudioChannels, 1); }),
      Sets("an", "", [](auto& t, auto&) { EXPECT_TRUE(S(t).AudioDisable); }),
      Sets("acodec", "libmp3lame",
           [](auto& t, auto&) { EXPECT_EQ(S(t).AudioCodecName, "libmp3lame"); }),
      Sets("acodec", "copy", [](auto& t, auto&) { EXPECT_TRUE(S(t).AudioStreamCopy); }),
      Sets("atag", "mp4a",
           [](auto& t, auto&) { EXPECT_EQ(S(t).AudioCodecTag, MKTAG('m', 'p', '4', 'a')); }),
      Fails("atag", "mp4", "audio tag parameter must be 4 chars"),
      Sets("vol", "512", [](auto& t, auto&) { EXPECT_EQ(S(t).AudioVolume, 512); }),
      Sets("alang", "fre", [](auto& t, auto&) { EXPECT_EQ(S(t).AudioLanguage, "fre"); }),
      Sets("sample_fmt", "s16",
           [](auto& t, auto&) { EXPECT_EQ(S(t).AudioSampleFmt, AV_SAMPLE_FMT_S16); }),
      Logs("sample_fmt", "list", llInfo, "fltp"),

      // Subtitle
      Sets("sn", "", [](auto& t, auto&) { EXPECT_TRUE(S(t).SubtitleDisable); }),
      Sets("scodec", "dvdsub", [](auto& t, auto&) { EXPECT_EQ(S(t).SubtitleCodecName, "dvdsub"); }),
      Sets("scodec", "copy", [](auto& t, auto&) { EXPECT_TRUE(S(t).SubtitleStreamCopy); }),
      Sets("slang", "ger", [](auto& t, auto&) { EXPECT_EQ(S(t).SubtitleLanguage, "ger"); }),
      Fails("stag", "tx3gx", "subtitle tag parameter must be 4 chars"),

      // Bitstream filters and presets
      Sets("absf", "aac_adtstoasc",
           [](auto& t, auto&) {
             EXPECT_EQ(S(t).AudioBitstreamFilters, std::vector<std::string>{"aac_adtstoasc"});
           }),
      Sets("vbsf", "h264_mp4toannexb=ignored",
           [](auto& t, auto&) {
             EXPECT_EQ(S(t).VideoBitstreamFilters, std::vector<std::string>{"h264_mp4toannexb"});
           }),
      Sets("sbsf", "=noise",
           [](auto& t, auto&) { EXPECT_TRUE(S(t).SubtitleBitstreamFilters.empty()); }),
      Fails("vbsf", "no_such_filter", "Unknown bitstream filter no_such_filter"),
      Sets("vpre", "psp",
           [](auto& t, auto&) {
             EXPECT_EQ(Video(t)->gop_size, 250);
             EXPECT_EQ(Video(t)->me_range, 16);
             EXPECT_EQ(Video(t)->bit_rate, 1250000);
             EXPECT_EQ(DictValue(t.PrivateCodecOptions(AVMEDIA_TYPE_VIDEO), "me_method"), "umh");
           },
           {{"vcodec", "libx264"}}),
      Sets("vpre", "LIBX264-IPOD", [](auto& t, auto&) { EXPECT_EQ(Video(t)->bit_rate, 1000000); }),
      Fails("vpre", "psp", "Preset \"psp\" not found"),
      Fails("fpre", "libx264-psp", "Preset \"libx264-psp\" not found"),

      // Names no table row knows: generic options
      Sets("g", "12", [](auto& t, auto&) { EXPECT_EQ(Video(t)->gop_size, 12); }),
      Sets("packetsize", "2324",
           [](auto& t, auto&) { EXPECT_EQ(t.OptionFormatContext()->packet_size, 2324u); }),
      Sets("sws_flags", "bilinear", [](auto& t, auto&) { EXPECT_EQ(t.ScalerFlags(), 2); }),
      Sets("crf", "23",
           [](auto& t, auto&) {
             EXPECT_EQ(DictValue(t.PrivateCodecOptions(AVMEDIA_TYPE_VIDEO), "crf"), "23");
           }),
      Sets("no_such_option", "1",
           [](auto& t, auto& log) {
             EXPECT_TRUE(t.SetOptionNames().empty());
             EXPECT_TRUE(log.Lines().empty());
           }),
  };
  for (auto& row : more) rows.push_back(std::move(row));
  return rows;
}

class OptionTableTest : public ::testing::TestWithParam<TOptionRow> {
 protected:
  void SetUp() override { LoadEngineLibraries(); }
};

TEST_P(OptionTableTest, SetsWhatItNamesOrFailsWithItsText) {
  const TOptionRow& row = GetParam();
  TCustomTranscoder transcoder;
  const TLogLevel level = GlobalLogger().LogLevel();
  for (const auto& [name, value] : row.Before) transcoder.ParseOption(name, value);
  TLogCapture log(llDebug);
  if (row.Check) {
    ASSERT_NO_THROW(transcoder.ParseOption(row.Name, row.Value));
    row.Check(transcoder, log);
  } else {
    try {
      transcoder.ParseOption(row.Name, row.Value);
      ADD_FAILURE() << "no failure";
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), row.Error);
    }
  }
  GlobalLogger().SetLogLevel(level);
}

std::string RowName(const ::testing::TestParamInfo<TOptionRow>& info) {
  std::string name = std::to_string(info.index) + "_" + info.param.Label;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name.substr(0, 60);
}

INSTANTIATE_TEST_SUITE_P(Vocabulary, OptionTableTest, ::testing::ValuesIn(Rows()), RowName);

// The kinds of failure the callers tell apart.
TEST(OptionFailureKinds, TagsAreAssertionsAndNumbersConversionErrors) {
  LoadEngineLibraries();
  TCustomTranscoder transcoder;
  EXPECT_THROW(transcoder.ParseOption("stag", "ab"), EAssertionFailed);
  EXPECT_THROW(transcoder.ParseOption("ac", "two"), std::invalid_argument);
  EXPECT_THROW(transcoder.ParseOption("padleft", "2"), FFmpegException);
}

// Values given empty leave the options of this list untouched.
TEST(OptionEmptyValues, LeaveTheOptionWithoutEffect) {
  LoadEngineLibraries();
  TCustomTranscoder transcoder;
  for (const char* name :
       {"f", "r", "s", "aspect", "b", "vb", "ab", "acodec", "vcodec", "scodec", "atag", "vtag",
        "stag", "vf", "vfilters", "apre", "vpre", "spre", "fpre"})
    EXPECT_NO_THROW(transcoder.ParseOption(name, "")) << name;
  EXPECT_TRUE(transcoder.SetOptionNames().empty());
  EXPECT_EQ(transcoder.Settings().FrameRate.den, 0);
  EXPECT_EQ(transcoder.Settings().FrameAspectRatio, 0);
}

// Generic options: trimmed, rejected values logged by the library and reported as False.
TEST(GenericOption, TrimsRejectsAndRecordsNames) {
  LoadEngineLibraries();
  TCustomTranscoder transcoder;
  TLogCapture log;
  EXPECT_TRUE(transcoder.SetGenericOption(" g ", " 30 "));
  EXPECT_EQ(transcoder.OptionCodecContext(AVMEDIA_TYPE_VIDEO)->gop_size, 30);
  EXPECT_FALSE(transcoder.SetGenericOption("g", "thirty"));
  EXPECT_TRUE(log.Contains("Invalid value \"thirty\" for option \"g\""));
  EXPECT_FALSE(transcoder.SetGenericOption("", "1"));
  EXPECT_FALSE(transcoder.SetGenericOption("g", " "));
  EXPECT_EQ(transcoder.SetOptionNames(), std::vector<std::string>{"g"});
  // "a" + a codec option reaches the audio set only.
  EXPECT_TRUE(transcoder.SetGenericOption("aflags", "+qscale"));
  EXPECT_TRUE(transcoder.OptionCodecContext(AVMEDIA_TYPE_AUDIO)->flags & AV_CODEC_FLAG_QSCALE);
  EXPECT_FALSE(transcoder.OptionCodecContext(AVMEDIA_TYPE_VIDEO)->flags & AV_CODEC_FLAG_QSCALE);
  // An encoder-private option whose value no encoder accepts.
  EXPECT_FALSE(transcoder.SetGenericOption("crf", "sharp"));
  EXPECT_EQ(transcoder.PrivateCodecOptions(AVMEDIA_TYPE_VIDEO), nullptr);
}

}  // namespace
