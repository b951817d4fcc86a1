#include "media/probe.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/rational.h>
}

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>
#include <vector>

#include "media/ffmpeg_ptr.h"
#include "media/file_stream.h"
#include "media/io_scheme.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/probe_text.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------------------
// Test media, made once for the whole program.

struct TestMedia {
  std::string Mp4;      // 1 s 160x120 25 fps mpeg4 + AAC, container and stream metadata
  std::string Vob;      // 1 s PAL MPEG-2 program stream, 4:3, MP2 audio
  std::string Ntsc;     // 1 s 29.97 fps mpeg4 in MP4
  std::string Ts;       // MPEG-TS with a named program
  std::string Wav;      // audio only
  std::string Sar0;     // raw YUV4MPEG with an unknown (0:1) sample aspect ratio
  std::string Sar1;     // the same with 1:1
  std::string RawKeys;  // MP4 keeping ID3-style metadata keys as they were written
  std::string Bmp;      // one picture, for the image-sequence demuxer (which has no I/O context)
  std::string Error;    // what went wrong making them
};

void WriteY4m(const std::string& path, const char* aspect) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "YUV4MPEG2 W32 H16 F25:1 Ip " << aspect << " C420jpeg\n";
  const std::string picture(32 * 16 * 3 / 2, '\x80');
  for (int i = 0; i < 5; ++i) out << "FRAME\n" << picture;
}

// How each file is made: an ffmpeg command writing to the name, or (empty command) one of
// the writers below.
struct Recipe {
  std::string TestMedia::*Field;
  const char* Name;
  std::string Command;
};

std::vector<Recipe> Recipes() {
  const std::string ff = "ffmpeg -nostdin -v error -y ";
  const std::string video = "-f lavfi -i testsrc=size=160x120:rate=25:duration=1 ";
  const std::string audio = "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=1 ";
  return {
      {&TestMedia::Mp4, "tagged.mp4",
       ff + video + audio +
           "-c:v mpeg4 -c:a aac -metadata title='Probe Title' -metadata artist='Probe Artist' "
           "-metadata album=Album -metadata genre=Genre -metadata comment=Comment "
           "-metadata copyright=Copyright -metadata date=2009 -metadata track=3/12 "
           "-metadata creation_time=2020-01-02T03:04:05Z -metadata:s:a:0 language=fre"},
      {&TestMedia::Vob, "pal.vob",
       ff + "-f lavfi -i testsrc=size=720x576:rate=25:duration=1 " +
           "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1 "
           "-c:v mpeg2video -aspect 4:3 -c:a mp2 -f vob"},
      {&TestMedia::Ntsc, "ntsc.mp4",
       ff + "-f lavfi -i testsrc=size=160x120:rate=30000/1001:duration=1 -c:v mpeg4"},
      {&TestMedia::Ts, "program.ts",
       ff + "-f lavfi -i testsrc=size=160x120:rate=25:duration=0.5 -c:v mpeg2video "
            "-metadata service_provider=Prov -metadata service_name=Chan -f mpegts"},
      {&TestMedia::RawKeys, "rawkeys.mp4",
       ff + "-f lavfi -i testsrc=size=160x120:rate=25:duration=0.2 -c:v mpeg4 "
            "-movflags use_metadata_tags -metadata TIT2=Raw -metadata TPE1=Someone "
            "-metadata Custom=Kept"},
      {&TestMedia::Bmp, "picture.bmp",
       ff + "-f lavfi -i testsrc=size=32x16:rate=1 -frames:v 1 -update 1"},
      {&TestMedia::Wav, "tone.wav", ""},
      {&TestMedia::Sar0, "sar0.y4m", ""},
      {&TestMedia::Sar1, "sar1.y4m", ""},
  };
}

// Makes the files into `dir`; returns what went wrong, or empty.
std::string MakeAll(const fs::path& dir) {
  for (const Recipe& r : Recipes()) {
    const std::string path = (dir / r.Name).string();
    if (!r.Command.empty()) {
      int status = 0;
      const std::string output = RunCommand(r.Command + " '" + path + "' 2>&1", &status);
      if (status != 0) return r.Command + "\n" + output;
    } else if (r.Field == &TestMedia::Wav) {
      WriteToneWav(path, 1.0);
    } else {
      WriteY4m(path, r.Field == &TestMedia::Sar0 ? "A0:0" : "A1:1");
    }
  }
  return {};
}

// Test programs run one process per test under ctest, several at once: the files are made
// once into a folder named after the recipes, built aside and renamed into place, so no
// process ever sees another's half-made or removed files.
const TestMedia& Media() {
  static const TestMedia media = [] {
    TestMedia m;
    std::string key = "y4m-32x16-5-frames;wav-1s-8000";
    for (const Recipe& r : Recipes()) key += std::string(";") + r.Name + "=" + r.Command;
    char hex[32];
    snprintf(hex, sizeof hex, "%016zx", std::hash<std::string>{}(key));
    const fs::path dir = fs::path(DVDSWF_TEST_TMP) / (std::string("probe_media_") + hex);
    if (!fs::exists(dir / "ready")) {
      const fs::path aside = dir.string() + "." + std::to_string(getpid());
      fs::remove_all(aside);
      fs::create_directories(aside);
      m.Error = MakeAll(aside);
      std::error_code ec;
      if (m.Error.empty()) {
        std::ofstream(aside / "ready") << key;
        fs::rename(aside, dir, ec);  // fails when another process got there first
      }
      fs::remove_all(aside, ec);
      if (!m.Error.empty()) return m;
    }
    for (const Recipe& r : Recipes()) m.*r.Field = (dir / r.Name).string();
    return m;
  }();
  return media;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines of `text` that begin with `prefix`.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : Lines(text))
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  return found;
}

struct LogEntry {
  const void* Sender;
  TLogLevel Level;
  std::string Msg;
};

// Loads the libraries and records what the probe logs.
class ProbeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(GlobalLoader().LoadLibraries(ConverterLibraries)); }
  void SetUp() override {
    ASSERT_TRUE(Media().Error.empty()) << Media().Error;
    GlobalLogger().OnLog = [this](const void* sender, uint32_t, TLogLevel level,
                                  const std::string& msg) {
      std::lock_guard lock(mutex);
      log.push_back({sender, level, msg});
    };
  }
  void TearDown() override { GlobalLogger().OnLog = nullptr; }

  // Messages the probe itself logged (library lines have the logger as sender).
  std::vector<LogEntry> ProbeLog(const void* probe) {
    std::lock_guard lock(mutex);
    std::vector<LogEntry> own;
    for (const LogEntry& e : log)
      if (e.Sender == probe) own.push_back(e);
    return own;
  }

  std::mutex mutex;
  std::vector<LogEntry> log;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Texts

struct DurationCase {
  int64_t Micros;
  const char* Text;
};

class FormatDurationTest : public ::testing::TestWithParam<DurationCase> {};

TEST_P(FormatDurationTest, Writes) {
  EXPECT_EQ(FormatDuration(GetParam().Micros), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(Cases, FormatDurationTest,
                         ::testing::Values(DurationCase{AV_NOPTS_VALUE, "N/A"},
                                           DurationCase{0, "00:00:00.000"},
                                           DurationCase{999, "00:00:00.000"},
                                           DurationCase{1000, "00:00:00.001"},
                                           DurationCase{1234567, "00:00:01.234"},
                                           DurationCase{3599999999, "00:59:59.999"},
                                           DurationCase{3600000000, "01:00:00.000"},
                                           DurationCase{int64_t(25) * 3600000000, "25:00:00.000"},
                                           DurationCase{int64_t(100) * 3600000000, "100:00:00.000"},
                                           DurationCase{-1500000, "-00:00:01.500"}));

struct SizeCase {
  int64_t Bytes;
  const char* Text;
};

class FormatFileSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FormatFileSizeTest, Writes) {
  EXPECT_EQ(FormatFileSize(GetParam().Bytes), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, FormatFileSizeTest,
    ::testing::Values(SizeCase{0, "0 Byte"}, SizeCase{1024, "1024 Byte"}, SizeCase{1025, "1.00 KB"},
                      SizeCase{1048576, "1024.00 KB"}, SizeCase{1048577, "1.00 MB"},
                      SizeCase{1073741824, "1024.00 MB"}, SizeCase{1073741825, "1.00 GB"},
                      SizeCase{int64_t(5) << 30, "5.00 GB"},
                      SizeCase{int64_t(3) << 40, "3072.00 GB"}));

struct RateCase {
  AVRational Rate;
  const char* Suffix;
  const char* Text;
};

class RatePieceTest : public ::testing::TestWithParam<RateCase> {};

TEST_P(RatePieceTest, Writes) {
  EXPECT_EQ(RatePiece(GetParam().Rate, GetParam().Suffix), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(Cases, RatePieceTest,
                         ::testing::Values(RateCase{{25, 1}, "fps", ", 25 fps"},
                                           RateCase{{30000, 1001}, "fps", ", 29.97 fps"},
                                           RateCase{{24000, 1001}, "tbr", ", 23.98 tbr"},
                                           RateCase{{90000, 1}, "tbn", ", 90k tbn"},
                                           RateCase{{30000, 1}, "tbn", ", 30k tbn"},
                                           RateCase{{12800, 1}, "tbn", ", 12800 tbn"},
                                           RateCase{{1000, 1}, "tbn", ", 1k tbn"},
                                           RateCase{{50, 1}, "tbc", ", 50 tbc"},
                                           RateCase{{1, 2}, "fps", ", 0.50 fps"},
                                           RateCase{{0, 1}, "fps", ""}, RateCase{{1, 0}, "tbn", ""},
                                           RateCase{{0, 0}, "tbc", ""}));

TEST(ProbeTextTest, MediaTypeNames) {
  const char* names[] = {"Video", "Audio", "Data", "Subtitle", "Attachment"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(MediaTypeName(i), names[i]);
  EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_VIDEO), "Video");
  EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_ATTACHMENT), "Attachment");
  EXPECT_EQ(MediaTypeName(-1), "Unknown");
  EXPECT_EQ(MediaTypeName(5), "Unknown");
}

TEST(ProbeTextTest, MetadataKeyTable) {
  const std::pair<const char*, const char*> table[] = {
      {"TALB", "album"},     {"TAL", "album"},      {"TCOM", "composer"},  {"TCON", "genre"},
      {"TCO", "genre"},      {"TCOP", "copyright"}, {"TDRL", "date"},      {"TENC", "encoder"},
      {"TEN", "encoder"},    {"TIT2", "title"},     {"TT2", "title"},      {"TLAN", "language"},
      {"TPE1", "artist"},    {"TP1", "artist"},     {"TPOS", "disc"},      {"TPUB", "publisher"},
      {"TRCK", "track"},     {"TRK", "track"},      {"TSOA", "albumsort"}, {"TSOP", "authorsort"},
      {"TSOT", "titlesort"}, {"TYER", "year"}};
  for (const auto& [key, shown] : table) EXPECT_EQ(DisplayMetadataKey(key), shown) << key;
  EXPECT_EQ(DisplayMetadataKey("tit2"), "tit2");  // case-sensitive
  EXPECT_EQ(DisplayMetadataKey("TIT"), "TIT");
  EXPECT_EQ(DisplayMetadataKey("title"), "title");
  EXPECT_EQ(DisplayMetadataKey(""), "");
}

struct Dict {
  AVDictionary* d = nullptr;
  ~Dict() { av_dict_free(&d); }
  Dict& Set(const char* key, const char* value) {
    av_dict_set(&d, key, value, AV_DICT_MATCH_CASE);  // keep "Title" beside "title"
    return *this;
  }
};

TEST(ProbeTextTest, MetadataBlock) {
  EXPECT_EQ(MetadataBlock(nullptr, "  "), "");
  Dict onlyLanguage;
  onlyLanguage.Set("language", "eng");
  EXPECT_EQ(MetadataBlock(onlyLanguage.d, ""), "");

  Dict dict;
  dict.Set("language", "eng")
      .Set("TIT2", "Song")
      .Set("a_key_of_sixteen", "x")
      .Set("longer_than_16_chars", "y");
  EXPECT_EQ(MetadataBlock(dict.d, "  "),
            "  Metadata:\n"
            "    title           : Song\n"
            "    a_key_of_sixteen: x\n"
            "    longer_than_16_chars: y\n");
}

TEST(ProbeTextTest, MetadataValueMatchesTheWholeKeyExactly) {
  Dict dict;
  dict.Set("Title", "upper").Set("title", "lower").Set("titles", "plural");
  EXPECT_EQ(MetadataValue(dict.d, "title"), "lower");
  EXPECT_EQ(MetadataValue(dict.d, "Title"), "upper");
  EXPECT_EQ(MetadataValue(dict.d, "tit", "none"), "none");
  EXPECT_EQ(MetadataValue(dict.d, "TITLE", "none"), "none");
  EXPECT_EQ(MetadataValue(nullptr, "title", "none"), "none");
}

TEST(ProbeTextTest, SecondsAndMicros) {
  EXPECT_EQ(FormatSecondsMicros(0), "0.000000");
  EXPECT_EQ(FormatSecondsMicros(1440000), "1.440000");
  EXPECT_EQ(FormatSecondsMicros(12000007), "12.000007");
  EXPECT_EQ(FormatSecondsMicros(-21333), "-0.021333");  // AAC priming in MP4
  EXPECT_EQ(FormatSecondsMicros(-2500000), "-2.500000");
}

TEST(ProbeTextTest, CodecDescriptions) {
  AVCodecParameters* raw = avcodec_parameters_alloc();
  ASSERT_TRUE(raw);
  std::unique_ptr<AVCodecParameters, void (*)(AVCodecParameters*)> par(
      raw, [](AVCodecParameters* p) { avcodec_parameters_free(&p); });
  par->codec_id = AV_CODEC_ID_MPEG2VIDEO;
  EXPECT_EQ(CodecDescription(par.get()), "mpeg2video(MPEG-2 video)");
  par->codec_id = AV_CODEC_ID_MPEG2TS;
  EXPECT_EQ(CodecDescription(par.get()), "mpeg2ts");
  par->codec_id = AV_CODEC_ID_DVD_NAV;  // no decoder, but the library names it
  EXPECT_EQ(CodecDescription(par.get()), "dvd_nav_packet");
  par->codec_id = AV_CODEC_ID_NONE;
  par->codec_tag = MKTAG('a', 'b', 'c', 'd');
  EXPECT_EQ(CodecDescription(par.get()), "abcd / 0x64636261");
  par->codec_tag = MKTAG('a', 'b', 'c', 0x7F);
  EXPECT_EQ(CodecDescription(par.get()), "0x7f636261");
  par->codec_tag = 1;
  EXPECT_EQ(CodecDescription(par.get()), "0x0001");
}

// ---------------------------------------------------------------------------------------
// A closed probe

TEST_F(ProbeTest, ClosedProbeReportsNothingLoaded) {
  TMediaProbe probe;
  EXPECT_EQ(probe.FormatContext(), nullptr);
  EXPECT_FALSE(probe.OwnsContext());
  EXPECT_EQ(probe.FileSize(), -1);
  for (int32_t value :
       {probe.StreamCount(), probe.ProgramCount(), probe.AudioStreamCount(),
        probe.VideoStreamCount(), probe.SubtitleStreamCount(), probe.FirstAudioStream(),
        probe.FirstVideoStream(), probe.FirstSubtitleStream(), probe.DefaultStream()})
    EXPECT_EQ(value, -1);
  EXPECT_EQ(probe.DefaultStartTime(), 0);

  TFileStreamInfo file;
  file.Title = "stale";
  file.Year = 7;
  probe.ReadFileInfo(file);
  for (int64_t value : {file.StartTime, file.Duration, int64_t(file.BitRate), file.TimeStamp,
                        int64_t(file.Year), int64_t(file.Track)})
    EXPECT_EQ(value, -1);
  EXPECT_EQ(file.Title, "");

  TVideoStreamInfo video;
  video.Width = 5;
  video.CodecName = "stale";
  probe.ReadVideoInfo(0, video);
  EXPECT_EQ(video.Width, -1);
  EXPECT_EQ(video.CodecName, "");
  EXPECT_FALSE(probe.StreamIsVideo(0));
  std::string text = "stale";
  probe.DescribeFile(text);
  EXPECT_EQ(text, "");

  const auto logged = ProbeLog(&probe);
  ASSERT_EQ(logged.size(), 4u);
  for (const LogEntry& e : logged) {
    EXPECT_EQ(e.Msg, "file not loaded.");
    EXPECT_EQ(e.Level, llWarning);
  }
  EXPECT_EQ(probe.LastError(), "file not loaded.");
}

// ---------------------------------------------------------------------------------------
// Made files

TEST_F(ProbeTest, DescribesMp4WithMetadata) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Mp4)) << probe.LastError();
  EXPECT_TRUE(probe.OwnsContext());
  EXPECT_EQ(probe.FormatName(), "");
  EXPECT_EQ(probe.StreamCount(), 2);
  EXPECT_EQ(probe.VideoStreamCount(), 1);
  EXPECT_EQ(probe.AudioStreamCount(), 1);
  EXPECT_EQ(probe.SubtitleStreamCount(), 0);
  EXPECT_EQ(probe.FirstVideoStream(), 0);
  EXPECT_EQ(probe.FirstAudioStream(), 1);
  EXPECT_EQ(probe.FirstSubtitleStream(), -1);
  EXPECT_EQ(probe.ProgramCount(), 0);
  const auto size = int64_t(fs::file_size(Media().Mp4));
  EXPECT_EQ(probe.FileSize(), size);

  // The creation time in this machine's zone, the way the description must show it.
  std::time_t created = 1577934245;  // 2020-01-02T03:04:05Z
  std::tm local{};
  localtime_r(&created, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

  const auto lines = Lines(probe.DescribeFile());
  ASSERT_GE(lines.size(), 10u);
  EXPECT_EQ(lines[0], "File Name: " + Media().Mp4);
  EXPECT_EQ(lines[1], "Format Name: mov,mp4,m4a,3gp,3g2,mj2");
  EXPECT_EQ(lines[2], "Format Long Name: QuickTime / MOV");
  EXPECT_EQ(lines[3], "File Size: " + FormatFileSize(size));
  EXPECT_EQ(lines[4], "Duration: 00:00:01.000");
  EXPECT_EQ(lines[5], "StartTime: 0.000000");
  EXPECT_EQ(lines[6],
            "Bit Rate: " + std::to_string(probe.FormatContext()->bit_rate / 1000) + " kb/s");
  EXPECT_EQ(lines[7], std::string("Time Stamp: ") + stamp);
  EXPECT_EQ(lines[8], "Metadata:");

  const std::string text = probe.DescribeFile();
  EXPECT_NE(text.find("\n  title           : Probe Title\n"), std::string::npos);
  EXPECT_NE(text.find("\n  artist          : Probe Artist\n"), std::string::npos);
  EXPECT_NE(text.find("\n  compatible_brands: "), std::string::npos);
  EXPECT_EQ(text.find("language"), std::string::npos);  // shown as "(fre)" instead
  EXPECT_NE(text.back(), '\n');

  const auto streams = LinesStartingWith(text, "Stream #");
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_TRUE(std::regex_match(
      streams[0],
      std::regex(
          R"(Stream #0\[0x1\]\(und\), 1/12800: Video: mpeg4 .*, 160x120 \[SAR 1:1 DAR 4:3\].*)"
          R"(, 25 fps, 25 tbr, 12800 tbn, StartTime: 0\.000000, Duration: 00:00:01\.000)")))
      << streams[0];
  EXPECT_TRUE(std::regex_match(
      streams[1], std::regex(R"(Stream #1\[0x2\]\(fre\), 1/44100: Audio: aac .*44100 Hz, mono.*)"
                             R"(, StartTime: -?0\.0\d{5}, Duration: 00:00:01\.0\d\d)")))
      << streams[1];
  EXPECT_EQ(streams[1].find("fps"), std::string::npos);
  EXPECT_NE(text.find("\n  Metadata:\n    creation_time   : 2020-01-02T03:04:05.000000Z\n"
                      "    handler_name    : VideoHandler\n"),
            std::string::npos);
}

TEST_F(ProbeTest, DescriptionTimeStampFollowsTheTimeZone) {
  const char* old = getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "EET-2", 1);  // two hours east of UTC, no summer time in January
  tzset();
  TMediaProbe probe;
  const bool opened = probe.OpenMedia(Media().Mp4);
  const std::string text = probe.DescribeFile();
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
  ASSERT_TRUE(opened) << probe.LastError();
  EXPECT_EQ(LinesStartingWith(text, "Time Stamp: "),
            std::vector<std::string>{"Time Stamp: 2020-01-02 05:04:05"});
}

TEST_F(ProbeTest, ReadsFileInfoOfMp4) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Mp4)) << probe.LastError();
  TFileStreamInfo info;
  probe.ReadFileInfo(info);
  EXPECT_EQ(info.StartTime, 0);
  EXPECT_EQ(info.Duration, 1000000);
  EXPECT_EQ(info.BitRate, probe.FormatContext()->bit_rate);
  EXPECT_GT(info.BitRate, 0);
  EXPECT_EQ(info.TimeStamp, 1577934245);
  EXPECT_EQ(info.Year, 2009);
  EXPECT_EQ(info.Track, 3);
  EXPECT_EQ(info.Title, "Probe Title");
  EXPECT_EQ(info.Author, "Probe Artist");
  EXPECT_EQ(info.Copyright, "Copyright");
  EXPECT_EQ(info.Comment, "Comment");
  EXPECT_EQ(info.Album, "Album");
  EXPECT_EQ(info.Genre, "Genre");
  EXPECT_TRUE(ProbeLog(&probe).empty());
}

TEST_F(ProbeTest, FileInfoWithoutMetadataIsEmptyAndZero) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Wav)) << probe.LastError();
  TFileStreamInfo info;
  probe.ReadFileInfo(info);
  EXPECT_EQ(info.TimeStamp, 0);
  EXPECT_EQ(info.Year, 0);
  EXPECT_EQ(info.Track, 0);
  EXPECT_EQ(info.Title, "");
  EXPECT_EQ(info.Author, "");
  EXPECT_EQ(info.Duration, 1000000);
}

TEST_F(ProbeTest, ReadsVideoInfoOfMp4) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Mp4)) << probe.LastError();
  TVideoStreamInfo info;
  probe.ReadVideoInfo(-1, info);
  EXPECT_EQ(info.Language, "und");
  EXPECT_EQ(info.CodecName, "mpeg4(MPEG-4 part 2)");
  EXPECT_EQ(info.StartTime, 0);
  EXPECT_EQ(info.StartTimeMicros, 0);
  EXPECT_EQ(info.Duration, 12800);
  EXPECT_EQ(info.DurationMicros, 1000000);
  EXPECT_GT(info.BitRate, 0);
  EXPECT_EQ(info.Width, 160);
  EXPECT_EQ(info.Height, 120);
  EXPECT_FLOAT_EQ(info.DisplayAspectRatio, 4.0f / 3.0f);
  EXPECT_EQ(info.PixelFormat, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(info.FrameRateNum, 25);
  EXPECT_EQ(info.FrameRateDen, 1);
  EXPECT_TRUE(probe.StreamIsVideo(0));
  EXPECT_FALSE(probe.StreamIsVideo(1));
  EXPECT_TRUE(ProbeLog(&probe).empty());

  TVideoStreamInfo same;
  probe.ReadVideoInfo(0, same);
  EXPECT_EQ(same.CodecName, info.CodecName);
  EXPECT_EQ(same.Width, info.Width);
}

// ffprobe is the peer: its stream line must carry the same rate pieces as ours.
std::string PeerRates(const std::string& file) {
  const std::string out = RunCommand("ffprobe -hide_banner '" + file + "' 2>&1");
  std::smatch m;
  const std::string::const_iterator begin = out.begin();
  if (std::regex_search(begin, out.end(), m,
                        std::regex(R"(, [0-9.k]+ fps, [0-9.k]+ tbr, [0-9.k]+ tbn)")))
    return m.str();
  return "no rates in: " + out;
}

struct RateFileCase {
  const char* Name;
  std::string TestMedia::*File;
  const char* Rates;
  int FrameRateNum, FrameRateDen;
};

class ProbeRateTest : public ProbeTest, public ::testing::WithParamInterface<RateFileCase> {};

TEST_P(ProbeRateTest, StreamLineCarriesTheRates) {
  const RateFileCase& c = GetParam();
  const std::string& file = Media().*c.File;
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(file)) << probe.LastError();
  const auto video = LinesStartingWith(probe.DescribeFile(),
                                       "Stream #" + std::to_string(probe.FirstVideoStream()));
  ASSERT_EQ(video.size(), 1u);
  EXPECT_NE(video[0].find(c.Rates), std::string::npos) << video[0];
  EXPECT_EQ(PeerRates(file), c.Rates);
  TVideoStreamInfo info;
  probe.ReadVideoInfo(-1, info);
  EXPECT_EQ(info.FrameRateNum, c.FrameRateNum);
  EXPECT_EQ(info.FrameRateDen, c.FrameRateDen);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ProbeRateTest,
    ::testing::Values(RateFileCase{"Pal", &TestMedia::Vob, ", 25 fps, 25 tbr, 90k tbn", 25, 1},
                      RateFileCase{"Ntsc", &TestMedia::Ntsc, ", 29.97 fps, 29.97 tbr, 30k tbn",
                                   30000, 1001},
                      RateFileCase{"Mp4", &TestMedia::Mp4, ", 25 fps, 25 tbr, 12800 tbn", 25, 1},
                      RateFileCase{"Y4m", &TestMedia::Sar0, ", 25 fps, 25 tbr, 25 tbn", 25, 1}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ProbeTest, DescribesMadeVob) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Vob)) << probe.LastError();
  const std::string text = probe.DescribeFile();
  const auto lines = Lines(text);
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[1], "Format Name: mpeg");
  EXPECT_EQ(lines[2], "Format Long Name: MPEG-PS (MPEG-2 Program Stream)");
  EXPECT_TRUE(std::regex_match(lines[5], std::regex(R"(StartTime: 0\.5\d{5})"))) << lines[5];
  const auto streams = LinesStartingWith(text, "Stream #");
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_TRUE(std::regex_match(
      streams[0],
      std::regex(
          R"(Stream #0\[0x1e0\], 1/90000: Video: mpeg2video \(Main\), .*720x576 \[SAR 16:15 DAR 4:3\].*)"
          R"(, 25 fps, 25 tbr, 90k tbn, StartTime: 0\.5\d{5}, Duration: 00:00:0\d\.\d{3})")))
      << streams[0];
  EXPECT_TRUE(std::regex_match(
      streams[1], std::regex(R"(Stream #1\[0x1c0\], 1/90000: Audio: mp2, 48000 Hz.*)")))
      << streams[1];
  EXPECT_EQ(LinesStartingWith(text, "Metadata:").size(), 0u);  // the program stream has none

  TVideoStreamInfo info;
  probe.ReadVideoInfo(-1, info);
  EXPECT_EQ(info.CodecName, "mpeg2video(MPEG-2 video)");
  EXPECT_EQ(info.Width, 720);
  EXPECT_EQ(info.Height, 576);
  EXPECT_FLOAT_EQ(info.DisplayAspectRatio, 4.0f / 3.0f);
  EXPECT_EQ(info.StartTimeMicros, av_rescale_q(info.StartTime, {1, 90000}, {1, 1000000}));
  EXPECT_EQ(probe.DefaultStream(), 0);
  EXPECT_EQ(probe.DefaultStartTime(), info.StartTime);
  EXPECT_GT(probe.DefaultStartTime(), 0);
}

TEST_F(ProbeTest, AudioOnlyFileHasNoVideoStream) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Wav)) << probe.LastError();
  EXPECT_EQ(probe.StreamCount(), 1);
  EXPECT_EQ(probe.VideoStreamCount(), 0);
  EXPECT_EQ(probe.FirstVideoStream(), -1);
  EXPECT_EQ(probe.AudioStreamCount(), 1);
  EXPECT_EQ(probe.FirstAudioStream(), 0);
  EXPECT_EQ(probe.DefaultStream(), 0);
  EXPECT_EQ(probe.DefaultStartTime(), 0);  // WAV has no start time

  const TVideoStreamInfo preset;
  TVideoStreamInfo info;
  info.Width = 7;
  info.Language = "stale";
  probe.ReadVideoInfo(-1, info);
  EXPECT_EQ(info.Language, "");
  EXPECT_EQ(info.CodecName, "");
  for (int64_t value :
       {info.StartTime, info.StartTimeMicros, info.Duration, info.DurationMicros,
        int64_t(info.BitRate), int64_t(info.Height), int64_t(info.Width), int64_t(info.PixelFormat),
        int64_t(info.FrameRateNum), int64_t(info.FrameRateDen)})
    EXPECT_EQ(value, -1);
  EXPECT_EQ(info.DisplayAspectRatio, -1.0f);

  probe.ReadVideoInfo(0, info);
  probe.ReadVideoInfo(1, info);
  EXPECT_FALSE(probe.StreamIsVideo(0));
  EXPECT_FALSE(probe.StreamIsVideo(-1));
  EXPECT_FALSE(probe.StreamIsVideo(1));
  const auto logged = ProbeLog(&probe);
  ASSERT_EQ(logged.size(), 5u);
  EXPECT_EQ(logged[0].Msg, "no video stream.");
  EXPECT_EQ(logged[1].Msg, "stream #0 is not video stream.");
  EXPECT_EQ(logged[2].Msg, "stream index #1 is invalid.");
  EXPECT_EQ(logged[3].Msg, "stream index #-1 is invalid.");
  EXPECT_EQ(logged[4].Msg, "stream index #1 is invalid.");
  for (const LogEntry& e : logged) EXPECT_EQ(e.Level, llError);
  EXPECT_EQ(probe.LastError(), "stream index #1 is invalid.");

  const std::string text = probe.DescribeFile();
  EXPECT_EQ(text.find("fps"), std::string::npos);
  EXPECT_EQ(LinesStartingWith(text, "StartTime:").size(), 0u);
  EXPECT_EQ(LinesStartingWith(text, "Stream #"),
            std::vector<std::string>{
                "Stream #0, 1/8000: Audio: pcm_s16le ([1][0][0][0] / 0x0001), 8000 Hz, "
                "1 channels, s16, 128 kb/s, Duration: 00:00:01.000"});
}

struct AspectCase {
  const char* Name;
  std::string TestMedia::*File;
  float Ratio;
};

class ProbeAspectTest : public ProbeTest, public ::testing::WithParamInterface<AspectCase> {};

TEST_P(ProbeAspectTest, DisplayAspectRatio) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().*GetParam().File)) << probe.LastError();
  TVideoStreamInfo info;
  probe.ReadVideoInfo(-1, info);
  EXPECT_FLOAT_EQ(info.DisplayAspectRatio, GetParam().Ratio);
  EXPECT_EQ(info.Width, 32);
  EXPECT_EQ(info.Height, 16);
}

INSTANTIATE_TEST_SUITE_P(Files, ProbeAspectTest,
                         ::testing::Values(AspectCase{"Unknown", &TestMedia::Sar0, 0.0f},
                                           AspectCase{"Square", &TestMedia::Sar1, 2.0f}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ProbeTest, ContainerAspectRatioOfItsOwnIsShownAsPar) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Sar1)) << probe.LastError();
  const auto streams = LinesStartingWith(probe.DescribeFile(), "Stream #");
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_NE(streams[0].find(", 32x16, PAR 1:1 DAR 2:1, 25 fps"), std::string::npos) << streams[0];

  ASSERT_TRUE(probe.OpenMedia(Media().Sar0)) << probe.LastError();
  EXPECT_EQ(probe.DescribeFile().find("PAR"), std::string::npos);
}

TEST_F(ProbeTest, DescribesPrograms) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Ts)) << probe.LastError();
  EXPECT_EQ(probe.ProgramCount(), 1);
  const auto lines = Lines(probe.DescribeFile());
  const auto at = std::find(lines.begin(), lines.end(), "Program 1 Prov@Chan");
  ASSERT_NE(at, lines.end());
  ASSERT_GE(lines.end() - at, 5);
  EXPECT_EQ(at[1], "  Metadata:");
  EXPECT_EQ(at[2], "    service_name    : Chan");
  EXPECT_EQ(at[3], "    service_provider: Prov");
  EXPECT_EQ(at[4].rfind("Stream #0[0x100], 1/90000: Video: mpeg2video", 0), 0u) << at[4];
  EXPECT_EQ(LinesStartingWith(probe.DescribeFile(), "Stream #").size(), 1u);  // printed once
}

TEST_F(ProbeTest, MetadataKeysAreShownThroughTheTable) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().RawKeys)) << probe.LastError();
  ASSERT_EQ(MetadataValue(probe.FormatContext()->metadata, "TIT2"), "Raw");  // stored raw
  const std::string text = probe.DescribeFile();
  EXPECT_NE(text.find("\nMetadata:\n"), std::string::npos);
  EXPECT_NE(text.find("\n  title           : Raw\n"), std::string::npos);
  EXPECT_NE(text.find("\n  artist          : Someone\n"), std::string::npos);
  EXPECT_NE(text.find("\n  Custom          : Kept\n"), std::string::npos);
  EXPECT_EQ(text.find("TIT2"), std::string::npos);
}

// ---------------------------------------------------------------------------------------
// Opening

TEST_F(ProbeTest, MissingFileFailsAndIsLogged) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Wav));
  const std::string missing = TestFolder() + "/missing.vob";
  EXPECT_FALSE(probe.OpenMedia(missing));
  EXPECT_EQ(probe.LastError(), missing + ": No such file or directory");
  EXPECT_EQ(probe.FormatContext(), nullptr);
  EXPECT_EQ(probe.StreamCount(), -1);
  EXPECT_EQ(probe.FileSize(), -1);
  EXPECT_EQ(probe.DefaultStream(), -1);
  const auto logged = ProbeLog(&probe);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].Msg, probe.LastError());
  EXPECT_EQ(logged[0].Level, llError);
}

TEST_F(ProbeTest, UnknownFormatFailsQuietly) {
  TMediaProbe probe;
  EXPECT_FALSE(probe.OpenMedia(Media().Wav, "no_such_format"));
  EXPECT_EQ(probe.LastError(), "Unknown input format: no_such_format");
  EXPECT_EQ(probe.StreamCount(), -1);
  EXPECT_TRUE(ProbeLog(&probe).empty());
}

TEST_F(ProbeTest, ForcedFormatIsKept) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Wav, "wav")) << probe.LastError();
  EXPECT_EQ(probe.FormatName(), "wav");
  EXPECT_EQ(probe.AudioStreamCount(), 1);
  probe.CloseMedia();
  EXPECT_EQ(probe.FormatName(), "");
  EXPECT_EQ(probe.AudioStreamCount(), -1);
}

TEST_F(ProbeTest, ReopeningReplacesTheFile) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Vob));
  ASSERT_TRUE(probe.OpenMedia(Media().Wav));
  EXPECT_EQ(probe.VideoStreamCount(), 0);
  EXPECT_EQ(probe.FileSize(), int64_t(fs::file_size(Media().Wav)));
  EXPECT_EQ(Lines(probe.DescribeFile())[0], "File Name: " + Media().Wav);
}

TEST_F(ProbeTest, SizeComesFromTheFileWhenTheInputHasNoIOContext) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(Media().Bmp, "image2")) << probe.LastError();
  ASSERT_EQ(probe.FormatContext()->pb, nullptr);
  EXPECT_EQ(probe.FileSize(), int64_t(fs::file_size(Media().Bmp)));
  EXPECT_EQ(probe.VideoStreamCount(), 1);
}

TEST_F(ProbeTest, ColonInARelativeNameOpensAsAFile) {
  const std::string dir = TestFolder();
  fs::copy_file(Media().Wav, dir + "/take:1.wav");
  const fs::path cwd = fs::current_path();
  fs::current_path(dir);
  TMediaProbe probe;
  const bool opened = probe.OpenMedia("take:1.wav");
  const std::string text = opened ? probe.DescribeFile() : std::string();
  const int64_t size = probe.FileSize();
  probe.CloseMedia();
  fs::current_path(cwd);
  ASSERT_TRUE(opened) << probe.LastError();
  EXPECT_EQ(Lines(text)[0], "File Name: take:1.wav");
  EXPECT_EQ(size, int64_t(fs::file_size(Media().Wav)));
}

// A registered scheme's stream; without its size it cannot seek from the end either, as a
// pipe cannot.
class SizedStream : public TSchemeStream {
 public:
  SizedStream(std::unique_ptr<TSchemeStream> inner, bool tellSize)
      : Inner(std::move(inner)), TellSize(tellSize) {}
  int Read(uint8_t* buffer, int size) override { return Inner->Read(buffer, size); }
  int64_t Seek(int64_t offset, int whence) override {
    if (!TellSize && whence == SEEK_END) return AVERROR(ESPIPE);
    return Inner->Seek(offset, whence);
  }
  int64_t Size() override { return TellSize ? Inner->Size() : AVERROR(ENOSYS); }

 private:
  std::unique_ptr<TSchemeStream> Inner;
  bool TellSize;
};

class ProbeSchemeTest : public ProbeTest {
 protected:
  void SetUp() override {
    ProbeTest::SetUp();
    for (bool tellSize : {true, false})
      RegisterInputScheme(
          tellSize ? "probesized" : "probeunsized",
          [tellSize](const std::string& rest, int& error) -> std::unique_ptr<TSchemeStream> {
            auto inner = OpenFileStream(rest, error);
            if (!inner) return nullptr;
            return std::make_unique<SizedStream>(std::move(inner), tellSize);
          });
  }
  void TearDown() override {
    UnregisterInputScheme("probesized");
    UnregisterInputScheme("probeunsized");
    ProbeTest::TearDown();
  }
};

TEST_F(ProbeSchemeTest, SchemeInputReportsTheSizeOfItsStream) {
  TMediaProbe probe;
  const std::string name = "probesized:" + Media().Vob;
  ASSERT_TRUE(probe.OpenMedia(name)) << probe.LastError();
  EXPECT_EQ(probe.FileSize(), int64_t(fs::file_size(Media().Vob)));
  EXPECT_EQ(probe.VideoStreamCount(), 1);
  const auto lines = Lines(probe.DescribeFile());
  EXPECT_EQ(lines[0], "File Name: " + name);
  EXPECT_EQ(lines[1], "Format Name: mpeg");
  EXPECT_EQ(lines[3], "File Size: " + FormatFileSize(int64_t(fs::file_size(Media().Vob))));
}

TEST_F(ProbeSchemeTest, SizeNobodyCanTellIsNotAvailable) {
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia("probeunsized:" + Media().Vob)) << probe.LastError();
  EXPECT_EQ(probe.FileSize(), -1);
  EXPECT_EQ(Lines(probe.DescribeFile())[3], "File Size: N/A");
}

TEST_F(ProbeSchemeTest, SchemeOpenFailureIsReported) {
  TMediaProbe probe;
  const std::string name = "probesized:" + TestFolder() + "/none.vob";
  EXPECT_FALSE(probe.OpenMedia(name));
  EXPECT_EQ(probe.LastError(), name + ": No such file or directory");
}

// ---------------------------------------------------------------------------------------
// Attaching

MediaInputPtr OpenForAttach(const std::string& file) {
  AVFormatContext* ctx = nullptr;
  if (OpenMediaInput(&ctx, file, nullptr, nullptr) < 0) return nullptr;
  MediaInputPtr input(ctx);
  if (avformat_find_stream_info(ctx, nullptr) < 0) return nullptr;
  return input;
}

TEST_F(ProbeTest, CloseOfAttachedProbeLeavesTheFileOpen) {
  MediaInputPtr input = OpenForAttach(Media().Vob);
  ASSERT_TRUE(input);
  auto packet = MakePacket();
  {
    TMediaProbe probe;
    ASSERT_TRUE(probe.OpenMedia(Media().Wav));
    probe.AttachContext(input.get());
    EXPECT_EQ(probe.FormatContext(), input.get());
    EXPECT_FALSE(probe.OwnsContext());
    EXPECT_EQ(probe.FormatName(), "");
    EXPECT_EQ(probe.StreamCount(), 2);
    EXPECT_EQ(probe.VideoStreamCount(), 1);
    EXPECT_EQ(probe.FileSize(), int64_t(fs::file_size(Media().Vob)));
    EXPECT_EQ(probe.DefaultStream(), 0);
    probe.CloseMedia();
    EXPECT_EQ(probe.FormatContext(), nullptr);
    EXPECT_EQ(probe.StreamCount(), -1);
    EXPECT_EQ(probe.DefaultStream(), -1);
    ASSERT_GE(av_read_frame(input.get(), packet.get()), 0);  // still the owner's, still open
    av_packet_unref(packet.get());

    probe.AttachContext(input.get());
    EXPECT_EQ(probe.VideoStreamCount(), 1);
  }  // destroying an attached probe leaves the file alone too
  EXPECT_GE(av_read_frame(input.get(), packet.get()), 0);
}

TEST_F(ProbeTest, UnusableTimeBaseIsRepairedAndZeroHeightLeavesTheRatioUnfilled) {
  MediaInputPtr input = OpenForAttach(Media().Sar1);
  ASSERT_TRUE(input);
  AVStream* st = input->streams[0];
  TMediaProbe probe;
  probe.AttachContext(input.get());

  st->time_base = {0, 0};
  std::string text;
  probe.DescribeFile(text);  // must not divide by the zero denominator
  EXPECT_FALSE(text.empty());
  TVideoStreamInfo info;
  probe.ReadVideoInfo(0, info);
  EXPECT_EQ(st->time_base.num, 1);
  EXPECT_EQ(st->time_base.den, 1);
  EXPECT_EQ(info.DurationMicros, info.Duration * 1000000);

  st->time_base = {5, 0};
  probe.ReadVideoInfo(0, info);
  EXPECT_EQ(st->time_base.num, 5);
  EXPECT_EQ(st->time_base.den, 5);

  st->codecpar->height = 0;
  probe.ReadVideoInfo(0, info);
  EXPECT_EQ(info.DisplayAspectRatio, -1.0f);
  EXPECT_EQ(info.Width, 32);
}

TEST_F(ProbeTest, MissingLibrariesAreNamedInOrder) {
  struct Case {
    int Library;
    const char* Text;
  };
  const Case cases[] = {{liAVCodec, "LibAVCodec not loaded."},
                        {liAVFormat, "LibAVFormat not loaded."},
                        {liAVUtil, "LibAVUtil not loaded."},
                        {liSWScale, "LibSwScale not loaded."}};
  // Unloading from the last to the first names each library in turn.
  TMediaProbe probe;
  for (int i = 3; i >= 0; --i) {
    GlobalLoader().UnloadLibraryItem(cases[i].Library);
    try {
      probe.OpenMedia(Media().Wav);
      ADD_FAILURE() << "no error for " << cases[i].Text;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), cases[i].Text);
    }
    EXPECT_THROW(probe.AttachContext(nullptr), std::runtime_error);
  }
  ASSERT_TRUE(GlobalLoader().LoadLibraries(ConverterLibraries)) << GlobalLoader().LastError();
  EXPECT_TRUE(probe.OpenMedia(Media().Wav)) << probe.LastError();
}

// ---------------------------------------------------------------------------------------
// Fixture discs

struct DiscCase {
  const char* Name;
  const char* Vob;
  const char* VideoPieces;  // from the size to the rates
  std::vector<const char*> StreamIds;
  int Audio, Subtitles;
};

class ProbeDiscTest : public ProbeTest, public ::testing::WithParamInterface<DiscCase> {};

TEST_P(ProbeDiscTest, DescribesTheTitleVob) {
  const DiscCase& c = GetParam();
  const std::string vob = FixturesDir() + "/" + c.Vob;
  if (!fs::exists(vob)) GTEST_SKIP() << vob << " has not been authored";
  TMediaProbe probe;
  ASSERT_TRUE(probe.OpenMedia(vob)) << probe.LastError();
  EXPECT_EQ(probe.VideoStreamCount(), 1);
  EXPECT_EQ(probe.AudioStreamCount(), c.Audio);
  EXPECT_EQ(probe.SubtitleStreamCount(), c.Subtitles);
  EXPECT_EQ(probe.FileSize(), int64_t(fs::file_size(vob)));

  const std::string text = probe.DescribeFile();
  const auto lines = Lines(text);
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[0], "File Name: " + vob);
  EXPECT_EQ(lines[1], "Format Name: mpeg");
  EXPECT_EQ(lines[2], "Format Long Name: MPEG-PS (MPEG-2 Program Stream)");
  EXPECT_EQ(lines[3], "File Size: " + FormatFileSize(int64_t(fs::file_size(vob))));
  EXPECT_TRUE(std::regex_match(lines[4], std::regex(R"(Duration: 00:00:\d\d\.\d{3})"))) << lines[4];
  EXPECT_TRUE(std::regex_match(lines[5], std::regex(R"(StartTime: \d+\.\d{6})"))) << lines[5];
  EXPECT_TRUE(std::regex_match(lines[6], std::regex(R"(Bit Rate: \d+ kb/s)"))) << lines[6];

  const auto streams = LinesStartingWith(text, "Stream #");
  ASSERT_EQ(streams.size(), size_t(probe.StreamCount()));
  for (const char* id : c.StreamIds)
    EXPECT_EQ(std::count_if(streams.begin(), streams.end(),
                            [&](const std::string& l) {
                              return l.find(std::string("[") + id + "]") != std::string::npos;
                            }),
              1)
        << id << "\n"
        << text;
  const std::string& video = streams[probe.FirstVideoStream()];
  EXPECT_NE(video.find(c.VideoPieces), std::string::npos) << video;
  for (const std::string& line : streams)
    EXPECT_TRUE(std::regex_search(line, std::regex(R"(, Duration: (N/A|\d\d:\d\d:\d\d\.\d{3})$)")))
        << line;
}

INSTANTIATE_TEST_SUITE_P(
    Discs, ProbeDiscTest,
    ::testing::Values(DiscCase{"A",
                               "disc_a/VIDEO_TS/VTS_01_1.VOB",
                               "720x576 [SAR 16:15 DAR 4:3], 25 fps, 25 tbr, 90k tbn",
                               {"0x1bf", "0x1e0", "0x80", "0x81", "0x20", "0x21"},
                               2,
                               2},
                      DiscCase{"B",
                               "disc_b/VIDEO_TS/VTS_01_1.VOB",
                               "720x480 [SAR 32:27 DAR 16:9], 29.97 fps, 29.97 tbr, 90k tbn",
                               {"0x1e0", "0x1c0", "0xa1"},
                               2,
                               0}),
    [](const auto& info) { return std::string(info.param.Name); });
