#include "app/core/format_params.h"

#include <gtest/gtest.h>

#include "app/core/global_object.h"
#include "app/core/tests/config_env.h"

struct StoreCase {
  TParamList list;
  std::string shown;
  std::optional<std::string> stored;
};

void PrintTo(const StoreCase& c, std::ostream* os) {
  *os << ParamListInfo(c.list).CatalogueKey << " \"" << c.shown << '"';
}

class StoredValueTest : public ::testing::TestWithParam<StoreCase> {};

TEST_P(StoredValueTest, AsTheSettingsDialogStoresIt) {
  EXPECT_EQ(StoredListValue(GetParam().list, GetParam().shown), GetParam().stored);
}

const std::optional<std::string> kNothing;

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredValueTest,
    ::testing::Values(
        StoreCase{plVideoEncoder, "MPEG-4", "mpeg4"}, StoreCase{plVideoEncoder, "xvid", "libxvid"},
        StoreCase{plVideoEncoder, "H264", "libx264"}, StoreCase{plVideoEncoder, "flv", "flv"},
        StoreCase{plVideoEncoder, "swf", "swf"}, StoreCase{plVideoEncoder, "wmv2", "wmv2"},
        StoreCase{plVideoEncoder, "dvvideo", "dvvideo"},
        StoreCase{plVideoEncoder, "mpeg2video", "mpeg2video"},
        StoreCase{plVideoEncoder, "vp9", kNothing}, StoreCase{plVideoEncoder, "", kNothing},
        StoreCase{plAudioEncoder, "MP3", "libmp3lame"},
        // Encoders that Debian's FFmpeg really has.
        StoreCase{plAudioEncoder, "aac", "aac"}, StoreCase{plAudioEncoder, "ogg", "libvorbis"},
        StoreCase{plAudioEncoder, "flac", "flac"}, StoreCase{plAudioEncoder, "mp2", "mp2"},
        StoreCase{plAudioEncoder, "AC-3", "ac3"}, StoreCase{plAudioEncoder, "pcm_s16", "pcm_s16le"},
        StoreCase{plAudioEncoder, "pcm_mulaw", "pcm_mulaw"},
        StoreCase{plAudioEncoder, "pcm_mulaw ", "pcm_mulaw"},
        StoreCase{plAudioEncoder, "wma1", "wmav1"}, StoreCase{plAudioEncoder, "wma2", "wmav2"},
        StoreCase{plAudioEncoder, "opus", kNothing}, StoreCase{plChannel, "as source", "as source"},
        StoreCase{plChannel, "mono 1 channel", "1"}, StoreCase{plChannel, "stereo 2 channels", "2"},
        StoreCase{plChannel, "Stereo 2 channels", kNothing}, StoreCase{plVolume, "25%", "64"},
        StoreCase{plVolume, "100%", "256"}, StoreCase{plVolume, "250%", "640"},
        StoreCase{plVolume, "400%", "1024"}, StoreCase{plVolume, "90%", kNothing},
        StoreCase{plVolume, "abc", kNothing}, StoreCase{plVolume, "", kNothing},
        StoreCase{plVolume, "%", kNothing}, StoreCase{plVideoSize, "641x481", "641x481"},
        StoreCase{plSampleRate, "as source", "as source"}));

TEST(ZoomRows, StoredValues) {
  EXPECT_EQ(ZoomRow("full"), 0);
  EXPECT_EQ(ZoomRow("lbox"), 1);
  EXPECT_EQ(ZoomRow("pan"), 2);
  EXPECT_EQ(ZoomRow("center"), 3);
  EXPECT_EQ(ZoomRow("Full"), -1);
  EXPECT_EQ(ZoomRow(""), -1);
}

class FormatParamsTest : public ConfigEnvTest {
 protected:
  TFormatParams Read(int code) {
    return ReadFormatParams(TSettingsStore(SettingsPath()), TFormatCatalogue(CataloguePath()),
                            code);
  }
};

// A user section that the settings dialog never wrote takes the catalogue's default rows.
TEST_F(FormatParamsTest, FreshSettingsTakeTheCatalogueDefaults) {
  CreateGlobalObject();
  const TFormatParams swf = Read(1);
  EXPECT_EQ(swf.VideoEncoder, "swf");
  EXPECT_TRUE(swf.HasVideo());
  EXPECT_EQ(swf.VideoSize, "320x240");
  EXPECT_EQ(swf.VideoBitRate, "600");
  EXPECT_EQ(swf.FrameRate, "as source");
  EXPECT_EQ(swf.Zoom, "lbox");
  EXPECT_EQ(swf.AudioEncoder, "libmp3lame");
  EXPECT_EQ(swf.SampleRate, "44100");
  EXPECT_EQ(swf.AudioBitRate, "128");
  EXPECT_EQ(swf.Channel, "2");
  EXPECT_EQ(swf.Volume, "256");

  const TFormatParams wmv = Read(105);
  EXPECT_EQ(wmv.VideoEncoder, "wmv2");
  EXPECT_EQ(wmv.AudioEncoder, "wmav2");

  const TFormatParams ogg = Read(205);
  EXPECT_FALSE(ogg.HasVideo());
  EXPECT_EQ(ogg.AudioEncoder, "libvorbis");
  const TFormatParams aac = Read(201);
  EXPECT_EQ(aac.AudioEncoder, "aac");
  const TFormatParams wav = Read(204);
  EXPECT_EQ(wav.AudioEncoder, "pcm_s16le");
  EXPECT_EQ(wav.AudioBitRate, "");  // the list is empty, as the dialog would show it
}

TEST_F(FormatParamsTest, EveryVideoFormatKeepsItsVideoOnAFreshStart) {
  CreateGlobalObject();
  for (const auto& format : BuiltInFormats()) {
    const TFormatParams params = Read(format.Code);
    EXPECT_EQ(params.HasVideo(), FormatGroupOf(format.Code) < 2) << format.Name;
    EXPECT_FALSE(params.AudioEncoder.empty()) << format.Name;
    EXPECT_EQ(params.Volume, "256") << format.Name;
    EXPECT_EQ(params.Zoom, "lbox") << format.Name;
  }
}

TEST_F(FormatParamsTest, UserKeysWinKeyByKey) {
  CreateGlobalObject();
  TIniFile user(SettingsPath());
  user.WriteString("FORMATINFO102", "PARAVIDEOSIZE", "as source");
  user.WriteString("formatInfo102", "paraAudioEncoder", "libmp3lame");
  user.WriteString("formatInfo102", "parazoom", "pan");
  const TFormatParams params = Read(102);
  EXPECT_EQ(params.VideoSize, "as source");
  EXPECT_EQ(params.AudioEncoder, "libmp3lame");
  EXPECT_EQ(params.Zoom, "pan");
  EXPECT_EQ(params.VideoEncoder, "mpeg4");  // from the catalogue
  EXPECT_EQ(params.VideoBitRate, "1200");

  // A stored empty encoder is the user's choice: the format then has no video.
  user.WriteString("formatInfo102", "paraVideoEncoder", "");
  EXPECT_FALSE(Read(102).HasVideo());
}

TEST_F(FormatParamsTest, MissingVolumeMeansUnchanged) {
  // A catalogue without a volume list, and a user section without "paraVolume".
  WriteText(CataloguePath(), "[formatInfo0]\nFormat=flv\nFileExt=flv\nVideoEncoder=flv\n");
  TIniFile(SettingsPath()).WriteString("formatInfo0", "paraVideoSize", "320x240");
  EXPECT_EQ(Read(0).Volume, "256");
  // A row the dialog cannot translate stores nothing either.
  WriteText(CataloguePath(), "[formatInfo0]\nVolume=90%\n");
  EXPECT_EQ(Read(0).Volume, "256");
  // A stored volume is taken as written.
  TIniFile(SettingsPath()).WriteString("formatInfo0", "paraVolume", "512");
  EXPECT_EQ(Read(0).Volume, "512");
}

TEST_F(FormatParamsTest, CatalogueWithoutUsableRows) {
  WriteText(CataloguePath(),
            "[formatInfo7]\n"
            "VideoSize=320x240,640x480\niVideoSize=5\n"
            "VideoEncoder=vp9\n"
            "AudioEncoder=opus\n"
            "Channel=many\n");
  const TFormatParams params = Read(7);
  EXPECT_EQ(params.VideoSize, "");  // default row out of range: nothing shown
  EXPECT_EQ(params.VideoEncoder, "");
  EXPECT_EQ(params.AudioEncoder, "aac");  // no video: the audio needs an encoder
  EXPECT_EQ(params.Channel, "2");
  EXPECT_EQ(params.Volume, "256");
  EXPECT_EQ(params.Zoom, "lbox");

  WriteText(CataloguePath(), "[formatInfo7]\nVideoEncoder=h264\nAudioEncoder=opus\n");
  const TFormatParams video = Read(7);
  EXPECT_EQ(video.VideoEncoder, "libx264");
  EXPECT_EQ(video.AudioEncoder, "");  // a video format without a usable audio encoder
}

TEST_F(FormatParamsTest, RowsFromUserOrCatalogue) {
  CreateGlobalObject();
  TIniFile(SettingsPath()).WriteInteger("formatInfo1", "iVideoSize", -1);
  TIniFile(SettingsPath()).WriteInteger("formatInfo1", "IVOLUME", 5);
  const TFormatRows rows =
      ReadFormatRows(TSettingsStore(SettingsPath()), TFormatCatalogue(CataloguePath()), 1);
  EXPECT_EQ(rows.Row[plVideoSize], -1);
  EXPECT_EQ(rows.Row[plVolume], 5);
  EXPECT_EQ(rows.Row[plVideoBitRate], 4);
  EXPECT_EQ(rows.Row[plAudioBitRate], 6);
  EXPECT_EQ(rows.Row[plSampleRate], 2);
}
