#include "engine/tests/engine_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "media/loader.h"
#include "tests/support/test_support.h"

void LoadEngineLibraries() {
  static bool loaded = GlobalLoader().LoadLibraries(ConverterLibraries);
  ASSERT_TRUE(loaded) << GlobalLoader().LastError();
}

TLogCapture::TLogCapture(TLogLevel level) {
  auto& logger = GlobalLogger();
  FPrevious = logger.OnLog;
  FPreviousLevel = logger.LogLevel();
  FPreviousTrigger = logger.TriggerEventInMainThread;
  // Worker threads log too; collecting on the logging thread needs no main-thread pump.
  logger.TriggerEventInMainThread = false;
  logger.SetLogLevel(level);
  logger.OnLog = [this](const void*, uint32_t, TLogLevel lineLevel, const std::string& text) {
    std::lock_guard lock(FMutex);
    FLines.push_back({lineLevel, text});
  };
}

TLogCapture::~TLogCapture() {
  auto& logger = GlobalLogger();
  logger.OnLog = FPrevious;
  logger.SetLogLevel(FPreviousLevel);
  logger.TriggerEventInMainThread = FPreviousTrigger;
}

bool TLogCapture::Contains(const std::string& text) const {
  return Count(text) > 0;
}

bool TLogCapture::Contains(TLogLevel level, const std::string& text) const {
  std::lock_guard lock(FMutex);
  for (const auto& line : FLines)
    if (line.Level == level && line.Text.find(text) != std::string::npos) return true;
  return false;
}

int TLogCapture::Count(const std::string& text) const {
  std::lock_guard lock(FMutex);
  int count = 0;
  for (const auto& line : FLines)
    if (line.Text.find(text) != std::string::npos) ++count;
  return count;
}

std::vector<std::string> TLogCapture::Lines() const {
  std::lock_guard lock(FMutex);
  std::vector<std::string> lines;
  for (const auto& line : FLines) lines.push_back(line.Text);
  return lines;
}

void TLogCapture::Clear() {
  std::lock_guard lock(FMutex);
  FLines.clear();
}

std::string DiscAVob(int title) {
  return FixturesDir() + "/disc_a/VIDEO_TS/VTS_0" + std::to_string(title) + "_1.VOB";
}

std::string DiscBVob() {
  return FixturesDir() + "/disc_b/VIDEO_TS/VTS_01_1.VOB";
}

void MakeMedia(const std::string& arguments) {
  int status = 0;
  const std::string output =
      RunCommand("ffmpeg -hide_banner -loglevel error -nostdin -y " + arguments + " 2>&1", &status);
  ASSERT_EQ(status, 0) << arguments << "\n" << output;
}

std::vector<TProbedStream> ProbeStreams(const std::string& path) {
  std::vector<TProbedStream> streams;
  int status = 0;
  const std::string info = RunCommand(
      "ffprobe -v error -count_frames -show_entries "
      "stream=index,codec_type,codec_name,width,height,sample_rate,channels,nb_read_frames "
      "-of default=nw=0 '" +
          path + "' 2>/dev/null",
      &status);
  if (status != 0) return streams;
  std::istringstream lines(info);
  std::string line;
  TProbedStream current;
  bool open = false;
  while (std::getline(lines, line)) {
    if (line == "[STREAM]") {
      current = TProbedStream();
      open = true;
      continue;
    }
    if (line == "[/STREAM]") {
      if (open) streams.push_back(current);
      open = false;
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    auto number = [&value] { return value == "N/A" ? 0LL : std::atoll(value.c_str()); };
    if (key == "codec_type")
      current.CodecType = value;
    else if (key == "codec_name")
      current.CodecName = value;
    else if (key == "width")
      current.Width = int(number());
    else if (key == "height")
      current.Height = int(number());
    else if (key == "sample_rate")
      current.SampleRate = int(number());
    else if (key == "channels")
      current.Channels = int(number());
    else if (key == "nb_read_frames")
      current.DecodedFrames = number();
  }
  // Durations from the decoded frames: last frame's end minus the first frame's start.
  for (size_t i = 0; i < streams.size(); ++i) {
    const std::string times = RunCommand(
        "ffprobe -v error -select_streams " + std::to_string(i) +
        " -show_entries frame=best_effort_timestamp_time,pkt_duration_time -of csv=p=0 '" + path +
        "' 2>/dev/null");
    std::istringstream rows(times);
    std::string row;
    double first = -1, end = 0;
    while (std::getline(rows, row)) {
      const size_t comma = row.find(',');
      if (comma == std::string::npos || row.compare(0, 3, "N/A") == 0) continue;
      const double start = std::atof(row.c_str());
      const double duration = std::atof(row.c_str() + comma + 1);
      if (first < 0) first = start;
      end = std::max(end, start + duration);
    }
    if (first >= 0) streams[i].Duration = end - first;
  }
  return streams;
}

const TProbedStream* FindStream(const std::vector<TProbedStream>& streams,
                                const std::string& type) {
  for (const auto& stream : streams)
    if (stream.CodecType == type) return &stream;
  return nullptr;
}

bool DecodesCleanly(const std::string& path) {
  int status = 0;
  const std::string errors =
      RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1", &status);
  return status == 0 && errors.empty();
}

std::vector<int16_t> DecodeAudio(const std::string& path, int rate, int channels) {
  const std::string raw = RunCommand(
      "ffmpeg -nostdin -v error -i '" + path + "' -map 0:a:0 -f s16le -acodec pcm_s16le -ar " +
      std::to_string(rate) + " -ac " + std::to_string(channels) + " - 2>/dev/null");
  std::vector<int16_t> samples(raw.size() / 2);
  std::memcpy(samples.data(), raw.data(), samples.size() * 2);
  return samples;
}

std::vector<uint8_t> DecodePicture(const std::string& path, double seconds, int width, int height) {
  const std::string raw =
      RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -ss " + std::to_string(seconds) +
                 " -frames:v 1 -f rawvideo -pix_fmt rgb24 -s " + std::to_string(width) + "x" +
                 std::to_string(height) + " - 2>/dev/null");
  return std::vector<uint8_t>(raw.begin(), raw.end());
}

// FFmpeg's codec threads hand pictures and packets over with atomics inside the
// (uninstrumented) libraries, which ThreadSanitizer cannot see; its reports about memory that
// libavcodec's threads allocate and libavutil's reference counting frees say nothing about
// this program's own synchronisation.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libavcodec.so\nrace:av_buffer_unref\n";
}
