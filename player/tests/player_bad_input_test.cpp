// Inputs that cannot be played, or that break while playing: Open fails with the reason in
// LastError, or playback ends with the reason logged; nothing crashes, hangs the caller, or
// leaves a thread behind.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <thread>

#include "dvd/dvd_plugin_loader.h"
#include "dvd/tests/dvd_test_support.h"
#include "media/file_stream.h"
#include "media/io_scheme.h"
#include "media/logger.h"
#include "player/player.h"
#include "player/recording_output.h"
#include "player/tests/player_test_support.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class PlayerBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadPlayerLibraries();
    FThreads = ProcessThreadCount();
  }
  void TearDown() override {
    EXPECT_EQ(ProcessThreadCount(), FThreads) << "a thread stayed behind";
  }
  int FThreads = 0;
};

struct TRefusedCase {
  const char* Name;
  std::function<std::string()> Make;  // the input name
  std::string InputFormat;
  std::string Words;  // what LastError holds
};

std::vector<TRefusedCase> RefusedCases() {
  return {
      {"MissingFile", [] { return TestFolder() + "/missing.vob"; }, "",
       "missing.vob: No such file or directory"},
      {"NotMedia",
       [] {
         const std::string path = TestFolder() + "/noise.vob";
         std::ofstream(path) << std::string(4096, '\x5a');
         return path;
       },
       "", "noise.vob: Invalid data found when processing input"},
      {"NoPlayableStream",
       [] {
         const std::string srt = TestFolder() + "/only.srt";
         std::ofstream(srt) << "1\n00:00:00,000 --> 00:00:01,000\nHello\n";
         return SharedMediaFile("subtitles_only.mkv", "-i '" + srt + "' -c:s srt {out}");
       },
       "", "could not open codecs, no stream to play."},
      {"UnknownInputFormat", [] { return FixtureVob("disc_a", 1); }, "nosuchformat",
       "Unknown input format: nosuchformat"},
      {"TitleTheDiscLacks",
       [] {
         SelectDVDTitle("disc_a", 1, 0x80, 0);
         SetDVDParam({7, 0, 99, 0x80, 0, 2, 0});
         return "opendvd:" + DiscPath("disc_a", true);
       },
       "", "opendvd:" + DiscPath("disc_a", true) + ": "},
      // The title set file ends early: the sectors of the title's second half cannot be read.
      {"UnreadableSectors",
       [] {
         const fs::path disc = fs::path(TestFolder()) / "disc";
         fs::copy(DiscPath("disc_a", false), disc, fs::copy_options::recursive);
         const fs::path vob = disc / "VIDEO_TS" / "VTS_03_1.VOB";
         fs::resize_file(vob, fs::file_size(vob) / 2 / 2048 * 2048);
         EnumDVDTitles(disc.string());
         SetDVDParam({2, 0, 99, 0x80, 0, 2, 0});
         return "opendvd:" + disc.string();
       },
       "", "/disc: I/O error"},
  };
}

class PlayerRefusesInput : public PlayerBadInput,
                           public ::testing::WithParamInterface<TRefusedCase> {};

TEST_P(PlayerRefusesInput, OpenFailsWithTheReason) {
  const auto& c = GetParam();
  TRecordingOutput output(320, 240);
  TEventLog events;
  {
    TMediaPlayer player;
    events.Attach(player);
    player.SetInputFormat(c.InputFormat);
    EXPECT_FALSE(player.Open(c.Make(), &output));
    EXPECT_NE(player.LastError().find(c.Words), std::string::npos) << player.LastError();
    EXPECT_TRUE(player.Paused());
    EXPECT_EQ(player.PlayState(), psStop);
    player.Stop(true);  // harmless
  }
  EXPECT_TRUE(events.States().empty());
  EXPECT_EQ(output.PictureCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, PlayerRefusesInput, ::testing::ValuesIn(RefusedCases()),
                         [](const auto& info) { return std::string(info.param.Name); });

// A VOB with a stretch of garbage in the middle still plays to its end.
TEST_F(PlayerBadInput, DamagedVobPlaysToTheEnd) {
  const std::string path = TestFolder() + "/damaged.vob";
  std::string bytes = ReadFile(FixtureVob("disc_a", 3));
  ASSERT_GT(bytes.size(), 400000u);
  for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 65536; ++i) bytes[i] = char(i * 7919);
  std::ofstream(path, std::ios::binary) << bytes;
  TRecordingOutput output(320, 240, 0);
  TEventLog events;
  TMediaPlayer player;
  events.Attach(player);
  ASSERT_TRUE(player.Open(path, &output)) << player.LastError();
  ASSERT_TRUE(PumpUntil([&] { return events.Has(psEnd); }, 30s));
  // Pictures from before and after the damage (a third into the file) were shown, up to
  // the end (late pictures are dropped on a slow machine, so not every one is).
  const auto pictures = output.Pictures();
  ASSERT_FALSE(pictures.empty());
  EXPECT_LT(pictures.front().PTS, 1000000);
  EXPECT_GT(pictures.back().PTS, 2000000);
  EXPECT_NEAR(double(events.LastPosition()), 3000000, 200000);
}

// ---- A read that blocks ----

// An input scheme over a file whose reads block, once `BlockAfter` bytes were read, until
// the test lets them go.
struct TGate {
  std::mutex Lock;
  std::condition_variable Changed;
  bool Armed = false;  // the next read blocks (or fails)
  bool Fail = false;
  bool Open = false;
  bool Blocked = false;
  std::chrono::milliseconds Delay{0};  // every read takes this long (a slow drive)
};
TGate gGate;

class TSlowStream : public TSchemeStream {
 public:
  explicit TSlowStream(std::unique_ptr<TSchemeStream> inner) : FInner(std::move(inner)) {}
  int Read(uint8_t* buffer, int size) override {
    std::chrono::milliseconds delay{0};
    {
      std::unique_lock lock(gGate.Lock);
      if (gGate.Armed && gGate.Fail) return AVERROR(EIO);
      if (gGate.Armed && !gGate.Open) {
        gGate.Blocked = true;
        gGate.Changed.notify_all();
        gGate.Changed.wait(lock, [] { return gGate.Open; });
      }
      delay = gGate.Delay;
    }
    std::this_thread::sleep_for(delay);
    const int got = FInner->Read(buffer, size);
    if (got > 0) FPosition += got;
    return got;
  }
  int64_t Seek(int64_t offset, int whence) override {
    const int64_t at = FInner->Seek(offset, whence);
    if (at >= 0) FPosition = at;
    return at;
  }
  int64_t Size() override { return FInner->Size(); }

 private:
  std::unique_ptr<TSchemeStream> FInner;
  int64_t FPosition = 0;
};

class PlayerBlockedRead : public PlayerBadInput {
 protected:
  void SetUp() override {
    PlayerBadInput::SetUp();
    {
      std::lock_guard lock(gGate.Lock);
      gGate.Armed = false;
      gGate.Fail = false;
      gGate.Open = false;
      gGate.Blocked = false;
      gGate.Delay = 0ms;
    }
    RegisterInputScheme("slowtest", [](const std::string& rest, int& error) {
      auto inner = OpenFileStream(rest, error);
      return inner ? std::make_unique<TSlowStream>(std::move(inner)) : nullptr;
    });
  }
  void TearDown() override {
    Release();
    UnregisterInputScheme("slowtest");
    PlayerBadInput::TearDown();
  }
  // Lets the reads go when a test ends early (an assertion), before its player is destroyed.
  struct TReleaseAtExit {
    ~TReleaseAtExit() { Release(); }
  };
  static void Release() {
    std::lock_guard lock(gGate.Lock);
    gGate.Open = true;
    gGate.Delay = 0ms;
    gGate.Changed.notify_all();
  }
  static void SetReadDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(gGate.Lock);
    gGate.Delay = delay;
  }
  static void Arm() {
    std::lock_guard lock(gGate.Lock);
    gGate.Armed = true;
  }
  static bool Blocked() {
    std::lock_guard lock(gGate.Lock);
    return gGate.Blocked;
  }
};

TEST_F(PlayerBlockedRead, StopReturnsWhileTheDemuxThreadIsBlocked) {
  TRecordingOutput output(320, 240, 0);
  TEventLog events;
  {
    TReleaseAtExit release;
    TMediaPlayer player;
    events.Attach(player);
    ASSERT_TRUE(player.Open("slowtest:" + FixtureVob("disc_a", 1), &output)) << player.LastError();
    Arm();
    ASSERT_TRUE(PumpUntil([&] { return Blocked(); }));
    const auto start = std::chrono::steady_clock::now();
    player.Stop(true);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_TRUE(player.Paused());
    EXPECT_EQ(player.PlayState(), psStop);
    ASSERT_TRUE(PumpUntil([&] { return events.Has(psStop); }));
    // The read returns later; the player finishes closing when it is destroyed.
    Release();
  }
}

TEST_F(PlayerBlockedRead, DestroyingWaitsForTheBlockedReadToReturn) {
  TRecordingOutput output(320, 240, 0);
  std::thread releaser;
  {
    TReleaseAtExit release;
    TMediaPlayer player;
    ASSERT_TRUE(player.Open("slowtest:" + FixtureVob("disc_a", 1), &output)) << player.LastError();
    Arm();
    ASSERT_TRUE(PumpUntil([&] { return Blocked(); }));
    releaser = std::thread([] {
      std::this_thread::sleep_for(3s);
      Release();
    });
  }
  if (releaser.joinable()) releaser.join();
}

// On a slow input the first picture of a play window comes late: the position waits at the
// window's start for it, so the window's end does not pass (and send playback back to its
// start) before anything was shown.
TEST_F(PlayerBlockedRead, APlayWindowOnASlowInputShowsItsStartFirst) {
  TRecordingOutput output(320, 240, 0);
  TEventLog events;
  TReleaseAtExit release;
  TMediaPlayer player;
  events.Attach(player);
  player.SetPlayStart(2000000);
  player.SetPlayDuration(1000000);
  player.SetEndAction(2);
  ASSERT_TRUE(player.Open("slowtest:" + FixtureVob("disc_a", 1), &output)) << player.LastError();
  SetReadDelay(700ms);  // a second of the title takes several seconds to read
  ASSERT_TRUE(PumpUntil([&] { return output.PictureCount() > 0; }, 60s));
  const TRecordedPicture first = output.Pictures().front();
  EXPECT_NEAR(double(first.PTS), 2000000, 40000);
  for (const auto& position : events.Positions()) {
    if (position.At >= first.ShownAt) break;
    EXPECT_LE(position.PTS, 2040000);
  }
  SetReadDelay(0ms);
  player.Stop(true);
}

// A read that fails half-way (a sector the drive cannot read) ends playback; the reason is
// logged.
TEST_F(PlayerBlockedRead, AReadErrorEndsPlaybackWithTheReasonLogged) {
  std::mutex lock;
  std::vector<std::string> lines;
  GlobalLogger().OnLog = [&](const void*, uint32_t, TLogLevel, const std::string& text) {
    std::lock_guard guard(lock);
    lines.push_back(text);
  };
  TRecordingOutput output(320, 240, 0);
  TEventLog events;
  {
    TMediaPlayer player;
    events.Attach(player);
    ASSERT_TRUE(player.Open("slowtest:" + FixtureVob("disc_a", 1), &output)) << player.LastError();
    {  // the file is read ahead quickly (a subtitle stream keeps the reading going)
      std::lock_guard guard(gGate.Lock);
      gGate.Fail = true;
      gGate.Armed = true;
    }
    EXPECT_TRUE(PumpUntil([&] { return events.Has(psStop); }));
  }
  GlobalLogger().OnLog = nullptr;
  bool logged = false;
  for (const auto& line : lines)
    logged = logged || line.find("while reading file: slowtest:") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(PlayerBlockedRead, OpenGivesUpOnAnInputThatDoesNotAnswer) {
  Arm();
  TRecordingOutput output(320, 240, 0);
  {
    TReleaseAtExit release;
    TMediaPlayer player;
    player.SetOpenTimeout(1000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(player.Open("slowtest:" + FixtureVob("disc_a", 1), &output));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_NE(player.LastError().find("VTS_01_1.VOB: the input did not answer"), std::string::npos)
        << player.LastError();
    Release();
  }
  EXPECT_EQ(output.PictureCount(), 0u);
}

}  // namespace
