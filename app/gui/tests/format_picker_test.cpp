// The format picker control: opening and closing, groups collapsed and expanded by mouse and
// keyboard, the choice, and the collapse states written to "lstformat".
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/core/global_object.h"
#include "app/gui/format_picker_box.h"
#include "app/gui/main_window.h"
#include "app/gui/tests/gui_test_support.h"

namespace {

class FormatPickerTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    Global = CreateGlobalObject();
  }
  // A window with the picker near its bottom (it opens upward) and a button elsewhere.
  TFormatPickerBox& Make(TFormatPickerBox::TOpenDirection direction) {
    Host = std::make_unique<QWidget>();
    Host->resize(500, 560);
    auto* layout = new QVBoxLayout(Host.get());
    Other = new QPushButton(QStringLiteral("Elsewhere"), Host.get());
    Picker = new TFormatPickerBox(direction, Host.get());
    if (direction == TFormatPickerBox::odUpward) {
      layout->addWidget(Other);
      layout->addStretch(1);
      layout->addWidget(Picker);
    } else {
      layout->addWidget(Picker);
      layout->addStretch(1);
      layout->addWidget(Other);
    }
    Host->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(Host.get()));
    Picker->BuildFormatList(Global->Settings());
    return *Picker;
  }
  QRect RowRect(int row) const {
    return Picker->List()->visualRect(Picker->List()->model()->index(row, 0));
  }
  void PressRow(int row, int x) {
    QTest::mouseClick(Picker->List()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(RowRect(row).left() + x, RowRect(row).center().y()));
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const TPickerRow& row : Picker->Picker().Rows()) texts.push_back(row.Text);
    return texts;
  }

  std::unique_ptr<TGlobalObject> Global;
  std::unique_ptr<QWidget> Host;
  TFormatPickerBox* Picker = nullptr;
  QPushButton* Other = nullptr;
};

TEST_F(FormatPickerTest, OpensAboveTheBoxAndClosesOnAClickElsewhere) {
  TFormatPickerBox& picker = Make(TFormatPickerBox::odUpward);
  EXPECT_EQ(picker.Text().toStdString(), kDefaultFormatName);
  EXPECT_FALSE(picker.ListShown());
  QTest::mouseClick(picker.DropButton(), Qt::LeftButton);
  ASSERT_TRUE(picker.ListShown());
  const QListView* list = picker.List();
  // Three collapsed groups: 3 rows of 20 pixels, plus 20.
  EXPECT_EQ(list->height(), 3 * 20 + 20);
  EXPECT_EQ(list->geometry().bottom() + 1, picker.TextBox()->mapTo(Host.get(), QPoint(0, 0)).y());
  EXPECT_TRUE(list->hasFocus());
  QTest::mouseClick(Other, Qt::LeftButton);
  EXPECT_FALSE(picker.ListShown());
  // The box toggles the list.
  QTest::mouseClick(picker.TextBox(), Qt::LeftButton);
  EXPECT_TRUE(picker.ListShown());
  QTest::mouseClick(picker.TextBox(), Qt::LeftButton);
  EXPECT_FALSE(picker.ListShown());
}

TEST_F(FormatPickerTest, HeightsFollowTheDirection) {
  TFormatPickerBox& up = Make(TFormatPickerBox::odUpward);
  EXPECT_EQ(up.ListHeightFor(3), 80);
  EXPECT_EQ(up.ListHeightFor(21), 440) << "420 is not above 422: one row more";
  EXPECT_EQ(up.ListHeightFor(22), 422);
  TFormatPickerBox& down = Make(TFormatPickerBox::odDownward);
  EXPECT_EQ(down.ListHeightFor(3), 80);
  EXPECT_EQ(down.ListHeightFor(22), 247);
  QTest::mouseClick(down.DropButton(), Qt::LeftButton);
  EXPECT_EQ(down.List()->geometry().top(),
            down.TextBox()->mapTo(Host.get(), QPoint(0, down.TextBox()->height() - 1)).y());
}

TEST_F(FormatPickerTest, HeaderTogglesOnlyNearItsLeftEdge) {
  TFormatPickerBox& picker = Make(TFormatPickerBox::odUpward);
  QTest::mouseClick(picker.DropButton(), Qt::LeftButton);
  PressRow(1, 60);  // "General Video formates", away from the glyph
  EXPECT_EQ(Texts().size(), 3u);
  PressRow(1, 8);  // on the glyph
  ASSERT_EQ(Texts().size(), 13u);
  EXPECT_EQ(Texts()[2], "MPEG-1 Video (*.mpg)");
  EXPECT_FALSE(picker.Picker().Rows()[1].Info.Collapsed);
  // The list grew with its rows and still ends at the box.
  EXPECT_EQ(picker.List()->height(), 13 * 20 + 20);
  // A double click away from the glyph collapses it again.
  QTest::mouseDClick(picker.List()->viewport(), Qt::LeftButton, Qt::NoModifier,
                     QPoint(RowRect(1).left() + 60, RowRect(1).center().y()));
  EXPECT_EQ(Texts().size(), 3u);
}

TEST_F(FormatPickerTest, PressOnAFormatChoosesItAndCloses) {
  TFormatPickerBox& picker = Make(TFormatPickerBox::odUpward);
  int chosen = -1;
  QObject::connect(&picker, &TFormatPickerBox::FormatChosen,
                   [&chosen](int code, const QString&) { chosen = code; });
  QTest::mouseClick(picker.DropButton(), Qt::LeftButton);
  PressRow(2, 8);   // expands "General Audio formates"
  PressRow(5, 60);  // its third format
  EXPECT_EQ(chosen, 202);
  EXPECT_EQ(picker.Text(), QStringLiteral("M4A MPEG-4 Audio (*.m4a)"));
  EXPECT_FALSE(picker.ListShown());
}

TEST_F(FormatPickerTest, MouseOverARowSelectsIt) {
  TFormatPickerBox& picker = Make(TFormatPickerBox::odUpward);
  QTest::mouseClick(picker.DropButton(), Qt::LeftButton);
  QTest::mouseMove(picker.List()->viewport(), RowRect(2).center());
  EXPECT_EQ(picker.Picker().Selected(), 2);
}

TEST_F(FormatPickerTest, KeyboardOpensMovesTogglesAndChooses) {
  TFormatPickerBox& picker = Make(TFormatPickerBox::odUpward);
  int chosen = -1;
  QObject::connect(&picker, &TFormatPickerBox::FormatChosen,
                   [&chosen](int code, const QString&) { chosen = code; });
  picker.TextBox()->setFocus();
  QTest::keyClick(picker.TextBox(), Qt::Key_Space);
  ASSERT_TRUE(picker.ListShown());
  QListView* list = picker.List();
  QTest::keyClick(list, Qt::Key_Home);
  QTest::keyClick(list, Qt::Key_Down);  // "General Video formates"
  QTest::keyClick(list, Qt::Key_Right);
  ASSERT_EQ(Texts().size(), 13u);
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Left);  // a format: back to its group
  EXPECT_EQ(picker.Picker().Selected(), 1);
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Down);
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(chosen, 103);
  EXPECT_FALSE(picker.ListShown());
  QTest::keyClick(picker.TextBox(), Qt::Key_F4);
  EXPECT_TRUE(picker.ListShown());
  QTest::keyClick(list, Qt::Key_Escape);
  EXPECT_FALSE(picker.ListShown());
}

TEST_F(FormatPickerTest, UnknownStoredNameSelectsNothingAndStillShows) {
  TSettingsStore settings = Global->Settings();
  settings.SetFormatName("Apple iPod Video MPEG-4 Movie (*.mp4)");
  TFormatPickerBox& picker = Make(TFormatPickerBox::odUpward);
  EXPECT_EQ(picker.Text(), QStringLiteral("Apple iPod Video MPEG-4 Movie (*.mp4)"));
  EXPECT_EQ(picker.Picker().Selected(), -1);
}

// The main window's picker: the choice is written at once, and the collapse states when the
// window closes.
TEST_F(FormatPickerTest, MainWindowWritesTheChoiceAndTheGroupStates) {
  {
    TSettingsStore settings = Global->Settings();
    settings.SetGroupCollapsed(0, false);
  }
  TfrmMain& window = Window();
  TFormatPickerBox& picker = *window.FormatPicker();
  ASSERT_EQ(picker.Picker().Rows().size(), 5u) << "group 0 is listed expanded";
  QTest::mouseClick(picker.TextBox(), Qt::LeftButton);
  ASSERT_TRUE(picker.ListShown());
  EXPECT_EQ(picker.Picker().Selected(), 2) << "the stored name's row";
  QListView* list = picker.List();
  const QRect header = list->visualRect(list->model()->index(0, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(header.left() + 6, header.center().y()));
  ASSERT_EQ(picker.Picker().Rows().size(), 3u);
  const QRect audio = list->visualRect(list->model()->index(2, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(audio.left() + 6, audio.center().y()));
  const QRect wav = list->visualRect(list->model()->index(7, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, wav.center());
  EXPECT_EQ(Global->Settings().FormatCode(), 204);
  EXPECT_EQ(Global->Settings().FormatName(), "WAV - Waveform Audio (*.wav)");
  EXPECT_TRUE(Global->Settings().GroupCollapsed(0) == false) << "written only at close";
  CloseWindow();
  EXPECT_TRUE(Global->Settings().GroupCollapsed(0));
  EXPECT_FALSE(Global->Settings().GroupCollapsed(2));
  EXPECT_TRUE(Global->Settings().GroupCollapsed(1));
}

}  // namespace
