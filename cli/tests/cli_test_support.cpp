#include "cli/tests/cli_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text, bool keepEmpty) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (keepEmpty || !line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

std::vector<std::string> TRunResult::OutLines() const {
  return Lines(Out, false);
}

std::vector<std::string> TRunResult::ErrLines() const {
  return Lines(Err, true);
}

void CliTest::SetUp() {
  Folder = TestFolder();
  Config = Folder + "/config";
  Home = Folder + "/home";
  OutDir = Folder + "/out";
  fs::create_directories(Home);
  DiscA = FixturesDir() + "/disc_a";
  DiscB = FixturesDir() + "/disc_b";
  DiscD = FixturesDir() + "/disc_d";
  ASSERT_TRUE(fs::is_directory(DiscA)) << "fixture disc A is missing";
}

std::string CliTest::Command() const {
  return "env -u XDG_CONFIG_HOME LSAN_OPTIONS=suppressions=" DVDSWF_CLI_LSAN_SUPPRESSIONS
         " DVDSWF_CONFIG_DIR=" +
         ShellQuote(Config) + " HOME=" + ShellQuote(Home) + " " + ShellQuote(DVDSWF_CLI);
}

TRunResult CliTest::Run(const std::string& args) const {
  TRunResult result;
  const std::string err = Folder + "/stderr.txt";
  result.Out =
      RunCommand(Command() + " " + args + " 2>" + ShellQuote(err) + " </dev/null", &result.Status);
  result.Err = ReadFile(err);
  return result;
}

std::string CliTest::Convert(const std::string& args, const std::string& disc) {
  const TRunResult r = Run("convert " + ShellQuote(disc.empty() ? DiscA : disc) + " --out " +
                           ShellQuote(OutDir) + " " + args);
  EXPECT_EQ(r.Status, 0) << r.Err;
  const auto lines = r.OutLines();
  EXPECT_EQ(lines.size(), 1u) << r.Out << r.Err;
  if (lines.empty()) return "";
  EXPECT_TRUE(fs::exists(lines[0])) << lines[0];
  return lines[0];
}

TBackgroundRun CliTest::Start(const std::string& args, const std::string& tag) const {
  TBackgroundRun run;
  run.OutFile = Folder + "/" + tag + ".out";
  run.ErrFile = Folder + "/" + tag + ".err";
  const std::string command = "exec " + Command() + " " + args + " </dev/null >" +
                              ShellQuote(run.OutFile) + " 2>" + ShellQuote(run.ErrFile);
  const pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  EXPECT_GT(pid, 0) << std::strerror(errno);
  run.Pid = pid;
  return run;
}

bool CliTest::WaitForErr(const TBackgroundRun& run, const std::string& text) {
  // Generous: the program may run under a sanitizer on a loaded machine.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (std::chrono::steady_clock::now() < deadline) {
    if (ReadFile(run.ErrFile).find(text) != std::string::npos) return true;
    siginfo_t info{};
    // Ended? (Left to Finish to collect.)
    if (waitid(P_PID, id_t(run.Pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0)
      return ReadFile(run.ErrFile).find(text) != std::string::npos;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "waited in vain for \"" << text << "\"";
  return false;
}

int CliTest::Finish(const TBackgroundRun& run) {
  int status = 0;
  if (run.Pid <= 0 || waitpid(run.Pid, &status, 0) != run.Pid) return -1;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::map<std::string, std::string> FolderSnapshot(const std::string& dir) {
  std::map<std::string, std::string> entries;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(dir, ec))) return entries;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    const fs::path& path = it->path();
    const std::string name = fs::relative(path, dir, ec).string();
    const auto status = fs::symlink_status(path, ec);
    if (fs::is_symlink(status))
      entries[name] = "link " + fs::read_symlink(path, ec).string();
    else if (fs::is_regular_file(status))
      entries[name] = "file " + ReadFile(path.string());
    else if (fs::is_directory(status))
      entries[name] = "folder";
    else
      entries[name] = "other " + std::to_string(int(status.type()));
  }
  return entries;
}

std::vector<std::string> FileNames(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::end(it); it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool DecodesCleanly(const std::string& file) {
  int status = -1;
  const std::string errors =
      RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(file) + " -f null - 2>&1", &status);
  EXPECT_EQ(errors, "") << file;
  return status == 0 && errors.empty();
}

nlohmann::json Probe(const std::string& file) {
  const std::string text = RunCommand(
      "ffprobe -v error -print_format json -show_format "
      "-show_streams " +
      ShellQuote(file));
  return nlohmann::json::parse(text, nullptr, false);
}

const nlohmann::json* StreamOf(const nlohmann::json& probe, const std::string& type) {
  if (!probe.contains("streams")) return nullptr;
  for (const auto& stream : probe["streams"])
    if (stream.value("codec_type", "") == type) return &stream;
  return nullptr;
}

std::string Region(const std::string& file, double time, int x, int y, int w, int h) {
  return RunCommand("ffmpeg -nostdin -v error -ss " + std::to_string(time) + " -i " +
                    ShellQuote(file) + " -frames:v 1 -vf crop=" + std::to_string(w) + ":" +
                    std::to_string(h) + ":" + std::to_string(x) + ":" + std::to_string(y) +
                    " -f rawvideo -pix_fmt rgb24 -");
}

double Mean(const std::string& bytes) {
  if (bytes.empty()) return -1;
  double sum = 0;
  for (unsigned char c : bytes) sum += c;
  return sum / bytes.size();
}

double MeanAbsDifference(const std::string& a, const std::string& b) {
  EXPECT_EQ(a.size(), b.size());
  if (a.size() != b.size() || a.empty()) return -1;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i)
    sum += std::abs(int(static_cast<unsigned char>(a[i])) - int(static_cast<unsigned char>(b[i])));
  return sum / a.size();
}

std::pair<int, int> FrameSize(const std::string& file) {
  const auto probe = Probe(file);
  const auto* video = StreamOf(probe, "video");
  if (!video) return {-1, -1};
  return {video->value("width", -1), video->value("height", -1)};
}
