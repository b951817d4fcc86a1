// The main window's preview playing fixture disc A through the real player into the panel:
// moving pictures, Pause, Stop, the end of a title, Previous and Next, mute and volume, the
// snapshot of the picture shown, another row, a title that cannot be opened, and closing the
// window while a title plays.
#include <gtest/gtest.h>

#include <signal.h>

#include <QImage>
#include <QLabel>
#include <QTest>
#include <QToolButton>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/core/global_object.h"
#include "app/gui/main_window.h"
#include "app/gui/preview_panel.h"
#include "app/gui/tests/gui_test_support.h"
#include "app/gui/title_list_model.h"
#include "app/gui/title_list_view.h"
#include "app/gui/track_bar.h"
#include "app/gui/video_widget.h"
#include "player/player.h"

namespace {

namespace fs = std::filesystem;

// The titles' background colours on disc A (the manifest's bg).
const QColor kTitleColours[] = {QColor(0x1f, 0x3f, 0x7f), QColor(0x2f, 0x6f, 0x1f),
                                QColor(0x6f, 0x1f, 0x4f)};

QToolButton* Button(TfrmMain& window, const char* name) {
  return window.findChild<QToolButton*>(QLatin1String(name));
}

bool Near(const QColor& a, const QColor& b, int tolerance = 24) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance;
}

// The panel as a person sees it.
QImage PanelPicture(TfrmMain& window) {
  return window.PreviewPanel()->grab().toImage();
}

// A colour of the title's background: a corner of the picture, away from the time code and
// the subtitles.
QColor Background(const QImage& picture) {
  return picture.pixelColor(picture.width() / 2, 12);
}

bool AllBlack(const QImage& picture) {
  for (int y = 0; y < picture.height(); y += 7)
    for (int x = 0; x < picture.width(); x += 7)
      if (picture.pixelColor(x, y) != QColor(Qt::black)) return false;
  return true;
}

class PreviewTest : public GuiTest {
 protected:
  TPreviewPanel& Panel() { return *Window().PreviewPanel(); }

  // Plays `row` of disc A and waits until the panel shows its pictures and the position has
  // moved.
  void PlayRow(int row) {
    TfrmMain& window = Window();
    if (window.Model().rowCount() == 0) OpenDiscA();
    window.List()->SelectRow(row);
    window.Play();
    WaitUntilPlaying();
  }
  void WaitUntilPlaying() {
    ASSERT_TRUE(Panel().IsOpen()) << Panel().LastError();
    ASSERT_TRUE(WaitFor([this] {
      return Panel().VideoWidget()->PaintedPictures() >= 3 && Panel().Position() > 0;
    })) << "no pictures in the panel";
  }
  // Lets the loop run for a while in which nothing is expected to happen.
  static void Idle(int ms) {
    WaitFor([] { return false; }, ms);
  }
  // Waits until the player's picture and position stay the same for a while: after a pause,
  // a picture already on its way is still shown.
  bool WaitUntilStill() {
    return WaitFor([this] {
      TBitmap before, after;
      const int64_t position = Panel().Position();
      if (!Panel().CurrentFrame(before)) return false;
      Idle(250);
      return Panel().CurrentFrame(after) && SamePixels(before, after) &&
             Panel().Position() == position;
    });
  }
  static bool SamePixels(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
      if (memcmp(a.ScanLine(y), b.ScanLine(y), size_t(a.Width()) * 3) != 0) return false;
    return true;
  }
};

TEST_F(PreviewTest, PlayShowsMovingPicturesInThePanel) {
  PlayRow(0);
  TfrmMain& window = Window();
  EXPECT_FALSE(window.PreviewStopped());
  EXPECT_FALSE(Button(window, "btnPlay")->isEnabled());
  for (const char* name : {"btnPause", "btnStop", "btnSnapshot"})
    EXPECT_TRUE(Button(window, name)->isEnabled()) << name;
  EXPECT_TRUE(window.PositionBar()->isEnabled());
  // The picture fills the panel (4:3 in 370 x 240: the full height).
  TVideoWidget* video = Panel().VideoWidget();
  EXPECT_TRUE(video->isVisible());
  EXPECT_EQ(video->geometry(), QRect(0, 0, TPreviewPanel::kWidth, TPreviewPanel::kHeight));
  EXPECT_EQ(window.MediaDuration(), Panel().Duration());
  EXPECT_NEAR(double(Panel().Duration()) / 1e6, 12.0, 0.5);
  EXPECT_EQ(window.TotalTimeLabel()->text(), QStringLiteral("0:00:12"));
  EXPECT_TRUE(window.LogText().contains(QStringLiteral("frame size: 720x576")))
      << window.LogText().toStdString();

  const QImage first = PanelPicture(window);
  EXPECT_TRUE(Near(Background(first), kTitleColours[0])) << Background(first).name().toStdString();
  const int64_t firstPosition = Panel().Position();
  ASSERT_TRUE(WaitFor([&] { return Panel().Position() > firstPosition + 1500000; }));
  // The picture moves with the position (its time code changes), and the bar follows.
  ASSERT_TRUE(WaitFor([&] { return PanelPicture(window) != first; }));
  EXPECT_TRUE(WaitFor([&] { return window.PositionBar()->PositionL() > 0; }));
  EXPECT_NE(window.CurrentTimeLabel()->text(), QStringLiteral("00:00:00 / "));
}

TEST_F(PreviewTest, ReturnOnARowPlaysIt) {
  OpenDiscA();
  TfrmMain& window = Window();
  window.List()->SelectRow(1);
  window.List()->setFocus();
  QTest::keyClick(window.List(), Qt::Key_Return);
  EXPECT_FALSE(window.PreviewStopped());
  WaitUntilPlaying();
  EXPECT_TRUE(WaitFor([&] { return Near(Background(PanelPicture(window)), kTitleColours[1]); }));
}

TEST_F(PreviewTest, PauseHoldsAndPlayResumes) {
  PlayRow(0);
  TfrmMain& window = Window();
  window.Pause();
  EXPECT_TRUE(window.PreviewPaused());
  EXPECT_TRUE(Button(window, "btnPlay")->isEnabled());
  EXPECT_FALSE(Button(window, "btnPause")->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return Panel().IsPaused(); }));
  ASSERT_TRUE(WaitUntilStill());
  const int64_t held = Panel().Position();
  const QImage picture = PanelPicture(window);
  Idle(800);
  EXPECT_EQ(Panel().Position(), held);
  EXPECT_EQ(PanelPicture(window), picture);

  window.Play();
  EXPECT_FALSE(window.PreviewPaused());
  EXPECT_TRUE(Panel().IsOpen());
  EXPECT_TRUE(WaitFor([&] { return Panel().Position() > held + 500000; }));
}

TEST_F(PreviewTest, StopClearsThePanel) {
  PlayRow(0);
  TfrmMain& window = Window();
  window.Stop();
  EXPECT_TRUE(window.PreviewStopped());
  EXPECT_FALSE(Panel().IsOpen());
  EXPECT_EQ(Panel().Player().PlayState(), psStop);
  EXPECT_FALSE(Panel().VideoWidget()->isVisible());
  EXPECT_TRUE(AllBlack(PanelPicture(window)));
  EXPECT_EQ(window.CurrentTimeLabel()->text(), QStringLiteral("00:00:00 / "));
  EXPECT_EQ(window.TotalTimeLabel()->text(), QStringLiteral("00:00:00"));
  EXPECT_EQ(window.PositionBar()->PositionL(), 0);
  EXPECT_FALSE(window.PositionBar()->isEnabled());
  EXPECT_TRUE(Button(window, "btnPlay")->isEnabled());
  for (const char* name : {"btnPause", "btnStop", "btnSnapshot"})
    EXPECT_FALSE(Button(window, name)->isEnabled()) << name;

  // Played again, the panel does not start with the old picture.
  window.Play();
  EXPECT_TRUE(Panel().IsOpen());
  WaitUntilPlaying();
}

TEST_F(PreviewTest, TheEndOfATitleStopsThePreview) {
  PlayRow(2);  // 3 s
  TfrmMain& window = Window();
  ASSERT_TRUE(WaitFor([&] { return window.PreviewStopped(); }));
  EXPECT_FALSE(window.PreviewPaused());
  EXPECT_TRUE(Button(window, "btnPlay")->isEnabled());
  EXPECT_FALSE(Button(window, "btnStop")->isEnabled());
  EXPECT_EQ(window.TotalTimeLabel()->text(), QStringLiteral("00:00:00"));
  // Held at its start; another row closes it.
  EXPECT_TRUE(WaitFor([&] { return Panel().IsPaused(); }));
  window.List()->SelectRow(0);
  EXPECT_FALSE(Panel().IsOpen());
  // Play starts the title from its beginning again.
  window.Play();
  WaitUntilPlaying();
  EXPECT_TRUE(Near(Background(PanelPicture(window)), kTitleColours[0]));
}

// Next and Previous play the neighbouring titles, each in its own colour.
TEST_F(PreviewTest, NextAndPreviousPlayTheNeighbouringTitles) {
  PlayRow(0);
  TfrmMain& window = Window();
  struct TStep {
    void (TfrmMain::*Move)();
    int Row;
  };
  for (const TStep& step : {TStep{&TfrmMain::Next, 1}, TStep{&TfrmMain::Next, 2},
                            TStep{&TfrmMain::Previous, 1}, TStep{&TfrmMain::Previous, 0}}) {
    SCOPED_TRACE(step.Row);
    (window.*step.Move)();
    EXPECT_EQ(window.List()->SelectedRow(), step.Row);
    EXPECT_FALSE(window.PreviewStopped());
    WaitUntilPlaying();
    EXPECT_TRUE(WaitFor([&] {
      return Near(Background(PanelPicture(window)), kTitleColours[step.Row]);
    })) << Background(PanelPicture(window)).name().toStdString();
    EXPECT_EQ(Button(window, "btnPrevious")->isEnabled(), step.Row > 0);
    EXPECT_EQ(Button(window, "btnNext")->isEnabled(), step.Row < 2);
  }
}

TEST_F(PreviewTest, MuteAndVolumeReachThePlayer) {
  // Stored before the window shows: the player opens with them.
  fs::create_directories(ConfigDir);
  std::ofstream(SettingsPath()) << "[settings]\nmute=1\nvolume=40\n";
  PlayRow(0);
  TfrmMain& window = Window();
  TMediaPlayer& player = Panel().Player();
  EXPECT_TRUE(player.Mute());
  EXPECT_EQ(player.AudioVolume(), 40);

  window.ToggleMute();
  EXPECT_FALSE(player.Mute());
  EXPECT_EQ(Button(window, "btnMute")->toolTip(), QStringLiteral("Mute"));
  window.VolumeBar()->SetPositionL(100);
  EXPECT_EQ(player.AudioVolume(), 100);
  EXPECT_EQ(window.Global().Settings().Volume(), 100);
  window.ToggleMute();
  EXPECT_TRUE(player.Mute());
  // Muted, the clock goes on.
  const int64_t at = Panel().Position();
  EXPECT_TRUE(WaitFor([&] { return Panel().Position() > at + 500000; }));
}

TEST_F(PreviewTest, SnapshotWritesThePictureShown) {
  PlayRow(0);
  TfrmMain& window = Window();
  TSettingsStore settings = window.Global().Settings();
  settings.SetSnapOutPutDir(Folder + "/snaps");
  settings.SetSnapJpg(false);
  window.Pause();
  ASSERT_TRUE(WaitFor([&] { return Panel().IsPaused(); }));
  ASSERT_TRUE(WaitUntilStill());
  TBitmap shown;
  ASSERT_TRUE(Panel().CurrentFrame(shown));
  window.Snapshot();
  TBitmap full, small;
  ASSERT_TRUE(full.LoadFromFile(Folder + "/snaps/Snapshot_full.bmp"));
  ASSERT_TRUE(small.LoadFromFile(Folder + "/snaps/Snapshot_small.bmp"));
  EXPECT_EQ(full.Width(), 720);
  EXPECT_EQ(full.Height(), 576);
  EXPECT_EQ(small.Width(), TPreviewPanel::kWidth);
  EXPECT_EQ(small.Height(), TPreviewPanel::kHeight);
  // The full picture is the player's picture, pixel for pixel, in the title's colour.
  EXPECT_TRUE(SamePixels(shown, full));
  const uint8_t* corner = full.ScanLine(20) + 3 * 360;  // blue, green, red
  EXPECT_TRUE(Near(QColor(corner[2], corner[1], corner[0]), kTitleColours[0]));
  ASSERT_FALSE(Desktop.History().isEmpty());
  EXPECT_TRUE(Desktop.History().last().contains(QString::fromStdString(Folder + "/snaps")))
      << Desktop.History().last().toStdString();
}

TEST_F(PreviewTest, AnotherRowStopsThePreview) {
  PlayRow(0);
  TfrmMain& window = Window();
  window.List()->SelectRow(0);  // the same row: goes on
  EXPECT_TRUE(Panel().IsOpen());
  window.List()->SelectRow(1);
  EXPECT_TRUE(window.PreviewStopped());
  EXPECT_FALSE(Panel().IsOpen());
  EXPECT_TRUE(Button(window, "btnPlay")->isEnabled());
  window.Play();
  WaitUntilPlaying();
  EXPECT_TRUE(WaitFor([&] { return Near(Background(PanelPicture(window)), kTitleColours[1]); }));
}

TEST_F(PreviewTest, ATitleThatCannotOpenStaysStoppedAndSaysWhy) {
  // A copy of the disc, gone by the time Play opens it.
  const std::string image = Folder + "/gone.iso";
  fs::copy_file(DiscAImage(), image);
  TfrmMain& window = Window();
  window.OpenDisc(QString::fromStdString(image));
  ASSERT_EQ(window.Model().rowCount(), 3);
  fs::remove(image);
  window.Play();
  EXPECT_TRUE(window.PreviewStopped());
  EXPECT_FALSE(Panel().IsOpen());
  EXPECT_TRUE(Button(window, "btnPlay")->isEnabled());
  EXPECT_FALSE(Button(window, "btnStop")->isEnabled());
  EXPECT_FALSE(Panel().LastError().empty());
  EXPECT_TRUE(window.LogText().contains(QStringLiteral("Preview: ")))
      << window.LogText().toStdString();
  EXPECT_FALSE(Panel().VideoWidget()->isVisible());
  EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Summary();
}

// A process that plays keeps the default handling of SIGINT and SIGTERM: a test run or a
// session manager can always end it.
TEST_F(PreviewTest, PlayingLeavesTheTerminationSignalsAlone) {
  PlayRow(0);
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction action {};
    ASSERT_EQ(sigaction(signal, nullptr, &action), 0);
    EXPECT_EQ(action.sa_handler, SIG_DFL) << signal;
  }
}

TEST_F(PreviewTest, ClosingTheWindowWhilePlayingEndsThePlayer) {
  PlayRow(0);
  TPreviewPanel& panel = Panel();
  CloseWindow();
  EXPECT_FALSE(Main->isVisible());
  EXPECT_FALSE(panel.IsOpen());
  EXPECT_EQ(panel.Player().PlayState(), psStop);
  Main.reset();  // the player and its threads end with the window
}

}  // namespace
