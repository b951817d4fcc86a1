// dvdswf-cli under hostile input: the promises of its exit status ("0 done; 1 a conversion
// failed; 2 a bad source, title, format code or option, with one line on standard error and
// nothing written") hold, nothing of the user's is overwritten or lost, and a refused run
// leaves the settings folder as it was. Each family of faults is a table of cases run
// against the real program and the fixture discs, checking the exit status, the line on
// standard error and what exists on disk afterwards.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/tests/cli_test_support.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

constexpr char kSettingsName[] = "korveldvdtoswfconverter.ini";
constexpr char kCatalogueName[] = "korvelswfformat.ini";

std::string SanitizedName(std::string name) {
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

void Write(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// Whether ffmpeg decodes some of the file (a cut file may end with an error).
bool PlaysSomething(const std::string& file) {
  return DecodedDuration(file) > 0;
}

class HostileTest : public CliTest {
 protected:
  // `args` with {A} (disc A), {OUT} (the output folder) and {DIR} (the test's folder).
  std::string Expand(std::string args) const {
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{A}", ShellQuote(DiscA)},
                                     {"{OUT}", ShellQuote(OutDir)},
                                     {"{DIR}", Folder}}) {
      for (size_t at; (at = args.find(key)) != std::string::npos;)
        args.replace(at, key.size(), value);
    }
    return args;
  }

  // A refusal: exit 2, `line` alone on standard error (after "dvdswf-cli: "), nothing on
  // standard output, no output folder and the settings folder as `config` had it.
  void ExpectRefused(const TRunResult& r, const std::string& line,
                     const std::map<std::string, std::string>& config) const {
    EXPECT_EQ(r.Status, 2) << r.Err;
    EXPECT_EQ(r.Err, "dvdswf-cli: " + line + "\n");
    EXPECT_EQ(r.Out, "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(OutDir))) << OutDir;
    EXPECT_FALSE(fs::exists(Home + "/videoconverter"));
    EXPECT_EQ(FolderSnapshot(Config), config);
  }

  // Every file in the output folder plays and none is empty; what standard output listed is
  // among them.
  void ExpectOnlyPlayableOutputs(const TRunResult& r) const {
    for (const std::string& name : FileNames(OutDir)) {
      const std::string path = OutDir + "/" + name;
      EXPECT_GT(fs::file_size(path), 0u) << name;
      EXPECT_TRUE(PlaysSomething(path)) << name;
    }
    for (const std::string& line : r.OutLines()) EXPECT_TRUE(fs::exists(line)) << line;
  }
};

// ---- 1. settings and catalogue files that are links or no files ---------------------------

struct TSettingsFileCase {
  const char* Name;
  const char* File;     // kSettingsName or kCatalogueName
  const char* Kind;     // what is put at the file's place
  const char* Problem;  // empty: the run goes on
};

class SettingsFileTest : public HostileTest,
                         public ::testing::WithParamInterface<TSettingsFileCase> {};

TEST_P(SettingsFileTest, OnlyRegularFilesAreReplaced) {
  const TSettingsFileCase& c = GetParam();
  const std::string path = Config + "/" + c.File;
  const std::string kind = c.Kind;
  fs::create_directories(Config);
  fs::create_directories(Folder + "/folder");
  mkfifo((Folder + "/fifo").c_str(), 0644);
  if (kind == "link to a device") fs::create_symlink("/dev/null", path);
  if (kind == "link to a FIFO") fs::create_symlink(Folder + "/fifo", path);
  if (kind == "link to a folder") fs::create_symlink(Folder + "/folder", path);
  if (kind == "link to nothing") fs::create_symlink(Folder + "/missing.ini", path);
  if (kind == "FIFO") mkfifo(path.c_str(), 0644);
  if (kind == "folder") fs::create_directories(path);
  if (kind == "link to a file") {
    // The stored output folder cannot be made (a plain file is in its way), so the run
    // writes the home folder's in its place; an empty catalogue gets its sections back.
    Write(Folder + "/plain", "x");
    Write(Folder + "/real.ini", std::string(c.File) == kSettingsName
                                    ? "[settings]\nOutPutDir=" + Folder + "/plain/out\n"
                                    : "");
    fs::create_symlink(Folder + "/real.ini", path);
  }
  const auto before = FolderSnapshot(Config);

  const TRunResult r =
      Run("convert " + ShellQuote(DiscA) + " --title 3 --format 204 --length 1" +
          (kind == "link to a file" ? std::string() : " --out " + ShellQuote(OutDir)));
  if (*c.Problem) {
    ExpectRefused(r, path + ": " + c.Problem, before);
  } else {
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.OutLines(),
              std::vector<std::string>{Home + "/videoconverter/DVD Title 3_(new).wav"});
    // The link stays; its target took the write.
    EXPECT_TRUE(fs::is_symlink(path));
    const std::string written = ReadFile(Folder + "/real.ini");
    if (std::string(c.File) == kSettingsName)
      EXPECT_NE(written.find("OutPutDir=" + Home + "/videoconverter"), std::string::npos)
          << written;
    else
      EXPECT_NE(written.find("[formatInfo204]"), std::string::npos) << written;
  }
  // What the links point at is as it was.
  struct stat st {};
  EXPECT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(stat((Folder + "/fifo").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_TRUE(fs::is_empty(Folder + "/folder"));
  EXPECT_FALSE(fs::exists(Folder + "/missing.ini"));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SettingsFileTest,
    ::testing::Values(
        TSettingsFileCase{"SettingsLinkToDevice", kSettingsName, "link to a device",
                          "it is a symbolic link to a character device, not to a regular file"},
        TSettingsFileCase{"SettingsLinkToFifo", kSettingsName, "link to a FIFO",
                          "it is a symbolic link to a FIFO, not to a regular file"},
        TSettingsFileCase{"SettingsLinkToFolder", kSettingsName, "link to a folder",
                          "it is a symbolic link to a folder, not to a regular file"},
        TSettingsFileCase{"SettingsLinkToNothing", kSettingsName, "link to nothing",
                          "it is a symbolic link to nothing (No such file or directory)"},
        TSettingsFileCase{"SettingsFifo", kSettingsName, "FIFO",
                          "it is a FIFO, not a regular file"},
        TSettingsFileCase{"SettingsFolder", kSettingsName, "folder",
                          "it is a folder, not a regular file"},
        TSettingsFileCase{"SettingsLinkToFile", kSettingsName, "link to a file", ""},
        TSettingsFileCase{"CatalogueLinkToDevice", kCatalogueName, "link to a device",
                          "it is a symbolic link to a character device, not to a regular file"},
        TSettingsFileCase{"CatalogueLinkToNothing", kCatalogueName, "link to nothing",
                          "it is a symbolic link to nothing (No such file or directory)"},
        TSettingsFileCase{"CatalogueFifo", kCatalogueName, "FIFO",
                          "it is a FIFO, not a regular file"},
        TSettingsFileCase{"CatalogueLinkToFile", kCatalogueName, "link to a file", ""}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- 2. two runs started together into one folder -----------------------------------------

TEST_F(HostileTest, RunsStartedTogetherNeverShareAName) {
  std::set<std::string> all;
  for (int round = 0; round < 10; ++round) {
    const std::string args = "convert " + ShellQuote(DiscA) +
                             " --title 3 --format 204 --length 1 --out " + ShellQuote(OutDir);
    const TBackgroundRun first = Start(args, "r" + std::to_string(round) + "a");
    const TBackgroundRun second = Start(args, "r" + std::to_string(round) + "b");
    for (const TBackgroundRun* run : {&first, &second}) {
      EXPECT_EQ(Finish(*run), 0) << ReadFile(run->ErrFile);
      const std::string out = ReadFile(run->OutFile);
      ASSERT_FALSE(out.empty()) << round;
      EXPECT_TRUE(all.insert(out.substr(0, out.find('\n'))).second) << out;
    }
  }
  // Twenty runs, twenty files: DVD Title 3_(new).wav and _(new_1) to _(new_19).
  std::set<std::string> expected = {OutDir + "/DVD Title 3_(new).wav"};
  for (int n = 1; n < 20; ++n)
    expected.insert(OutDir + "/DVD Title 3_(new_" + std::to_string(n) + ").wav");
  EXPECT_EQ(all, expected);
  EXPECT_EQ(FileNames(OutDir).size(), 20u);
  for (const std::string& file : all) EXPECT_NEAR(DecodedDuration(file), 1.0, 0.3) << file;
}

// ---- 3. something already at the chosen output name --------------------------------------

struct TNameTakenCase {
  const char* Name;
  const char* Kind;
};

class NameTakenTest : public HostileTest, public ::testing::WithParamInterface<TNameTakenCase> {};

TEST_P(NameTakenTest, TheRunTakesTheNextNameAndTouchesNothingElse) {
  const std::string kind = GetParam().Kind;
  const std::string taken = OutDir + "/DVD Title 3_(new).wav";
  fs::create_directories(OutDir);
  fs::create_directories(Folder + "/outside_folder");
  Write(Folder + "/outside_file.wav", "keep");
  if (kind == "dangling link") fs::create_symlink(Folder + "/outside.wav", taken);
  if (kind == "link to a file") fs::create_symlink(Folder + "/outside_file.wav", taken);
  if (kind == "link to a folder") fs::create_symlink(Folder + "/outside_folder", taken);
  if (kind == "folder") fs::create_directories(taken);
  if (kind == "FIFO") mkfifo(taken.c_str(), 0644);
  if (kind == "empty file") Write(taken, "");
  const auto before = FolderSnapshot(Folder);

  const TRunResult r = Run("convert " + ShellQuote(DiscA) +
                           " --title 3 --format 204 --length 1 --out " + ShellQuote(OutDir));
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.OutLines(), std::vector<std::string>{OutDir + "/DVD Title 3_(new_1).wav"});
  // Only the new file (and the run's settings) came; nothing outside the folder was written.
  auto after = FolderSnapshot(Folder);
  EXPECT_TRUE(after.count("out/DVD Title 3_(new_1).wav"));
  for (auto it = after.begin(); it != after.end();)
    it = it->first == "out/DVD Title 3_(new_1).wav" || it->first.rfind("config", 0) == 0 ||
                 it->first == "stderr.txt"
             ? after.erase(it)
             : std::next(it);
  auto expected = before;
  expected.erase("stderr.txt");
  EXPECT_EQ(after, expected);
  EXPECT_FALSE(fs::exists(Folder + "/outside.wav"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, NameTakenTest,
                         ::testing::Values(TNameTakenCase{"DanglingLink", "dangling link"},
                                           TNameTakenCase{"LinkToAFile", "link to a file"},
                                           TNameTakenCase{"LinkToAFolder", "link to a folder"},
                                           TNameTakenCase{"Folder", "folder"},
                                           TNameTakenCase{"Fifo", "FIFO"},
                                           TNameTakenCase{"EmptyFile", "empty file"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- 4. watermark pictures that cannot be used ---------------------------------------------

// A BMP file header and information header of `width` x `height` at `bits` per pixel,
// with no pixels after it.
std::string BmpHeader(int32_t width, int32_t height, int bits) {
  std::string h(54, '\0');
  const auto put = [&](size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) h[at + size_t(i)] = char(value >> (8 * i));
  };
  h[0] = 'B';
  h[1] = 'M';
  put(2, 54, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, uint32_t(width), 4);
  put(22, uint32_t(height), 4);
  put(26, 1, 2);
  put(28, uint32_t(bits), 2);
  return h;
}

struct TPictureCase {
  const char* Name;
  const char* Problem;
};

class WatermarkPictureTest : public HostileTest,
                             public ::testing::WithParamInterface<TPictureCase> {};

TEST_P(WatermarkPictureTest, RefusedWithTheFileAndTheReason) {
  const std::string name = GetParam().Name;
  std::string path = Folder + "/" + name + ".bmp";
  int status = -1;
  const std::string good = Folder + "/good.bmp";
  RunCommand(
      "ffmpeg -nostdin -v error -f lavfi -i color=c=red:s=64x48 -frames:v 1 "
      "-pix_fmt bgr24 " +
          ShellQuote(good),
      &status);
  ASSERT_EQ(status, 0);
  if (name == "Empty") Write(path, "");
  if (name == "Cut") Write(path, ReadFile(good).substr(0, 100));
  if (name == "HeaderOnly") Write(path, ReadFile(good).substr(0, 20));
  if (name == "Text") Write(path, "this is no picture\n");
  if (name == "Png") {
    RunCommand(
        "ffmpeg -nostdin -v error -f lavfi -i color=c=red:s=64x48 -frames:v 1 -f image2 "
        "-c:v png " +
            ShellQuote(path),
        &status);
    ASSERT_EQ(status, 0);
  }
  if (name == "Huge") Write(path, BmpHeader(20000, 20000, 24));
  if (name == "FourBits") Write(path, BmpHeader(64, 48, 4) + std::string(64 * 48 / 2, '\0'));
  if (name == "DevNull") path = "/dev/null";
  if (name == "Folder") {
    path = Folder + "/pictures";
    fs::create_directories(path);
  }
  const TRunResult r =
      Run("convert " + ShellQuote(DiscA) + " --title 3 --format 103 --out " + ShellQuote(OutDir) +
          " --image-watermark " + ShellQuote(path + "@10,10"));
  ExpectRefused(r, "--image-watermark " + path + ": " + GetParam().Problem, {});
}

INSTANTIATE_TEST_SUITE_P(
    Files, WatermarkPictureTest,
    ::testing::Values(
        TPictureCase{"Missing", "No such file or directory"},
        TPictureCase{"Empty", "the file is empty"},
        TPictureCase{"Cut", "the BMP picture is cut short"},
        TPictureCase{"HeaderOnly", "the BMP picture is cut short"},
        TPictureCase{"Text", "not a BMP picture"},
        TPictureCase{"Huge",
                     "the picture is 20000 x 20000 pixels; pictures needing more than 256 MB are "
                     "refused"},
        TPictureCase{"FourBits",
                     "a BMP picture of 4 bits per pixel (compression 0); this "
                     "program reads 8, 24 and 32 bits uncompressed"},
        TPictureCase{"DevNull", "it is a character device, not a picture file"},
        TPictureCase{"Folder", "Is a directory"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- 5. a damaged or missing catalogue -----------------------------------------------------

struct TCatalogueCase {
  const char* Name;
  const char* Format;   // --format, or empty for the stored code
  const char* Ext;      // of the output; empty: refused
  const char* Video;    // the output's video codec
  const char* Problem;  // the refusal's line, {S} for the settings file's path
};

class CatalogueTest : public HostileTest, public ::testing::WithParamInterface<TCatalogueCase> {};

TEST_P(CatalogueTest, TheShippedCatalogueStandsInAndUnknownCodesAreRefused) {
  const TCatalogueCase& c = GetParam();
  const std::string name = c.Name;
  bool writable = true;
  if (name == "Empty") Write(Config + "/" + kCatalogueName, "");
  if (name == "Junk")
    Write(Config + "/" + kCatalogueName, std::string("\x01\x7f[[junk==\n\0\xff=]\n[", 16));
  if (name == "MissingSection")
    Write(Config + "/" + kCatalogueName, "[formatInfo0]\nFormat=flv\nFileExt=flv\n");
  if (name == "StoredCodeUnknown")
    Write(Config + "/" + kSettingsName, "[settings]\nFormatCode=7\n");
  if (name == "ConfigFolderIsAFile") {
    Write(Config, "not a folder");
    writable = false;
  }
  if (name == "ConfigFolderNotWritable") {
    // Root may write anywhere on disk; /proc takes no new files from anyone.
    Config = "/proc/self";
    writable = false;
  }
  // (Not of /proc, which the run cannot change.)
  const auto before = writable ? FolderSnapshot(Config) : std::map<std::string, std::string>();
  const TRunResult r =
      Run("convert " + ShellQuote(DiscA) + " --title 3 --length 1 --out " + ShellQuote(OutDir) +
          (*c.Format ? " --format " + std::string(c.Format) : ""));
  if (!*c.Ext) {
    std::string problem = c.Problem;
    if (const size_t at = problem.find("{S}"); at != std::string::npos)
      problem.replace(at, 3, Config + "/" + kSettingsName);
    ExpectRefused(r, problem, before);
    return;
  }
  ASSERT_EQ(r.Status, 0) << r.Err;
  ASSERT_EQ(r.OutLines().size(), 1u) << r.Out;
  const std::string file = r.OutLines()[0];
  EXPECT_EQ(fs::path(file).extension().string(), std::string(".") + c.Ext);
  const auto probe = Probe(file);
  const auto* video = StreamOf(probe, "video");
  ASSERT_NE(video, nullptr) << file;
  EXPECT_EQ(video->value("codec_name", ""), c.Video);
  if (writable) {
    // The missing section came back into the file, and what was there stays.
    const std::string catalogue = ReadFile(Config + "/" + kCatalogueName);
    EXPECT_NE(catalogue.find(std::string("[formatInfo") + c.Format + "]"), std::string::npos);
    if (name == "MissingSection") {
      EXPECT_NE(catalogue.find("FileExt=flv"), std::string::npos);
    }
  } else {
    EXPECT_NE(r.Err.find("dvdswf-cli: warning: the settings folder takes no changes"),
              std::string::npos)
        << r.Err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Damage, CatalogueTest,
    ::testing::Values(TCatalogueCase{"Empty", "1", "swf", "flv1", ""},
                      TCatalogueCase{"Junk", "103", "mp4", "h264", ""},
                      TCatalogueCase{"MissingSection", "1", "swf", "flv1", ""},
                      TCatalogueCase{"ConfigFolderIsAFile", "1", "swf", "flv1", ""},
                      TCatalogueCase{"ConfigFolderNotWritable", "0", "flv", "flv1", ""},
                      TCatalogueCase{
                          "StoredCodeUnknown", "", "", "",
                          "\"FormatCode\" is 7 in {S}, a format the catalogue does not have (see "
                          "dvdswf-cli formats)"},
                      TCatalogueCase{"OptionCodeUnknown", "7", "", "",
                                     "unknown format code 7 (see dvdswf-cli formats)"}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- 6. a start that leaves no picture -----------------------------------------------------

struct TStartCase {
  const char* Args;
  const char* Problem;  // empty: converts, with pictures
};

class StartTest : public HostileTest, public ::testing::WithParamInterface<TStartCase> {};

TEST_P(StartTest, AtLeastOnePictureRemains) {
  const TStartCase& c = GetParam();
  const TRunResult r = Run("convert " + ShellQuote(DiscA) + " --format 103 --out " +
                           ShellQuote(OutDir) + " " + c.Args);
  if (*c.Problem) {
    ExpectRefused(r, c.Problem, {});
    return;
  }
  ASSERT_EQ(r.Status, 0) << r.Err;
  ASSERT_EQ(r.OutLines().size(), 1u);
  const std::string frames = RunCommand(
      "ffprobe -v error -count_frames -select_streams v -show_entries "
      "stream=nb_read_frames -of csv=p=0 " +
      ShellQuote(r.OutLines()[0]));
  EXPECT_GT(std::atoi(frames.c_str()), 0) << r.OutLines()[0];
}

INSTANTIATE_TEST_SUITE_P(
    Starts, StartTest,
    ::testing::Values(
        // Disc A: title 1 is 12 s in chapters of 4 s; title 3 is 3 s.
        TStartCase{"--title 1 --start 12", "--start 12 leaves no picture of title 1 (12.0 s long)"},
        TStartCase{"--title 1 --start 0:00:13",
                   "--start 0:00:13 leaves no picture of title 1 (12.0 s long)"},
        TStartCase{"--title 1 --start 11.99",
                   "--start 11.99 leaves no picture of title 1 (12.0 s long)"},
        TStartCase{"--title 1 --start 11.9",
                   "--start 11.9 leaves no picture of title 1: none decodes from there to its "
                   "end (12.0 s)"},
        TStartCase{"--title 1 --chapters 1 --start 10",
                   "--start 10 leaves no picture of title 1, chapter 1 (4.0 s long)"},
        TStartCase{"--title 1 --chapters 1 --start 3.9",
                   "--start 3.9 leaves no picture of title 1, chapter 1: none decodes from there "
                   "to its end (4.0 s)"},
        TStartCase{"--title 1 --chapters 2-3 --start 8",
                   "--start 8 leaves no picture of title 1, chapters 2-3 (8.0 s long)"},
        TStartCase{"--title 3 --start 3", "--start 3 leaves no picture of title 3 (3.0 s long)"},
        TStartCase{"--title 1 --start 11", ""}, TStartCase{"--title 1 --chapters 1 --start 3", ""},
        TStartCase{"--title 1 --chapters 2-3 --start 7", ""}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// ---- 7. signals ----------------------------------------------------------------------------

struct TSignalCase {
  const char* Name;
  std::vector<int> Signals;
};

class SignalDuringRunTest : public HostileTest,
                            public ::testing::WithParamInterface<TSignalCase> {};

TEST_P(SignalDuringRunTest, StopsWithNothingUnplayableLeft) {
  const TSignalCase& c = GetParam();
  // Three titles at full size: the first is running when the first report comes.
  const TBackgroundRun run =
      Start("convert " + ShellQuote(DiscA) + " --format 103 --zoom center --length 4 --out " +
                ShellQuote(OutDir),
            "run");
  ASSERT_TRUE(WaitForErr(run, "%")) << ReadFile(run.ErrFile);
  kill(run.Pid, c.Signals[0]);
  if (c.Signals.size() > 1) {
    // The second signal while the first stop is under way (if the stop has not ended the
    // run by then).
    WaitForErr(run, "stopping");
    kill(run.Pid, c.Signals[1]);
  }
  TRunResult r;
  r.Status = Finish(run);
  r.Out = ReadFile(run.OutFile);
  r.Err = ReadFile(run.ErrFile);
  EXPECT_EQ(r.Status, 130) << r.Err;
  ExpectOnlyPlayableOutputs(r);
  // Titles not started leave nothing.
  EXPECT_LT(FileNames(OutDir).size(), 3u);
  const bool aborted = r.Err.find("dvdswf-cli: aborted; unfinished output files were removed\n") !=
                       std::string::npos;
  if (c.Signals.size() == 1 && c.Signals[0] != SIGQUIT) {
    // A clean stop: what the running job wrote plays and is listed.
    EXPECT_FALSE(aborted) << r.Err;
    EXPECT_NE(r.Err.find("dvdswf-cli: stopping (press Ctrl-C again to abort)\n"), std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find(" stopped"), std::string::npos) << r.Err;
    std::vector<std::string> listed = r.OutLines();
    for (std::string& line : listed) line = fs::path(line).filename().string();
    EXPECT_EQ(listed, FileNames(OutDir));
  } else if (c.Signals[0] == SIGQUIT) {
    EXPECT_TRUE(aborted) << r.Err;
  }
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalDuringRunTest,
                         ::testing::Values(TSignalCase{"Int", {SIGINT}},
                                           TSignalCase{"Term", {SIGTERM}},
                                           TSignalCase{"Hup", {SIGHUP}},
                                           TSignalCase{"Quit", {SIGQUIT}},
                                           TSignalCase{"IntInt", {SIGINT, SIGINT}},
                                           TSignalCase{"TermTerm", {SIGTERM, SIGTERM}},
                                           TSignalCase{"IntTerm", {SIGINT, SIGTERM}},
                                           TSignalCase{"HupInt", {SIGHUP, SIGINT}}),
                         [](const auto& info) { return std::string(info.param.Name); });

class SignalDuringSetUpTest : public HostileTest, public ::testing::WithParamInterface<int> {};

// A disc folder whose title table is a FIFO holds the set-up in its read: a signal then ends
// the program at once, with nothing written.
TEST_P(SignalDuringSetUpTest, EndsTheSetUpAtOnce) {
  const std::string disc = Folder + "/disc";
  fs::create_directories(disc + "/VIDEO_TS");
  const std::string fifo = disc + "/VIDEO_TS/VIDEO_TS.IFO";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const TBackgroundRun run =
      Start("convert " + ShellQuote(disc) + " --format 103 --out " + ShellQuote(OutDir), "setup");
  // The program has the FIFO open for reading once a writer may open it without waiting.
  int writer = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (writer < 0 && std::chrono::steady_clock::now() < deadline) {
    writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GE(writer, 0) << ReadFile(run.ErrFile);
  kill(run.Pid, GetParam());
  TRunResult r;
  r.Status = Finish(run);
  close(writer);
  r.Out = ReadFile(run.OutFile);
  r.Err = ReadFile(run.ErrFile);
  EXPECT_EQ(r.Status, 130) << r.Err;
  EXPECT_EQ(r.Err, "dvdswf-cli: stopped before the conversion began\n");
  EXPECT_EQ(r.Out, "");
  EXPECT_FALSE(fs::exists(OutDir));
  EXPECT_FALSE(fs::exists(Config));
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalDuringSetUpTest,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                         [](const auto& info) { return "Signal" + std::to_string(info.param); });

// ---- 8. jobs that fail, settings that cannot work ------------------------------------------

struct TDiskFullCase {
  int Format;
  bool Kept;  // what was written plays
};

class DiskFullTest : public HostileTest, public ::testing::WithParamInterface<TDiskFullCase> {};

// The disk "fills" at 200 kB: the file size limit makes every later write fail.
TEST_P(DiskFullTest, TheFailedJobsFileStaysOnlyWhenItPlays) {
  const TDiskFullCase& c = GetParam();
  const std::string err = Folder + "/stderr.txt";
  TRunResult r;
  r.Out = RunCommand(
      "bash -c " + ShellQuote("trap '' XFSZ; ulimit -f 200; exec " + Command() + " convert " +
                              ShellQuote(DiscA) + " --title 1 --zoom center --format " +
                              std::to_string(c.Format) + " --out " + ShellQuote(OutDir) + " 2>" +
                              ShellQuote(err) + " </dev/null"),
      &r.Status);
  r.Err = ReadFile(err);
  EXPECT_EQ(r.Status, 1) << r.Err;
  const std::string why = " (File too large) (" +
                          std::string(c.Kept ? "what was written up to then plays"
                                             : "the unfinished output was removed") +
                          ")\n";
  EXPECT_NE(r.Err.find("dvdswf-cli: DVD Title 1 failed: "), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find(why), std::string::npos) << r.Err;
  if (c.Kept) {
    ASSERT_EQ(FileNames(OutDir).size(), 1u);
    EXPECT_EQ(r.OutLines(), std::vector<std::string>{OutDir + "/" + FileNames(OutDir)[0]});
    EXPECT_TRUE(PlaysSomething(r.OutLines()[0]));
  } else {
    EXPECT_EQ(FileNames(OutDir), std::vector<std::string>{});
    EXPECT_EQ(r.Out, "");
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, DiskFullTest,
                         ::testing::Values(TDiskFullCase{103, false}, TDiskFullCase{101, true},
                                           TDiskFullCase{1, true}, TDiskFullCase{204, true}),
                         [](const auto& info) { return std::to_string(info.param.Format); });

struct TUnworkableCase {
  const char* Key;
  const char* Value;
  bool Stored;  // in the settings file's [formatInfo1]; else --set
  const char* Problem;
};

class UnworkableSettingTest : public HostileTest,
                              public ::testing::WithParamInterface<TUnworkableCase> {};

TEST_P(UnworkableSettingTest, RefusedBeforeTheRunNamingTheKey) {
  const TUnworkableCase& c = GetParam();
  const std::string settings = Config + "/" + kSettingsName;
  std::string args =
      "convert " + ShellQuote(DiscA) + " --title 3 --format 1 --out " + ShellQuote(OutDir);
  std::string origin;
  if (c.Stored) {
    Write(settings, std::string("[formatInfo1]\n") + c.Key + "=" + c.Value + "\n");
    origin = "\"" + std::string(c.Key) + "\" in [formatInfo1] of " + settings;
  } else {
    args += " --set " + ShellQuote(std::string(c.Key) + "=" + c.Value);
    origin = "--set " + std::string(c.Key) + "=" + c.Value;
  }
  const auto before = FolderSnapshot(Config);
  ExpectRefused(Run(args), origin + ": " + c.Problem, before);
}

INSTANTIATE_TEST_SUITE_P(
    Values, UnworkableSettingTest,
    ::testing::Values(
        TUnworkableCase{"paraSampleRate", "0", false,
                        "\"0\" is not a sample rate (a whole number of Hz)"},
        TUnworkableCase{"paraSampleRate", "abc", false,
                        "\"abc\" is not a sample rate (a whole number of Hz)"},
        TUnworkableCase{"paraFrameRate", "100000", false,
                        "\"100000\" is not a frame rate (1 to 240 pictures a second)"},
        TUnworkableCase{"paraVideoSize", "1x1", false,
                        "\"1x1\" is not a picture size (16x16 to 8192x8192)"},
        TUnworkableCase{"paraVideoSize", "321x241", false,
                        "\"321x241\" is an odd size; the encoders take even widths and heights"},
        TUnworkableCase{"paraSampleRate", "0", true,
                        "\"0\" is not a sample rate (a whole number of Hz)"},
        TUnworkableCase{"paraSampleRate", "abc", true,
                        "\"abc\" is not a sample rate (a whole number of Hz)"},
        TUnworkableCase{"paraFrameRate", "100000", true,
                        "\"100000\" is not a frame rate (1 to 240 pictures a second)"},
        TUnworkableCase{"paraVideoSize", "1x1", true,
                        "\"1x1\" is not a picture size (16x16 to 8192x8192)"},
        TUnworkableCase{"paraVideoSize", "321x241", true,
                        "\"321x241\" is an odd size; the encoders take even widths and heights"}),
    [](const auto& info) {
      return SanitizedName(std::string(info.param.Stored ? "Stored_" : "Set_") + info.param.Key +
                           "_" + info.param.Value);
    });

// ---- 9. smaller promises -------------------------------------------------------------------

struct TRefusalCase {
  const char* Args;
  const char* Line;
};

class SmallRefusalTest : public HostileTest, public ::testing::WithParamInterface<TRefusalCase> {};

TEST_P(SmallRefusalTest, OneLineExitTwoNothingWritten) {
  std::string line = Expand(GetParam().Line);
  ExpectRefused(Run(Expand(GetParam().Args)), line, {});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmallRefusalTest,
    ::testing::Values(
        // Empty values are mistakes, not "no value".
        TRefusalCase{"convert ''", "SOURCE is empty"}, TRefusalCase{"titles ''", "SOURCE is empty"},
        TRefusalCase{"convert {A} --format '' --out {OUT}", "--format is empty"},
        TRefusalCase{"convert {A} --start '' --out {OUT}", "--start is empty"},
        TRefusalCase{"convert {A} --length '' --out {OUT}", "--length is empty"},
        TRefusalCase{"convert {A} --crop '' --out {OUT}", "--crop is empty"},
        TRefusalCase{"convert {A} --title '' --out {OUT}", "--title is empty"},
        TRefusalCase{"convert {A} --chapters '' --out {OUT}", "--chapters is empty"},
        TRefusalCase{"convert {A} --audio '' --out {OUT}", "--audio is empty"},
        TRefusalCase{"convert {A} --zoom '' --out {OUT}", "--zoom is empty"},
        TRefusalCase{"convert {A} --set '' --out {OUT}", "--set is empty"},
        TRefusalCase{"convert {A} --text-watermark '' --out {OUT}", "--text-watermark is empty"},
        TRefusalCase{"convert {A} --out ''", "--out is empty"},
        // Numbers: decimal only, bounds said in words.
        TRefusalCase{"convert {A} --title 0 --out {OUT}", "--title 0: titles are numbered from 1"},
        TRefusalCase{"convert {A} --title -1 --out {OUT}",
                     "--title -1: titles are numbered from 1"},
        TRefusalCase{"convert {A} --title 99999999999999999999 --out {OUT}",
                     "--title 99999999999999999999: a DVD has at most 99 titles"},
        TRefusalCase{"convert {A} --title 0x1 --out {OUT}",
                     "--title \"0x1\" is not a whole number"},
        TRefusalCase{"convert {A} --format 0x67 --out {OUT}",
                     "--format \"0x67\" is not a whole number"},
        TRefusalCase{"convert {A} --format 1e2 --out {OUT}",
                     "--format \"1e2\" is not a whole number"},
        TRefusalCase{"convert {A} --brightness 0x10 --out {OUT}",
                     "--brightness \"0x10\" is not a whole number"},
        TRefusalCase{"convert {A} --contrast 101 --out {OUT}",
                     "--contrast 101 is out of range -100..100"},
        TRefusalCase{"convert {A} --zoom wide --out {OUT}",
                     "--zoom \"wide\" is not one of full, lbox, pan, center"},
        TRefusalCase{"convert {A} --title 3 --crop 0,0,360,360 --out {OUT}",
                     "the crop leaves nothing of title 3's 720x576 picture"},
        // Sub-commands and sources.
        TRefusalCase{"convrt {A}",
                     "unknown sub-command \"convrt\" (titles, formats or convert; "
                     "see --help)"},
        TRefusalCase{"", "a sub-command is needed: titles, formats or convert (see --help)"},
        TRefusalCase{"titles {DIR}/none", "{DIR}/none: No such file or directory"},
        TRefusalCase{"convert {DIR}/none --out {OUT}", "{DIR}/none: No such file or directory"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// The listings report a standard output that takes nothing.
TEST_F(HostileTest, ListingsFailWhenStandardOutputCannotBeWritten) {
  const std::string err = Folder + "/stderr.txt";
  for (const std::string& args :
       {"titles " + ShellQuote(DiscA), "titles --json " + ShellQuote(DiscA), std::string("formats"),
        std::string("formats --json")}) {
    for (const auto& [redirect, reason] :
         {std::pair<std::string, std::string>{">/dev/full", "No space left on device"},
          {">&-", "Bad file descriptor"}}) {
      int status = -1;
      RunCommand(Command() + " " + args + " " + redirect + " 2>" + ShellQuote(err), &status);
      EXPECT_EQ(status, 1) << args << " " << redirect;
      EXPECT_EQ(ReadFile(err), "dvdswf-cli: cannot write to standard output: " + reason + "\n")
          << args << " " << redirect;
    }
  }
  EXPECT_FALSE(fs::exists(Config));
}

// A cut-off image is said in one line, wherever it ends.
TEST_F(HostileTest, TruncatedImageGivesOneLine) {
  const std::string image = ReadFile(FixturesDir() + "/disc_a.iso");
  ASSERT_GT(image.size(), 2'000'000u);
  for (size_t size : {size_t(0), size_t(30'000), size_t(100'000), size_t(1'000'000)}) {
    const std::string cut = Folder + "/cut" + std::to_string(size) + ".iso";
    Write(cut, image.substr(0, size));
    for (const std::string& args :
         {"titles " + ShellQuote(cut),
          "convert " + ShellQuote(cut) + " --out " + ShellQuote(OutDir)}) {
      const TRunResult r = Run(args);
      EXPECT_EQ(r.Status, 2) << args;
      EXPECT_EQ(r.ErrLines().size(), 1u) << args << ": " << r.Err;
      EXPECT_EQ(r.Err.rfind("dvdswf-cli: " + cut + ": ", 0), 0u) << r.Err;
      EXPECT_EQ(r.Out, "");
    }
  }
  EXPECT_FALSE(fs::exists(OutDir));
  EXPECT_FALSE(fs::exists(Config));
}

// Chapter 2 of disc A's title 1 begins inside an AC-3 frame: the decoder says so, which is
// no error of a run that succeeds.
TEST_F(HostileTest, DecoderNotesOnlyWithVerbose) {
  const std::string args = "convert " + ShellQuote(DiscA) +
                           " --title 1 --chapters 2 --format 204 --out " + ShellQuote(OutDir);
  const TRunResult quiet = Run(args);
  EXPECT_EQ(quiet.Status, 0) << quiet.Err;
  EXPECT_EQ(quiet.Err.find(" @ "), std::string::npos) << quiet.Err;
  const TRunResult verbose = Run(args + " --verbose");
  EXPECT_EQ(verbose.Status, 0) << verbose.Err;
  EXPECT_NE(verbose.Err.find("]incomplete frame\n"), std::string::npos) << verbose.Err;
  // Library lines come one to a line, with no blank line after each.
  for (const TRunResult* r : {&quiet, &verbose})
    for (const std::string& line : r->ErrLines()) EXPECT_NE(line, "") << r->Err;
}

// The progress of a --length past the title's end reaches 100 %, and no speed is made up
// before there is one to tell.
TEST_F(HostileTest, ProgressReachesTheEnd) {
  const TRunResult r = Run("convert " + ShellQuote(DiscA) +
                           " --title 3 --format 204 --length 10 --out " + ShellQuote(OutDir));
  EXPECT_EQ(r.Status, 0) << r.Err;
  const auto lines = r.ErrLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("[1/1] DVD Title 3: 100% ", 0), 0u) << r.Err;
  EXPECT_EQ(r.Err.find("0.0x"), std::string::npos) << r.Err;
  ASSERT_EQ(r.OutLines().size(), 1u);
  EXPECT_NEAR(DecodedDuration(r.OutLines()[0]), 3.0, 0.5);
}

}  // namespace
