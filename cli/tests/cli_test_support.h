// dvdswf-cli as a user runs it, for the command line's tests: the program with a fresh
// settings folder and home per test, and what Debian's ffmpeg and ffprobe say about the
// files it writes.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

struct TRunResult {
  int Status = -1;
  std::string Out, Err;
  // Standard output's non-empty lines.
  std::vector<std::string> OutLines() const;
  // Standard error's lines.
  std::vector<std::string> ErrLines() const;
};

// A run of the program in the background, its own process (the shell that starts it execs
// it), for signals and races. Standard input is /dev/null; its output goes to files.
struct TBackgroundRun {
  int Pid = -1;
  std::string OutFile, ErrFile;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // The environment and program every run uses: the test's own settings and home folders.
  std::string Command() const;
  // Runs the program with `args` (shell words); standard input is /dev/null.
  TRunResult Run(const std::string& args) const;
  // Converts from `disc` (default: disc A) into OutDir and returns the one output file
  // (failing the test when there is none).
  std::string Convert(const std::string& args, const std::string& disc = "");

  // Starts `args` in the background; `tag` names its output files.
  TBackgroundRun Start(const std::string& args, const std::string& tag) const;
  // Waits until the run's standard error holds `text` (true) or the run has ended (false).
  static bool WaitForErr(const TBackgroundRun& run, const std::string& text);
  // Waits for the end: the exit status, or 128 + the signal that ended it.
  static int Finish(const TBackgroundRun& run);

  std::string Folder, Config, Home, OutDir, DiscA, DiscB, DiscD;
};

// What a folder holds, for "nothing changed": each entry's path (relative), its kind and its
// content or a link's target. Empty when the folder does not exist.
std::map<std::string, std::string> FolderSnapshot(const std::string& dir);
// The names in a folder (not recursive), sorted; empty when it does not exist.
std::vector<std::string> FileNames(const std::string& dir);

// ---- what ffmpeg and ffprobe say about a file --------------------------------------------

bool DecodesCleanly(const std::string& file);
nlohmann::json Probe(const std::string& file);
const nlohmann::json* StreamOf(const nlohmann::json& probe, const std::string& type);
// A region of the picture at `time` as RGB bytes.
std::string Region(const std::string& file, double time, int x, int y, int w, int h);
double Mean(const std::string& bytes);
double MeanAbsDifference(const std::string& a, const std::string& b);
std::pair<int, int> FrameSize(const std::string& file);
