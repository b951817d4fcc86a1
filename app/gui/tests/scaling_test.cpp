// The windows at the scale this process runs with (ctest runs the suite with QT_SCALE_FACTOR
// unset, 1.25 and 1.5): every caption fits its control, no control covers another, all lie
// inside the window. A picture of each window goes to build/screenshots/.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QTest>

#include "app/gui/about_box.h"
#include "app/gui/folder_chooser.h"
#include "app/gui/format_picker_box.h"
#include "app/gui/main_window.h"
#include "app/gui/preferences_dialog.h"
#include "app/gui/preview_panel.h"
#include "app/gui/progress_window.h"
#include "app/gui/settings_dialog.h"
#include "app/gui/tests/gui_test_support.h"
#include "app/gui/title_list_model.h"
#include "app/gui/track_bar.h"

namespace {

QString ScaleName() {
  const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
  return scale.isEmpty() ? QStringLiteral("1") : QString::fromLatin1(scale);
}

void SavePicture(QWidget& window, const QString& name) {
  const QString dir = QStringLiteral(DVDSWF_BINARY_DIR "/screenshots");
  QDir().mkpath(dir);
  window.grab().save(dir + QStringLiteral("/offscreen_") + name + QStringLiteral("_scale_") +
                     ScaleName() + QStringLiteral(".png"));
}

// Inside a list, a combo box or the picker's list: parts of that control, not controls.
bool InsideCompound(const QWidget* widget, const QWidget* window) {
  for (const QWidget* p = widget->parentWidget(); p && p != window; p = p->parentWidget())
    if (qobject_cast<const QAbstractItemView*>(p) || qobject_cast<const QComboBox*>(p)) return true;
  return false;
}

bool IsControl(const QWidget* w) {
  return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLabel*>(w) ||
         qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
         qobject_cast<const QAbstractItemView*>(w) || qobject_cast<const QProgressBar*>(w) ||
         qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QAbstractSlider*>(w) ||
         dynamic_cast<const TTrackBar2*>(w) || dynamic_cast<const TPreviewPanel*>(w);
}

std::string Describe(const QWidget* w) {
  std::string text = w->metaObject()->className();
  if (!w->objectName().isEmpty()) text += " " + w->objectName().toStdString();
  if (const auto* label = qobject_cast<const QLabel*>(w))
    text += " \"" + label->text().toStdString() + "\"";
  if (const auto* button = qobject_cast<const QAbstractButton*>(w))
    text += " \"" + button->text().toStdString() + "\"";
  return text;
}

void ExpectNothingClipped(QWidget& window) {
  std::vector<std::pair<QWidget*, QRect>> controls;
  const QRect inside = window.rect();
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&window) || !IsControl(w) || InsideCompound(w, &window)) continue;
    const QRect rect(w->mapTo(&window, QPoint(0, 0)), w->size());
    EXPECT_TRUE(inside.contains(rect)) << Describe(w) << " lies outside the window";
    const QSize hint = w->sizeHint();
    const bool hasText =
        (qobject_cast<QLabel*>(w) && !static_cast<QLabel*>(w)->text().isEmpty() &&
         !static_cast<QLabel*>(w)->wordWrap()) ||
        (qobject_cast<QAbstractButton*>(w) && !static_cast<QAbstractButton*>(w)->text().isEmpty());
    if (hasText) {
      EXPECT_GE(w->width(), hint.width()) << Describe(w) << " is cut off";
      EXPECT_GE(w->height(), std::min(hint.height(), w->minimumSizeHint().height()))
          << Describe(w) << " is cut off";
    }
    controls.emplace_back(w, rect);
  }
  for (size_t i = 0; i < controls.size(); ++i)
    for (size_t j = i + 1; j < controls.size(); ++j) {
      const QWidget *a = controls[i].first, *b = controls[j].first;
      if (a->isAncestorOf(b) || b->isAncestorOf(a)) continue;
      EXPECT_FALSE(controls[i].second.intersects(controls[j].second))
          << Describe(a) << " and " << Describe(b) << " overlap";
    }
}

TEST_F(GuiTest, ScalingMainWindowWithTitles) {
  OpenDiscA();
  TfrmMain& window = Window();
  ASSERT_EQ(window.Model().rowCount(), 3);
  QTest::qWait(50);
  EXPECT_GE(window.width(), TfrmMain::kWidth);
  EXPECT_GE(window.height(), TfrmMain::kHeight);
  ExpectNothingClipped(window);
  SavePicture(window, QStringLiteral("main_window"));
}

TEST_F(GuiTest, ScalingProgressWindow) {
  TfrmMain& window = Window();
  TfrmProgress& progress = *window.ProgressWindow();
  TJobProgress p;
  p.Percent = 45;
  p.CurrentTimeText = "5 Second";
  p.LengthText = "12 Second";
  p.FileSizeText = "1234 kb";
  p.ProgressText = "[1/3]";
  p.FileText = "DVD Title 1";
  progress.ShowProgress(p);
  progress.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&progress));
  EXPECT_GE(progress.width(), TfrmProgress::kWidth);
  EXPECT_GE(progress.height(), TfrmProgress::kHeight);
  ExpectNothingClipped(progress);
  SavePicture(progress, QStringLiteral("progress_window"));
  progress.hide();
}

TEST_F(GuiTest, ScalingAboutBox) {
  TfrmAbout about(QStringLiteral("Korvel DVD to SWF Converter"), QStringLiteral(" 1.000 "),
                  QStringLiteral("https://dvdswf.example.org/"), Desktop, &Window());
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  ExpectNothingClipped(about);
  SavePicture(about, QStringLiteral("about"));
}

TEST_F(GuiTest, ScalingSettingsDialog) {
  TfrmMain& window = Window();
  TSettingsStore settings = window.Global().Settings();
  settings.SetFormatCode(103);
  TfrmSettings& dialog = *window.SettingsDialog();
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_GE(dialog.width(), TfrmSettings::kWidth);
  EXPECT_GE(dialog.height(), TfrmSettings::kHeight);
  ExpectNothingClipped(dialog);
  SavePicture(dialog, QStringLiteral("settings_dialog"));
  // The format list opened below the box, inside the dialog.
  dialog.FormatPicker()->ShowList();
  const QRect list = dialog.FormatPicker()->List()->geometry();
  EXPECT_TRUE(dialog.rect().contains(list));
  SavePicture(dialog, QStringLiteral("settings_dialog_picker_open"));
  dialog.FormatPicker()->HideList();
  // An audio format: the video group greyed.
  dialog.ChooseFormat(200, QStringLiteral("MP3 MPEG Layer-3 Audio (*.mp3)"));
  SavePicture(dialog, QStringLiteral("settings_dialog_audio_format"));
  dialog.reject();
}

TEST_F(GuiTest, ScalingPreferencesDialog) {
  TfrmPreference& dialog = *Window().PreferencesDialog();
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_GE(dialog.width(), TfrmPreference::kWidth);
  EXPECT_GE(dialog.height(), TfrmPreference::kHeight);
  ExpectNothingClipped(dialog);
  SavePicture(dialog, QStringLiteral("preferences_dialog"));
  dialog.reject();
}

TEST_F(GuiTest, ScalingFolderChooser) {
  TfrmBrowse chooser(Dialogs, &Window());
  chooser.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&chooser));
  ASSERT_TRUE(chooser.PositionOn(QString::fromStdString(Folder)));
  EXPECT_GE(chooser.width(), TfrmBrowse::kWidth);
  ExpectNothingClipped(chooser);
  SavePicture(chooser, QStringLiteral("folder_chooser"));
  chooser.reject();
}

}  // namespace
