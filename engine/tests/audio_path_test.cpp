// The audio path: resampling, channel and format conversion, audio sync, FIFO framing, PCM
// blocks and volume, checked in the decoded output.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "engine/tests/engine_run_support.h"
#include "engine/tests/engine_test_support.h"
#include "tests/support/test_support.h"

namespace {

class AudioPathTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadEngineLibraries(); }

  // Converts `input` with the options into `name` in the test's folder.
  std::string Convert(const std::string& input, const TOptionList& options, const std::string& name,
                      TCustomTranscoder& transcoder) {
    EXPECT_TRUE(transcoder.OpenInputFile(input)) << transcoder.LastError();
    ApplyOptions(transcoder, options);
    const std::string output = Folder() + "/" + name;
    EXPECT_EQ(transcoder.OpenOutputFile(output, false), 1) << transcoder.LastError();
    EXPECT_TRUE(RunToEnd(transcoder));
    EXPECT_FALSE(transcoder.Failed()) << transcoder.ErrorMessage();
    return output;
  }
  const std::string& Folder() {
    if (FFolder.empty()) FFolder = TestFolder();
    return FFolder;
  }

 private:
  std::string FFolder;
};

// The tone's frequency from the zero crossings of one channel of interleaved samples.
double ToneFrequency(const std::vector<int16_t>& samples, int channels, int rate, size_t from) {
  int crossings = 0;
  size_t first = 0, last = 0;
  for (size_t i = from + size_t(channels); i < samples.size(); i += size_t(channels)) {
    if ((samples[i - size_t(channels)] < 0) != (samples[i] < 0)) {
      if (!crossings) first = i;
      last = i;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  const double seconds = double(last - first) / channels / rate;
  return (crossings - 1) / 2.0 / seconds;
}

double Rms(const std::vector<int16_t>& samples) {
  double sum = 0;
  for (int16_t s : samples) sum += double(s) * s;
  return samples.empty() ? 0 : std::sqrt(sum / double(samples.size()));
}

// 48,000 Hz AC-3 into a 44,100 Hz encoder: resampled from the start, the tone unchanged.
TEST_F(AudioPathTest, ResamplesToTheEncodersRate) {
  TCustomTranscoder transcoder;
  const std::string output = Convert(DiscAVob(3), {{"ar", "44100"}}, "rate.wav", transcoder);
  ASSERT_EQ(transcoder.RunReport().size(), 1u);
  EXPECT_TRUE(transcoder.RunReport()[0].Resampled);
  const auto streams = ProbeStreams(output);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].SampleRate, 44100);
  EXPECT_NEAR(streams[0].Duration, 3.0, 0.05);
  const double source = ToneFrequency(DecodeAudio(DiscAVob(3), 44100, 2), 2, 44100, 4410);
  EXPECT_NEAR(ToneFrequency(DecodeAudio(output, 44100, 2), 2, 44100, 4410), source, 2.0);
}

// Same rate, float input, 16-bit encoder: only the sample format changes.
TEST_F(AudioPathTest, ConvertsTheSampleFormatWithoutResampling) {
  TCustomTranscoder transcoder;
  const std::string output = Convert(DiscAVob(3), {}, "format.wav", transcoder);
  EXPECT_FALSE(transcoder.RunReport().at(0).Resampled);
  const auto samples = DecodeAudio(output, 48000, 2);
  EXPECT_NEAR(double(samples.size()) / 2, 3.0 * 48000, 1536);
  const double source = ToneFrequency(DecodeAudio(DiscAVob(3), 48000, 2), 2, 48000, 4800);
  EXPECT_NEAR(ToneFrequency(samples, 2, 48000, 4800), source, 1.0);
}

// Mono input, stereo output at the same rate: the first block switches resampling on, and
// both channels carry the input.
TEST_F(AudioPathTest, MonoToStereoSwitchesResamplingOnAtTheFirstBlock) {
  const std::string input = Folder() + "/mono.wav";
  WriteToneWav(input, 1.0, 8000, 440);
  TCustomTranscoder transcoder;
  const std::string output = Convert(input, {{"ac", "2"}}, "stereo.wav", transcoder);
  EXPECT_TRUE(transcoder.RunReport().at(0).Resampled);
  const auto streams = ProbeStreams(output);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].Channels, 2);
  EXPECT_EQ(streams[0].SampleRate, 8000);
  const auto stereo = DecodeAudio(output, 8000, 2);
  const auto mono = DecodeAudio(input, 8000, 1);
  ASSERT_EQ(stereo.size(), 2 * mono.size());
  for (size_t i = 0; i < mono.size(); ++i) ASSERT_EQ(stereo[2 * i], stereo[2 * i + 1]) << i;
  EXPECT_NEAR(ToneFrequency(stereo, 2, 8000, 0), 440.0, 2.0);
}

class LateAudioTest : public AudioPathTest, public ::testing::WithParamInterface<int> {};

// Audio that starts 200 ms after the video. The output (which keeps no timestamps) gets
// 8,820 samples of silence first, so the sound keeps its place against the picture: with
// audio sync 1 as the first block is aligned, and without audio sync (0) because the sound
// keeps to the picture's clock.
TEST_P(LateAudioTest, LateStartIsFilledWithSilence) {
  const int async = GetParam();
  const std::string input = Folder() + "/late.mkv";
  MakeMedia(
      "-f lavfi -i testsrc=d=1:r=25:s=64x48 -itsoffset 0.2 -f lavfi -i "
      "sine=f=441:r=44100:d=1 -c:v mpeg4 -c:a pcm_s16le '" +
      input + "'");
  TCustomTranscoder transcoder;
  TLogCapture log;
  const std::string output = Convert(
      input, {{"v", "3"}, {"async", std::to_string(async)}, {"ac", "1"}}, "late.wav", transcoder);
  const auto samples = DecodeAudio(output, 44100, 1);
  size_t firstSound = 0;
  while (firstSound < samples.size() && std::abs(samples[firstSound]) < 2) ++firstSound;
  EXPECT_TRUE(log.Contains(llVerbose, "adding 8820 audio samples of silence"));
  EXPECT_GE(firstSound, 8820u);
  EXPECT_LE(firstSound, 8823u);
  EXPECT_NEAR(double(samples.size()), 8820 + 44100, 10);
}

INSTANTIATE_TEST_SUITE_P(Async, LateAudioTest, ::testing::Values(0, 1));

// A 30 ms jump in the audio's timestamps: above 50 samples but under the 0.1 s threshold, so
// async 1 leaves it alone and async 1000 compensates by stretching, never by cutting.
class DriftTest : public AudioPathTest, public ::testing::WithParamInterface<int> {};

TEST_P(DriftTest, SmallDriftIsCompensatedOnlyWhenAsked) {
  const int async = GetParam();
  const std::string input = Folder() + "/drift.mkv";
  MakeMedia(
      "-f lavfi -i sine=f=441:r=44100:d=2 -af "
      "\"asetpts=N/SR/TB+if(gte(N\\,44100)\\,0.03/TB\\,0)\" -c:a pcm_s16le '" +
      input + "'");
  TCustomTranscoder transcoder;
  TLogCapture log;
  const std::string output =
      Convert(input, {{"v", "3"}, {"async", std::to_string(async)}}, "drift.wav", transcoder);
  EXPECT_FALSE(log.Contains("audio samples of silence"));
  EXPECT_FALSE(log.Contains("discarding"));
  EXPECT_EQ(log.Contains("compensating audio timestamp drift:"), async > 1);
  if (async > 1) {
    EXPECT_TRUE(log.Contains("compensation:1000 in:44100"));
  }
  const auto samples = DecodeAudio(output, 44100, 1);
  EXPECT_NEAR(double(samples.size()), 2 * 44100, async > 1 ? 1400 : 10);
}

INSTANTIATE_TEST_SUITE_P(Async, DriftTest, ::testing::Values(1, 1000));

// Audio sync 1 across a rate change (8,000 Hz in, 48,000 Hz out): a 50 ms jump in the
// sound's timestamps is 2,400 output samples, under the drift threshold of 0.1 s at the
// output's rate (4,800 samples), so nothing is added and the sound runs on sample for
// sample; measured at the input's rate (800) the threshold would let silence in.
TEST_F(AudioPathTest, DriftThresholdIsCountedAtTheOutputsRate) {
  const std::string input = Folder() + "/jump.mkv";
  MakeMedia(
      "-f lavfi -i sine=f=441:r=8000:d=2 -af "
      "\"asetpts=N/SR/TB+if(gte(N\\,8000)\\,0.05/TB\\,0)\" -c:a pcm_s16le '" +
      input + "'");
  TCustomTranscoder transcoder;
  TLogCapture log;
  const std::string output =
      Convert(input, {{"v", "3"}, {"async", "1"}, {"ar", "48000"}}, "jump.wav", transcoder);
  EXPECT_FALSE(log.Contains("audio samples of silence"));
  EXPECT_FALSE(log.Contains("discarding"));
  EXPECT_NEAR(double(DecodeAudio(output, 48000, 1).size()), 2 * 48000, 8);
}

// PCM-like encoders take each decoded block whole: one packet per AC-3 frame.
TEST_F(AudioPathTest, PcmEncodesEachBlockAsOnePacket) {
  TCustomTranscoder transcoder;
  const std::string output =
      Convert(DiscAVob(3), {{"vn", ""}, {"acodec", "pcm_s16le"}}, "blocks.mkv", transcoder);
  const auto& report = transcoder.RunReport().at(0);
  EXPECT_EQ(report.Packets, report.Frames);
  std::istringstream durations(
      RunCommand("ffprobe -v error -select_streams a:0 -show_entries "
                 "packet=duration -of csv=p=0 '" +
                 output + "'"));
  std::string line;
  int packets = 0, full = 0;
  while (std::getline(durations, line)) {
    ++packets;
    if (std::atoi(line.c_str()) == 32) ++full;  // 1,536 samples at 48 kHz, milliseconds
  }
  EXPECT_EQ(packets, report.Packets);
  EXPECT_GE(full, packets - 1);
  EXPECT_NEAR(packets, 3.0 * 48000 / 1536, 2);
}

// Encoders with a frame size get exactly that many samples per frame from the FIFO.
TEST_F(AudioPathTest, FifoCutsFramesOfTheEncodersSize) {
  TCustomTranscoder transcoder;
  const std::string output =
      Convert(DiscAVob(3), {{"vn", ""}, {"acodec", "mp2"}}, "frames.mkv", transcoder);
  const auto& report = transcoder.RunReport().at(0);
  EXPECT_NEAR(double(report.Frames), 3.0 * 48000 / 1152, 2);
  const auto streams = ProbeStreams(output);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_NEAR(streams[0].Duration, 3.0, 0.05);
}

TEST_F(AudioPathTest, VolumeScalesTheSamples) {
  TCustomTranscoder plain, louder;
  const std::string normal = Convert(DiscAVob(3), {}, "normal.wav", plain);
  const std::string loud = Convert(DiscAVob(3), {{"vol", "512"}}, "loud.wav", louder);
  const double ratio = Rms(DecodeAudio(loud, 48000, 2)) / Rms(DecodeAudio(normal, 48000, 2));
  EXPECT_NEAR(ratio, 2.0, 0.02);
}

}  // namespace
