#include "player/tests/player_test_support.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <limits>
#include <thread>

#include "dvd/dvd_plugin_loader.h"
#include "dvd/tests/dvd_test_support.h"
#include "media/loader.h"
#include "media/main_thread.h"
#include "tests/support/test_support.h"

void LoadPlayerLibraries() {
  ASSERT_TRUE(GlobalLoader().LoadLibraries(PlayerLibraries)) << GlobalLoader().LastError();
  LoadPlugInForTests();
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ProcessMessages();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    WaitForMainThreadCalls(std::chrono::milliseconds(5));
  }
}

void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

void TEventLog::Attach(TCustomPlayer& player) {
  player.OnPosition = [this](TCustomPlayer*, int64_t pts) {
    std::lock_guard lock(FLock);
    FPositions.push_back({std::chrono::steady_clock::now(), pts});
  };
  player.OnState = [this](TCustomPlayer*, TPlayState state) {
    std::lock_guard lock(FLock);
    FStates.push_back(state);
  };
}

std::vector<TEventLog::TPosition> TEventLog::Positions() const {
  std::lock_guard lock(FLock);
  return FPositions;
}

std::vector<TPlayState> TEventLog::States() const {
  std::lock_guard lock(FLock);
  return FStates;
}

int TEventLog::Count(TPlayState state) const {
  std::lock_guard lock(FLock);
  return int(std::count(FStates.begin(), FStates.end(), state));
}

int64_t TEventLog::LastPosition() const {
  std::lock_guard lock(FLock);
  return FPositions.empty() ? -1 : FPositions.back().PTS;
}

void TEventLog::Clear() {
  std::lock_guard lock(FLock);
  FPositions.clear();
  FStates.clear();
}

std::string FixtureVob(const std::string& disc, int title) {
  char name[32];
  snprintf(name, sizeof name, "/VIDEO_TS/VTS_%02d_1.VOB", title);
  return FixturesDir() + "/" + disc + name;
}

std::string SelectDVDTitle(const std::string& disc, int title, int audioId, int subtitleId,
                           bool iso) {
  const std::string path = DiscPath(disc, iso);
  EXPECT_GE(EnumDVDTitles(path), title) << DVDLastErrorText();
  SetDVDParam({title - 1, 0, 99, audioId, subtitleId, 2, 0});
  return std::string(kDVDInputScheme) + ":" + path;
}

int ProcessThreadCount() {
  // ThreadSanitizer starts a thread of its own with the first thread the process makes.
  static const bool warmed = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmed;
  int count = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}

int BestMatch(const std::vector<uint8_t>& luma, const std::vector<std::vector<uint8_t>>& references,
              double* difference) {
  int best = -1;
  double bestDifference = std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < references.size(); ++i) {
    const double d = LumaDifference(luma, references[i]);
    if (d < bestDifference) {
      bestDifference = d;
      best = int(i);
    }
  }
  if (difference) *difference = bestDifference;
  return best;
}

// FFmpeg's codec threads hand pictures and packets over with atomics inside the
// (uninstrumented) libraries, which ThreadSanitizer cannot see; its reports about memory that
// libavcodec's threads allocate and libavutil's reference counting frees say nothing about
// the player's own synchronisation. The Qt output's tests link this too: Qt scales and
// converts pictures on a pool of its own threads, likewise inside uninstrumented libraries.
// Under LeakSanitizer: SDL keeps its error text per thread and frees it only for threads SDL
// made; a player thread that sets an error leaves that block behind.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libSDL2-2.0.so\n";
}

extern "C" const char* __tsan_default_suppressions() {
  return "race:libavcodec.so\nrace:av_buffer_unref\nrace:libQt6Gui.so\nrace:libQt6Core.so\n";
}
