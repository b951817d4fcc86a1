// The preferences dialog and the folder chooser with the real settings file and folders: what
// a showing takes, the check-box pairs, the quality controls, "&Brows", "O&pen", "&Default",
// "&Ok" and "&Cancel"; the chooser's tree, its "Ok" rules and the optical-disc refusal (from a
// mount table in the kernel's format); the work priority reaching a conversion's threads.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include <sys/resource.h>

#include "app/core/global_object.h"
#include "app/gui/error_handler.h"
#include "app/gui/folder_chooser.h"
#include "app/gui/main_window.h"
#include "app/gui/mount_table.h"
#include "app/gui/preferences_dialog.h"
#include "app/gui/progress_window.h"
#include "app/gui/tests/gui_test_support.h"
#include "app/gui/title_list_model.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// ---- The mount table ------------------------------------------------------------------------

TEST(MountTableTest, FindsTheMountOfAFolderAndTellsDiscs) {
  const TMountTable table = TMountTable::Parse(
      "21 27 0:20 / /proc rw,relatime - proc proc rw\n"
      "27 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
      "40 27 11:0 / /media/me/MY\\040DISC ro,nosuid shared:20 - udf /dev/sr0 ro\n"
      "41 27 7:0 / /mnt/image ro - iso9660 /dev/loop0 ro\n"
      "42 27 8:17 / /media/me/STICK rw - vfat /dev/sdb1 rw\n"
      "43 27 0:30 / /mnt/image rw - tmpfs tmpfs rw\n"
      "not a mount line\n"
      "44 27 8:18 / relative rw - ext4 /dev/sdb2 rw\n");
  ASSERT_EQ(table.Entries().size(), 6u);
  EXPECT_EQ(table.Entries()[2].MountPoint, "/media/me/MY DISC") << "octal escapes";
  const struct {
    const char* Path;
    const char* Mount;
    bool Optical;
  } cases[] = {
      {"/media/me/MY DISC/VIDEO_TS", "/media/me/MY DISC", true},  // the drive
      {"/media/me/MY DISCO", "/", false},                         // not below the mount point
      {"/media/me/STICK/films", "/media/me/STICK", false},
      {"/mnt/image/x", "/mnt/image", false},  // the later mount on the same point hides the ISO
      {"/home/me", "/", false},
      {"/proc/self", "/proc", false},
  };
  for (const auto& c : cases) {
    const TMountEntry* mount = table.MountOf(c.Path);
    ASSERT_NE(mount, nullptr) << c.Path;
    EXPECT_EQ(mount->MountPoint, c.Mount) << c.Path;
    EXPECT_EQ(table.OnOpticalDisc(c.Path), c.Optical) << c.Path;
  }
  EXPECT_EQ(table.Volumes(),
            (std::vector<std::string>{"/media/me/MY DISC", "/mnt/image", "/media/me/STICK"}));
  EXPECT_TRUE(IsOpticalMount({"/x", "iso9660", "/dev/loop3"})) << "an ISO image";
  EXPECT_FALSE(TMountTable::Read("/nonexistent/mountinfo").OnOpticalDisc("/"));
}

// ---- The folder chooser ---------------------------------------------------------------------

class FolderChooserTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    Disc = Folder + "/disc";
    fs::create_directories(Disc + "/VIDEO_TS");
    fs::create_directories(HomeDir + "/films/.hidden/deep");
    // The folder "disc" is mounted from an optical drive, as the kernel would list it.
    std::string escaped;
    for (char c : Disc) escaped += c == ' ' ? std::string("\\040") : std::string(1, c);
    Mounts = Folder + "/mountinfo";
    std::ofstream(Mounts) << "27 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                          << "40 27 11:0 / " << escaped << " ro - udf /dev/sr0 ro\n";
  }
  std::string Disc, Mounts;
};

TEST_F(FolderChooserTest, RefusesAFolderOnAnOpticalDiscAndStaysOpen) {
  TfrmBrowse chooser(Dialogs, nullptr, Mounts);
  EXPECT_EQ(chooser.windowTitle(), QStringLiteral("Browse"));
  chooser.show();
  ASSERT_TRUE(chooser.PositionOn(QString::fromStdString(Disc + "/VIDEO_TS")));
  EXPECT_TRUE(chooser.OkButton()->isEnabled());
  chooser.OkButton()->click();
  ASSERT_EQ(Dialogs.Shown.size(), 1u);
  EXPECT_EQ(
      Dialogs.Shown[0].Text,
      QStringLiteral("Output folder cannot be located in CD-ROM.Please select another folder."));
  EXPECT_EQ(Dialogs.Shown[0].Caption, TApplication::Title());
  EXPECT_EQ(Dialogs.Shown[0].Icon, miInfo);
  EXPECT_TRUE(chooser.isVisible());
  EXPECT_TRUE(chooser.Result().isEmpty());
  // Another folder is taken.
  ASSERT_TRUE(chooser.PositionOn(QString::fromStdString(HomeDir + "/films")));
  chooser.OkButton()->click();
  EXPECT_FALSE(chooser.isVisible());
  EXPECT_EQ(chooser.Result().toStdString(), HomeDir + "/films");
}

TEST_F(FolderChooserTest, TreeHasTheRootsAndReachesHiddenFolders) {
  TfrmBrowse chooser(Dialogs, nullptr, Mounts);
  QTreeWidget* tree = chooser.Tree();
  ASSERT_GE(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), QStringLiteral("Home"));
  EXPECT_EQ(tree->topLevelItem(0)->data(0, TfrmBrowse::kPathRole).toString().toStdString(),
            HomeDir);
  EXPECT_EQ(tree->topLevelItem(tree->topLevelItemCount() - 1)->text(0),
            QStringLiteral("File System"));
  // Under the home root, expanded down to a folder that is not listed (hidden).
  ASSERT_TRUE(chooser.PositionOn(QString::fromStdString(HomeDir + "/films/.hidden/deep")));
  QTreeWidgetItem* item = tree->currentItem();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text(0), QStringLiteral("deep"));
  EXPECT_EQ(item->parent()->parent()->text(0), QStringLiteral("films"));
  EXPECT_EQ(item->parent()->parent()->parent(), tree->topLevelItem(0));
  EXPECT_EQ(chooser.FolderBox()->text().toStdString(), HomeDir + "/films/.hidden/deep");
  // Expanding lists the subfolders, in name order, hidden ones left out.
  QTreeWidgetItem* home = tree->topLevelItem(0);
  fs::create_directories(HomeDir + "/Alpha");
  TfrmBrowse other(Dialogs, nullptr, Mounts);
  other.Tree()->topLevelItem(0)->setExpanded(true);
  QStringList names;
  for (int i = 0; i < other.Tree()->topLevelItem(0)->childCount(); ++i)
    names << other.Tree()->topLevelItem(0)->child(i)->text(0);
  EXPECT_EQ(names, (QStringList{QStringLiteral("Alpha"), QStringLiteral("films")}));
  EXPECT_TRUE(home->isExpanded());
  EXPECT_FALSE(chooser.PositionOn(QString::fromStdString(HomeDir + "/missing")));
}

TEST_F(FolderChooserTest, OkFollowsTheBoxAndCancelGivesNothing) {
  TfrmBrowse chooser(Dialogs, nullptr, Mounts);
  chooser.show();
  chooser.FolderBox()->setText(QString::fromStdString(HomeDir + "/nothing here"));
  EXPECT_FALSE(chooser.OkButton()->isEnabled());
  chooser.FolderBox()->setText(QStringLiteral("~/films/"));
  EXPECT_TRUE(chooser.OkButton()->isEnabled());
  EXPECT_EQ(chooser.BoxPath().toStdString(), HomeDir + "/films");
  // Return in the box is "Ok".
  QTest::keyClick(chooser.FolderBox(), Qt::Key_Return);
  EXPECT_EQ(chooser.Result().toStdString(), HomeDir + "/films");
  // A refused attempt, then the title-bar close: nothing.
  chooser.show();
  chooser.FolderBox()->setText(QString::fromStdString(Disc));
  chooser.Ok();
  chooser.close();
  EXPECT_TRUE(chooser.Result().isEmpty());
  EXPECT_FALSE(chooser.isVisible());
}

// ---- The preferences dialog -----------------------------------------------------------------

class PreferencesTest : public GuiTest {
 protected:
  TfrmPreference& Open() {
    TfrmPreference& dialog = *Window().PreferencesDialog();
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    return dialog;
  }
  void Store(const std::string& text) {
    fs::create_directories(ConfigDir);
    std::ofstream(SettingsPath(), std::ios::app) << text;
  }
  // A click on the box's indicator (a stretched box does not take clicks beside its text).
  void ClickBox(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
  }
  std::string Stored(const char* key) {
    return Window().Global().Settings().Ini().ReadString("settings", key, "<none>");
  }
};

TEST_F(PreferencesTest, ShowingTakesTheStoredValues) {
  const std::string snaps = Folder + "/snaps";
  fs::create_directories(snaps);
  Store("[SETTINGS]\nSNAPOUTPUTDIR=" + snaps +
        "\nsnapFullSize=0\nsnapBmp=0\njpgCmp=75\nPRIORITY=2\n");
  TfrmPreference& dialog = Open();
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Preference"));
  EXPECT_EQ(dialog.FolderBox()->text().toStdString(), snaps);
  EXPECT_FALSE(dialog.FullSizeBox()->isChecked());
  EXPECT_TRUE(dialog.SmallSizeBox()->isChecked());
  EXPECT_FALSE(dialog.BmpBox()->isChecked());
  EXPECT_TRUE(dialog.JpgBox()->isChecked());
  EXPECT_TRUE(dialog.QualitySpin()->isEnabled());
  EXPECT_EQ(dialog.QualitySpin()->value(), 75);
  EXPECT_EQ(dialog.QualityBar()->value(), 75);
  EXPECT_EQ(dialog.Priority(), 2) << "a key written in upper case by hand";
  EXPECT_TRUE(dialog.PriorityButton(2)->isChecked());
  EXPECT_EQ(dialog.PriorityButton(2)->text(), QStringLiteral("Lo&wer"));
}

TEST_F(PreferencesTest, FolderThatCannotBeWrittenShowsTheFallbackWithoutWriting) {
  // Made unwritable after the main window's own start-up check.
  Window().Global().Settings().SetSnapOutPutDir("/proc/sys/snaps");
  const std::string before = SettingsText();
  TfrmPreference& dialog = Open();
  EXPECT_EQ(dialog.FolderBox()->text().toStdString(), DefaultVideoFolder());
  EXPECT_EQ(SettingsText(), before);
  dialog.Ok();
  EXPECT_EQ(Stored("SnapOutPutDir"), DefaultVideoFolder());
}

TEST_F(PreferencesTest, LastOfAPairStaysChecked) {
  TfrmPreference& dialog = Open();
  // BMP off (JPG is on), then JPG: it stays on, and so do the quality controls.
  ClickBox(dialog.BmpBox());
  EXPECT_FALSE(dialog.BmpBox()->isChecked());
  ClickBox(dialog.JpgBox());
  EXPECT_TRUE(dialog.JpgBox()->isChecked());
  EXPECT_TRUE(dialog.QualitySpin()->isEnabled());
  EXPECT_TRUE(dialog.QualityBar()->isEnabled());
  // The same for the sizes, with the keyboard.
  dialog.SmallSizeBox()->setFocus();
  QTest::keyClick(dialog.SmallSizeBox(), Qt::Key_Space);
  EXPECT_FALSE(dialog.SmallSizeBox()->isChecked());
  dialog.FullSizeBox()->setFocus();
  QTest::keyClick(dialog.FullSizeBox(), Qt::Key_Space);
  EXPECT_TRUE(dialog.FullSizeBox()->isChecked());
  // JPG off once BMP is on again: the quality controls go off with it.
  ClickBox(dialog.BmpBox());
  ClickBox(dialog.JpgBox());
  EXPECT_FALSE(dialog.JpgBox()->isChecked());
  EXPECT_FALSE(dialog.QualitySpin()->isEnabled());
  EXPECT_FALSE(dialog.QualityBar()->isEnabled());
}

TEST_F(PreferencesTest, QualitySpinAndBarFollowEachOther) {
  TfrmPreference& dialog = Open();
  EXPECT_EQ(dialog.QualitySpin()->value(), 30) << "the default";
  dialog.QualityBar()->setValue(64);
  EXPECT_EQ(dialog.QualitySpin()->value(), 64);
  dialog.QualitySpin()->setValue(100);
  EXPECT_EQ(dialog.QualityBar()->value(), 100);
  dialog.QualitySpin()->setValue(500);
  EXPECT_EQ(dialog.QualitySpin()->value(), 100);
  EXPECT_EQ(dialog.QualitySpin()->minimum(), 1);
  EXPECT_EQ(dialog.QualityBar()->minimum(), 1);
}

TEST_F(PreferencesTest, OkWritesEveryChoice) {
  TfrmPreference& dialog = Open();
  dialog.JpgBox()->setChecked(false);
  dialog.SmallSizeBox()->setChecked(false);
  dialog.QualitySpin()->setValue(55);
  dialog.PriorityButton(3)->click();
  dialog.OkButton()->click();
  EXPECT_FALSE(dialog.isVisible());
  const std::vector<std::pair<const char*, std::string>> expected = {
      {"snapOutPutDir", DefaultVideoFolder()},
      {"snapBmp", "1"},
      {"snapJpg", "0"},
      {"snapFullSize", "1"},
      {"snapSmallSize", "0"},
      {"jpgCmp", "55"},
      {"priority", "3"}};
  for (const auto& [key, value] : expected) EXPECT_EQ(Stored(key), value) << key;
}

TEST_F(PreferencesTest, DefaultThenCancelChangesNothing) {
  Store("[settings]\nsnapBmp=0\nsnapSmallSize=1\nsnapFullSize=0\njpgCmp=90\npriority=0\n");
  Window();
  const std::string before = SettingsText();
  TfrmPreference& dialog = Open();
  dialog.DefaultButton()->click();
  EXPECT_EQ(dialog.FolderBox()->text().toStdString(), DefaultVideoFolder());
  EXPECT_TRUE(dialog.BmpBox()->isChecked());
  EXPECT_FALSE(dialog.JpgBox()->isChecked());
  EXPECT_TRUE(dialog.FullSizeBox()->isChecked());
  EXPECT_FALSE(dialog.SmallSizeBox()->isChecked());
  EXPECT_EQ(dialog.Priority(), 1);
  EXPECT_EQ(dialog.QualitySpin()->value(), 20);
  EXPECT_FALSE(dialog.QualitySpin()->isEnabled());
  EXPECT_EQ(SettingsText(), before);
  dialog.CancelButton()->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(SettingsText(), before);
}

TEST_F(PreferencesTest, StoredBmpOffShowsTheBoxAsLastClosedWithOk) {
  TfrmPreference& dialog = Open();
  dialog.BmpBox()->click();
  ASSERT_FALSE(dialog.BmpBox()->isChecked());
  dialog.Ok();
  ASSERT_EQ(Stored("snapBmp"), "0");
  Open();
  EXPECT_FALSE(dialog.BmpBox()->isChecked()) << "as it was when the dialog was last closed";
  // Checked and then cancelled: the next showing follows the file, which still says 0.
  dialog.BmpBox()->click();
  ASSERT_TRUE(dialog.BmpBox()->isChecked());
  dialog.reject();
  Open();
  EXPECT_FALSE(dialog.BmpBox()->isChecked());
  EXPECT_EQ(Stored("snapBmp"), "0");
}

TEST_F(PreferencesTest, BrowsChangesTheBoxAndOkStoresIt) {
  const std::string snaps = HomeDir + "/snaps";
  fs::create_directories(snaps);
  TfrmPreference& dialog = Open();
  const std::string before = SettingsText();
  Dialogs.Folders.push_back(QString::fromStdString(snaps));
  dialog.BrowsButton()->click();
  EXPECT_EQ(dialog.FolderBox()->text().toStdString(), snaps);
  EXPECT_EQ(SettingsText(), before) << "written by Ok only";
  // Refused folders: too short, then one that cannot be written.
  Dialogs.Folders.push_back(QStringLiteral("/tm"));
  dialog.Browse();
  EXPECT_EQ(dialog.FolderBox()->text().toStdString(), snaps);
  Dialogs.Folders.push_back(QStringLiteral("/proc/sys"));
  dialog.Browse();
  ASSERT_EQ(Dialogs.Shown.size(), 2u) << Dialogs.Summary();
  EXPECT_EQ(Dialogs.Shown[0].Text, QStringLiteral("The path /tm is not a valid directory."));
  EXPECT_EQ(Dialogs.Shown[1].Text.toStdString(),
            "You login as " + GetLoginName() +
                " .You don't have permission to write to directory:/proc/sys");
  EXPECT_EQ(dialog.FolderBox()->text().toStdString(), DefaultVideoFolder());
  Dialogs.Folders.push_back(QString::fromStdString(snaps));
  dialog.Browse();
  dialog.Ok();
  EXPECT_EQ(Stored("SnapOutPutDir"), snaps);
  // "O&pen" opens the folder the box shows.
  Open();
  dialog.OpenButton()->click();
  ASSERT_EQ(Desktop.History().size(), 1);
  EXPECT_EQ(Desktop.History()[0].toStdString(), "true " + snaps);
  dialog.reject();
}

TEST_F(PreferencesTest, MenuButtonOpensTheDialogModally) {
  TfrmMain& window = Window();
  bool shown = false;
  QTimer::singleShot(0, &window, [&window, &shown] {
    shown = window.PreferencesDialog()->isVisible() && window.PreferencesDialog()->isModal();
    window.PreferencesDialog()->reject();
  });
  window.findChild<QToolButton*>(QStringLiteral("btnPreference"))->click();
  EXPECT_TRUE(shown);
  EXPECT_TRUE(Dialogs.Shown.empty()) << Dialogs.Summary();
}

// ---- The work priority in a conversion ------------------------------------------------------

// The nice values of this process's threads.
std::vector<int> ThreadNiceValues() {
  std::vector<int> values;
  for (const auto& task : fs::directory_iterator("/proc/self/task")) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, id_t(std::stoi(task.path().filename().string())));
    if (errno == 0) values.push_back(nice);
  }
  return values;
}

TEST_F(PreferencesTest, WorkPriorityIsTheConversionThreadsNiceValue) {
  TfrmMain& window = Window();
  TfrmPreference& dialog = Open();
  dialog.PriorityButton(3)->click();  // Lowest
  dialog.Ok();
  window.OpenDisc(QString::fromStdString(DiscAImage()));
  ASSERT_EQ(window.Model().rowCount(), 3) << Dialogs.Summary();
  for (int row = 0; row < 3; ++row) window.Model().SetChecked(row, row == 1);
  std::vector<int> during;
  window.Run().Converter().SetProgressInterval(100);
  // Reports come while the job's worker waits for the window.
  const auto connection = QObject::connect(window.ProgressWindow(), &TfrmProgress::ProgressShown,
                                           [&during](const TJobProgress&) {
                                             if (during.empty()) during = ThreadNiceValues();
                                           });
  window.StartConversion();
  QObject::disconnect(connection);
  ASSERT_FALSE(during.empty()) << "no progress report came";
  EXPECT_NE(std::find(during.begin(), during.end(), 15), during.end())
      << "the worker runs at nice 15";
  EXPECT_EQ(getpriority(PRIO_PROCESS, 0), 0) << "the window's own thread keeps its priority";
}

}  // namespace
