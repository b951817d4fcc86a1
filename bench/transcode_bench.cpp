// Transcoder benchmark, run by hand (not by CI):
//
//   transcode_bench [--repeat N] [--folder DIR] [--scenario flv|x264|hook|all]
//                   [--stage on|off]
//
// Makes a 60 s DVD-like MPEG-2 program stream (720x576, 25 fps, AC-3) once, then converts it
// with this engine's transcoder and with Debian's ffmpeg program at the same settings, in
// alternation, each conversion in a process of its own so that its peak resident size can
// be read. Prints the median wall-time ratio and peak-RSS ratio (ours / ffmpeg) for
//   (a) FLV1 320x240 + MP3 in FLV, (b) libx264 medium 720x576 + AAC in MP4,
// and the ratio of a run with a do-nothing custom hook to one without (scenario (a)).
// Targets: (a) time <= 0.85 and peak RSS <= 1.10 x ffmpeg's; (b) time <= 1.03, peak RSS
// <= 1.2; hook <= 1.05. Every ratio is the median over alternating pairs of this one run.
// "--stage off" converts with encoding and muxing on the conversion thread (the engine's
// serial way), for the figures before and after the encoding stage.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/transcoder.h"
#include "media/loader.h"
#include "media/logger.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct TScenario {
  const char* Name;
  const char* Extension;
  double TimeTarget, MemoryTarget;                           // ours / ffmpeg
  std::vector<std::pair<std::string, std::string>> Options;  // our output options
  std::vector<std::string> FfmpegArguments;                  // after "-i input"
};

const TScenario kFlv = {"flv",
                        "flv",
                        0.85,
                        1.10,
                        {{"s", "320x240"}, {"b", "500000"}, {"ar", "44100"}, {"ab", "128000"}},
                        {"-s", "320x240", "-c:v", "flv", "-b:v", "500000", "-c:a", "libmp3lame",
                         "-ar", "44100", "-b:a", "128000"}};
const TScenario kX264 = {
    "x264",
    "mp4",
    1.03,
    1.2,
    {{"vcodec", "libx264"}, {"vpre", "libx264-medium"}, {"acodec", "aac"}, {"ab", "128000"}},
    {"-c:v", "libx264", "-preset", "medium", "-c:a", "aac", "-b:a", "128000"}};

struct TMeasure {
  double Seconds = 0;
  long PeakKiB = 0;
  bool Ok = false;
};

// Runs a program and waits; the child's wall time and peak resident size.
TMeasure RunProcess(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  TMeasure measure;
  const auto begin = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return measure;
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) return measure;
  measure.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  measure.PeakKiB = usage.ru_maxrss;
  measure.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return measure;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The child side: one conversion with this engine.
int ConvertHere(const std::string& scenarioName, const std::string& input,
                const std::string& output, bool hook, bool stage) {
  if (!GlobalLoader().LoadLibraries(ConverterLibraries)) {
    std::fprintf(stderr, "%s\n", GlobalLoader().LastError().c_str());
    return 2;
  }
  const TScenario& scenario = scenarioName == "x264" ? kX264 : kFlv;
  TCustomTranscoder transcoder;
  transcoder.ParseOption("v", "0");
  if (!transcoder.OpenInputFile(input)) {
    std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
    return 2;
  }
  for (const auto& [name, value] : scenario.Options) transcoder.ParseOption(name, value);
  if (transcoder.OpenOutputFile(output, false) < 0) {
    std::fprintf(stderr, "%s\n", transcoder.LastError().c_str());
    return 2;
  }
  if (hook) transcoder.OnCustomHook = [](THookInfo&) {};
  transcoder.SetEncodeStage(stage);
  if (!transcoder.Start()) return 2;
  transcoder.Run();
  if (transcoder.Failed()) {
    std::fprintf(stderr, "%s\n", transcoder.ErrorMessage().c_str());
    return 1;
  }
  return 0;
}

void MakeInput(const std::string& path) {
  if (fs::exists(path)) return;
  std::printf("Making the 60 s input %s ...\n", path.c_str());
  const std::string command =
      "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=s=720x576:r=25:d=60 "
      "-f lavfi -i sine=f=440:r=48000:d=60 -ac 2 -c:v mpeg2video -b:v 6000000 -maxrate 9000000 "
      "-bufsize 1835008 -g 15 -bf 2 -c:a ac3 -b:a 448000 -f vob '" +
      path + "'";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "could not make the input\n");
    std::exit(2);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--convert")
    return ConvertHere(argv[2], argv[3], argv[4], std::string(argv[5]).rfind("hook", 0) == 0,
                       std::string(argv[5]).find("serial") == std::string::npos);

  int repeat = 5;
  std::string folder = (fs::temp_directory_path() / "dvdswf_transcode_bench").string();
  std::string which = "all";
  bool stage = true;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--repeat")
      repeat = std::max(1, std::atoi(argv[i + 1]));
    else if (option == "--folder")
      folder = argv[i + 1];
    else if (option == "--scenario")
      which = argv[i + 1];
    else if (option == "--stage")
      stage = std::string(argv[i + 1]) != "off";
  }
  fs::create_directories(folder);
  const std::string input = folder + "/dvd_like_60s.vob";
  MakeInput(input);
  const std::string self = fs::canonical("/proc/self/exe").string();

  auto ours = [&](const TScenario& scenario, bool hook) {
    const std::string output = folder + "/ours." + scenario.Extension;
    TMeasure m = RunProcess({self, "--convert", scenario.Name, input, output,
                             std::string(hook ? "hook" : "plain") + (stage ? "" : "-serial")});
    if (!m.Ok) std::fprintf(stderr, "our conversion (%s) failed\n", scenario.Name);
    return m;
  };
  auto theirs = [&](const TScenario& scenario) {
    std::vector<std::string> arguments = {"ffmpeg",   "-hide_banner", "-loglevel", "error",
                                          "-nostdin", "-y",           "-i",        input};
    arguments.insert(arguments.end(), scenario.FfmpegArguments.begin(),
                     scenario.FfmpegArguments.end());
    arguments.push_back(folder + "/ffmpeg." + scenario.Extension);
    TMeasure m = RunProcess(arguments);
    if (!m.Ok) std::fprintf(stderr, "ffmpeg (%s) failed\n", scenario.Name);
    return m;
  };

  auto compare = [&](const TScenario& scenario) {
    std::vector<double> time, memory;
    for (int i = 0; i < repeat; ++i) {
      // Alternate which one goes first, so caches and clocks favour neither.
      TMeasure a, b;
      if (i % 2 == 0) {
        a = ours(scenario, false);
        b = theirs(scenario);
      } else {
        b = theirs(scenario);
        a = ours(scenario, false);
      }
      if (!a.Ok || !b.Ok) continue;
      time.push_back(a.Seconds / b.Seconds);
      memory.push_back(double(a.PeakKiB) / double(b.PeakKiB));
      std::printf("  %-5s run %d: ours %.2f s %ld KiB, ffmpeg %.2f s %ld KiB\n", scenario.Name,
                  i + 1, a.Seconds, a.PeakKiB, b.Seconds, b.PeakKiB);
      std::fflush(stdout);
    }
    std::printf(
        "%-5s median time ratio %.3f (target <= %.2f), peak RSS ratio %.3f (target <= %.2f)\n",
        scenario.Name, Median(time), scenario.TimeTarget, Median(memory), scenario.MemoryTarget);
  };

  if (which == "all" || which == "flv") compare(kFlv);
  if (which == "all" || which == "x264") compare(kX264);
  if (which == "all" || which == "hook") {
    std::vector<double> ratio;
    for (int i = 0; i < repeat; ++i) {
      TMeasure plain, hooked;
      if (i % 2 == 0) {
        plain = ours(kFlv, false);
        hooked = ours(kFlv, true);
      } else {
        hooked = ours(kFlv, true);
        plain = ours(kFlv, false);
      }
      if (!plain.Ok || !hooked.Ok) continue;
      ratio.push_back(hooked.Seconds / plain.Seconds);
      std::printf("  hook  run %d: with hook %.2f s, without %.2f s\n", i + 1, hooked.Seconds,
                  plain.Seconds);
      std::fflush(stdout);
    }
    std::printf("hook  median time ratio %.3f (target <= 1.05)\n", Median(ratio));
  }
  return 0;
}
