// The main window with the real settings files and fixture disc A: opening discs (and what
// cannot be opened), the per-title choices, the chapter arrows, the output folder, the preview
// rules, snapshots, the error handler and closing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>

#include "app/core/global_object.h"
#include "app/gui/drive_menu.h"
#include "app/gui/error_handler.h"
#include "app/gui/main_window.h"
#include "app/gui/preview_panel.h"
#include "app/gui/settings_dialog.h"
#include "app/gui/snapshot.h"
#include "app/gui/splash_window.h"
#include "app/gui/tests/gui_test_support.h"
#include "app/gui/title_list_model.h"
#include "app/gui/title_list_view.h"
#include "app/gui/track_bar.h"
#include "dvd/disc_opener.h"
#include "engine/ffmpeg_exception.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

QToolButton* Button(TfrmMain& window, const char* name) {
  return window.findChild<QToolButton*>(QLatin1String(name));
}

// ---- Opening discs ------------------------------------------------------------------------

class OpenDiscTest : public GuiTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OpenDiscTest, ListsTheTitlesAndShowsTheFirst) {
  const bool image = GetParam();
  TfrmMain& window = Window();
  window.OpenDisc(QString::fromStdString(image ? DiscAImage() : DiscAFolder()));
  ASSERT_EQ(window.Model().rowCount(), 3) << Dialogs.Summary();
  EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Summary();
  EXPECT_EQ(window.DrivePath(), image ? DiscAImage() : DiscAFolder());
  const TTitleListModel& model = window.Model();
  EXPECT_EQ(model.columnCount(), TTitleListModel::kColumnCount);
  EXPECT_EQ(model.index(1, 0).data().toString(), QStringLiteral("DVD Title 2"));
  EXPECT_EQ(model.index(1, TTitleListModel::colDuration).data().toString(),
            QStringLiteral("   0:00:07"));
  EXPECT_EQ(model.index(1, TTitleListModel::colFrameSize).data().toString(),
            QStringLiteral("   720 x 576 (4:3)"));
  EXPECT_EQ(model.index(1, TTitleListModel::colVideoFormat).data().toString(),
            QStringLiteral("   MPEG-2"));
  for (int row = 0; row < 3; ++row) EXPECT_TRUE(model.Checked(row));
  // The first row is selected, and the choices are its title's.
  EXPECT_EQ(window.List()->SelectedRow(), 0);
  ASSERT_EQ(window.AudioCombo()->count(), 2);
  EXPECT_EQ(window.AudioCombo()->itemText(1), QStringLiteral("129  French"));
  EXPECT_TRUE(window.AudioCombo()->isEnabled());
  ASSERT_EQ(window.SubtitleCombo()->count(), 3);
  EXPECT_EQ(window.SubtitleCombo()->itemText(2), QStringLiteral("Default"));
  EXPECT_EQ(window.ChapterFromBox()->text(), QStringLiteral("1"));
  EXPECT_EQ(window.ChapterToBox()->text(), QStringLiteral("3"));
}

INSTANTIATE_TEST_SUITE_P(ImageAndFolder, OpenDiscTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Image" : "Folder"; });

struct TBadSource {
  const char* Name;
  const char* Made;  // "none", "text", "folder"
  const char* Text;
  const char* Caption;
  TMessageIcon Icon;
};

void PrintTo(const TBadSource& c, std::ostream* os) {
  *os << c.Name;
}

class BadSourceTest : public GuiTest, public ::testing::WithParamInterface<TBadSource> {};

TEST_P(BadSourceTest, SaysWhyAndListsNothing) {
  const TBadSource& c = GetParam();
  TfrmMain& window = Window();
  window.OpenDisc(QString::fromStdString(DiscAImage()));
  ASSERT_EQ(window.Model().rowCount(), 3);
  const std::string settingsBefore = SettingsText();
  std::string path = Folder + "/source";
  if (std::string(c.Made) == "text") {
    std::ofstream(path) << "This is no DVD image at all.\n";
  } else if (std::string(c.Made) == "folder") {
    fs::create_directories(path + "/AUDIO_TS");
  }
  window.OpenDisc(QString::fromStdString(path));
  ASSERT_EQ(Dialogs.Shown.size(), 1u) << Dialogs.Summary();
  EXPECT_EQ(Dialogs.Shown[0].Text.toStdString(), c.Text);
  EXPECT_EQ(Dialogs.Shown[0].Caption.toStdString(), c.Caption);
  EXPECT_EQ(Dialogs.Shown[0].Icon, c.Icon);
  EXPECT_EQ(window.Model().rowCount(), 0) << "the list was cleared first";
  EXPECT_FALSE(window.AudioCombo()->isEnabled());
  EXPECT_EQ(SettingsText(), settingsBefore) << "the settings file is left as it was";
}

const TBadSource kBadSources[] = {
    {"MissingPath", "none", "Can't find a DVD Disk!", "Warning", miWarn},
    {"ImageThatIsNoDvd", "text", "No DVD title(s) found. Maybe not a valid DVD.", "Message",
     miInfo},
    {"FolderWithoutVideoTs", "folder", "No DVD title(s) found. Maybe not a valid DVD.", "Message",
     miInfo},
};
INSTANTIATE_TEST_SUITE_P(Sources, BadSourceTest, ::testing::ValuesIn(kBadSources),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(GuiTest, DriveMenuOpensImagesAndFolders) {
  TfrmMain& window = Window();
  TDriveMenu* menu = window.DriveMenu();
  EXPECT_EQ(menu->OpenImageAction()->text(), QStringLiteral("Open DVD &image…"));
  EXPECT_EQ(menu->OpenFolderAction()->text(), QStringLiteral("Open DVD &folder…"));
  Dialogs.Files.push_back(QString::fromStdString(DiscAImage()));
  menu->OpenImageAction()->trigger();
  EXPECT_EQ(window.Model().rowCount(), 3);
  Dialogs.Folders.push_back(QString());  // cancelled: nothing changes
  menu->OpenFolderAction()->trigger();
  EXPECT_EQ(window.Model().rowCount(), 3);
  Dialogs.Folders.push_back(QString::fromStdString(DiscAFolder()));
  menu->OpenFolderAction()->trigger();
  EXPECT_EQ(window.DrivePath(), DiscAFolder());
  EXPECT_EQ(window.Model().rowCount(), 3);
}

TEST_F(GuiTest, DriveMenuListsDrivesBeforeTheFileItems) {
  TDriveMenu menu;
  menu.Build({{"sr0", "/dev/sr0", "MYDISC", "sr0:MYDISC"}, {"sr1", "/dev/sr1", "", "sr1:"}});
  const QList<QAction*> actions = menu.actions();
  ASSERT_EQ(actions.size(), 5);  // two drives, a separator, two items
  EXPECT_EQ(actions[0]->text(), QStringLiteral("sr0:MYDISC"));
  EXPECT_TRUE(actions[2]->isSeparator());
  QString chosen;
  QObject::connect(&menu, &TDriveMenu::DriveChosen, [&chosen](const QString& d) { chosen = d; });
  actions[1]->trigger();
  EXPECT_EQ(chosen, QStringLiteral("/dev/sr1"));
}

// ---- Per-title choices ----------------------------------------------------------------------

TEST_F(GuiTest, TrackChoicesGoToTheSelectedTitle) {
  OpenDiscA();
  TfrmMain& window = Window();
  TlvFilesRecord& title1 = window.Model().Record(0);
  EXPECT_EQ(title1.AudioStreamId, 128);
  window.AudioCombo()->setCurrentIndex(1);
  emit window.AudioCombo()->activated(1);
  EXPECT_EQ(title1.AudioStreamId, 129);
  EXPECT_EQ(title1.AudioIndex, 1);
  emit window.SubtitleCombo()->activated(1);
  EXPECT_EQ(title1.SubtitleStreamId, 33);
  EXPECT_EQ(title1.SubtitleIndex, 1);
  // "Default", the row after the title's two subtitles, stores id 0.
  emit window.SubtitleCombo()->activated(2);
  EXPECT_EQ(title1.SubtitleStreamId, 0);
  EXPECT_EQ(title1.SubtitleIndex, 2);
  // Another row shows its own tracks; coming back shows the choices made.
  window.List()->SelectRow(1);
  EXPECT_EQ(window.AudioCombo()->count(), 1);
  EXPECT_EQ(window.SubtitleCombo()->count(), 1) << "only \"Default\"";
  window.List()->SelectRow(0);
  EXPECT_EQ(window.AudioCombo()->currentIndex(), 1);
  EXPECT_EQ(window.SubtitleCombo()->currentText(), QStringLiteral("Default"));
  EXPECT_EQ(window.Model().Record(1).AudioStreamId, 128) << "title 2 untouched";
}

TEST_F(GuiTest, SelectingNothingDisablesTheChoices) {
  OpenDiscA();
  TfrmMain& window = Window();
  EXPECT_TRUE(Button(window, "btnFromUp")->isEnabled());
  window.List()->SelectRow(-1);
  EXPECT_FALSE(window.AudioCombo()->isEnabled());
  EXPECT_FALSE(window.SubtitleCombo()->isEnabled());
  EXPECT_FALSE(Button(window, "btnFromUp")->isEnabled());
  EXPECT_FALSE(Button(window, "btnToDown")->isEnabled());
}

struct TArrowCase {
  const char* Name;
  int Chapters, From, To;
  TfrmMain::TChapterArrow Arrow;
  int ExpectedFrom, ExpectedTo;
};

void PrintTo(const TArrowCase& c, std::ostream* os) {
  *os << c.Name;
}

class ChapterArrowTest : public GuiTest, public ::testing::WithParamInterface<TArrowCase> {};

TEST_P(ChapterArrowTest, KeepsTheRangeInTheTitle) {
  const TArrowCase& c = GetParam();
  TfrmMain& window = Window();
  TDVDTitleInfo info{};
  info.ChapterCount = c.Chapters;
  info.Duration = 60;
  TDVDTitleRow row;
  row.Caption = "DVD Title 1";
  row.Record = NewTitleRecord(0, info);
  window.Model().SetRows({row});
  window.List()->SelectRow(0);
  TlvFilesRecord& record = window.Model().Record(0);
  record.ChapterFrom = c.From;
  record.ChapterTo = c.To;
  window.ChapterFromBox()->setText(QString::number(c.From));
  window.ChapterToBox()->setText(QString::number(c.To));
  window.ChapterArrow(c.Arrow);
  EXPECT_EQ(window.ChapterFromBox()->text().toInt(), c.ExpectedFrom);
  EXPECT_EQ(window.ChapterToBox()->text().toInt(), c.ExpectedTo);
  EXPECT_EQ(record.ChapterFrom, c.ExpectedFrom);
  EXPECT_EQ(record.ChapterTo, c.ExpectedTo);
}

const TArrowCase kArrowCases[] = {
    {"FromUpAtTheLastChapterStays", 6, 6, 6, TfrmMain::caFromUp, 6, 6},
    {"FromUpPastToMovesTo", 6, 4, 3, TfrmMain::caFromUp, 5, 5},
    {"FromUpInsideTheRange", 6, 2, 5, TfrmMain::caFromUp, 3, 5},
    {"FromDownAtOneStays", 6, 1, 3, TfrmMain::caFromDown, 1, 3},
    {"FromDown", 6, 3, 4, TfrmMain::caFromDown, 2, 4},
    {"ToDownAtOneStays", 6, 1, 1, TfrmMain::caToDown, 1, 1},
    {"ToDownBelowFromMovesFrom", 6, 3, 3, TfrmMain::caToDown, 2, 2},
    {"ToUpAtTheLastChapterStays", 6, 1, 6, TfrmMain::caToUp, 1, 6},
    {"ToUp", 6, 1, 3, TfrmMain::caToUp, 1, 4},
    {"ZeroBoxDoesNothing", 6, 0, 3, TfrmMain::caFromUp, 0, 3},
    {"NegativeBoxDoesNothing", 6, 2, -1, TfrmMain::caToUp, 2, -1},
};
INSTANTIATE_TEST_SUITE_P(Arrows, ChapterArrowTest, ::testing::ValuesIn(kArrowCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- Output folder --------------------------------------------------------------------------

struct TBrowseCase {
  const char* Name;
  const char* Chosen;   // "{home}" is the test's home folder
  const char* Message;  // the start of the message, empty: none
  const char* Stored;   // "OutPutDir" afterwards; "{fallback}": $HOME/videoconverter
};

void PrintTo(const TBrowseCase& c, std::ostream* os) {
  *os << c.Name;
}

class BrowseTest : public GuiTest, public ::testing::WithParamInterface<TBrowseCase> {};

TEST_P(BrowseTest, TakesOnlyFoldersThatCanBeWritten) {
  const TBrowseCase& c = GetParam();
  TfrmMain& window = Window();
  const std::string before = window.Global().Settings().OutPutDir();
  const auto expand = [this](std::string text) {
    if (const size_t at = text.find("{home}"); at != std::string::npos)
      text.replace(at, 6, HomeDir);
    if (text == "{fallback}") text = DefaultVideoFolder();
    if (text == "{before}") text.clear();
    return text;
  };
  Dialogs.Folders.push_back(QString::fromStdString(expand(c.Chosen)));
  window.BrowseOutputFolder();
  if (*c.Message) {
    ASSERT_EQ(Dialogs.Shown.size(), 1u);
    EXPECT_TRUE(Dialogs.Shown[0].Text.startsWith(QString::fromLatin1(c.Message)))
        << Dialogs.Summary();
    EXPECT_EQ(Dialogs.Shown[0].Caption, QStringLiteral("Warning"));
  } else {
    EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Summary();
  }
  const std::string stored = expand(c.Stored);
  EXPECT_EQ(window.Global().Settings().OutPutDir(), stored.empty() ? before : stored);
  EXPECT_EQ(window.OutputFolderBox()->text().toStdString(), stored.empty() ? before : stored);
}

const TBrowseCase kBrowseCases[] = {
    {"ThreeCharactersAreRefused", "/tm", "The path /tm is not a valid directory.", "{before}"},
    {"ReadOnlyFolderFallsBack", "/proc/sys", "You login as ", "{fallback}"},
    {"WritableFolderIsStored", "{home}", "", "{home}"},
};
INSTANTIATE_TEST_SUITE_P(Folders, BrowseTest, ::testing::ValuesIn(kBrowseCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(GuiTest, RefusedFolderMessageNamesTheUser) {
  TfrmMain& window = Window();
  Dialogs.Folders.push_back(QStringLiteral("/proc/sys"));
  window.BrowseOutputFolder();
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Text.toStdString(),
            "You login as " + GetLoginName() +
                " .You don't have permission to write to directory:/proc/sys");
}

TEST_F(GuiTest, OpenShowsTheStoredFolder) {
  TfrmMain& window = Window();
  window.OpenOutputFolder();
  ASSERT_EQ(Desktop.History().size(), 1);
  EXPECT_EQ(Desktop.History()[0].toStdString(), "true " + window.Global().Settings().OutPutDir());
}

// ---- Preview rules (playing itself: preview_panel_test.cpp) ------------------------------

TEST_F(GuiTest, PlayWithAnEmptyListOpensTheDriveMenu) {
  TfrmMain& window = Window();
  bool shown = false;
  // The menu runs its own loop; look at it while it is open, then close it.
  QTimer::singleShot(0, &window, [&window, &shown] {
    shown = window.DriveMenu()->isVisible();
    window.DriveMenu()->close();
  });
  window.Play();
  EXPECT_TRUE(shown);
  EXPECT_TRUE(window.PreviewStopped());
  EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Summary();
}

TEST_F(GuiTest, FirstShowingSetsThePreviewUp) {
  TfrmMain& window = Window();
  EXPECT_TRUE(Button(window, "btnPlay")->isEnabled());
  EXPECT_FALSE(Button(window, "btnPause")->isEnabled());
  EXPECT_FALSE(Button(window, "btnStop")->isEnabled());
  EXPECT_FALSE(Button(window, "btnSnapshot")->isEnabled());
  EXPECT_FALSE(window.PositionBar()->isEnabled());
  EXPECT_EQ(window.CurrentTimeLabel()->text(), QStringLiteral("00:00:00 / "));
  EXPECT_EQ(window.TotalTimeLabel()->text(), QStringLiteral("00:00:00"));
  EXPECT_EQ(window.VolumeBar()->Max(), 128);
  EXPECT_EQ(
      window.TitleLabel()->text().toStdString(),
      std::string(kAppTitle) + GetFileVersionText().substr(0, GetFileVersionText().size() - 1));
  EXPECT_EQ(window.windowTitle().toStdString(), kAppTitle);
  EXPECT_EQ(TApplication::Title().toStdString(), kAppTitle);
  EXPECT_EQ(window.size(),
            QSize(TfrmMain::kWidth, TfrmMain::kHeight).expandedTo(window.minimumSize()));
}

TEST_F(GuiTest, PlayWithNoRowSelectedPlaysTheFirst) {
  OpenDiscA();
  TfrmMain& window = Window();
  window.List()->SelectRow(-1);
  window.Play();
  EXPECT_EQ(window.List()->SelectedRow(), 0) << "no row selected: the first is taken";
  EXPECT_FALSE(window.PreviewStopped());
  EXPECT_TRUE(window.PreviewPanel()->IsOpen()) << window.PreviewPanel()->LastError();
  EXPECT_FALSE(Button(window, "btnPlay")->isEnabled());
  EXPECT_TRUE(Button(window, "btnStop")->isEnabled());
  EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Summary();
}

TEST_F(GuiTest, NextAndPreviousFollowTheSelection) {
  OpenDiscA();
  TfrmMain& window = Window();
  EXPECT_FALSE(Button(window, "btnPrevious")->isEnabled());
  EXPECT_TRUE(Button(window, "btnNext")->isEnabled());
  window.Next();
  EXPECT_EQ(window.List()->SelectedRow(), 1);
  window.Next();
  EXPECT_EQ(window.List()->SelectedRow(), 2);
  EXPECT_FALSE(Button(window, "btnNext")->isEnabled());
  EXPECT_TRUE(Button(window, "btnPrevious")->isEnabled());
  window.Previous();
  EXPECT_EQ(window.List()->SelectedRow(), 1);
}

struct TVolumeCase {
  const char* Name;
  const char* Stored;  // "volume" as written by hand; empty: missing
  int Shown;
  const char* Written;  // "volume" afterwards
};

void PrintTo(const TVolumeCase& c, std::ostream* os) {
  *os << c.Name;
}

class VolumeTest : public GuiTest, public ::testing::WithParamInterface<TVolumeCase> {};

TEST_P(VolumeTest, StoredVolumeMovesTheBar) {
  const TVolumeCase& c = GetParam();
  std::string text = "[settings]\nmute=1\n";
  if (*c.Stored) text += std::string("volume=") + c.Stored + "\n";
  fs::create_directories(ConfigDir);
  std::ofstream(SettingsPath()) << text;
  TfrmMain& window = Window();
  EXPECT_EQ(window.VolumeBar()->PositionL(), c.Shown);
  EXPECT_EQ(window.PreviewPanel()->Volume(), c.Shown);
  EXPECT_TRUE(window.PreviewPanel()->Mute());
  const TIniFile ini(SettingsPath());
  EXPECT_EQ(ini.ReadString("settings", "volume", ""), c.Written);
  window.ToggleMute();
  EXPECT_FALSE(window.PreviewPanel()->Mute());
  EXPECT_EQ(ini.ReadString("settings", "mute", ""), "0");
}

const TVolumeCase kVolumeCases[] = {
    {"OutOfRangeBecomes64AndIsWritten", "200", 64, "64"},
    {"InRangeIsTaken", "100", 100, "100"},
    // A fresh machine hears the preview: three quarters, which the bar's change writes.
    {"MissingIsThreeQuartersAndIsWritten", "", 96, "96"},
    {"StoredZeroStaysSilent", "0", 0, "0"},
};
INSTANTIATE_TEST_SUITE_P(Volumes, VolumeTest, ::testing::ValuesIn(kVolumeCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(GuiTest, EditMenuNeedsASelectedRow) {
  TfrmMain& window = Window();
  QMenu* menu = window.EditMenu();
  emit menu->aboutToShow();
  for (QAction* action : menu->actions()) EXPECT_FALSE(action->isEnabled());
  OpenDiscA();
  emit menu->aboutToShow();
  for (QAction* action : menu->actions()) EXPECT_TRUE(action->isEnabled());
  std::vector<std::pair<int, int>> opened;
  window.OpenEditor = [&opened](TfrmMain::TEditorKind kind, int row) {
    opened.emplace_back(int(kind), row);
  };
  window.List()->SelectRow(2);
  menu->actions()[1]->trigger();  // "&Trim"
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], std::make_pair(int(TfrmMain::ekTrim), 2));
}

TEST_F(GuiTest, VolumeBarFollowsTheHeldMouseAndIsStored) {
  TfrmMain& window = Window();
  TTrackBar2* bar = window.VolumeBar();
  const int width = bar->width();
  // Pressed on the track (not on the thumb, which the bar would take itself), then moved.
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(width - 3, bar->height() / 2));
  QTest::mouseMove(bar, QPoint(width / 2, bar->height() / 2));
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(width / 2, bar->height() / 2));
  const int expected = int(double(width / 2) / (width - 20) * 128);
  EXPECT_EQ(bar->PositionL(), expected);
  EXPECT_EQ(window.PreviewPanel()->Volume(), expected);
  EXPECT_EQ(window.Global().Settings().Volume(), expected);
}

TEST_F(GuiTest, PositionBarSeeksOnReleaseOnly) {
  TfrmMain& window = Window();
  TTrackBar2* bar = window.PositionBar();
  bar->setEnabled(true);  // as while a title plays
  bar->SetMax(bar->width());
  const QPoint middle(bar->width() / 2, bar->height() / 2);
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(bar->width() - 3, middle.y()));
  EXPECT_TRUE(window.Seeking()) << "a press holds the player's position reports off the bar";
  QTest::mouseMove(bar, middle);
  EXPECT_EQ(bar->PositionL(), int(double(middle.x()) / (bar->width() - 15) * bar->Max()));
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, middle);
  EXPECT_TRUE(WaitFor([&window] { return !window.Seeking(); }, 10000));
}

TEST_F(GuiTest, RowsAreDrawnInTheirColours) {
  OpenDiscA();
  TfrmMain& window = Window();
  window.List()->setFocus();
  ASSERT_TRUE(WaitFor([&window] { return window.List()->hasFocus(); }, 5000));
  const QImage picture = window.List()->viewport()->grab().toImage();
  const auto at = [&](int row) {
    const QRect cell = window.List()->visualRect(window.Model().index(row, 2));
    return picture.pixelColor(cell.center().x(), cell.top() + 3);
  };
  EXPECT_EQ(at(0), QColor(185, 204, 236)) << "the selected row, the list focused";
  EXPECT_EQ(at(1), QColor(226, 230, 246)) << "odd rows";
  EXPECT_EQ(at(2), QColor(255, 255, 255)) << "even rows";
  const QRect first = window.List()->visualRect(window.Model().index(0, 0));
  EXPECT_EQ(picture.pixelColor(first.left() + 20, first.top()), QColor(122, 160, 218))
      << "the selected row's frame";
}

TEST_F(GuiTest, FormatSettingsButtonStoresTheGroupStates) {
  TfrmMain& window = Window();
  EXPECT_EQ(SettingsText().find("[lstformat]"), std::string::npos);
  // The settings dialog opens (modally) after the groups were written.
  bool stored = false;
  QTimer::singleShot(0, &window, [this, &window, &stored] {
    stored = SettingsText().find("[lstformat]") != std::string::npos &&
             window.SettingsDialog()->isVisible();
    window.SettingsDialog()->reject();
  });
  window.findChild<QPushButton*>(QStringLiteral("btnFormatSettings"))->click();
  EXPECT_TRUE(stored);
  EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Summary();
}

TEST_F(GuiTest, ShareButtonsOpenTheServicesPages) {
  TfrmMain& window = Window();
  Button(window, "share_reddit")->click();
  ASSERT_EQ(Desktop.History().size(), 1);
  EXPECT_EQ(
      Desktop.History()[0],
      QStringLiteral("true https://www.reddit.com/submit?url=https%3A%2F%2Fdvdswf.example.org%2F"
                     "&title=Korvel%20DVD%20to%20SWF%20Converter"));
  EXPECT_EQ(Button(window, "share_facebook")->toolTip(), QStringLiteral("Facebook"));
}

// ---- Snapshots ------------------------------------------------------------------------------

TEST_F(GuiTest, SnapshotWritesTheChosenFilesOnly) {
  TfrmMain& window = Window();
  TSettingsStore settings = window.Global().Settings();
  settings.SetSnapBmp(false);
  settings.SetSnapFullSize(false);
  settings.SetSnapOutPutDir(Folder + "/snaps");
  QImage full(720, 576, QImage::Format_RGB888);
  full.fill(QColor(30, 60, 90));
  const TSnapshotResult result =
      SaveSnapshot(window.Global(), full, full.scaled(370, 240), Dialogs, &window);
  ASSERT_EQ(result.Written.size(), 1u);
  EXPECT_EQ(result.Written[0], Folder + "/snaps/Snapshot_small.jpg");
  EXPECT_EQ(QImage(QString::fromStdString(result.Written[0])).size(), QSize(370, 240));
  EXPECT_FALSE(fs::exists(Folder + "/snaps/Snapshot_full.jpg"));
  EXPECT_TRUE(Dialogs.Shown.empty());
}

TEST_F(GuiTest, SnapshotFolderThatCannotBeWrittenFallsBack) {
  TfrmMain& window = Window();
  TSettingsStore settings = window.Global().Settings();
  settings.SetSnapOutPutDir("/proc/sys/dvdswf");
  QImage full(64, 48, QImage::Format_RGB888);
  full.fill(Qt::white);
  const TSnapshotResult result = SaveSnapshot(window.Global(), full, full, Dialogs, &window);
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Text.toStdString(),
            "Cannot create output directory:/proc/sys/dvdswf.It will create default directory " +
                DefaultVideoFolder() + "!");
  EXPECT_EQ(result.Folder, DefaultVideoFolder() + "/");
  EXPECT_EQ(result.Written.size(), 4u);
  EXPECT_EQ(window.Global().Settings().SnapOutPutDir(), DefaultVideoFolder());
  TBitmap bmp;
  EXPECT_TRUE(bmp.LoadFromFile(result.Folder + "Snapshot_full.bmp"));
  EXPECT_EQ(bmp.Width(), 64);
}

TEST_F(GuiTest, SnapshotWithoutAPictureDoesNothing) {
  TfrmMain& window = Window();
  window.Snapshot();
  EXPECT_TRUE(Desktop.History().isEmpty());
  EXPECT_TRUE(Dialogs.Shown.empty());
}

// ---- Errors and closing ---------------------------------------------------------------------

struct TErrorTextCase {
  const char* Message;
  const char* Shown;
};

class ErrorTextTest : public ::testing::TestWithParam<TErrorTextCase> {};

TEST_P(ErrorTextTest, PeriodOnlyAfterCharactersThatSortAfterIt) {
  EXPECT_EQ(ErrorMessageText(GetParam().Message).toStdString(), GetParam().Shown);
}

const TErrorTextCase kErrorTexts[] = {
    {"Disk full", "Disk full."}, {"Done.", "Done."},
    {"Stop!", "Stop!"},          {"", ""},
    {"ends in 9", "ends in 9."}, {"a-", "a-"},
    {"(see log)", "(see log)"},  {"colon:", "colon:."},
    {"Übel", "Übel."},           {"quoted\"", "quoted\""},
};
INSTANTIATE_TEST_SUITE_P(Texts, ErrorTextTest, ::testing::ValuesIn(kErrorTexts));

// An exception thrown by an event handler reaches the program's handler, which shows it.
TEST_F(GuiTest, EventLoopExceptionsAreShown) {
  TErrorHandler handler(Dialogs);
  auto* app = static_cast<TApplication*>(QApplication::instance());
  app->SetErrorHandler(&handler);
  QTimer::singleShot(0, [] { throw FFmpegException("Conversion went wrong"); });
  QTimer::singleShot(0, [] { throw std::runtime_error("Something else happened!"); });
  const bool shown = WaitFor([this] { return Dialogs.Shown.size() == 2; }, 10000);
  app->SetErrorHandler(nullptr);
  ASSERT_TRUE(shown) << Dialogs.Summary();
  EXPECT_EQ(Dialogs.Shown[0].Text, QStringLiteral("Conversion went wrong."));
  EXPECT_EQ(Dialogs.Shown[0].Icon, miWarn);
  EXPECT_EQ(Dialogs.Shown[0].Caption, TApplication::Title());
  EXPECT_EQ(Dialogs.Shown[1].Text, QStringLiteral("Something else happened!"));
  EXPECT_EQ(Dialogs.Shown[1].Icon, miError);
}

TEST_F(GuiTest, AnsweringNoToExitChangesNothing) {
  OpenDiscA();
  TfrmMain& window = Window();
  window.List()->SelectRow(1);
  const std::string settingsBefore = SettingsText();
  Dialogs.Answers.push_back(false);
  EXPECT_FALSE(window.close());
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(Dialogs.Shown[0].Text, QStringLiteral("Do you really want to exit?"));
  EXPECT_EQ(Dialogs.Shown[0].Caption, QStringLiteral("Warning"));
  EXPECT_EQ(Dialogs.Shown[0].Icon, miAsk);
  EXPECT_EQ(Dialogs.Shown[0].Buttons, mbYesNo);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.Model().rowCount(), 3);
  EXPECT_EQ(window.List()->SelectedRow(), 1);
  EXPECT_EQ(window.DrivePath(), DiscAImage());
  EXPECT_TRUE(window.PreviewStopped());
  EXPECT_EQ(SettingsText(), settingsBefore) << "no group states written";
  Dialogs.Answers.push_back(true);
  EXPECT_TRUE(window.close());
  EXPECT_FALSE(window.isVisible());
  EXPECT_NE(SettingsText().find("[lstformat]"), std::string::npos);
}

TEST_F(GuiTest, SplashGoesOnceTheWindowShows) {
  QPointer<TSplashWindow> splash = new TSplashWindow;  // deletes itself when it closes
  splash->show();
  EXPECT_EQ(splash->size(), QSize(480, 280)) << "the picture's size";
  const QRect screen = splash->screen()->availableGeometry();
  EXPECT_EQ(splash->geometry().center(), screen.center());
  splash->SetMainWindow(&Window());
  EXPECT_TRUE(WaitFor([&splash] { return splash.isNull(); }, 10000));
}

TEST_F(GuiTest, HelpOpensTheReadme) {
  TfrmMain& window = Window();
  const QString help = QString::fromStdString(window.Global().HelpUrl());
  EXPECT_TRUE(help.startsWith(QStringLiteral("file://"))) << help.toStdString();
  EXPECT_TRUE(help.endsWith(QStringLiteral("README.md")));
  window.findChild<QMenu*>(QStringLiteral("helpMenu"))->actions()[0]->trigger();
  ASSERT_EQ(Desktop.History().size(), 1);
  EXPECT_EQ(Desktop.History()[0], QStringLiteral("true ") + help);
}

}  // namespace
