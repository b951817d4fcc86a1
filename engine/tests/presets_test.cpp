// The built-in presets: all forty apply to a libx264 stream, and the encoder takes every
// option they give.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "engine/presets.h"
#include "engine/tests/engine_test_support.h"
#include "engine/transcoder.h"
#include "tests/support/test_support.h"

namespace {

// A tiny clip shared by the test processes; x264's slowest presets stay quick on it.
const std::string& TinyClip() {
  static const std::string path = SharedMediaFile(
      "presets_tiny.mpg", "-f lavfi -i testsrc=d=0.4:s=64x48:r=25 -c:v mpeg2video {out}");
  return path;
}

class BuiltinPresetTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { LoadEngineLibraries(); }
};

TEST_P(BuiltinPresetTest, AppliesAndTheEncoderTakesEveryOption) {
  const TOptionsPreset& preset = kBuiltinPresets[GetParam()];
  TCustomTranscoder transcoder;
  ASSERT_TRUE(transcoder.OpenInputFile(TinyClip())) << transcoder.LastError();
  transcoder.ParseOption("vcodec", "libx264");
  ASSERT_NO_THROW(transcoder.ParseOption("vpre", preset.Name));
  const std::string output = TestFolder() + "/out.mp4";
  ASSERT_EQ(transcoder.OpenOutputFile(output, false), 1) << transcoder.LastError();
  TLogCapture log(llWarning);
  ASSERT_TRUE(transcoder.Start());
  transcoder.Run();
  EXPECT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
  EXPECT_FALSE(log.Contains("not used by encoder")) << ::testing::PrintToString(log.Lines());
  EXPECT_GT(std::filesystem::file_size(output), 0u);
}

INSTANTIATE_TEST_SUITE_P(All, BuiltinPresetTest, ::testing::Range(0, kBuiltinPresetCount),
                         [](const auto& info) {
                           std::string name = kBuiltinPresets[info.param].Name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(PresetLookup, ByCodecPrefixAnyCaseAndFromFiles) {
  LoadEngineLibraries();
  ASSERT_NE(FindBuiltinPreset("LIBX264-Fast"), nullptr);
  EXPECT_EQ(FindBuiltinPreset("fast"), nullptr);
  TCustomTranscoder transcoder;
  const std::string folder = TestFolder();
  {
    std::ofstream file(folder + "/mine.ffpreset");
    file << "  g=48\r\n\r\nvcodec=mpeg4\n  bf = 2  \n";
  }
  transcoder.ParseOption("fpre", folder + "/mine.ffpreset");
  EXPECT_EQ(transcoder.OptionCodecContext(AVMEDIA_TYPE_VIDEO)->gop_size, 48);
  EXPECT_EQ(transcoder.OptionCodecContext(AVMEDIA_TYPE_VIDEO)->max_b_frames, 2);
  EXPECT_EQ(transcoder.Settings().VideoCodecName, "mpeg4");
  {
    std::ofstream file(folder + "/bad.ffpreset");
    file << "g=48\nbf\n";
  }
  const std::string bad = folder + "/bad.ffpreset";
  try {
    transcoder.ParseOption("fpre", bad);
    ADD_FAILURE();
  } catch (const FFmpegException& e) {
    EXPECT_EQ(std::string(e.what()), bad + ": Invalid syntax: \"bf\"");
  }
  {
    std::ofstream file(folder + "/unknown.ffpreset");
    file << "no_such_option=1\n";
  }
  const std::string unknown = folder + "/unknown.ffpreset";
  try {
    transcoder.ParseOption("vpre", unknown);
    ADD_FAILURE();
  } catch (const FFmpegException& e) {
    EXPECT_EQ(std::string(e.what()),
              unknown +
                  ": Invalid option or argument: \"no_such_option=1\", parsed as "
                  "\"no_such_option\" = \"1\"");
  }
}

// Preset files are read whole: anything but a small regular file is refused without reading
// from it (a FIFO with no writer would block the run, a device never ends).
TEST(PresetLookup, FilesThatAreNoPresetFilesAreRefusedUnread) {
  LoadEngineLibraries();
  const std::string folder = TestFolder();
  const std::string fifo = folder + "/fifo.ffpreset";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string huge = folder + "/huge.ffpreset";
  {
    std::ofstream file(huge);
    file << std::string(2 << 20, '#');
  }
  const struct {
    std::string Path, Message;
  } cases[] = {
      {fifo, "Preset \"" + fifo + "\" cannot be read: not a regular file"},
      {"/dev/zero", "Preset \"/dev/zero\" cannot be read: not a regular file"},
      {folder, "Preset \"" + folder + "\" cannot be read: not a regular file"},
      {huge, "Preset \"" + huge + "\" cannot be read: larger than 1048576 bytes"},
      {folder + "/none.ffpreset", "Preset \"" + folder + "/none.ffpreset\" not found"},
  };
  for (const auto& c : cases) {
    TCustomTranscoder transcoder;
    try {
      transcoder.ParseOption("fpre", c.Path);
      ADD_FAILURE() << c.Path;
    } catch (const FFmpegException& e) {
      EXPECT_EQ(std::string(e.what()), c.Message);
    }
  }
}

}  // namespace
