// Output options of a job from a format's parameters and a title, the output file names,
// the audio encoder names and the progress texts.
#include <gtest/gtest.h>

#include <sys/stat.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdio>

#include <filesystem>
#include <fstream>

#include "app/core/conversion_run.h"
#include "app/core/output_options_builder.h"
#include "app/core/tests/config_env.h"

namespace {

namespace fs = std::filesystem;

// Answers questions as told and records what was shown.
class TRecordingDialogs : public TJobDialogs {
 public:
  void ShowWarning(const std::string& text, const std::string& caption) override {
    Warnings.push_back(caption + ": " + text);
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    Questions.push_back(caption + ": " + text);
    return Answer;
  }
  bool Answer = true;
  std::vector<std::string> Warnings, Questions;
};

// A title of that stored size; shown as 4:3 unless told (the plug-in's block says 0:0 then).
TDVDTitleInfo Title(int width, int height, int aspectX = 0, int aspectY = 0) {
  TDVDTitleInfo info{};
  info.Width = width;
  info.Height = height;
  info.DisplayAspectX = aspectX;
  info.DisplayAspectY = aspectY;
  info.Duration = 12;
  return info;
}

TFormatParams VideoParams(const std::string& size, const std::string& encoder = "mpeg4") {
  TFormatParams p;
  p.VideoSize = size;
  p.VideoBitRate = "600";
  p.FrameRate = "as source";
  p.Zoom = "lbox";
  p.VideoEncoder = encoder;
  p.SampleRate = "44100";
  p.AudioBitRate = "128";
  p.Channel = "2";
  p.Volume = "256";
  p.AudioEncoder = "libmp3lame";
  return p;
}

TOutputOptions Build(const TFormatParams& params, const std::string& format,
                     const TDVDTitleInfo& info, const std::string& zoom, TRecordingDialogs& dialogs,
                     const TlvFilesRecord* from = nullptr) {
  TlvFilesRecord record = from ? *from : TlvFilesRecord{};
  record.ZoomMode = zoom;
  TOutputOptions out;
  InitOutputOptions(out);
  if (record.CropTop > 0 || record.CropBottom > 0 || record.CropLeft > 0 || record.CropRight > 0) {
    out.CropTop = record.CropTop;
    out.CropBottom = record.CropBottom;
    out.CropLeft = record.CropLeft;
    out.CropRight = record.CropRight;
  }
  BuildOutputOptions(record, params, format, out, info, dialogs);
  return out;
}

// ---- letterbox -------------------------------------------------------------------------

struct TLetterboxRow {
  int sw, sh, W, H;
  const char* Filter;
};

class LetterboxTest : public ::testing::TestWithParam<TLetterboxRow> {};

TEST_P(LetterboxTest, FilterText) {
  const auto& row = GetParam();
  EXPECT_EQ(LetterboxFilter(row.sw, row.sh, row.W, row.H), row.Filter);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LetterboxTest,
    ::testing::Values(
        // NTSC into 320x240: bars top and bottom.
        TLetterboxRow{720, 480, 320, 240, "scale=320:212,pad=320:240:0:14"},
        // The same size: no bars at all.
        TLetterboxRow{720, 576, 720, 576, "scale=720:576,pad=720:576:0:0"},
        // PAL into 320x240: r = 2.25 < r2 = 2.4, so bars left and right.
        TLetterboxRow{720, 576, 320, 240, "scale=300:240,pad=320:240:10:0"},
        // Narrower and taller than the title: width kept, bars above and below.
        TLetterboxRow{720, 576, 640, 640, "scale=640:512,pad=640:640:0:64"},
        // Larger in both directions with the same shape: both pads (zero here).
        TLetterboxRow{360, 288, 720, 576, "scale=720:576,pad=720:576:0:0"}));

// ---- output options --------------------------------------------------------------------

TEST(BuildOutputOptions, LetterboxSetsTheFilterAndTheShape) {
  TRecordingDialogs dialogs;
  const auto out = Build(VideoParams("320x240"), "avi", Title(720, 480, 16, 9), "lbox", dialogs);
  // Shown as 16:9 the title is 320x180 in 320x240, with bars of 30 rows.
  EXPECT_EQ(out.VideoFilters, "scale=320:180,pad=320:240:0:30");
  EXPECT_EQ(out.FrameSize, "");
  EXPECT_EQ(out.AspectRatio, "320:240");
  EXPECT_EQ(out.FileFormat, "avi");
  EXPECT_EQ(out.VideoCodec, "mpeg4");
  EXPECT_EQ(out.VideoBitrate, 600000);
  EXPECT_EQ(out.FrameRate, "");
  EXPECT_EQ(out.AudioCodec, "libmp3lame");
  EXPECT_EQ(out.AudioBitrate, 128000);
  EXPECT_EQ(out.AudioSampleRate, 44100);
  EXPECT_EQ(out.AudioChannels, 2);
  EXPECT_EQ(out.AudioVolume, -1);  // 256 is unchanged
  EXPECT_EQ(out.CropTop, 0);
  EXPECT_EQ(out.CropRight, 0);
  EXPECT_TRUE(dialogs.Questions.empty());
}

TEST(BuildOutputOptions, FullStretchesToTheSize) {
  TRecordingDialogs dialogs;
  const auto out = Build(VideoParams("400x300"), "mp4", Title(720, 576), "full", dialogs);
  EXPECT_EQ(out.FrameSize, "400x300");
  EXPECT_EQ(out.AspectRatio, "400:300");
  EXPECT_EQ(out.VideoFilters, "");
  EXPECT_EQ(out.FileFormat, "");  // the extension chooses
}

// Every zoom mode keeps the picture's shape as shown (full stretches it to the chosen shape),
// and the output says which shape it is shown in.
struct TShapeRow {
  const char* Name;
  const char* Format;  // the catalogue's "Format"
  int sw, sh, AspectX, AspectY;
  const char* Size;
  const char* Zoom;
  int CropTop, CropBottom, CropLeft, CropRight;  // the record's
  const char* FrameSize;
  const char* AspectRatio;
  const char* Filter;
  int OutTop, OutBottom, OutLeft, OutRight;  // the options' crops
};

void PrintTo(const TShapeRow& row, std::ostream* os) {
  *os << row.Name;
}

class ShapeTest : public ::testing::TestWithParam<TShapeRow> {};

TEST_P(ShapeTest, SizeShapeFilterAndCrops) {
  const TShapeRow& row = GetParam();
  TRecordingDialogs dialogs;
  TlvFilesRecord record;
  record.CropTop = row.CropTop;
  record.CropBottom = row.CropBottom;
  record.CropLeft = row.CropLeft;
  record.CropRight = row.CropRight;
  const auto out =
      Build(VideoParams(row.Size), row.Format, Title(row.sw, row.sh, row.AspectX, row.AspectY),
            row.Zoom, dialogs, &record);
  EXPECT_EQ(out.FrameSize, row.FrameSize);
  EXPECT_EQ(out.AspectRatio, row.AspectRatio);
  EXPECT_EQ(out.VideoFilters, row.Filter);
  EXPECT_EQ(out.CropTop, row.OutTop);
  EXPECT_EQ(out.CropBottom, row.OutBottom);
  EXPECT_EQ(out.CropLeft, row.OutLeft);
  EXPECT_EQ(out.CropRight, row.OutRight);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, ShapeTest,
    ::testing::Values(
        // Letterbox: the title's shape as shown, not its stored size.
        TShapeRow{"Ntsc169In320x240", "swf", 720, 480, 16, 9, "320x240", "lbox", 0, 0, 0, 0, "",
                  "320:240", "scale=320:180,pad=320:240:0:30", 0, 0, 0, 0},
        TShapeRow{"Ntsc43In640x480", "swf", 720, 480, 4, 3, "640x480", "lbox", 0, 0, 0, 0, "",
                  "640:480", "scale=640:480,pad=640:480:0:0", 0, 0, 0, 0},
        TShapeRow{"Pal43In720x576", "mp4", 720, 576, 4, 3, "720x576", "lbox", 0, 0, 0, 0, "",
                  "720:576", "scale=720:540,pad=720:576:0:18", 0, 0, 0, 0},
        TShapeRow{"Pal169In720x576", "mp4", 720, 576, 16, 9, "720x576", "lbox", 0, 0, 0, 0, "",
                  "720:576", "scale=720:404,pad=720:576:0:86", 0, 0, 0, 0},
        TShapeRow{"Ntsc43In640x360", "mp4", 720, 480, 4, 3, "640x360", "lbox", 0, 0, 0, 0, "",
                  "640:360", "scale=480:360,pad=640:360:80:0", 0, 0, 0, 0},
        // A crop changes the shape of what is letterboxed: 720x380 of a 16:9 NTSC title is
        // 853x380 as shown, 320x142.5 in 320x240 (the pads are kept to even pairs).
        TShapeRow{"CroppedNtsc169In320x240", "swf", 720, 480, 16, 9, "320x240", "lbox", 50, 50, 0,
                  0, "", "320:240", "scale=320:144,pad=320:240:0:48", 50, 50, 0, 0},
        // "as source": the title's frame and shape where the container keeps the shape...
        TShapeRow{"AsSourceMp4", "mp4", 720, 480, 16, 9, "as source", "lbox", 0, 0, 0, 0, "",
                  "16:9", "scale=720:480,pad=720:480:0:0", 0, 0, 0, 0},
        // ... and square pixels at the stored height where it does not.
        TShapeRow{"AsSourceSwf169", "swf", 720, 480, 16, 9, "as source", "lbox", 0, 0, 0, 0, "",
                  "854:480", "scale=854:480,pad=854:480:0:0", 0, 0, 0, 0},
        TShapeRow{"AsSourceFlv43", "flv", 720, 480, 4, 3, "as source", "lbox", 0, 0, 0, 0, "",
                  "640:480", "scale=640:480,pad=640:480:0:0", 0, 0, 0, 0},
        TShapeRow{"AsSourceSwfPal43", "swf", 720, 576, 4, 3, "as source", "lbox", 0, 0, 0, 0, "",
                  "768:576", "scale=768:576,pad=768:576:0:0", 0, 0, 0, 0},
        // DV frames are 4:3 or 16:9: the title's.
        TShapeRow{"PalDv169", "pal-dv", 720, 576, 16, 9, "720x576", "lbox", 0, 0, 0, 0, "", "16:9",
                  "scale=720:576,pad=720:576:0:0", 0, 0, 0, 0},
        // A target preset's shape holds: a 4:3 title in an NTSC DVD frame shown as 16:9.
        TShapeRow{"NtscDvdPreset", "ntsc-dvd", 720, 480, 4, 3, "720x480", "lbox", 0, 0, 0, 0, "",
                  "16:9", "scale=540:480,pad=720:480:90:0", 0, 0, 0, 0},
        // Pan and scan: crop to the output's shape as shown; a 16:9 NTSC title keeps 540 of
        // its 720 columns for 4:3.
        TShapeRow{"PanNtsc169To4x3", "swf", 720, 480, 16, 9, "320x240", "pan", 0, 0, 0, 0,
                  "320x240", "320:240", "", 0, 0, 90, 90},
        TShapeRow{"PanPal43To4x3", "swf", 720, 576, 4, 3, "320x240", "pan", 0, 0, 0, 0, "320x240",
                  "320:240", "", 0, 0, 0, 0},
        // 720x576 is shown as 5:4: 675 of a 4:3 PAL title's 720 columns.
        TShapeRow{"PanPal43To720x576", "mp4", 720, 576, 4, 3, "720x576", "pan", 0, 0, 0, 0,
                  "720x576", "720:576", "", 0, 0, 22, 22},
        TShapeRow{"PanAsSourceMp4", "mp4", 720, 480, 16, 9, "as source", "pan", 0, 0, 0, 0,
                  "720x480", "4:3", "", 0, 0, 90, 90},
        TShapeRow{"PanAsSourceSwf", "swf", 720, 480, 16, 9, "as source", "pan", 0, 0, 0, 0,
                  "640x480", "640:480", "", 0, 0, 90, 90},
        // The record's crops count: 710x420 of a 4:3 NTSC title is wider than 4:3 as shown;
        // 630 columns stay, (40 + 10) / 2 * 2 go at each side.
        TShapeRow{"PanWithRecordCrops", "mp4", 720, 480, 4, 3, "320x240", "pan", 60, 0, 10, 0,
                  "320x240", "320:240", "", 60, 0, 50, 50},
        // A 4:3 PAL title pans to 16:9 by losing rows: its 768 columns as shown take 432.
        TShapeRow{"PanPal43To16x9", "mp4", 720, 576, 4, 3, "640x360", "pan", 0, 0, 0, 0, "640x360",
                  "640:360", "", 72, 72, 0, 0},
        // Full stretches to the chosen shape; "as source" is the title's shape.
        TShapeRow{"FullSwf", "swf", 720, 480, 16, 9, "320x240", "full", 0, 0, 0, 0, "320x240",
                  "320:240", "", 0, 0, 0, 0},
        TShapeRow{"FullAsSourceMp4", "mp4", 720, 480, 16, 9, "as source", "full", 0, 0, 0, 0,
                  "720x480", "16:9", "", 0, 0, 0, 0},
        // Center keeps the stored size and says its shape, or goes square where it must.
        TShapeRow{"CenterMp4", "mp4", 720, 480, 16, 9, "320x240", "center", 0, 0, 0, 0, "", "16:9",
                  "", 0, 0, 0, 0},
        TShapeRow{"CenterSwf", "swf", 720, 480, 16, 9, "320x240", "center", 0, 0, 0, 0, "854x480",
                  "854:480", "", 0, 0, 0, 0},
        TShapeRow{"CenterCroppedMp4", "mp4", 720, 576, 4, 3, "320x240", "center", 16, 16, 8, 8, "",
                  "352:255", "", 16, 16, 8, 8},
        TShapeRow{"CenterCroppedSwf", "swf", 720, 576, 4, 3, "320x240", "center", 16, 16, 8, 8,
                  "750x544", "750:544", "", 16, 16, 8, 8}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(BuildOutputOptions, RecordCropsStay) {
  TRecordingDialogs dialogs;
  TlvFilesRecord record;
  record.CropTop = 8;
  record.CropBottom = 16;
  record.CropLeft = 0;
  record.CropRight = 4;
  const auto out = Build(VideoParams("320x240"), "mp4", Title(720, 576), "lbox", dialogs, &record);
  EXPECT_EQ(out.CropTop, 8);
  EXPECT_EQ(out.CropBottom, 16);
  EXPECT_EQ(out.CropLeft, 0);
  EXPECT_EQ(out.CropRight, 4);
}

struct TH263Row {
  const char* Size;
  const char* FrameSize;
  bool EncoderTakes;  // FFmpeg's H.263 encoder opens at FrameSize (a width up to 176 stays)
};
class H263SizeTest : public ::testing::TestWithParam<TH263Row> {};

// Whether FFmpeg's H.263 encoder opens at that size.
bool H263Takes(const std::string& frameSize) {
  int width = 0, height = 0;
  if (std::sscanf(frameSize.c_str(), "%dx%d", &width, &height) != 2) return false;
  const AVCodec* codec = avcodec_find_encoder_by_name("h263");
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->width = width;
  context->height = height;
  context->time_base = AVRational{1, 25};
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  av_log_set_level(AV_LOG_QUIET);
  const bool opened = avcodec_open2(context, codec, nullptr) >= 0;
  av_log_set_level(AV_LOG_INFO);
  avcodec_free_context(&context);
  return opened;
}

TEST_P(H263SizeTest, SnapsToTheSizesTheEncoderTakes) {
  TRecordingDialogs dialogs;
  const auto out =
      Build(VideoParams(GetParam().Size, "h263"), "3gp", Title(720, 576), "full", dialogs);
  EXPECT_EQ(out.FrameSize, GetParam().FrameSize);
  EXPECT_EQ(out.FileFormat, "3gp");
  EXPECT_EQ(H263Takes(out.FrameSize), GetParam().EncoderTakes) << out.FrameSize;
}

// The table's bounds: 176 (left), 177 and 352 (to 352x288, NTSC's 352x240 among them),
// 353 and above (to 704x576), and the sizes of the list, which stay.
INSTANTIATE_TEST_SUITE_P(
    Sizes, H263SizeTest,
    ::testing::Values(TH263Row{"400x300", "704x576", true}, TH263Row{"352x288", "352x288", true},
                      TH263Row{"320x240", "352x288", true}, TH263Row{"800x600", "704x576", true},
                      TH263Row{"176x144", "176x144", true}, TH263Row{"160x100", "160x100", false},
                      TH263Row{"176x120", "176x120", false}, TH263Row{"177x144", "352x288", true},
                      TH263Row{"352x240", "352x288", true}, TH263Row{"352x576", "352x288", true},
                      TH263Row{"353x288", "704x576", true}, TH263Row{"704x480", "704x576", true},
                      TH263Row{"704x576", "704x576", true}, TH263Row{"705x576", "704x576", true},
                      TH263Row{"128x96", "128x96", true}, TH263Row{"160x120", "160x120", false}));

TEST(BuildOutputOptions, BrokenSizeAsksFor320x240) {
  TRecordingDialogs dialogs;
  auto out = Build(VideoParams("640x"), "mp4", Title(720, 576), "full", dialogs);
  ASSERT_EQ(dialogs.Questions.size(), 1u);
  EXPECT_EQ(dialogs.Questions[0], "Warning: Error output Video Size.Use the default size 320x240?");
  EXPECT_EQ(out.FrameSize, "320x240");
  dialogs.Answer = false;
  out = Build(VideoParams("640x"), "mp4", Title(720, 576), "full", dialogs);
  EXPECT_EQ(out.FrameSize, "720x576");
  out = Build(VideoParams("as source"), "mp4", Title(720, 480), "full", dialogs);
  EXPECT_EQ(out.FrameSize, "720x480");
  EXPECT_EQ(dialogs.Questions.size(), 2u);
}

TEST(BuildOutputOptions, PartsThatAreNoNumbersTakeTheTitles) {
  TRecordingDialogs dialogs;
  const auto out = Build(VideoParams("abcx300"), "mp4", Title(720, 576), "full", dialogs);
  EXPECT_EQ(out.FrameSize, "720x300");
}

TEST(BuildOutputOptions, AudioOnlyFormat) {
  TRecordingDialogs dialogs;
  TFormatParams p;
  p.VideoEncoder = "  ";
  p.AudioEncoder = "libfaac";
  p.AudioBitRate = "128";
  p.Channel = "2";
  p.SampleRate = "44100";
  p.Volume = "256";
  const auto out = Build(p, "adts", Title(720, 576), "lbox", dialogs);
  EXPECT_EQ(out.AudioCodec, "aac");  // Debian's FFmpeg has no libfaac
  EXPECT_EQ(out.AudioBitrate, 128000);
  EXPECT_EQ(out.AudioChannels, 2);
  EXPECT_EQ(out.AudioSampleRate, 44100);
  EXPECT_TRUE(out.DisableVideo);
  EXPECT_TRUE(out.DisableSubtitle);
  EXPECT_EQ(out.VideoFilters, "");
  EXPECT_EQ(out.FileFormat, "");
}

TEST(BuildOutputOptions, AudioOnlyRejectsZeroChannelsAndRates) {
  TRecordingDialogs dialogs;
  TFormatParams p;
  p.AudioEncoder = "libmp3lame";
  p.AudioBitRate = "as source";
  p.Channel = "0";
  p.SampleRate = "as source";
  p.Volume = "128";
  const auto out = Build(p, "mp3", Title(720, 576), "lbox", dialogs);
  EXPECT_EQ(out.AudioChannels, -1);
  EXPECT_EQ(out.AudioSampleRate, -1);
  EXPECT_EQ(out.AudioBitrate, -1);
  EXPECT_EQ(out.AudioVolume, 128);
}

TEST(BuildOutputOptions, FractionalAudioBitRateIsCut) {
  TRecordingDialogs dialogs;
  TFormatParams p = VideoParams("320x240");
  p.AudioBitRate = "96.5";
  EXPECT_EQ(Build(p, "mp4", Title(720, 576), "lbox", dialogs).AudioBitrate, 96500);
  p.AudioBitRate = "0.0001";
  EXPECT_EQ(Build(p, "mp4", Title(720, 576), "lbox", dialogs).AudioBitrate, -1);
}

TEST(BuildOutputOptions, VolumeThatIsNoIntegerStopsTheStart) {
  TRecordingDialogs dialogs;
  TFormatParams p = VideoParams("320x240");
  p.Volume = "loud";
  EXPECT_THROW(Build(p, "mp4", Title(720, 576), "lbox", dialogs), std::invalid_argument);
}

TEST(BuildOutputOptions, EncoderNamesDebiansFFmpegHas) {
  EXPECT_EQ(ConversionAudioEncoder("libfaac"), "aac");
  EXPECT_EQ(ConversionAudioEncoder("aac"), "aac");
  EXPECT_EQ(ConversionAudioEncoder("ogg"), "libvorbis");
  EXPECT_EQ(ConversionAudioEncoder("vorbis"), "libvorbis");
  EXPECT_EQ(ConversionAudioEncoder("libvorbis"), "libvorbis");
  EXPECT_EQ(ConversionAudioEncoder("libamr_nb"), "libopencore_amrnb");
  EXPECT_EQ(ConversionAudioEncoder("libmp3lame"), "libmp3lame");
  EXPECT_EQ(ConversionAudioEncoder(""), "");
}

TEST(BuildOutputOptions, NoAudioEncoderDisablesAudio) {
  TRecordingDialogs dialogs;
  TFormatParams p = VideoParams("320x240");
  p.AudioEncoder = "";
  EXPECT_TRUE(Build(p, "mp4", Title(720, 576), "lbox", dialogs).DisableAudio);
}

struct TTargetRow {
  const char* Format;
  const char* Size;
  int32_t Target, Norm;
  const char* Aspect;
};
class TargetPresetTest : public ::testing::TestWithParam<TTargetRow> {};

TEST_P(TargetPresetTest, TargetNormAndAspect) {
  TRecordingDialogs dialogs;
  const auto& row = GetParam();
  const auto out =
      Build(VideoParams(row.Size, "mpeg1video"), row.Format, Title(720, 576), "center", dialogs);
  EXPECT_EQ(out.Target, row.Target);
  EXPECT_EQ(out.TargetNorm, row.Norm);
  EXPECT_EQ(out.AspectRatio, row.Aspect);
}

INSTANTIATE_TEST_SUITE_P(Formats, TargetPresetTest,
                         ::testing::Values(TTargetRow{"ntsc-dvd", "720x480", 3, 2, "16:9"},
                                           TTargetRow{"NTSC-DVD", "352x240", 3, 2, "4:3"},
                                           TTargetRow{"pal-dvd", "720x576", 3, 1, "16:9"},
                                           TTargetRow{"pal-dvd", "720x480", 3, 1, "4:3"},
                                           TTargetRow{"ntsc-vcd", "720x480", 1, 2, "4:3"},
                                           TTargetRow{"pal-vcd", "352x288", 1, 1, "4:3"},
                                           TTargetRow{"ntsc-svcd", "480x480", 2, 2, "4:3"},
                                           TTargetRow{"pal-svcd", "480x576", 2, 1, "4:3"},
                                           TTargetRow{"mpeg", "352x288", 0, 0, "4:3"}));

TEST(BuildOutputOptions, Mpeg2AppliesTheDvdTarget) {
  TRecordingDialogs dialogs;
  const auto out =
      Build(VideoParams("720x576", "mpeg2video"), "mpeg", Title(720, 576), "lbox", dialogs);
  EXPECT_EQ(out.Target, 3);
  EXPECT_EQ(out.VideoCodec, "mpeg2video");
}

TEST(BuildOutputOptions, X264PresetByFormat) {
  TRecordingDialogs dialogs;
  const auto preset = [&](const char* format) {
    return Build(VideoParams("320x240", "libx264"), format, Title(720, 576), "lbox", dialogs)
        .VideoPreset;
  };
  EXPECT_EQ(preset("mp4"), "libx264-mp4");
  EXPECT_EQ(preset("PSP"), "libx264-psp");
  EXPECT_EQ(preset("ipod"), "libx264-ipod");
  EXPECT_EQ(preset("ps3"), "libx264-ps3");
}

TEST(BuildOutputOptions, ContainerDefaultCodecForOtherEncoders) {
  TRecordingDialogs dialogs;
  const auto out = Build(VideoParams("320x240", "swf"), "swf", Title(720, 576), "lbox", dialogs);
  EXPECT_EQ(out.VideoCodec, "");
  EXPECT_EQ(out.FileFormat, "");
  const auto flv = Build(VideoParams("320x240", "flv"), "flv", Title(720, 576), "lbox", dialogs);
  EXPECT_EQ(flv.VideoCodec, "");
  EXPECT_EQ(flv.FileFormat, "flv");
}

TEST(BuildOutputOptions, DVFormatsApplyTheDVTarget) {
  TRecordingDialogs dialogs;
  const auto ntsc =
      Build(VideoParams("720x480", "dvvideo"), "ntsc-dv", Title(720, 576), "lbox", dialogs);
  EXPECT_EQ(ntsc.OptionLines, "target=ntsc-dv");
  EXPECT_EQ(ntsc.VideoCodec, "dvvideo");
  const auto pal =
      Build(VideoParams("720x576", "dvvideo"), "pal-dv", Title(720, 576), "lbox", dialogs);
  EXPECT_EQ(pal.OptionLines, "target=pal-dv");
}

// Parameters that cannot make a working job are found before the run, with the key and why.
struct TUnworkableRow {
  const char* Key;
  const char* Value;
  const char* Format;
  const char* Problem;  // empty: workable
};

class UnworkableParamTest : public ::testing::TestWithParam<TUnworkableRow> {};

TEST_P(UnworkableParamTest, FoundWithTheKey) {
  const auto& row = GetParam();
  TFormatParams p = VideoParams("320x240", "flv");
  if (std::string(row.Format) == "ntsc-dv") {
    p = VideoParams("720x480", "dvvideo");
    p.FrameRate = "29.97";
    p.AudioEncoder = "pcm_s16le";
    p.SampleRate = "48000";
  }
  for (int list = 0; list < plCount; ++list)
    if (ParamListInfo(TParamList(list)).ParaKey == std::string(row.Key))
      p.Value(TParamList(list)) = row.Value;
  const auto problem = FindUnworkableParam(p, row.Format);
  if (!*row.Problem) {
    EXPECT_FALSE(problem.has_value()) << problem->Key << ": " << problem->Text;
    return;
  }
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->Key, row.Key);
  EXPECT_EQ(problem->Text, row.Problem);
}

INSTANTIATE_TEST_SUITE_P(
    Values, UnworkableParamTest,
    ::testing::Values(
        TUnworkableRow{"paraSampleRate", "44100", "flv", ""},
        TUnworkableRow{"paraSampleRate", "as source", "flv", ""},
        TUnworkableRow{"paraSampleRate", "0", "flv",
                       "\"0\" is not a sample rate (a whole number of Hz)"},
        TUnworkableRow{"paraSampleRate", "abc", "flv",
                       "\"abc\" is not a sample rate (a whole number of Hz)"},
        TUnworkableRow{"paraSampleRate", "12345", "flv",
                       "12345 Hz is not a sample rate libmp3lame takes (44100, 48000, 32000, "
                       "22050, 24000, 16000, 11025, 12000, 8000)"},
        TUnworkableRow{"paraFrameRate", "29.97", "flv", ""},
        TUnworkableRow{"paraFrameRate", "100000", "flv",
                       "\"100000\" is not a frame rate (1 to 240 pictures a second)"},
        TUnworkableRow{"paraFrameRate", "0.5", "flv",
                       "\"0.5\" is not a frame rate (1 to 240 pictures a second)"},
        TUnworkableRow{"paraVideoSize", "1x1", "flv",
                       "\"1x1\" is not a picture size (16x16 to 8192x8192)"},
        TUnworkableRow{"paraVideoSize", "321x240", "flv",
                       "\"321x240\" is an odd size; the encoders take even widths and heights"},
        TUnworkableRow{"paraVideoSize", "640x", "flv", ""},  // asked about at the start
        TUnworkableRow{"paraChannel", "0", "flv", "\"0\" is not a number of channels (1..8)"},
        TUnworkableRow{"paraAudioBitRate", "-5", "flv",
                       "\"-5\" is not a bit rate (kbit/s, 1..10000)"},
        TUnworkableRow{"paraVideoBitRate", "lots", "flv",
                       "\"lots\" is not a bit rate (kbit/s, a whole number)"},
        TUnworkableRow{"paraVolume", "loud", "flv",
                       "\"loud\" is not a volume (a whole number, 256 = unchanged)"},
        TUnworkableRow{"paraAudioEncoder", "libfaac", "flv", ""},  // converts with aac
        TUnworkableRow{"paraAudioEncoder", "nosuch", "flv",
                       "\"nosuch\" is not an audio encoder this program has"},
        TUnworkableRow{"paraVideoSize", "720x480", "ntsc-dv", ""},
        TUnworkableRow{"paraVideoSize", "320x240", "ntsc-dv",
                       "\"320x240\" does not fit DV; its pictures are 720x480"},
        TUnworkableRow{"paraFrameRate", "25", "ntsc-dv",
                       "\"25\" does not fit DV; it runs at 29.97 pictures a second"}),
    [](const auto& info) {
      std::string name =
          std::string(info.param.Key) + "_" + info.param.Format + "_" + std::to_string(info.index);
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

TEST(BuildOutputOptions, FrameRateAsWritten) {
  TRecordingDialogs dialogs;
  TFormatParams p = VideoParams("320x240");
  p.FrameRate = "29.97";
  EXPECT_EQ(Build(p, "mp4", Title(720, 576), "lbox", dialogs).FrameRate, "29.97");
  p.FrameRate = "0";
  EXPECT_EQ(Build(p, "mp4", Title(720, 576), "lbox", dialogs).FrameRate, "");
  p.FrameRate = "fast";
  EXPECT_EQ(Build(p, "mp4", Title(720, 576), "lbox", dialogs).FrameRate, "");
}

// ---- output names ----------------------------------------------------------------------

class OutputNameTest : public ConfigEnvTest {};

TEST_F(OutputNameTest, NewThenNumbered) {
  const auto global = CreateGlobalObject();
  const std::string out = Folder + "/out";
  global->Settings().SetOutPutDir(out);
  TRecordingDialogs dialogs;
  const std::string first = MakeOutputFileName(*global, "DVD Title 1", ".swf", dialogs);
  EXPECT_EQ(first, out + "/DVD Title 1_(new).swf");
  EXPECT_TRUE(fs::is_directory(out));  // created on the way
  fs::remove(first);                   // a name given back is free again
  EXPECT_EQ(MakeOutputFileName(*global, "DVD Title 1", ".swf", dialogs), first);
  std::ofstream(first) << "x";
  const std::string second = MakeOutputFileName(*global, "DVD Title 1", ".swf", dialogs);
  EXPECT_EQ(second, out + "/DVD Title 1_(new_1).swf");
  std::ofstream(second) << "x";
  EXPECT_EQ(MakeOutputFileName(*global, "DVD Title 1", ".swf", dialogs),
            out + "/DVD Title 1_(new_2).swf");
  EXPECT_EQ(MakeOutputFileName(*global, "DVD Title 3", ".swf", dialogs),
            out + "/DVD Title 3_(new).swf");
  // A caption with a folder and an extension keeps only its name.
  EXPECT_EQ(MakeOutputFileName(*global, "/media/clips/take.vob", ".mp4", dialogs),
            out + "/take_(new).mp4");
  EXPECT_TRUE(dialogs.Warnings.empty());
}

TEST_F(OutputNameTest, ChosenNameIsClaimedAndLinksAreTaken) {
  const auto global = CreateGlobalObject();
  const std::string out = Folder + "/out";
  fs::create_directories(out);
  // A link to nothing at the first name: following it would write outside the folder.
  fs::create_symlink(Folder + "/elsewhere.swf", out + "/DVD Title 1_(new).swf");
  TRecordingDialogs dialogs;
  const std::string first = MakeOutputFileName(*global, "DVD Title 1", ".swf", dialogs, out);
  EXPECT_EQ(first, out + "/DVD Title 1_(new_1).swf");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(first)));
  EXPECT_EQ(fs::file_size(first), 0u);
  EXPECT_FALSE(fs::exists(Folder + "/elsewhere.swf"));
  EXPECT_TRUE(fs::is_symlink(out + "/DVD Title 1_(new).swf"));
  // The claim alone makes the next call take the next name.
  EXPECT_EQ(MakeOutputFileName(*global, "DVD Title 1", ".swf", dialogs, out),
            out + "/DVD Title 1_(new_2).swf");
}

TEST_F(OutputNameTest, FolderThatCannotBeCreatedFallsBack) {
  const auto global = CreateGlobalObject();
  // A folder below a plain file can never be created, not even by root.
  std::ofstream(Folder + "/plain") << "x";
  const std::string bad = Folder + "/plain/out";
  global->Settings().SetOutPutDir(bad);
  TRecordingDialogs dialogs;
  const std::string name = MakeOutputFileName(*global, "DVD Title 1", ".swf", dialogs);
  EXPECT_EQ(name, DefaultVideoFolder() + "/DVD Title 1_(new).swf");
  ASSERT_EQ(dialogs.Warnings.size(), 1u);
  EXPECT_EQ(dialogs.Warnings[0], "Warning: Cannot create output directory:" + bad +
                                     ".It will create default directory " + DefaultVideoFolder() +
                                     "!");
  EXPECT_TRUE(fs::is_directory(DefaultVideoFolder()));
  EXPECT_EQ(global->Settings().OutPutDir(), DefaultVideoFolder());
}

TEST_F(OutputNameTest, PerRunFolderIsNotWrittenBack) {
  const auto global = CreateGlobalObject();
  global->Settings().SetOutPutDir(Folder + "/stored");
  std::ofstream(Folder + "/plain") << "x";
  TRecordingDialogs dialogs;
  EXPECT_EQ(MakeOutputFileName(*global, "DVD Title 2", ".mp3", dialogs, Folder + "/run"),
            Folder + "/run/DVD Title 2_(new).mp3");
  EXPECT_EQ(MakeOutputFileName(*global, "DVD Title 2", ".mp3", dialogs, Folder + "/plain/x"),
            DefaultVideoFolder() + "/DVD Title 2_(new).mp3");
  EXPECT_EQ(global->Settings().OutPutDir(), Folder + "/stored");
}

// ---- progress texts --------------------------------------------------------------------

TEST(DescribeProgress, LabelsAndPercent) {
  TProgressInfo info;
  info.JobIndex = 1;
  info.OutputTime = 4'500'000;
  info.ExpectedDuration = 12'000'000;
  info.OutputSize = 123'456;
  const auto p = TConversionRun::DescribeProgress(info, 3, 2, "DVD Title 4");
  EXPECT_EQ(p.Percent, 37);
  EXPECT_EQ(p.CellText, "37%");
  EXPECT_EQ(p.CurrentTimeText, "4 Second");
  EXPECT_EQ(p.LengthText, "12 Second");
  EXPECT_EQ(p.FileSizeText, "123 kb");
  EXPECT_EQ(p.ProgressText, "[2/2]");
  EXPECT_EQ(p.FileText, "DVD Title 4");
  EXPECT_EQ(p.Row, 3);
}

TEST(DescribeProgress, UnknownLengthDividesByNothing) {
  for (int64_t expected : {int64_t(0), int64_t(-1)}) {
    TProgressInfo info;
    info.JobIndex = 0;
    info.OutputTime = 2'000'000;
    info.ExpectedDuration = expected;
    const auto p = TConversionRun::DescribeProgress(info, 0, 1, "DVD Title 1");
    EXPECT_EQ(p.Percent, -1);
    EXPECT_EQ(p.CellText, "");
    EXPECT_EQ(p.LengthText, "unknown");
    EXPECT_EQ(p.CurrentTimeText, "2 Second");
  }
}

TEST(DescribeProgress, PastTheEndShowsAHundred) {
  TProgressInfo info;
  info.JobIndex = 0;
  info.OutputTime = 12'040'000;
  info.ExpectedDuration = 12'000'000;
  EXPECT_EQ(TConversionRun::DescribeProgress(info, 0, 1, "x").Percent, 100);
}

TEST(DescribeProgress, LongCaptionsAreShortened) {
  TProgressInfo info;
  info.ExpectedDuration = 1;
  const std::string fifty(50, 'a');
  EXPECT_EQ(TConversionRun::DescribeProgress(info, 0, 1, fifty).FileText, fifty);
  const std::string longer = std::string(60, 'b') + ".vob";
  EXPECT_EQ(TConversionRun::DescribeProgress(info, 0, 1, longer).FileText,
            std::string(44, 'b') + "...vob");
}

}  // namespace
