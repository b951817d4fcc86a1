// DVD source benchmarks, run by hand:
//   bin/dvd_bench [work folder]
// 1. Reading a whole title through "opendvd:" from an ISO with the page cache warm: raw
//    stream bytes (AVIOContext) and demuxed packets, in MB/s. Target: >= 300 MB/s.
// 2. Scanning an authored 99-title disc through the plug-in (DVDEnumTitle + DVDGetTitle for
//    every title), against lsdvd on the same disc. Target: < 0.05 s.
// The discs are authored into the work folder (default /tmp/dvdswf-dvd-bench) on the first
// run with dvd/tests/make_many_titles.sh and genisoimage, and reused afterwards.
extern "C" {
#include <libavformat/avformat.h>
}

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "dvd/dvd_plugin_loader.h"
#include "media/ffmpeg_ptr.h"
#include "media/io_scheme.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Run(const std::string& command) {
  std::printf("  $ %s\n", command.c_str());
  return std::system(command.c_str()) == 0;
}

// Authors a disc of `titles` titles of `seconds` each into folder/disc, and its ISO.
bool Author(const fs::path& folder, int titles, double seconds) {
  if (fs::exists(folder / "disc.iso")) return true;
  const std::string script = std::string(DVDSWF_SOURCE_DIR) + "/dvd/tests/make_many_titles.sh";
  return Run("bash '" + script + "' " + std::to_string(titles) + " '" + (folder / "disc").string() +
             "' " + std::to_string(seconds)) &&
         Run("genisoimage -quiet -dvd-video -V BENCH -o '" + (folder / "disc.iso").string() +
             "' '" + (folder / "disc").string() + "'");
}

struct TReadResult {
  int64_t Bytes = 0;
  double Seconds = 0;
};

// Reads title 1 of `iso` through "opendvd:"; demuxes packets when `demux`.
TReadResult ReadTitle(const std::string& iso, bool demux) {
  TReadResult result;
  SetDVDParam({0, 0, 99, 128, 32, 2, 0});
  const Clock::time_point start = Clock::now();
  AVFormatContext* raw = nullptr;
  if (OpenMediaInput(&raw, "opendvd:" + iso, nullptr, nullptr) < 0) return result;
  MediaInputPtr input(raw);
  if (demux) {
    AVPacketPtr packet(av_packet_alloc());
    while (av_read_frame(input.get(), packet.get()) >= 0) av_packet_unref(packet.get());
    result.Bytes = avio_size(input->pb);
  } else {
    std::vector<unsigned char> buffer(1 << 20);
    avio_seek(input->pb, 0, SEEK_SET);
    int got;
    while ((got = avio_read(input->pb, buffer.data(), int(buffer.size()))) > 0) result.Bytes += got;
  }
  result.Seconds = Since(start);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? argv[1] : "/tmp/dvdswf-dvd-bench";
  fs::create_directories(work);
  if (!LoadDVDPlugIn(DefaultDVDPlugInFolder(), "dvd bench")) {
    std::fprintf(stderr, "%s\n", DVDPlugInError().c_str());
    return 1;
  }
  av_log_set_level(AV_LOG_ERROR);

  std::printf("Authoring (first run only)...\n");
  if (!Author(work / "long", 1, 60) || !Author(work / "many", 99, 0.4)) return 1;

  const std::string longIso = (work / "long" / "disc.iso").string();
  if (EnumDVDTitles(longIso) < 1) {
    std::fprintf(stderr, "%s\n", DVDLastErrorText().c_str());
    return 1;
  }
  for (const bool demux : {false, true}) {
    ReadTitle(longIso, demux);  // warms the page cache
    TReadResult best;
    for (int run = 0; run < 5; ++run) {
      const TReadResult r = ReadTitle(longIso, demux);
      if (best.Seconds == 0 || r.Seconds < best.Seconds) best = r;
    }
    std::printf("Read title 1 (%.1f MB) through opendvd: %s: %.4f s, %.0f MB/s (target >= 300)\n",
                best.Bytes / 1e6, demux ? "demuxed packets" : "raw stream", best.Seconds,
                best.Bytes / 1e6 / best.Seconds);
  }

  for (const std::string form : {"disc", "disc.iso"}) {
    const std::string disc = (work / "many" / form).string();
    double best = 1e9;
    int titles = 0, valid = 0;
    for (int run = 0; run < 5; ++run) {
      const Clock::time_point start = Clock::now();
      titles = EnumDVDTitles(disc);
      valid = 0;
      for (int t = 0; t < titles; ++t) {
        TDVDTitleInfo info;
        valid += GetDVDTitle(t, info);
      }
      best = std::min(best, Since(start));
    }
    const Clock::time_point start = Clock::now();
    Run("lsdvd -x '" + disc + "' >/dev/null 2>&1");
    const double lsdvd = Since(start);
    std::printf("Scan %d titles (%d valid) of %s: %.4f s (target < 0.05); lsdvd -x: %.4f s\n",
                titles, valid, form.c_str(), best, lsdvd);
  }
  return 0;
}
