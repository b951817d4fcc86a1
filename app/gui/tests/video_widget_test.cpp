// The player's Qt widget output: pictures handed over from another thread without waiting,
// older ones dropped and counted, the newest painted; resizes reported; a disc played into
// it (screenshots in build/screenshots/); and the dvdswf-play program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <thread>

#include "app/gui/main_thread_bridge.h"
#include "app/gui/video_widget.h"
#include "media/main_thread.h"
#include "player/player.h"
#include "player/tests/player_test_support.h"
#include "tests/support/test_support.h"

namespace {

using namespace std::chrono_literals;

int gArgc = 1;
char gName[] = "video_widget_tests";
char* gArgv[] = {gName, nullptr};
std::unique_ptr<QApplication> gApp;
std::unique_ptr<TMainThreadBridge> gBridge;

// The application ends with the tests, before the process's own clean-up, and takes the
// main-thread bridge with it.
class TQtEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    gBridge.reset();
    gApp.reset();
  }
};
const auto* const gEnvironment = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

QApplication& App() {
  if (!gApp) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    gApp = std::make_unique<QApplication>(gArgc, gArgv);
  }
  return *gApp;
}

void ProcessFor(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ProcessMessages();
    std::this_thread::sleep_for(2ms);
  }
}

bool ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 30s) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    ProcessFor(5ms);
  }
  return true;
}

void Fill(TOverlay& overlay, uint8_t y, uint8_t u, uint8_t v) {
  const uint8_t values[3] = {y, u, v};
  for (int p = 0; p < 3; ++p)
    for (int row = 0; row < (p ? overlay.Height() / 2 : overlay.Height()); ++row)
      std::fill_n(overlay.Plane(p) + size_t(row) * overlay.Pitch(p),
                  p ? overlay.Width() / 2 : overlay.Width(), values[p]);
}

void SaveScreenshot(QWidget& widget, const QString& name) {
  QDir().mkpath(DVDSWF_SCREENSHOTS_DIR);
  widget.grab().save(QString(DVDSWF_SCREENSHOTS_DIR) + "/" + name);
}

TEST(VideoWidget, HandsOverWithoutWaitingPaintsTheNewestAndCountsTheDropped) {
  App();
  TVideoWidget widget;
  widget.resize(320, 240);
  widget.show();
  ProcessFor(100ms);
  TVideoOutput* output = widget.Output();
  // The player's play thread: two pictures while the GUI thread is busy elsewhere.
  std::thread play([&] {
    output->SetVideoMode(320, 240);
    TOverlay red(64, 48), green(64, 48);
    Fill(red, 81, 90, 240);
    Fill(green, 145, 54, 34);
    std::lock_guard lock(red.Lock());
    output->DisplayOverlay(red, {0, 0, 320, 240}, 0);
    output->DisplayOverlay(green, {40, 0, 240, 240}, 40000);
  });
  play.join();
  EXPECT_EQ(widget.DroppedPictures(), 1);
  EXPECT_EQ(widget.PaintedPictures(), 0);
  ASSERT_TRUE(ProcessUntil([&] { return widget.PaintedPictures() == 1; }));
  const QImage shot = widget.grab().toImage();
  const QColor middle = shot.pixelColor(160, 120);
  EXPECT_GT(middle.green(), 200);
  EXPECT_LT(middle.red(), 60);
  EXPECT_EQ(shot.pixelColor(10, 120), QColor(Qt::black));  // outside the rectangle
  // An expose paints the same picture again; nothing new was painted.
  widget.repaint();
  EXPECT_EQ(widget.PaintedPictures(), 1);
  EXPECT_GT(widget.grab().toImage().pixelColor(160, 120).green(), 200);
}

TEST(VideoWidget, ReportsResizesToThePlayer) {
  App();
  struct TListener : TVideoOutputListener {
    void OutputResized(int w, int h) override { Sizes.push_back({w, h}); }
    void OutputExposed() override {}
    std::vector<std::pair<int, int>> Sizes;
  } listener;
  TVideoWidget widget;
  widget.resize(320, 240);
  widget.show();
  ProcessFor(50ms);
  int w = 0, h = 0;
  widget.Output()->ClientSize(w, h);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 240);
  widget.Output()->SetListener(&listener);
  widget.resize(400, 300);
  ProcessFor(50ms);
  widget.Output()->SetListener(nullptr);
  widget.resize(500, 300);
  ProcessFor(50ms);
  ASSERT_EQ(listener.Sizes.size(), 1u);
  EXPECT_EQ(listener.Sizes[0], std::make_pair(400, 300));
}

TEST(VideoWidget, PlaysDiscAWithTheAspectKept) {
  App();
  LoadPlayerLibraries();
  if (!gBridge) gBridge = std::make_unique<TMainThreadBridge>();
  TVideoWidget widget;
  widget.resize(640, 360);
  widget.show();
  ProcessFor(50ms);
  {
    TMediaPlayer player;
    ASSERT_TRUE(player.Open(SelectDVDTitle("disc_a", 1, 0x80, 0x20), widget.Output()))
        << player.LastError();
    ASSERT_TRUE(ProcessUntil([&] { return widget.PaintedPictures() >= 20; }));
    ProcessFor(300ms);  // past the subtitle's start
    SaveScreenshot(widget, "video_widget_disc_a.png");
    // Resized while playing: the player draws for the new size.
    widget.resize(400, 400);
    ProcessFor(500ms);
    SaveScreenshot(widget, "video_widget_disc_a_square.png");
    player.Stop(true);
  }
  const QImage square = widget.grab().toImage();
  // 4:3 in a square: letterboxed, 300 high from y = 50.
  EXPECT_EQ(square.pixelColor(200, 20), QColor(Qt::black));
  const QColor background = square.pixelColor(20, 100);  // the title's blue (1f3f7f)
  EXPECT_NEAR(background.blue(), 0x7f, 20);
  EXPECT_NEAR(background.red(), 0x1f, 20);
  EXPECT_GE(widget.PaintedPictures(), 20);
}

// ---- dvdswf-play ----

// The program runs under `timeout` (it keeps its own signal handling, so SIGTERM ends it)
// and, in a ThreadSanitizer build, with the suppressions for FFmpeg's codec threads.
std::string Play(const std::string& args, int* status) {
  return RunCommand(
      "QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy TSAN_OPTIONS=\"$TSAN_OPTIONS "
      "suppressions=" DVDSWF_TSAN_SUPPRESSIONS "\" timeout -k 10 300 '" DVDSWF_BINARY_DIR
      "/bin/dvdswf-play' " +
          args + " 2>&1",
      status);
}

TEST(DvdswfPlay, HelpAnswers) {
  int status = -1;
  const std::string out = Play("--help", &status);
  EXPECT_EQ(status, 0);
  for (const char* word :
       {"FILE|DISC", "--title", "--start", "space", "Left/Right", "period", "mute"})
    EXPECT_NE(out.find(word), std::string::npos) << word << " in:\n" << out;
}

TEST(DvdswfPlay, BadInputsExitWithTwoAndTheReason) {
  struct {
    std::string Args, Words;
  } cases[] = {
      {"", "give one FILE or DISC"},
      {"'" + TestFolder() + "/missing.vob'", "missing.vob: No such file or directory"},
      {"--title 9 '" + FixturesDir() + "/disc_a'", "the disc has 3 titles, not 9"},
      {"--start x '" + FixturesDir() + "/disc_a'", "--start: \"x\" is neither seconds nor H:MM:SS"},
  };
  for (const auto& c : cases) {
    int status = -1;
    const std::string out = Play(c.Args, &status);
    EXPECT_EQ(status, 2) << c.Args;
    EXPECT_NE(out.find(c.Words), std::string::npos) << out;
  }
}

TEST(DvdswfPlay, PlaysATitleToItsEnd) {
  int status = -1;
  const std::string out =
      Play("--title 3 --quit-at-end --stats '" + FixturesDir() + "/disc_a'", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("first picture painted"), std::string::npos) << out;
}

}  // namespace
