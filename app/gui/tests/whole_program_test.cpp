// The real dvdswf program under a real X server (Xvfb), driven from outside with xdotool as a
// person drives it with the keyboard: fixture disc A is opened as an image, titles 1 and 2
// stay checked, title 1 plays in the preview and gets its French track, H.264 is picked from
// the format list, the run starts, its progress window comes and goes, and the two outputs
// play with the chosen tracks' tones. Screenshots of the main window with titles, the preview
// playing, the picker open and the progress window go to build/screenshots/.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "app/gui/tests/media_checks.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A child process of this test, ended by its id.
class TChild {
 public:
  TChild() = default;
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;
  ~TChild() { Stop(); }

  // Starts `argv` with `env` added to this process's environment; its standard output goes
  // to `outFd` (-1: /dev/null) and its standard error to `errPath`.
  bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
             int outFd, const std::string& errPath) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      if (!env.count(entry.substr(0, entry.find('=')))) environment.push_back(entry);
    }
    for (const auto& [key, value] : env) environment.push_back(key + "=" + value);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outFd >= 0)
      posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    else
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    const int rc = posix_spawnp(&FPid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) FPid = -1;
    return rc == 0;
  }
  // Waits for the process to end by itself; its exit status, or -1 after the timeout.
  int Wait(std::chrono::seconds timeout) {
    const auto end = Clock::now() + timeout;
    while (FPid > 0 && Clock::now() < end) {
      int status = 0;
      if (waitpid(FPid, &status, WNOHANG) == FPid) {
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  bool Running() { return FPid > 0 && waitpid(FPid, nullptr, WNOHANG) == 0; }
  void Stop() {
    if (FPid <= 0) return;
    kill(FPid, SIGTERM);
    if (Wait(std::chrono::seconds(10)) < 0) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
    FPid = -1;
  }

 private:
  pid_t FPid = -1;
};

// The sanitizer options this test runs with, and the program's suppressions.
std::string SanitizerOptions(const char* variable, const std::string& suppressions) {
  const char* own = std::getenv(variable);
  return (own && *own ? std::string(own) + ":" : std::string()) + "suppressions=" + suppressions;
}

class WholeProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = TestFolder();
    Home = Folder + "/home";
    Config = Folder + "/config";
    fs::create_directories(Home);
    Screenshots = DVDSWF_BINARY_DIR "/screenshots";
    fs::create_directories(Screenshots);
    // The X server tells its display number on a pipe.
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    ASSERT_TRUE(Xvfb.Start(
        {"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"},
        {}, pipeFds[1], Folder + "/xvfb.log"))
        << "Xvfb is missing (Debian package xvfb)";
    close(pipeFds[1]);
    std::string number;
    char c;
    while (read(pipeFds[0], &c, 1) == 1 && c != '\n') number += c;
    close(pipeFds[0]);
    ASSERT_FALSE(number.empty()) << ReadFile(Folder + "/xvfb.log");
    Display = ":" + number;
  }

  // xdotool on the test's display; its output without the last line break.
  std::string Xdo(const std::string& args, int* status = nullptr) {
    std::string out =
        RunCommand("DISPLAY=" + Display + " xdotool " + args + " 2>/dev/null", status);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
  }
  // The visible window whose title is `title`, waited for; empty after the timeout.
  std::string WaitWindow(const std::string& title, int seconds = 60) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
      std::string id = Xdo("search --onlyvisible --name " + ShellQuote("^" + title + "$"));
      if (!id.empty()) return id.substr(0, id.find('\n'));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::string();
  }
  bool WaitGone(const std::string& title, int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
      if (Xdo("search --onlyvisible --name " + ShellQuote("^" + title + "$")).empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  void Focus(const std::string& window) { Xdo("windowfocus --sync " + window); }
  void Keys(const std::string& keys) { Xdo("key --delay 40 " + keys); }
  // A picture of a window's area of the screen.
  void Screenshot(const std::string& window, const std::string& name) {
    const std::string geometry = Xdo("getwindowgeometry --shell " + window);
    std::map<std::string, int> g;
    size_t start = 0;
    while (start < geometry.size()) {
      const size_t end = geometry.find('\n', start);
      const std::string line = geometry.substr(start, end - start);
      if (const size_t eq = line.find('='); eq != std::string::npos)
        g[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
      if (end == std::string::npos) break;
      start = end + 1;
    }
    const std::string file = Screenshots + "/" + name + ".png";
    int status = 0;
    RunCommand("ffmpeg -nostdin -v error -y -f x11grab -video_size " + std::to_string(g["WIDTH"]) +
                   "x" + std::to_string(g["HEIGHT"]) + " -i " + Display + "+" +
                   std::to_string(g["X"]) + "," + std::to_string(g["Y"]) + " -frames:v 1 " +
                   ShellQuote(file),
               &status);
    EXPECT_EQ(status, 0) << name;
    EXPECT_TRUE(fs::exists(file)) << file;
  }
  // A script that writes its arguments as one line to `log`: the program's open and shut-down
  // commands, which must leave their trace and nothing else.
  std::string Recorder(const std::string& name, const std::string& log) {
    const std::string path = Folder + "/" + name;
    std::ofstream(path) << "#!/bin/sh\necho \"$@\" >> " << ShellQuote(log) << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
  }

  // Starts dvdswf on the test's display with its own home and settings; opening a folder and
  // shutting down only write to the logs `Opened` and `PowerOff`.
  bool StartProgram(TChild& program) {
    const std::string runtime = Folder + "/runtime";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    Opened = Folder + "/opened.log";
    PowerOff = Folder + "/poweroff.log";
    return program.Start(
        {DVDSWF_BINARY_DIR "/bin/dvdswf"},
        {{"DISPLAY", Display},
         {"HOME", Home},
         {"DVDSWF_CONFIG_DIR", Config},
         {"XDG_CONFIG_HOME", Folder + "/xdg"},
         {"XDG_RUNTIME_DIR", runtime},
         {"LSAN_OPTIONS", "suppressions=" DVDSWF_LSAN_SUPPRESSIONS},
         {"TSAN_OPTIONS", SanitizerOptions("TSAN_OPTIONS", DVDSWF_TSAN_SUPPRESSIONS)},
         {"QT_QPA_PLATFORM", "xcb"},
         {"SDL_AUDIODRIVER", "dummy"},
         {"DVDSWF_OPEN_COMMAND", Recorder("open.sh", Opened)},
         {"DVDSWF_SHUTDOWN_COMMAND", Recorder("poweroff.sh", PowerOff)}},
        -1, Folder + "/dvdswf.log");
  }
  // Add DVD, then "Open DVD image…" of the drive menu; the file dialog takes the image.
  void OpenImage(const std::string& main, const std::string& image) {
    Focus(main);
    Keys("alt+a");
    ASSERT_FALSE(WaitWindow("Add DVD Driver", 20).empty()) << "the drive menu opens";
    Keys("i");
    const std::string dialog = WaitWindow("Open DVD image", 20);
    ASSERT_FALSE(dialog.empty());
    Focus(dialog);
    Xdo("type --delay 5 " + ShellQuote(image));
    Keys("Return");
    ASSERT_TRUE(WaitGone("Open DVD image", 20));
    Focus(main);
  }
  // Waits until the run's first report can have come (500 ms after the progress window showed)
  // and `file` is being written.
  void WaitUntilWriting(const std::string& file) {
    const auto shown = Clock::now();
    while (Clock::now() - shown < std::chrono::seconds(30)) {
      std::error_code error;
      if (Clock::now() - shown > std::chrono::milliseconds(700) && fs::file_size(file, error) > 0 &&
          !error)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  // Exit, and yes; the program ends by itself.
  void Exit(const std::string& main, TChild& program) {
    Focus(main);
    Keys("alt+x");
    const std::string question = WaitWindow("Warning", 20);
    ASSERT_FALSE(question.empty()) << "\"Do you really want to exit?\"";
    Focus(question);
    Keys("alt+y");
    EXPECT_EQ(program.Wait(std::chrono::seconds(60)), 0) << ReadFile(Folder + "/dvdswf.log");
  }

  // A left click at (x, y) of a window's own area.
  void Click(const std::string& window, int x, int y) {
    Xdo("mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
        " click 1");
  }
  // A key pressed `times` times.
  void Repeat(const std::string& key, int times) {
    std::string keys;
    for (int i = 0; i < times; ++i) keys += (i ? " " : "") + key;
    Keys(keys);
  }
  // Opens one of the Edit menu's editors (its accelerator key) for the selected row and
  // returns its window once it shows.
  std::string OpenEditor(const std::string& main, const std::string& key,
                         const std::string& title) {
    // Right after an editor closed, the main window may not have the keyboard yet (slower
    // under the sanitizers): a menu that did not open is asked for again.
    for (int attempt = 0; attempt < 4; ++attempt) {
      Focus(main);
      Keys("alt+e");
      if (WaitWindow("Edit", 10).empty()) {
        Keys("Escape");
        continue;
      }
      Keys(key);
      return WaitWindow(title, 60);
    }
    return std::string();
  }

  std::string Folder, Home, Config, Screenshots, Display, Opened, PowerOff;
  TChild Xvfb;
};

TEST_F(WholeProgram, ConvertsTwoTitlesWithTheChosenTrack) {
  TChild program;
  ASSERT_TRUE(StartProgram(program));
  const std::string main = WaitWindow("Korvel DVD to SWF Converter");
  ASSERT_FALSE(main.empty()) << ReadFile(Folder + "/dvdswf.log");
  Focus(main);

  OpenImage(main, DiscAImage());

  // Keys wait in the window's queue until the disc is listed, the list holding the focus:
  // uncheck title 3, back to title 1 and play it in the preview (Return), French in the
  // audio combo.
  Keys("Down Down space Home Return");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // a few pictures in
  Screenshot(main, "main_window_preview_playing");
  Keys("alt+u Down");
  // The format list: open it, expand the video group, choose H.264.
  Keys("alt+f space Home Down Right Down Down Down Down");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // let the pictures settle
  Screenshot(main, "main_window_picker_open");
  Keys("Return");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Screenshot(main, "main_window_titles");

  // Start; hold the run once its first report can have come (500 ms) and title 1 is being
  // written, to look at the window, then let it go on.
  Keys("alt+s");
  const std::string progress = WaitWindow("Progress", 60);
  ASSERT_FALSE(progress.empty()) << "the progress window opens";
  WaitUntilWriting(Home + "/videoconverter/DVD Title 1_(new).mp4");
  Keys("alt+p");
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // its timer draws the picture
  Screenshot(main, "progress_window");
  Keys("alt+r");
  ASSERT_TRUE(WaitGone("Progress", 300)) << "the run reaches its end";
  ASSERT_TRUE(program.Running());

  // The outputs: titles 1 and 2 only, each with its chosen track's tone.
  const std::string out = Home + "/videoconverter";
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(out)) files.push_back(entry.path().filename());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files, (std::vector<std::string>{"DVD Title 1_(new).mp4", "DVD Title 2_(new).mp4"}));
  const auto manifest = ReadManifest("a");
  const auto french = ManifestRecords(manifest, "audio", 1);
  ASSERT_EQ(french.size(), 2u);
  EXPECT_EQ(french[1].Get("lang"), "fr");
  EXPECT_NEAR(ToneFrequency(out + "/DVD Title 1_(new).mp4"), french[1].Number("hz"), 10)
      << "title 1 carries the French track (English is " << french[0].Number("hz") << " Hz)";
  const auto title2 = ManifestRecords(manifest, "audio", 2);
  ASSERT_FALSE(title2.empty());
  EXPECT_NEAR(ToneFrequency(out + "/DVD Title 2_(new).mp4"), title2[0].Number("hz"), 10);
  EXPECT_NEAR(DecodedDuration(out + "/DVD Title 1_(new).mp4"), 12.0, 0.5);
  EXPECT_NEAR(DecodedDuration(out + "/DVD Title 2_(new).mp4"), 7.0, 0.5);
  // After the run: the output folder was opened (by the recording command), nothing shut down.
  EXPECT_EQ(ReadFile(Opened), out + "\n");
  EXPECT_FALSE(fs::exists(PowerOff));

  Exit(main, program);
}

// The video stream's width, height and bit rate (bits per second) as ffprobe reads them.
std::map<std::string, long> VideoFacts(const std::string& file) {
  const std::string out = RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries stream=width,height,bit_rate "
      "-of default=noprint_wrappers=1 " +
      ShellQuote(file));
  std::map<std::string, long> facts;
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    const std::string line = out.substr(start, end - start);
    if (const size_t eq = line.find('='); eq != std::string::npos)
      facts[line.substr(0, eq)] = std::atol(line.c_str() + eq + 1);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return facts;
}

// The dialogs as a person uses them: the preferences keep JPG snapshots of the small size
// only, in a folder chosen in the folder chooser; the settings dialog gets the H.264 format's
// frame size typed odd (and corrected) and its video bit rate typed. A title of fixture disc F
// (a busy picture, so the encoder needs its bit rate) then converts at that size and rate, and
// the progress window's snapshot writes just "Snapshot_small.jpg". Screenshots of the three
// dialogs and of the correction message go to build/screenshots/.
TEST_F(WholeProgram, DialogChoicesReachTheConversionAndTheSnapshot) {
  const std::string snaps = Folder + "/snaps";
  fs::create_directories(snaps);
  TChild program;
  ASSERT_TRUE(StartProgram(program));
  const std::string main = WaitWindow("Korvel DVD to SWF Converter");
  ASSERT_FALSE(main.empty()) << ReadFile(Folder + "/dvdswf.log");

  // Preferences: "Full Size" and "BMP" off; "Brows" to the snapshot folder, typed into the
  // chooser's folder box.
  Focus(main);
  Keys("alt+p");
  const std::string preferences = WaitWindow("Preference", 20);
  ASSERT_FALSE(preferences.empty()) << "the preferences open";
  Focus(preferences);
  Keys("alt+f alt+m alt+b");
  const std::string chooser = WaitWindow("Browse", 20);
  ASSERT_FALSE(chooser.empty()) << "the folder chooser opens";
  Focus(chooser);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Screenshot(chooser, "folder_chooser");
  Keys("alt+f ctrl+a");
  Xdo("type --delay 5 " + ShellQuote(snaps));
  Keys("Return");
  ASSERT_TRUE(WaitGone("Browse", 20));
  Focus(preferences);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Screenshot(preferences, "preferences_dialog");
  Keys("alt+o");
  ASSERT_TRUE(WaitGone("Preference", 20));

  // Disc F and the H.264 format.
  OpenImage(main, DiscFImage());
  Keys("alt+f space Home Down Right Down Down Down Down Return");

  // The settings dialog: 401x301 is corrected to 400x300 when the box is left; 500 kbit/s.
  Keys("alt+t");
  const std::string settings = WaitWindow("Settings", 20);
  ASSERT_FALSE(settings.empty()) << "the settings dialog opens";
  Focus(settings);
  Keys("alt+s ctrl+a");
  Xdo("type --delay 20 401x301");
  Keys("Tab");
  const std::string correction = WaitWindow("Input Error!", 20);
  ASSERT_FALSE(correction.empty()) << "the correction message";
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Screenshot(correction, "settings_dialog_correction");
  Focus(correction);
  Keys("Return");
  ASSERT_TRUE(WaitGone("Input Error!", 20));
  Focus(settings);
  Keys("alt+b ctrl+a");
  Xdo("type --delay 20 500");
  Keys("Tab");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Screenshot(settings, "settings_dialog");
  Keys("alt+o");
  ASSERT_TRUE(WaitGone("Settings", 20)) << "Ok takes the values";

  // Start; once the title is being written, pause and press the progress window's snapshot
  // button (bottom left).
  Focus(main);
  Keys("alt+s");
  const std::string progress = WaitWindow("Progress", 60);
  ASSERT_FALSE(progress.empty()) << "the progress window opens";
  const std::string out = Home + "/videoconverter/DVD Title 1_(new).mp4";
  WaitUntilWriting(out);
  Focus(progress);
  Keys("alt+p");
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // its timer draws the picture
  const std::string geometry = Xdo("getwindowgeometry --shell " + progress);
  const size_t at = geometry.find("HEIGHT=");
  ASSERT_NE(at, std::string::npos) << geometry;
  const int height = std::atoi(geometry.c_str() + at + 7);
  Xdo("mousemove --window " + progress + " 36 " + std::to_string(height - 31) + " click 1");
  const auto clicked = Clock::now();
  while (!fs::exists(snaps + "/Snapshot_small.jpg") &&
         Clock::now() - clicked < std::chrono::seconds(20))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Focus(progress);
  Keys("alt+r");
  ASSERT_TRUE(WaitGone("Progress", 300)) << "the run reaches its end";

  // The output: the typed size, and a video bit rate within 15 % of the typed one.
  const auto facts = VideoFacts(out);
  EXPECT_EQ(facts.count("width") ? facts.at("width") : 0, 400) << out;
  EXPECT_EQ(facts.count("height") ? facts.at("height") : 0, 300);
  ASSERT_TRUE(facts.count("bit_rate"));
  EXPECT_NEAR(double(facts.at("bit_rate")), 500000.0, 0.15 * 500000.0);
  EXPECT_NEAR(DecodedDuration(out), 8.0, 0.5);

  // The snapshot: JPG of the small size only.
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(snaps)) files.push_back(entry.path().filename());
  EXPECT_EQ(files, std::vector<std::string>{"Snapshot_small.jpg"});

  Exit(main, program);
}

// Title 1 plays in the preview (Return on its row), and the Snapshot button (clicked where
// the fixed-size window has it: no key reaches it) writes just the small JPG, as the stored
// choices say, and opens the snapshot folder.
TEST_F(WholeProgram, MainWindowSnapshotWritesOnlyTheChosenFiles) {
  const std::string snaps = Folder + "/snaps";
  fs::create_directories(snaps);
  fs::create_directories(Config);
  std::ofstream(Config + "/korveldvdtoswfconverter.ini")
      << "[settings]\nSnapOutPutDir=" << snaps << "\nsnapBmp=0\nsnapFullSize=0\n";
  TChild program;
  ASSERT_TRUE(StartProgram(program));
  const std::string main = WaitWindow("Korvel DVD to SWF Converter");
  ASSERT_FALSE(main.empty()) << ReadFile(Folder + "/dvdswf.log");
  OpenImage(main, DiscAImage());
  Keys("Home Return");
  // The snapshot is written once a picture is there; the click repeats until it is.
  const std::string file = snaps + "/Snapshot_small.jpg";
  const auto end = Clock::now() + std::chrono::seconds(60);
  while (!fs::exists(file) && Clock::now() < end) {
    Xdo("mousemove --window " + main + " 709 401 click 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  ASSERT_TRUE(fs::exists(file)) << "the Snapshot button wrote the small JPG";
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(snaps)) files.push_back(entry.path().filename());
  EXPECT_EQ(files, std::vector<std::string>{"Snapshot_small.jpg"});
  EXPECT_NE(ReadFile(Opened).find(snaps), std::string::npos) << "the snapshot folder is opened";
  Exit(main, program);
}

// What the editors' checks look for in a decoded picture.
int Luma(const unsigned char* rgb) {
  return (299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2]) / 1000;
}
// The mean luma of a w x h patch at (x, y).
double PatchLuma(const TRgbPicture& picture, int x, int y, int w, int h) {
  double sum = 0;
  for (int row = y; row < y + h; ++row)
    for (int column = x; column < x + w; ++column) sum += Luma(picture.At(column, row));
  return sum / (double(w) * h);
}
// The rows from the first to the last one that is not black in `column`: the picture's height
// between letterbox bars.
int PictureRows(const TRgbPicture& picture, int column) {
  int first = -1, last = -1;
  for (int y = 0; y < picture.Height; ++y)
    if (Luma(picture.At(column, y)) > 24) {
      if (first < 0) first = y;
      last = y;
    }
  return first < 0 ? 0 : last - first + 1;
}
// Pixels that are plainly green: the text watermark's green background box. The title's own
// picture is dark blue and white, so it has none.
int GreenPixels(const TRgbPicture& picture) {
  int count = 0;
  for (int y = 0; y < picture.Height; ++y)
    for (int x = 0; x < picture.Width; ++x) {
      const unsigned char* p = picture.At(x, y);
      if (p[1] > p[0] + 25 && p[1] > p[2] + 25) ++count;
    }
  return count;
}

// The three editors as a person uses them, on title 1 of fixture disc A (12 s, dark blue):
// the trim editor's range bar is clicked at 2 s and 10 s; the crop editor's Up and Down spins
// are stepped with the arrow keys (about 72 source rows each) and its brightness typed as
// 128 (of 255 untouched); the watermark editor gets a text with its default green
// background, shown in the title's seconds 4 to 6. Title 1 then converts to the default
// format (SWF, 320x240, letterboxed), and the output holds 8 s, a 16:9 picture between bars,
// a darker picture than the disc's, and the watermark in title seconds 4 to 6 only (output
// seconds 2 to 5, the last second counting whole). Screenshots of the three editors go to
// build/screenshots/.
TEST_F(WholeProgram, EditorsChoicesReachTheConversion) {
  TChild program;
  ASSERT_TRUE(StartProgram(program));
  const std::string main = WaitWindow("Korvel DVD to SWF Converter");
  ASSERT_FALSE(main.empty()) << ReadFile(Folder + "/dvdswf.log");
  OpenImage(main, DiscAImage());
  // Titles 2 and 3 unchecked; title 1 selected.
  Keys("Down space Down space Home");

  // Trim: the range bar's marks at 2 s and 10 s of the 12 s title. The bar is 838 pixels
  // wide and its marks are 16 wide: a press at x puts the start at (x - 8) / 838 * 12 s and
  // the end at (x - 8) / 822 * 12 s, whole seconds truncated; both presses aim mid-second.
  const std::string trim = OpenEditor(main, "t", "Trim");
  ASSERT_FALSE(trim.empty()) << "the trim editor opens";
  const int barLeft = 32, barMiddle = 473 + 10;
  Click(trim, barLeft + 183, barMiddle);
  Click(trim, barLeft + 727, barMiddle);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // a few pictures in
  Screenshot(trim, "editor_trim");
  Click(trim, 714, 554);  // Ok
  ASSERT_TRUE(WaitGone("Trim", 60)) << "Ok takes the trim";

  // Crop: Up and Down stepped 38 times each (a step is about 1.9 source rows), then the
  // Effect tab (ctrl+Tab) and the brightness box typed.
  const std::string crop = OpenEditor(main, "c", "Crop");
  ASSERT_FALSE(crop.empty()) << "the crop editor opens";
  const int page = 376 + 27;                        // the tab page's top, below the tab bar
  Click(crop, 20 + 150 + 52 + 30, page + 10 + 13);  // the Up spin
  Repeat("Up", 38);
  Click(crop, 20 + 150 + 52 + 30, page + 80 + 13);  // the Down spin
  Repeat("Up", 38);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Screenshot(crop, "editor_crop");
  Keys("ctrl+Tab");
  Click(crop, 20 + 10 + 310 + 30, page + 12 + 13);  // the brightness box
  Keys("ctrl+a");
  Xdo("type --delay 20 128");
  Keys("Tab");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the preview's refresh
  Screenshot(crop, "editor_crop_effect");
  Click(crop, 714, 570);  // Ok
  ASSERT_TRUE(WaitGone("Crop", 60)) << "Ok takes the crop and the brightness";

  // Watermark: Add Text opens the row's in-place editor; the text is typed, and a click on
  // the time range bar ends the editing and gives the bar the focus: its lower thumb four
  // seconds right, its upper one (shift) six seconds left.
  const std::string marks = OpenEditor(main, "v", "Water Mark");
  ASSERT_FALSE(marks.empty()) << "the watermark editor opens";
  const int px = 624;
  Click(marks, px + 20, 36 + 13);  // Add Text
  Xdo("type --delay 20 " + ShellQuote("E2E MARK"));
  Click(marks, px + 2, 284 + 12);  // the range bar's left end: the lower thumb stays at 0
  std::this_thread::sleep_for(std::chrono::milliseconds(700));  // a few pictures in
  Screenshot(marks, "editor_watermark");  // the layer shows: its window is the whole title
  Repeat("Right", 4);
  Repeat("shift+Left", 6);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Screenshot(marks, "editor_watermark_range");
  Click(marks, 784 + 44, 524 + 13);  // Ok
  ASSERT_TRUE(WaitGone("Water Mark", 60)) << "Ok takes the watermark";

  // Convert title 1 to the default format.
  Focus(main);
  Keys("alt+s");
  ASSERT_FALSE(WaitWindow("Progress", 60).empty()) << "the progress window opens";
  ASSERT_TRUE(WaitGone("Progress", 300)) << "the run reaches its end";
  const std::string folder = Home + "/videoconverter";
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 1u) << "title 1 alone";
  const std::string out = files[0];
  EXPECT_EQ(fs::path(out).extension(), ".swf");

  // The trimmed length, within a picture or two (25 per second).
  EXPECT_NEAR(DecodedDuration(out), 8.0, 0.1) << out;

  // The crop: 720 x 432 of the 4:3 picture is shown 16:9, so 320 x 180 between bars in the
  // 320 x 240 frame (a spin step is not a whole number of rows: two rows either way).
  const TRgbPicture still = DecodeRgbPicture(out, 1.0);
  ASSERT_FALSE(still.Empty()) << out;
  EXPECT_EQ(still.Width, 320);
  EXPECT_EQ(still.Height, 240);
  EXPECT_NEAR(PictureRows(still, still.Width / 8), 180, 4) << "letterboxed to the crop's shape";

  // Brightness 128: the ground is darker than the disc's own (the source picture, decoded by
  // FFmpeg), and by about half.
  const TRgbPicture source = DecodeRgbPicture(DiscAFolder() + "/VIDEO_TS/VTS_01_1.VOB", 3.0);
  ASSERT_FALSE(source.Empty());
  const double sourceGround = PatchLuma(source, 40, 250, 40, 80);
  const double outputGround = PatchLuma(still, 16, 100, 20, 40);
  EXPECT_LT(outputGround, 0.75 * sourceGround)
      << "output " << outputGround << ", disc " << sourceGround;

  // The watermark in title seconds 4 to 6 (output 2 to 5, the end second being whole), and
  // nowhere else.
  struct TCase {
    double At;  // output seconds
    bool Shown;
  };
  for (const TCase& c : {TCase{1.0, false}, TCase{2.5, true}, TCase{4.5, true}, TCase{5.5, false},
                         TCase{7.0, false}}) {
    const TRgbPicture picture = DecodeRgbPicture(out, c.At);
    ASSERT_FALSE(picture.Empty()) << c.At;
    const int green = GreenPixels(picture);
    if (c.Shown)
      EXPECT_GT(green, 200) << "the watermark at " << c.At << " s";
    else
      EXPECT_EQ(green, 0) << "no watermark at " << c.At << " s";
  }

  Exit(main, program);
}

}  // namespace
