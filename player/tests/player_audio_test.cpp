// Sound through SDL's disk audio driver, which writes what the device plays into a file in
// real time: the chosen track's tone, mute, volume; and an audio-only file's waveform.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "player/player.h"
#include "player/recording_output.h"
#include "player/tests/player_test_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono_literals;

// The device plays 48 kHz stereo signed 16-bit samples (the discs' format).
struct TSound {
  std::vector<int16_t> Left;  // first channel, from the first sample that is not silent
  size_t Leading = 0;         // silent samples before it
};

TSound ReadSound(const std::string& path) {
  const std::string bytes = ReadFile(path);
  TSound sound;
  const size_t frames = bytes.size() / 4;
  const auto* samples = reinterpret_cast<const int16_t*>(bytes.data());
  size_t first = 0;
  while (first < frames && samples[first * 2] == 0 && samples[first * 2 + 1] == 0) ++first;
  sound.Leading = first;
  for (size_t i = first; i < frames; ++i) sound.Left.push_back(samples[i * 2]);
  return sound;
}

double ToneHz(const std::vector<int16_t>& samples, int rate) {
  int crossings = 0;
  for (size_t i = 1; i < samples.size(); ++i)
    if (samples[i - 1] < 0 && samples[i] >= 0) ++crossings;
  return samples.size() > 1 ? crossings * double(rate) / double(samples.size()) : 0;
}

double Rms(const std::vector<int16_t>& samples) {
  double sum = 0;
  for (int16_t s : samples) sum += double(s) * s;
  return samples.empty() ? 0 : std::sqrt(sum / samples.size());
}

class PlayerAudio : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadPlayerLibraries();
    FFile = TestFolder() + "/sdlaudio.raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", FFile.c_str(), 1);
  }
  void TearDown() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("SDL_DISKAUDIOFILE");
  }

  // Plays the selection for `seconds` of positions and, when `sound` is given, until the
  // device has played that many samples since the first that is not silent (on a loaded
  // machine the sound may start after the pictures, which then wait for it); stops, and
  // reads what was played.
  TSound Play(const std::string& input, const std::function<void(TMediaPlayer&)>& setup,
              double seconds, TEventLog* log = nullptr, size_t sound = 0) {
    TRecordingOutput output(720, 576, 0);
    TEventLog own;
    TEventLog& events = log ? *log : own;
    TMediaPlayer player;
    events.Attach(player);
    if (setup) setup(player);
    EXPECT_TRUE(player.Open(input, &output)) << player.LastError();
    EXPECT_TRUE(PumpUntil([&] { return events.LastPosition() >= int64_t(seconds * 1e6); }));
    if (sound) {
      EXPECT_TRUE(PumpUntil([&] { return ReadSound(FFile).Left.size() > sound; }));
    }
    player.Stop(true);
    return ReadSound(FFile);
  }

  std::string FFile;
};

struct TTrackCase {
  const char* Name;
  int AudioId;        // DVD stream id ("opendvd:"), or 0 to play the VOB file
  int WantedOrdinal;  // with the VOB file: the audio stream's ordinal
  double Hz;
};

class PlayerAudioTrack : public PlayerAudio, public ::testing::WithParamInterface<TTrackCase> {};

TEST_P(PlayerAudioTrack, PlaysTheChosenTracksTone) {
  const auto& c = GetParam();
  const std::string input =
      c.AudioId ? SelectDVDTitle("disc_a", 1, c.AudioId, 0) : FixtureVob("disc_a", 1);
  const TSound sound = Play(
      input,
      [&](TMediaPlayer& p) {
        if (!c.AudioId) p.SetWantedStream(1, c.WantedOrdinal);
      },
      1.5, nullptr, 48000);
  ASSERT_GT(sound.Left.size(), 48000u) << "the device played less than a second of sound";
  const std::vector<int16_t> second(sound.Left.begin() + 4800, sound.Left.begin() + 48000);
  EXPECT_NEAR(ToneHz(second, 48000), c.Hz, c.Hz * 0.03);
  EXPECT_GT(Rms(second), 1000);  // clearly audible
}

INSTANTIATE_TEST_SUITE_P(DiscATitle1, PlayerAudioTrack,
                         ::testing::Values(TTrackCase{"EnglishThroughTheDVD", 0x80, -1, 440},
                                           TTrackCase{"FrenchThroughTheDVD", 0x81, -1, 660},
                                           TTrackCase{"SecondTrackOfTheVob", 0, 1, 660}),
                         [](const auto& info) { return std::string(info.param.Name); });

// Mute and volume 0 play silence while the clock (and the positions) go on; volume 64
// halves every sample.
TEST_F(PlayerAudio, MuteAndVolume) {
  const std::string input = SelectDVDTitle("disc_a", 1, 0x80, 0);
  const TSound full = Play(input, nullptr, 1.5, nullptr, 48000);
  ASSERT_GT(full.Left.size(), 48000u);
  const double fullRms = Rms({full.Left.begin(), full.Left.begin() + 48000});

  TSound half = Play(
      input, [](TMediaPlayer& p) { p.SetAudioVolume(64); }, 1.5, nullptr, 48000);
  ASSERT_GT(half.Left.size(), 48000u);
  EXPECT_NEAR(Rms({half.Left.begin(), half.Left.begin() + 48000}) / fullRms, 0.5, 0.01);

  for (const auto& silent : std::vector<std::function<void(TMediaPlayer&)>>{
           [](TMediaPlayer& p) { p.SetMute(true); },
           [](TMediaPlayer& p) { p.SetAudioVolume(0); }}) {
    TEventLog events;
    const auto start = std::chrono::steady_clock::now();
    const TSound sound = Play(input, silent, 1.5, &events);
    EXPECT_TRUE(sound.Left.empty()) << "sound after " << sound.Leading << " silent samples";
    // The clock went on in real time.
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(events.LastPosition(), 1500000);
    EXPECT_LT(events.LastPosition() / 1e6, wall + 0.5);
    EXPECT_GE(ReadFile(FFile).size(), size_t(48000 * 4));  // the device was fed throughout
  }
}

// A file without pictures shows its sound as a waveform: white on black, a sine of the
// tone's amplitude around the middle of the window.
TEST_F(PlayerAudio, AudioOnlyFileShowsTheWaveform) {
  const std::string wav = TestFolder() + "/tone.wav";
  WriteToneWav(wav, 4.0, 8000, 200);  // amplitude 8000 of 32768
  TRecordingOutput output(320, 240, 4);
  TEventLog events;
  TMediaPlayer player;
  events.Attach(player);
  ASSERT_TRUE(player.Open(wav, &output)) << player.LastError();
  ASSERT_TRUE(
      PumpUntil([&] { return events.LastPosition() >= 1500000 && output.ScreenCount() >= 10; }));
  EXPECT_EQ(output.PictureCount(), 0u);
  const auto screens = output.Screens();
  const TRecordedScreen& last = screens.back();
  ASSERT_EQ(last.Screen.Width(), 320);
  ASSERT_EQ(last.Screen.Height(), 240);
  // Each column: a white run from the middle (120) up or down to the sample.
  const int scale = 240 * 9 / 20;
  const int expected = 8000 * scale / 32768;  // 26 pixels
  int highest = 0, columnsDrawn = 0;
  for (int x = 0; x < 320; ++x) {
    int top = 240, bottom = -1;
    for (int y = 0; y < 240; ++y) {
      const uint8_t* p = last.Screen.ScanLine(y) + x * 3;
      if (p[0] > 200 && p[1] > 200 && p[2] > 200) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      } else {
        EXPECT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 0) << x << "," << y;
      }
    }
    if (bottom < 0) continue;
    ++columnsDrawn;
    EXPECT_TRUE(top <= 120 && bottom >= 119) << "column " << x << " leaves the middle";
    highest = std::max(highest, std::max(120 - top, bottom - 120));
  }
  EXPECT_EQ(columnsDrawn, 320);
  EXPECT_NEAR(highest, expected, 3);
  player.Stop(true);
}

// The spectrum: one column per refresh, brightest at the tone's frequency (200 Hz of 4 kHz
// over 256 rows of the transform: row 12 or 13 from the bottom).
TEST_F(PlayerAudio, SpectrumShowsTheTonesFrequency) {
  const std::string wav = TestFolder() + "/tone.wav";
  WriteToneWav(wav, 4.0, 8000, 200);
  TRecordingOutput output(320, 240, 4);
  TMediaPlayer player;
  player.SetShowAudioMode(2);
  ASSERT_TRUE(player.Open(wav, &output)) << player.LastError();
  ASSERT_TRUE(PumpUntil([&] { return output.ScreenCount() >= 40; }));
  player.Stop(true);
  const TRecordedScreen last = output.Screens().back();
  ASSERT_EQ(last.Changed.Width, 1);
  const int column = last.Changed.X;
  int brightest = -1, level = -1;
  for (int y = 0; y < 240; ++y) {
    const uint8_t* p = last.Screen.ScanLine(y) + column * 3;
    if (p[2] > level) {
      level = p[2];
      brightest = y;
    }
  }
  EXPECT_NEAR(239 - brightest, 12.8, 1.5);
  EXPECT_GT(level, 100);
}

}  // namespace
