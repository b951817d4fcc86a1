// Player benchmarks, run by hand:
//   bin/player_bench [work folder]
// 1. Open to first picture: a 720x576 disc title through "opendvd:" and its VOB file, from
//    the Open call to the first picture handed to the output (median of 5). Target < 250 ms
//    for a disc title. mpv's counterpart: the whole process showing one picture of the VOB.
// 2. CPU per second of playback of the 720x576 title: dvdswf-play (Qt offscreen, a 720x576
//    window) for 20 s, against mpv on the same VOB converting to 720x576 RGB (--vo=null with
//    a scale to bgra). Target < 30 % of one core and at most 1.5x mpv's.
// 3. Audio/video offset over a 60 s title with a white picture and a beep at every whole
//    second: the time a flash picture is handed to the output against the time its beep
//    reaches the audio device (SDL's disk driver, whose writes are watched). Target: every
//    flash within 40 ms of its beep.
// The discs are authored into the work folder (default /tmp/dvdswf-player-bench) on the
// first run with bench/make_long_disc.sh and reused. mpv comes from tools/deps.sh's
// DVDSWF_BENCH_PACKAGES; without it the mpv figures are skipped.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dvd/dvd_plugin_loader.h"
#include "media/loader.h"
#include "media/main_thread.h"
#include "player/player.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

bool Run(const std::string& command) {
  std::printf("  $ %s\n", command.c_str());
  return std::system(command.c_str()) == 0;
}

// CPU seconds (user + system) of the children that ended while `command` ran, and the wall
// time.
struct TCpu {
  double Cpu = 0, Wall = 0;
  bool Ok = false;
};
TCpu ChildCpu(const std::string& command) {
  rusage before{}, after{};
  getrusage(RUSAGE_CHILDREN, &before);
  const auto start = Clock::now();
  TCpu result;
  result.Ok = Run(command);
  result.Wall = Ms(Clock::now() - start) / 1000;
  getrusage(RUSAGE_CHILDREN, &after);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
  result.Cpu = seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
               seconds(before.ru_stime);
  return result;
}

bool HaveMpv() {
  return std::system("command -v mpv >/dev/null 2>&1") == 0;
}

void Pump(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
  const auto end = Clock::now() + limit;
  while (!done() && Clock::now() < end) WaitForMainThreadCalls(2ms);
}

// Remembers when the first picture arrived.
class TFirstPictureOutput : public TVideoOutput {
 public:
  void ClientSize(int& w, int& h) override { w = 720, h = 576; }
  bool SetVideoMode(int, int) override { return true; }
  void DisplayOverlay(TOverlay&, const TVideoRect&, int64_t) override {
    std::lock_guard lock(FLock);
    if (!FShown) FAt = Clock::now();
    FShown = true;
  }
  void DisplayScreen(const TBitmap&, const TVideoRect&) override {}
  bool Shown() {
    std::lock_guard lock(FLock);
    return FShown;
  }
  Clock::time_point At() {
    std::lock_guard lock(FLock);
    return FAt;
  }

 private:
  std::mutex FLock;
  bool FShown = false;
  Clock::time_point FAt;
};

double OpenToFirstPicture(const std::string& url, bool dvd) {
  std::vector<double> runs;
  for (int i = 0; i < 5; ++i) {
    if (dvd) SetDVDParam({0, 0, 99, 128, 32, 2, 0});
    TFirstPictureOutput output;
    TMediaPlayer player;
    const auto start = Clock::now();
    if (!player.Open(url, &output)) {
      std::printf("  cannot open %s: %s\n", url.c_str(), player.LastError().c_str());
      return -1;
    }
    Pump([&] { return output.Shown(); });
    runs.push_back(Ms(output.At() - start));
    player.Stop(true);
  }
  std::sort(runs.begin(), runs.end());
  return runs[runs.size() / 2];
}

// Flash pictures: when each was handed over, with its time.
class TFlashOutput : public TVideoOutput {
 public:
  void ClientSize(int& w, int& h) override { w = 720, h = 576; }
  bool SetVideoMode(int, int) override { return true; }
  void DisplayOverlay(TOverlay& overlay, const TVideoRect&, int64_t pts) override {
    int bright = 0, samples = 0;
    for (int y = 8; y < overlay.Height(); y += 32)
      for (int x = 8; x < overlay.Width(); x += 32, ++samples)
        bright += overlay.Plane(0)[size_t(y) * overlay.Pitch(0) + x] > 128;
    if (bright * 2 < samples) return;
    std::lock_guard lock(FLock);
    Flashes.push_back({Clock::now(), pts});
  }
  void DisplayScreen(const TBitmap&, const TVideoRect&) override {}
  struct TFlash {
    Clock::time_point At;
    int64_t PTS;
  };
  std::mutex FLock;
  std::vector<TFlash> Flashes;
};

void AudioVideoOffset(const fs::path& disc, const fs::path& work) {
  const std::string soundFile = (work / "sdlaudio.raw").string();
  fs::remove(soundFile);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", soundFile.c_str(), 1);

  // The device's writes: (when, file size), watched every millisecond.
  std::vector<std::pair<Clock::time_point, int64_t>> writes;
  std::atomic<bool> watching{true};
  std::thread watcher([&] {
    int64_t last = -1;
    while (watching) {
      struct stat st {};
      if (stat(soundFile.c_str(), &st) == 0 && st.st_size != last) {
        last = st.st_size;
        writes.push_back({Clock::now(), last});
      }
      std::this_thread::sleep_for(1ms);
    }
  });

  TFlashOutput output;
  {
    TMediaPlayer player;
    std::atomic<bool> ended{false};
    player.OnState = [&](TCustomPlayer*, TPlayState s) { ended = ended || s == psEnd; };
    SetDVDParam({0, 0, 99, 128, 32, 2, 0});
    EnumDVDTitles(disc.string());
    if (!player.Open("opendvd:" + disc.string(), &output)) {
      std::printf("  cannot open: %s\n", player.LastError().c_str());
    } else {
      Pump([&] { return ended.load(); }, 120s);
      player.Stop(true);
    }
  }
  watching = false;
  watcher.join();
  setenv("SDL_AUDIODRIVER", "dummy", 1);

  // Beep onsets in the written sound (48 kHz stereo, 16-bit): a loud sample after a quiet
  // half second.
  std::ifstream in(soundFile, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto* samples = reinterpret_cast<const int16_t*>(bytes.data());
  const size_t frames = bytes.size() / 4;
  std::vector<size_t> onsets;
  size_t quiet = 0;
  for (size_t i = 0; i < frames; ++i) {
    if (std::abs(samples[i * 2]) > 2000) {
      if (quiet > 24000) onsets.push_back(i);
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  auto writtenAt = [&](size_t frame) -> Clock::time_point {
    const int64_t byte = int64_t(frame) * 4;
    for (const auto& w : writes)
      if (w.second > byte) {
        // The write that brought this byte began a buffer of 4096 bytes that plays from then.
        const int64_t bufferStart = (byte / 4096) * 4096;
        return w.first + std::chrono::microseconds((byte - bufferStart) / 4 * 1000000 / 48000);
      }
    return Clock::time_point{};
  };
  // Each flash against the beep nearest to it: a flash picture dropped on a busy machine
  // must not pair every later flash with the next second's beep.
  std::vector<Clock::time_point> beeps;
  for (size_t onset : onsets) beeps.push_back(writtenAt(onset));
  std::vector<double> offsets;
  for (const auto& flash : output.Flashes) {
    double nearest = 1e9;
    for (const auto& beep : beeps)
      if (std::fabs(Ms(flash.At - beep)) < std::fabs(nearest)) nearest = Ms(flash.At - beep);
    if (std::fabs(nearest) < 500) offsets.push_back(nearest);
  }
  if (offsets.empty()) {
    std::printf("  no flash/beep pairs (%zu flashes, %zu beeps)\n", output.Flashes.size(),
                onsets.size());
    return;
  }
  double sum = 0, worst = 0;
  int within = 0;
  for (double o : offsets) {
    sum += o;
    worst = std::max(worst, std::fabs(o));
    within += std::fabs(o) <= 40;
  }
  std::printf(
      "  %zu flashes, %zu beeps, %zu paired within half a second; picture minus sound: mean "
      "%.1f ms, worst |%.1f| ms, %d of %zu within 40 ms (target: all)\n",
      output.Flashes.size(), onsets.size(), offsets.size(), sum / offsets.size(), worst, within,
      offsets.size());
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? argv[1] : "/tmp/dvdswf-player-bench";
  fs::create_directories(work);
  const fs::path bin = fs::canonical("/proc/self/exe").parent_path();
  const std::string script = std::string(DVDSWF_SOURCE_DIR) + "/bench/make_long_disc.sh";
  if (!Run("bash '" + script + "' '" + work.string() + "' 60") ||
      !Run("bash '" + script + "' '" + work.string() + "' 60 flash"))
    return 1;
  const fs::path longDisc = work / "long_disc", syncDisc = work / "sync_disc";
  const std::string vob = (longDisc / "VIDEO_TS" / "VTS_01_1.VOB").string();
  setenv("SDL_AUDIODRIVER", "dummy", 0);

  if (!GlobalLoader().LoadLibraries(PlayerLibraries)) {
    std::printf("libraries: %s\n", GlobalLoader().LastError().c_str());
    return 1;
  }
  if (!LoadDVDPlugIn((bin / "LibAV").string(), "player bench")) {
    std::printf("DVD plug-in: %s\n", DVDPlugInError().c_str());
    return 1;
  }
  EnumDVDTitles(longDisc.string());
  const bool mpv = HaveMpv();

  std::printf("\n1. Open to first picture (median of 5)\n");
  std::printf("  disc title (opendvd:): %.1f ms (target < 250 ms)\n",
              OpenToFirstPicture("opendvd:" + longDisc.string(), true));
  std::printf("  VOB file:              %.1f ms\n", OpenToFirstPicture(vob, false));
  if (mpv) {
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i)
      runs.push_back(
          ChildCpu("mpv --no-config --really-quiet --vo=null --ao=null --frames=1 '" + vob + "'")
              .Wall *
          1000);
    std::sort(runs.begin(), runs.end());
    std::printf("  mpv, whole process to one picture of the VOB: %.1f ms\n", runs[2]);
  }

  std::printf("\n2. CPU per second of playback, 720x576, 20 s\n");
  const TCpu ours = ChildCpu("QT_QPA_PLATFORM=offscreen '" + (bin / "dvdswf-play").string() +
                             "' --length 20 --size 720x576 --stats '" + longDisc.string() + "'");
  std::printf("  dvdswf-play: %.1f %% of one core (%.2f s CPU in %.1f s)\n",
              100 * ours.Cpu / ours.Wall, ours.Cpu, ours.Wall);
  if (mpv) {
    const TCpu theirs = ChildCpu(
        "mpv --no-config --really-quiet --vo=null --ao=null --length=20 "
        "--vf=scale=720:576,format=bgra '" +
        vob + "'");
    std::printf(
        "  mpv:         %.1f %% of one core (%.2f s CPU in %.1f s); ratio %.2f (target <= 1.5)\n",
        100 * theirs.Cpu / theirs.Wall, theirs.Cpu, theirs.Wall,
        (ours.Cpu / ours.Wall) / (theirs.Cpu / theirs.Wall));
  }

  std::printf("\n3. Audio/video offset over 60 s\n");
  EnumDVDTitles(syncDisc.string());
  AudioVideoOffset(syncDisc, work);
  return 0;
}
