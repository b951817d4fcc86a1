// Checks the shipped catalogue against Debian's ffmpeg program: each format's defaults, turned
// into ffmpeg options the way a conversion uses them, must give a file that decodes
// completely with the format's container and codecs. This checks the catalogue's names and
// values only; the converter itself is tested with its own engine elsewhere.
#include <cmath>
#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "app/core/format_params.h"
#include "app/core/global_object.h"
#include "app/core/tests/config_env.h"
#include "media/strings.h"

namespace {

struct Expected {
  const char* container;  // ffprobe's format_name
  const char* video;      // empty for audio formats
  const char* audio;
};

const std::map<int, Expected> kExpected = {
    {0, {"flv", "flv1", "mp3"}},
    {1, {"swf", "flv1", "mp3"}},
    {100, {"mpeg", "mpeg1video", "mp2"}},
    {101, {"mpeg", "mpeg2video", "mp2"}},
    {102, {"mov,mp4,m4a,3gp,3g2,mj2", "mpeg4", "aac"}},
    {103, {"mov,mp4,m4a,3gp,3g2,mj2", "h264", "aac"}},
    {104, {"avi", "mpeg4", "mp3"}},
    {105, {"asf", "wmv2", "wmav2"}},
    {106, {"avi", "mpeg4", "mp3"}},
    {107, {"avi", "mpeg4", "mp3"}},
    {108, {"dv", "dvvideo", "pcm_s16le"}},
    {109, {"dv", "dvvideo", "pcm_s16le"}},
    {200, {"mp3", "", "mp3"}},
    {201, {"aac", "", "aac"}},
    {202, {"mov,mp4,m4a,3gp,3g2,mj2", "", "aac"}},
    {203, {"asf", "", "wmav2"}},
    {204, {"wav", "", "pcm_s16le"}},
    {205, {"ogg", "", "vorbis"}},
    {206, {"ac3", "", "ac3"}},
};

bool IsInteger(const std::string& text) {
  int value = 0;
  return TryParseInteger(text, value);
}

bool IsNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  std::istringstream in(text);
  in >> value;
  return in && in.peek() == EOF;
}

// The containers a conversion names explicitly; others follow the file's extension.
const std::set<std::string> kNamedContainers = {"ipod", "3gp", "3g2", "avi",    "psp",
                                                "mov",  "vcd", "flv", "mpegts", "vob"};
// Video encoders a conversion names; others leave the container's default.
const std::set<std::string> kNamedVideoEncoders = {
    "mpeg4",   "libxvid", "mpeg1video", "mpeg2video", "msmpeg4", "msmpeg4v1", "msmpeg4v2",
    "huffyuv", "dvvideo", "rawvideo",   "h263p",      "h263",    "rv10",      "rv20",
    "ljpeg",   "mjpeg",   "svq1",       "zlib",       "wmv1",    "wmv2",      "libx264"};

std::string OutputOptions(const TFormatParams& p, const std::string& format) {
  std::ostringstream o;
  const std::string lowerFormat = LowerCase(format);
  // Target names set up the norm's fixed picture layout (DV's chroma layout among them).
  if (lowerFormat == "ntsc-dv" || lowerFormat == "pal-dv") o << " -target " << lowerFormat;
  if (kNamedContainers.count(lowerFormat)) o << " -f " << format;
  if (!p.HasVideo()) {
    o << " -vn";
  } else {
    if (p.VideoEncoder == "mpeg2video") o << " -target dvd";
    if (kNamedVideoEncoders.count(p.VideoEncoder)) o << " -c:v " << p.VideoEncoder;
    if (p.VideoBitRate != kAsSource && IsInteger(p.VideoBitRate) && std::stoi(p.VideoBitRate) > 0)
      o << " -b:v " << p.VideoBitRate << "k";
    double rate = 0;
    if (p.FrameRate != kAsSource && IsNumber(p.FrameRate, rate) && rate > 0)
      o << " -r " << p.FrameRate;
    if (p.VideoSize != kAsSource) {
      const size_t x = p.VideoSize.find('x');
      o << " -vf scale=" << p.VideoSize.substr(0, x) << ":" << p.VideoSize.substr(x + 1);
    }
  }
  if (p.AudioEncoder.empty()) {
    o << " -an";
  } else {
    o << " -c:a " << p.AudioEncoder;
    if (p.Channel != kAsSource && IsInteger(p.Channel)) o << " -ac " << p.Channel;
    if (p.SampleRate != kAsSource && IsInteger(p.SampleRate)) o << " -ar " << p.SampleRate;
    double kbits = 0;
    if (p.AudioBitRate != kAsSource && IsNumber(p.AudioBitRate, kbits) && kbits > 0)
      o << " -b:a " << std::lround(kbits * 1000);
    if (p.Volume != kUnchangedVolume) o << " -af volume=" << std::stoi(p.Volume) / 256.0;
  }
  return o.str();
}

// The container's duration, or where the last audio packet ends when the container has none
// (SWF).
double PlayingTime(const std::string& file) {
  const std::string format =
      RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file + "'");
  double seconds = 0;
  if (IsNumber(format.substr(0, format.find('\n')), seconds)) return seconds;
  std::istringstream packets(
      RunCommand("ffprobe -v error -select_streams a -show_entries packet=pts_time,duration_time"
                 " -of csv=p=0 '" +
                 file + "'"));
  std::string line;
  double end = -1;
  while (std::getline(packets, line)) {
    double pts = 0, duration = 0;
    const size_t comma = line.find(',');
    if (IsNumber(line.substr(0, comma), pts) &&
        (comma == std::string::npos || IsNumber(line.substr(comma + 1), duration)))
      end = std::max(end, pts + duration);
  }
  return end;
}

}  // namespace

class CatalogueEncodeTest : public ConfigEnvTest,
                            public ::testing::WithParamInterface<TBuiltInFormat> {};

TEST_P(CatalogueEncodeTest, DefaultsConvertWithDebiansFfmpeg) {
  int status = -1;
  RunCommand("ffmpeg -hide_banner -version >/dev/null 2>&1", &status);
  if (status != 0) GTEST_SKIP() << "no ffmpeg program";

  const auto global = CreateGlobalObject();
  const TFormatCatalogue catalogue(global->FormatIniPath());
  const int code = GetParam().Code;
  const TFormatParams params = ReadFormatParams(global->Settings(), catalogue, code);
  const Expected& expected = kExpected.at(code);
  const std::string out = Folder + "/out." + catalogue.FileExt(code);

  // A 2-second PAL-sized picture with stereo 48 kHz sound, like a DVD title.
  const std::string command =
      "ffmpeg -nostdin -hide_banner -v error -y"
      " -f lavfi -i testsrc2=s=720x576:r=25:d=2"
      " -f lavfi -i 'aevalsrc=sin(440*2*PI*t)|sin(660*2*PI*t):s=48000:d=2'"
      " -map 0:v -map 1:a" +
      OutputOptions(params, catalogue.Format(code)) + " '" + out + "' 2>&1";
  const std::string log = RunCommand(command, &status);
  ASSERT_EQ(status, 0) << command << "\n" << log;

  const std::string probe = RunCommand(
      "ffprobe -v error -show_entries format=format_name,duration:stream=codec_type,"
      "codec_name -of default=nw=1 '" +
      out + "'");
  EXPECT_NE(probe.find("format_name=" + std::string(expected.container) + "\n"), std::string::npos)
      << probe;
  EXPECT_NE(probe.find("codec_name=" + std::string(expected.audio) + "\ncodec_type=audio"),
            std::string::npos)
      << probe;
  if (*expected.video)
    EXPECT_NE(probe.find("codec_name=" + std::string(expected.video) + "\ncodec_type=video"),
              std::string::npos)
        << probe;
  else
    EXPECT_EQ(probe.find("codec_type=video"), std::string::npos) << probe;

  EXPECT_NEAR(PlayingTime(out), 2.0, 0.5) << probe;

  // The whole file decodes without a complaint.
  const std::string decode =
      RunCommand("ffmpeg -nostdin -v error -i '" + out + "' -f null - 2>&1", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(decode, "");
}

INSTANTIATE_TEST_SUITE_P(EveryCode, CatalogueEncodeTest, ::testing::ValuesIn(BuiltInFormats()),
                         [](const auto& info) { return "code" + std::to_string(info.param.Code); });
