// dvdswf-cli as a user runs it: on fixture disc A (and B), with a fresh settings folder per
// test, checking the files it writes with Debian's ffmpeg and ffprobe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/tests/cli_test_support.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// ---- the 19 formats ----------------------------------------------------------------------

struct TFormatRow {
  int Code;
  const char* Container;  // ffprobe's format_name
  const char* Video;      // empty: no video stream
  const char* Audio;
};

void PrintTo(const TFormatRow& row, std::ostream* os) {
  *os << row.Code;
}

class CliFormatTest : public CliTest, public ::testing::WithParamInterface<TFormatRow> {};

TEST_P(CliFormatTest, WholeTitleDecodesWithTheFormatsStreams) {
  const TFormatRow& row = GetParam();
  const std::string file = Convert("--title 1 --format " + std::to_string(row.Code));
  if (file.empty()) return;
  EXPECT_TRUE(DecodesCleanly(file));
  const auto probe = Probe(file);
  ASSERT_TRUE(probe.contains("format")) << file;
  EXPECT_EQ(probe["format"].value("format_name", ""), row.Container);
  const auto* video = StreamOf(probe, "video");
  if (*row.Video) {
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->value("codec_name", ""), row.Video);
  } else {
    EXPECT_EQ(video, nullptr);
  }
  const auto* audio = StreamOf(probe, "audio");
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->value("codec_name", ""), row.Audio);
  EXPECT_NEAR(DecodedDuration(file), 12.0, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CliFormatTest,
    ::testing::Values(
        TFormatRow{0, "flv", "flv1", "mp3"}, TFormatRow{1, "swf", "flv1", "mp3"},
        TFormatRow{100, "mpeg", "mpeg1video", "mp2"}, TFormatRow{101, "mpeg", "mpeg2video", "mp2"},
        TFormatRow{102, "mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac"},
        TFormatRow{103, "mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac"},
        TFormatRow{104, "avi", "mpeg4", "mp3"}, TFormatRow{105, "asf", "wmv2", "wmav2"},
        TFormatRow{106, "avi", "mpeg4", "mp3"}, TFormatRow{107, "avi", "mpeg4", "mp3"},
        TFormatRow{108, "dv", "dvvideo", "pcm_s16le"},
        TFormatRow{109, "dv", "dvvideo", "pcm_s16le"}, TFormatRow{200, "mp3", "", "mp3"},
        TFormatRow{201, "aac", "", "aac"}, TFormatRow{202, "mov,mp4,m4a,3gp,3g2,mj2", "", "aac"},
        TFormatRow{203, "asf", "", "wmav2"}, TFormatRow{204, "wav", "", "pcm_s16le"},
        TFormatRow{205, "ogg", "", "vorbis"}, TFormatRow{206, "ac3", "", "ac3"}),
    [](const auto& info) { return std::to_string(info.param.Code); });

// ---- the stored format, names, folders ---------------------------------------------------

TEST_F(CliTest, FreshSettingsConvertToFlashSwfAndNumberTheNextRun) {
  const std::string first = Convert("--title 1 --length 2");
  EXPECT_EQ(first, OutDir + "/DVD Title 1_(new).swf");
  EXPECT_EQ(FrameSize(first), std::make_pair(320, 240));
  const std::string second = Convert("--title 1 --length 2");
  EXPECT_EQ(second, OutDir + "/DVD Title 1_(new_1).swf");
}

TEST_F(CliTest, StoredOutputFolderIsUsedWithoutOut) {
  fs::create_directories(Config);
  fs::create_directories(Folder + "/stored");
  std::ofstream(Config + "/korveldvdtoswfconverter.ini")
      << "[settings]\nOutPutDir=" << Folder << "/stored\nFormatCode=200\n";
  const TRunResult r = Run("convert " + ShellQuote(DiscA) + " --title 3");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.OutLines(), std::vector<std::string>{Folder + "/stored/DVD Title 3_(new).mp3"});
}

TEST_F(CliTest, OutputFolderThatCannotBeMadeFallsBackToTheHomeFolder) {
  fs::create_directories(Folder);
  std::ofstream(Folder + "/plain") << "x";
  const TRunResult r = Run("convert " + ShellQuote(DiscA) + " --title 3 --format 204 --out " +
                           ShellQuote(Folder + "/plain/out"));
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.OutLines(), std::vector<std::string>{Home + "/videoconverter/DVD Title 3_(new).wav"});
  EXPECT_NE(r.Err.find("Cannot create output directory:" + Folder +
                       "/plain/out.It will create "
                       "default directory " +
                       Home + "/videoconverter!"),
            std::string::npos)
      << r.Err;
}

TEST_F(CliTest, SeveralTitlesOneAfterAnother) {
  const TRunResult r = Run("convert " + ShellQuote(DiscA) +
                           " --title 3 --title 2 --format 204 --out " + ShellQuote(OutDir));
  ASSERT_EQ(r.Status, 0) << r.Err;
  // Jobs follow the list order.
  EXPECT_EQ(r.OutLines(), (std::vector<std::string>{OutDir + "/DVD Title 2_(new).wav",
                                                    OutDir + "/DVD Title 3_(new).wav"}));
  EXPECT_NEAR(DecodedDuration(OutDir + "/DVD Title 2_(new).wav"), 7.0, 0.5);
  EXPECT_NEAR(DecodedDuration(OutDir + "/DVD Title 3_(new).wav"), 3.0, 0.5);
}

// ---- trim, chapters, tracks --------------------------------------------------------------

TEST_F(CliTest, TrimStartAndLength) {
  const std::string file = Convert("--title 1 --format 103 --start 0:00:02 --length 3");
  EXPECT_NEAR(DecodedDuration(file), 3.0, 0.5);
  EXPECT_TRUE(DecodesCleanly(file));
}

TEST_F(CliTest, ChapterRange) {
  // A chapter starts on a disc sector, where the audio of the multiplex runs about half a
  // second ahead of the picture, so the output may begin up to that much early.
  EXPECT_NEAR(DecodedDuration(Convert("--title 1 --format 204 --chapters 2-3")), 8.0, 0.6);
  EXPECT_NEAR(DecodedDuration(Convert("--title 1 --format 204 --chapters 2")), 4.0, 0.6);
  EXPECT_NEAR(DecodedDuration(Convert("--title 1 --format 204 --chapters 1")), 4.0, 0.6);
}

TEST_F(CliTest, AudioChoiceShowsInTheTone) {
  const auto manifest = ReadManifest("a");
  const auto tracks = ManifestRecords(manifest, "audio", 1);
  ASSERT_EQ(tracks.size(), 2u);
  for (const auto& track : tracks) {
    const std::string file =
        Convert("--title 1 --format 204 --length 3 --audio " + track.Get("id"));
    EXPECT_NEAR(ToneFrequency(file), track.Number("hz"), 10) << track.Get("id");
  }
}

// ---- crop and zoom -----------------------------------------------------------------------

TEST_F(CliTest, CropWithCenterKeepsTheCroppedSize) {
  const std::string file =
      Convert("--title 1 --format 103 --length 1 --zoom center --crop 16,16,8,8");
  EXPECT_EQ(FrameSize(file), std::make_pair(704, 544));
}

TEST_F(CliTest, LetterboxOfWideNtscInto320x240HasBarsOf30Rows) {
  if (!fs::is_directory(DiscB)) GTEST_SKIP() << "fixture disc B is missing";
  const std::string file =
      Convert("--title 1 --format 103 --length 2 --zoom lbox --set paraVideoSize=320x240", DiscB);
  EXPECT_EQ(FrameSize(file), std::make_pair(320, 240));
  // Disc B is shown as 16:9: scale=320:180,pad=320:240:0:30, black above row 30 and below
  // row 210, picture between.
  EXPECT_LT(Mean(Region(file, 1, 0, 2, 320, 26)), 8);
  EXPECT_LT(Mean(Region(file, 1, 0, 212, 320, 26)), 8);
  EXPECT_GT(Mean(Region(file, 1, 0, 34, 40, 10)), 20);
}

TEST_F(CliTest, PanAndFullFillTheFormatsSize) {
  EXPECT_EQ(FrameSize(Convert("--title 1 --format 0 --length 1 --zoom pan")),
            std::make_pair(320, 240));
  EXPECT_EQ(FrameSize(Convert("--title 1 --format 0 --length 1 --zoom full "
                              "--set paraVideoSize=400x300")),
            std::make_pair(400, 300));
}

TEST_F(CliTest, H263SizeSnaps) {
  const std::string file = Convert(
      "--title 1 --format 104 --length 1 --zoom full --set paraVideoEncoder=h263 "
      "--set paraVideoSize=400x300");
  EXPECT_EQ(FrameSize(file), std::make_pair(704, 576));
  EXPECT_TRUE(DecodesCleanly(file));
}

// ---- effects -----------------------------------------------------------------------------

TEST_F(CliTest, BrightnessHalvesTheLevel) {
  const std::string plain = Convert("--title 1 --format 103 --length 2 --zoom center");
  const std::string dark =
      Convert("--title 1 --format 103 --length 2 --zoom center --brightness 128");
  // A flat patch of the title's background, clear of the drawn digits.
  const double before = Mean(Region(plain, 1, 8, 8, 48, 48));
  const double after = Mean(Region(dark, 1, 8, 8, 48, 48));
  ASSERT_GT(before, 20);
  EXPECT_NEAR(after / before, 0.5, 0.08) << before << " -> " << after;
}

TEST_F(CliTest, WatermarksShowOnlyInsideTheirWindow) {
  const std::string bmp = Folder + "/mark.bmp";
  int status = -1;
  RunCommand(
      "ffmpeg -nostdin -v error -f lavfi -i color=c=red:s=64x48 -frames:v 1 -pix_fmt bgr24 " +
          ShellQuote(bmp),
      &status);
  ASSERT_EQ(status, 0);
  // A high bit rate keeps the encoder's own differences between the two runs small.
  const std::string quality = " --set paraVideoBitRate=6000";
  const std::string plain = Convert("--title 1 --format 103 --length 4 --zoom center" + quality);
  const std::string marked = Convert("--title 1 --format 103 --length 4 --zoom center" + quality +
                                     " --text-watermark "
                                     "'WATERMARK@300,400,255,1-1' "
                                     "--image-watermark " +
                                     ShellQuote(bmp + "@600,40,255,2-2"));
  // Text: inside its window at 1.5 s, gone at 0.5 s and 2.5 s.
  EXPECT_GT(MeanAbsDifference(Region(plain, 1.5, 300, 400, 120, 24),
                              Region(marked, 1.5, 300, 400, 120, 24)),
            8);
  for (double t : {0.5, 2.5})
    EXPECT_LT(MeanAbsDifference(Region(plain, t, 300, 400, 120, 24),
                                Region(marked, t, 300, 400, 120, 24)),
              2)
        << t;
  // Picture: red at 2.5 s only.
  const std::string inside = Region(marked, 2.5, 608, 48, 48, 32);
  ASSERT_EQ(inside.size(), 48u * 32 * 3);
  double red = 0, green = 0;
  for (size_t i = 0; i < inside.size(); i += 3) {
    red += static_cast<unsigned char>(inside[i]);
    green += static_cast<unsigned char>(inside[i + 1]);
  }
  EXPECT_GT(red / (48 * 32), 200);
  EXPECT_LT(green / (48 * 32), 40);
  for (double t : {1.5, 3.5})
    EXPECT_LT(
        MeanAbsDifference(Region(plain, t, 608, 48, 48, 32), Region(marked, t, 608, 48, 48, 32)), 2)
        << t;
}

TEST_F(CliTest, MissingWatermarkPictureIsRefusedBeforeAnythingIsWritten) {
  const TRunResult r =
      Run("convert " + ShellQuote(DiscA) + " --title 3 --format 103 --out " + ShellQuote(OutDir) +
          " --image-watermark " + ShellQuote(Folder + "/missing.bmp@10,10"));
  EXPECT_EQ(r.Status, 2) << r.Err;
  EXPECT_EQ(r.Err, "dvdswf-cli: --image-watermark " + Folder +
                       "/missing.bmp: No such file or directory\n");
  EXPECT_FALSE(fs::exists(OutDir));
}

TEST_F(CliTest, InterruptStopsCleanlyWithAPlayableFile) {
  // Three titles at full size; Ctrl-C as soon as the first progress line appears.
  const std::string err = Folder + "/stderr.txt";
  const std::string script =
      "env -u XDG_CONFIG_HOME LSAN_OPTIONS=suppressions=" DVDSWF_CLI_LSAN_SUPPRESSIONS
      " DVDSWF_CONFIG_DIR=" +
      ShellQuote(Config) + " HOME=" + ShellQuote(Home) + " " + ShellQuote(DVDSWF_CLI) +
      " convert " + ShellQuote(DiscA) + " --format 103 --zoom center --out " + ShellQuote(OutDir) +
      " >" + ShellQuote(Folder + "/stdout.txt") + " 2>" + ShellQuote(err) +
      " </dev/null & pid=$!; "
      "while kill -0 $pid 2>/dev/null && ! grep -q % " +
      ShellQuote(err) +
      "; "
      "do sleep 0.01; done; kill -INT $pid 2>/dev/null; wait $pid; echo $?";
  int status = -1;
  const std::string code = RunCommand("bash -c " + ShellQuote(script), &status);
  const int exitCode = std::atoi(code.c_str());
  const std::string out = ReadFile(Folder + "/stdout.txt");
  // The run may have ended before the signal came; either way every printed file plays.
  EXPECT_TRUE(exitCode == 130 || exitCode == 0) << code << ReadFile(err);
  std::istringstream lines(out);
  int files = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) continue;
    ++files;
    EXPECT_TRUE(DecodesCleanly(line)) << line;
  }
  if (exitCode == 130) {
    EXPECT_LT(files, 3);
    EXPECT_NE(ReadFile(err).find("stopped"), std::string::npos) << ReadFile(err);
  } else {
    EXPECT_EQ(files, 3);
  }
}

// ---- listings ----------------------------------------------------------------------------

TEST_F(CliTest, TitlesAsJsonMatchTheManifest) {
  const TRunResult r = Run("titles " + ShellQuote(DiscA) + " --json");
  ASSERT_EQ(r.Status, 0) << r.Err;
  const auto list = nlohmann::json::parse(r.Out);
  const auto manifest = ReadManifest("a");
  const auto titles = ManifestRecords(manifest, "title");
  ASSERT_EQ(list.size(), titles.size());
  for (size_t i = 0; i < titles.size(); ++i) {
    const auto& item = list[i];
    const int title = titles[i].Int("title");
    EXPECT_EQ(item["title"], title);
    EXPECT_NEAR(item["duration"].get<double>(), titles[i].Number("duration"), 0.5);
    EXPECT_EQ(item["chapters"], titles[i].Int("chapters"));
    EXPECT_EQ(item["width"], titles[i].Int("width"));
    EXPECT_EQ(item["height"], titles[i].Int("height"));
    EXPECT_EQ(item["aspect"], titles[i].Get("aspect"));
    EXPECT_EQ(item["video_format"], "MPEG-2");
    const auto audio = ManifestRecords(manifest, "audio", title);
    ASSERT_EQ(item["audio"].size(), audio.size());
    for (size_t a = 0; a < audio.size(); ++a) EXPECT_EQ(item["audio"][a]["id"], audio[a].Int("id"));
    const auto subs = ManifestRecords(manifest, "subtitle", title);
    ASSERT_EQ(item["subtitles"].size(), subs.size());
    for (size_t s = 0; s < subs.size(); ++s)
      EXPECT_EQ(item["subtitles"][s]["id"], subs[s].Int("id"));
  }
  const TRunResult plain = Run("titles " + ShellQuote(DiscA));
  ASSERT_EQ(plain.Status, 0);
  EXPECT_EQ(plain.OutLines().size(), titles.size());
  EXPECT_EQ(
      plain.OutLines()[0].rfind("1  0:00:12  3 chapters  720x576 (4:3)  MPEG-2  audio: 128 ", 0),
      0u)
      << plain.Out;
  EXPECT_EQ(plain.OutLines()[2].rfind("3  0:00:03  1 chapter  720x576 (4:3)  MPEG-2  audio: ", 0),
            0u)
      << plain.Out;
}

// Each title's display aspect, as the disc says it is shown, on every fixture disc.
TEST_F(CliTest, TitlesShowTheDisplayAspect) {
  for (const char* disc : {"a", "b", "d"}) {
    const std::string path = FixturesDir() + "/disc_" + disc;
    if (!fs::is_directory(path)) continue;
    SCOPED_TRACE(disc);
    const auto titles = ManifestRecords(ReadManifest(disc), "title");
    const TRunResult json = Run("titles " + ShellQuote(path) + " --json");
    ASSERT_EQ(json.Status, 0) << json.Err;
    const auto list = nlohmann::json::parse(json.Out);
    const TRunResult plain = Run("titles " + ShellQuote(path));
    ASSERT_EQ(plain.Status, 0) << plain.Err;
    const auto lines = plain.OutLines();
    ASSERT_EQ(list.size(), titles.size());
    ASSERT_EQ(lines.size(), titles.size());
    for (size_t i = 0; i < titles.size(); ++i) {
      const std::string aspect = titles[i].Get("aspect");
      EXPECT_EQ(list[i]["aspect"], aspect);
      const std::string size = titles[i].Get("width") + "x" + titles[i].Get("height");
      EXPECT_NE(lines[i].find("  " + size + " (" + aspect + ")  "), std::string::npos) << lines[i];
    }
  }
}

TEST_F(CliTest, FormatsListTheCatalogue) {
  const TRunResult r = Run("formats --json");
  ASSERT_EQ(r.Status, 0) << r.Err;
  const auto list = nlohmann::json::parse(r.Out);
  ASSERT_EQ(list.size(), 19u);
  EXPECT_EQ(list[1]["code"], 1);
  EXPECT_EQ(list[1]["group"], "Flash Video");
  EXPECT_EQ(list[1]["name"], "Flash SWF Format (*.swf)");
  EXPECT_EQ(list[1]["ext"], "swf");
  EXPECT_EQ(list[18]["code"], 206);
  EXPECT_EQ(list[18]["ext"], "ac3");
  EXPECT_EQ(Run("formats").OutLines().size(), 19u);
}

// ---- help and refusals -------------------------------------------------------------------

TEST_F(CliTest, HelpOnTheProgramAndEverySubcommand) {
  TRunResult r = Run("--help");
  EXPECT_EQ(r.Status, 0);
  for (const char* word : {"titles", "formats", "convert"})
    EXPECT_NE(r.Out.find(word), std::string::npos) << word;
  r = Run("titles --help");
  EXPECT_EQ(r.Status, 0);
  EXPECT_NE(r.Out.find("--json"), std::string::npos);
  r = Run("formats --help");
  EXPECT_EQ(r.Status, 0);
  EXPECT_NE(r.Out.find("--json"), std::string::npos);
  r = Run("convert --help");
  EXPECT_EQ(r.Status, 0);
  for (const char* flag :
       {"--title", "--format", "--chapters", "--audio", "--subtitle", "--start", "--length",
        "--crop", "--zoom", "--brightness", "--contrast", "--saturation", "--exposure",
        "--text-watermark", "--image-watermark", "--set", "--out"})
    EXPECT_NE(r.Out.find(flag), std::string::npos) << flag;
}

class CliRefusalTest : public CliTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(CliRefusalTest, OneLineExitTwoNothingWritten) {
  std::string args = GetParam();
  for (std::string key : {"{A}", "{OUT}", "{NONE}"}) {
    const std::string value = key == "{A}"     ? ShellQuote(DiscA)
                              : key == "{OUT}" ? ShellQuote(OutDir)
                                               : ShellQuote(Folder + "/none");
    for (size_t at; (at = args.find(key)) != std::string::npos;)
      args.replace(at, key.size(), value);
  }
  const TRunResult r = Run(args);
  EXPECT_EQ(r.Status, 2) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
  EXPECT_EQ(r.Err.rfind("dvdswf-cli: ", 0), 0u) << r.Err;
  EXPECT_FALSE(fs::exists(OutDir));
  EXPECT_FALSE(fs::exists(Home + "/videoconverter"));
}

INSTANTIATE_TEST_SUITE_P(
    Bad, CliRefusalTest,
    ::testing::Values(
        "convert {NONE} --out {OUT}", "titles {NONE}", "convert {A} --title 9 --out {OUT}",
        "convert {A} --title 0 --out {OUT}", "convert {A} --format 7 --out {OUT}",
        "convert {A} --format x --out {OUT}", "convert {A} --bogus --out {OUT}",
        "convert {A} --zoom wide --out {OUT}", "convert {A} --brightness 600 --out {OUT}",
        "convert {A} --title 1 --chapters 2-5 --out {OUT}",
        "convert {A} --title 1 --audio 130 --out {OUT}",
        "convert {A} --title 1 --subtitle 40 --out {OUT}",
        "convert {A} --start 1:2:3:4 --out {OUT}", "convert {A} --title 3 --start 5 --out {OUT}",
        "convert {A} --crop 1,2,3 --out {OUT}", "convert {A} --crop 300,300,0,0 --out {OUT}",
        "convert {A} --text-watermark nowhere --out {OUT}",
        "convert {A} --set paraNothing=1 --out {OUT}",
        "convert {A} --set paraVideoSize=640x --out {OUT}", "convert", "bogus", ""));

}  // namespace
