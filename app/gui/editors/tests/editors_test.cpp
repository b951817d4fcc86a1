// The three editors under QT_QPA_PLATFORM=offscreen: their rules on a model row (a long
// title without a disc where a disc cannot have one) and on fixture disc A's title 1
// (12 s, 720 × 576) through the real player, the refused inputs as tables, and screenshots.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGraphicsPixmapItem>
#include <QGraphicsView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/core/conversion_run.h"
#include "app/core/watermark_draw.h"
#include "app/core/wm_rec.h"
#include "app/gui/editors/crop_editor.h"
#include "app/gui/editors/editors.h"
#include "app/gui/editors/picture_box.h"
#include "app/gui/editors/trim_editor.h"
#include "app/gui/editors/watermark_editor.h"
#include "app/gui/main_window.h"
#include "app/gui/rect_tracker.h"
#include "app/gui/tests/gui_test_support.h"
#include "app/gui/title_list_model.h"
#include "app/gui/track_bar.h"

namespace fs = std::filesystem;

namespace {

void SaveScreenshot(QWidget& widget, const char* name) {
  QDir().mkpath(QStringLiteral(DVDSWF_SCREENSHOTS_DIR));
  widget.grab().save(QStringLiteral(DVDSWF_SCREENSHOTS_DIR "/") + QLatin1String(name));
}

// A mouse event with the buttons held, as a drag delivers it.
void SendMouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
  QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)),
                    type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                    Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

void Drag(QWidget* target, QPoint from, QPoint to) {
  SendMouse(target, QEvent::MouseButtonPress, from, Qt::LeftButton);
  SendMouse(target, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
  SendMouse(target, QEvent::MouseMove, to, Qt::LeftButton);
  SendMouse(target, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

}  // namespace

// Editors on the main window's rows: disc A opened, title 1 selected.
class EditorTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    InstallEditors(Window(), Dialogs);
  }
  void OpenTitle1() {
    OpenDiscA();
    ASSERT_FALSE(Window().Model().Empty()) << Dialogs.Summary();
  }
  TEditorTitle Title(int row = 0) {
    TEditorTitle title;
    title.Model = &Window().Model();
    title.Row = row;
    title.DrivePath = Window().DrivePath();
    title.SettingsPath = Window().Global().SettingsIniPath();
    title.Dialogs = &Dialogs;
    return title;
  }
  // A model of its own with one row of `seconds`, for lengths no fixture disc has.
  TEditorTitle LongTitle(int seconds) {
    TDVDTitleInfo info{};
    TDVDTitleRow row;
    row.Caption = "DVD Title 1";
    row.Record = NewTitleRecord(0, info);
    row.Record.Duration = seconds;
    std::vector<TDVDTitleRow> rows;
    rows.push_back(row);
    OwnModel.SetRows(std::move(rows));
    TEditorTitle title;
    title.Model = &OwnModel;
    title.Row = 0;
    title.Dialogs = &Dialogs;
    return title;
  }
  size_t Refusals() const {
    size_t n = 0;
    for (const auto& m : Dialogs.Shown) n += m.Icon == miWarn;
    return n;
  }
  TTitleListModel OwnModel;
};

// ---- Trim ------------------------------------------------------------------------------------

TEST_F(EditorTest, TrimOfLongTitleStoresMicrosecondsAndShowsLength) {
  TEditorTitle title = LongTitle(3600);
  TfrmTrim trim;
  trim.Prepare(title);  // no disc: nothing opens
  trim.TitleOpened(3600LL * 1000000);
  trim.SetRange(600, 900);
  EXPECT_EQ(trim.StartBox()->text(), "0:10:00");
  EXPECT_EQ(trim.EndBox()->text(), "0:15:00");
  trim.Accept();
  EXPECT_EQ(title.Record().TrimStart, 600000000);
  EXPECT_EQ(title.Record().TrimLength, 300000000);
  EXPECT_EQ(OwnModel.Row(0).TrimLengthText, "300");
  EXPECT_EQ(Refusals(), 0u);
}

TEST_F(EditorTest, TrimOfWholeTitleStoresZeros) {
  TEditorTitle title = LongTitle(3600);
  title.Record().TrimStart = 5;
  TfrmTrim trim;
  trim.Prepare(title);
  trim.TitleOpened(3600LL * 1000000);
  trim.SetRange(0, 3600);
  trim.Accept();
  EXPECT_EQ(title.Record().TrimStart, 0);
  EXPECT_EQ(title.Record().TrimLength, 0);
  EXPECT_EQ(OwnModel.Row(0).TrimLengthText, "3600");
}

TEST_F(EditorTest, TrimStartAfterEndIsRefusedAndRecordKept) {
  TEditorTitle title = LongTitle(3600);
  title.Record().TrimStart = 7000000;
  title.Record().TrimLength = 3000000;
  OwnModel.Row(0).TrimLengthText = "3";
  TfrmTrim trim;
  trim.Prepare(title);
  trim.TitleOpened(3600LL * 1000000);
  trim.SetRange(900, 600);
  trim.Accept();
  ASSERT_EQ(Refusals(), 1u);
  EXPECT_TRUE(Dialogs.Shown.back().Text.contains("after its end")) << Dialogs.Summary();
  EXPECT_EQ(title.Record().TrimStart, 7000000);
  EXPECT_EQ(title.Record().TrimLength, 3000000);
  EXPECT_EQ(OwnModel.Row(0).TrimLengthText, "3");
}

TEST_F(EditorTest, TrimRangeBarPressesAndDrags) {
  TEditorTitle title = LongTitle(3600);
  TfrmTrim trim;
  trim.Prepare(title);
  trim.TitleOpened(3600LL * 1000000);
  trim.show();
  TTrackBar2* bar = trim.PositionBar();
  ASSERT_EQ(bar->geometry(), QRect(32, 473, 838, 20));
  EXPECT_EQ(trim.MarkRange(), 822);
  EXPECT_EQ(trim.EndMark(), 822);

  // A press left of the half glyph puts the start at 0.
  trim.SetRange(100, 3600);
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(5, 10));
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(5, 10));
  EXPECT_EQ(trim.StartSecond(), 0);
  EXPECT_EQ(trim.StartMark(), 0);

  // The start side divides by the bar's width, the end side by the mark range.
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(108, 10));
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(108, 10));
  EXPECT_EQ(trim.StartMark(), 100);
  EXPECT_EQ(trim.StartSecond(), int64_t(100.0 / 838 * 3600));
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(708, 10));
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(708, 10));
  EXPECT_EQ(trim.EndMark(), 700);
  EXPECT_EQ(trim.EndSecond(), int64_t(700.0 / 822 * 3600));

  // Dragging stops once the marks are less than 2 seconds apart; a press still moves them.
  trim.SetRange(1000, 1001);
  SendMouse(bar, QEvent::MouseMove, QPoint(600, 10), Qt::LeftButton);
  SendMouse(bar, QEvent::MouseMove, QPoint(100, 10), Qt::LeftButton);
  EXPECT_EQ(trim.StartSecond(), 1000);
  EXPECT_EQ(trim.EndSecond(), 1001);
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(600, 10));
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(600, 10));
  EXPECT_EQ(trim.EndMark(), 592);
  // Apart again, a drag moves the end mark along.
  SendMouse(bar, QEvent::MouseMove, QPoint(700, 10), Qt::LeftButton);
  EXPECT_EQ(trim.EndMark(), 692);
}

TEST_F(EditorTest, TrimRangeMarksNeverCross) {
  TEditorTitle title = LongTitle(12);
  TfrmTrim trim;
  trim.Prepare(title);
  trim.TitleOpened(12LL * 1000000);
  trim.show();
  TTrackBar2* bar = trim.PositionBar();
  // Presses and drags all over the bar, towards each other.
  for (int x = 1; x < 838; x += 37) {
    QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(x, 10));
    QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(x, 10));
    EXPECT_LT(trim.StartSecond(), trim.EndSecond()) << "press at " << x;
    Drag(bar, QPoint(x, 10), QPoint(838 - x, 10));
    EXPECT_LT(trim.StartSecond(), trim.EndSecond()) << "drag from " << x;
    EXPECT_LE(trim.StartMark(), trim.EndMark()) << x;
  }
}

TEST_F(EditorTest, TrimOnDiscTitleShowsStoredTrimAndWritesRow) {
  OpenTitle1();
  TlvFilesRecord& record = Window().Model().Record(0);
  record.TrimStart = 3000000;
  record.TrimLength = 6000000;
  TfrmTrim trim;
  ASSERT_TRUE(trim.Prepare(Title())) << Dialogs.Summary();
  trim.show();
  EXPECT_EQ(trim.DurationSeconds(), 12);
  EXPECT_EQ(trim.DurationLabel()->text(), "0:00:12");
  EXPECT_EQ(trim.StartSecond(), 3);
  EXPECT_EQ(trim.EndSecond(), 9);
  EXPECT_EQ(trim.StartMark(), TrimMarkFor(3, 12, 822));
  EXPECT_EQ(trim.EndMark(), TrimMarkFor(9, 12, 822));
  // The picture plays.
  EXPECT_TRUE(WaitFor([&] {
    return trim.TimeLabel()->text().startsWith("0:00:0") &&
           !trim.TimeLabel()->text().startsWith("0:00:00");
  }));
  SaveScreenshot(trim, "trim_editor.png");
  // Default: the whole title; Ok stores zeros and the duration in the cell.
  trim.DefaultButton()->click();
  trim.OkButton()->click();
  EXPECT_EQ(record.TrimStart, 0);
  EXPECT_EQ(record.TrimLength, 0);
  EXPECT_EQ(Window().Model().Row(0).TrimLengthText, "12");
}

TEST_F(EditorTest, EditMenuHookIsInstalled) {
  EXPECT_TRUE(bool(Window().OpenEditor));
}

// ---- Crop ------------------------------------------------------------------------------------

class CropEditorTest : public EditorTest {
 protected:
  void Open(TfrmCrop& crop) {
    OpenTitle1();
    ASSERT_TRUE(crop.Prepare(Title())) << Dialogs.Summary();
    crop.show();
    ASSERT_EQ(crop.SourceWidth(), 720);
    ASSERT_EQ(crop.SourceHeight(), 576);
  }
};

TEST_F(CropEditorTest, PictureAreaAndSpinRounding) {
  TfrmCrop crop;
  Open(crop);
  // FitRect gives (21, 0)-(399, 303) in the 420 × 303 picture, inset by one pixel.
  const QPoint origin = crop.SourcePicture()->pos();
  EXPECT_EQ(crop.PictureArea(), QRect(origin + QPoint(22, 1), QSize(376, 301)));
  EXPECT_EQ(crop.Tracker()->geometry(), crop.PictureArea());
  const struct {
    QSpinBox* Spin;
    int Value;
    int TSourceCrop::*Field;
    int Expected;
  } cases[] = {
      {crop.UpSpin(), 10, &TSourceCrop::Top, 18},
      {crop.UpSpin(), 1, &TSourceCrop::Top, 2},
      {crop.UpSpin(), 0, &TSourceCrop::Top, 0},
      {crop.LeftSpin(), 10, &TSourceCrop::Left, 18},
      {crop.DownSpin(), 1, &TSourceCrop::Bottom, 2},
      {crop.RightSpin(), 10, &TSourceCrop::Right, 18},
  };
  for (const auto& c : cases) {
    c.Spin->setValue(c.Value);
    EXPECT_EQ(crop.SourceCrop().*c.Field, c.Expected) << c.Spin->objectName().toStdString();
  }
  // The rectangle follows the spins.
  EXPECT_EQ(crop.Tracker()->geometry().top(), crop.PictureArea().top());
  EXPECT_EQ(crop.Tracker()->geometry().left(), crop.PictureArea().left() + 10);
}

TEST_F(CropEditorTest, RectangleIsPinnedAtThePictureEdges) {
  TfrmCrop crop;
  Open(crop);
  const QRect area = crop.PictureArea();
  crop.UpSpin()->setValue(50);
  crop.LeftSpin()->setValue(50);
  crop.DownSpin()->setValue(50);
  crop.RightSpin()->setValue(50);
  TRectTracker* tracker = crop.Tracker();
  const QRect before = tracker->geometry();
  // The left edge dragged far past the picture's left edge: pinned there, right edge kept.
  const QPoint leftHandle(2, tracker->height() / 2);
  Drag(tracker, leftHandle, leftHandle - QPoint(200, 0));
  EXPECT_EQ(tracker->geometry().left(), area.left());
  EXPECT_EQ(tracker->geometry().right(), before.right());
  EXPECT_EQ(crop.LeftSpin()->value(), 0);
  // The whole rectangle moved against the right edge: size kept, stopped at the edge.
  const QRect sized = tracker->geometry();
  const QPoint middle(tracker->width() / 2, tracker->height() / 2);
  Drag(tracker, middle, middle + QPoint(400, 0));
  EXPECT_EQ(tracker->geometry().size(), sized.size());
  EXPECT_EQ(tracker->geometry().x() + tracker->width(), area.x() + area.width());
  EXPECT_EQ(crop.RightSpin()->value(), 0);
}

TEST_F(CropEditorTest, ArrowsDoNotShrinkRectangleBelowTenPixels) {
  TfrmCrop crop;
  Open(crop);
  const QRect area = crop.PictureArea();
  crop.UpSpin()->setValue(area.height() - 10);
  ASSERT_LE(crop.Tracker()->height(), 10);
  const int held = crop.UpSpin()->value();
  crop.UpSpin()->stepUp();
  EXPECT_EQ(crop.UpSpin()->value(), held);
  crop.UpSpin()->stepDown();
  EXPECT_EQ(crop.UpSpin()->value(), held - 1);
}

TEST_F(CropEditorTest, EffectResetThenOkStoresUntouchedValues) {
  TfrmCrop crop;
  Open(crop);
  crop.SetAdjustments(100, 50, 20, 30);
  crop.Tabs()->setCurrentIndex(1);
  crop.ResetEffects();
  crop.UpSpin()->setValue(10);
  crop.LeftSpin()->setValue(10);
  crop.OkButton()->click();
  const TlvFilesRecord& r = Window().Model().Record(0);
  EXPECT_EQ(r.Brightness, 255);
  EXPECT_EQ(r.Contrast, 0);
  EXPECT_EQ(r.Saturation, 255);
  EXPECT_EQ(r.Exposure, 0);
  EXPECT_EQ(r.CropUpValue, 10);
  EXPECT_EQ(r.CropLeftValue, 10);
  EXPECT_EQ(r.CropTop, 18);
  EXPECT_EQ(r.CropLeft, 18);
}

TEST_F(CropEditorTest, CropLeavingTooLittleIsRefusedAndRecordKept) {
  TfrmCrop crop;
  Open(crop);
  TlvFilesRecord& r = Window().Model().Record(0);
  r.CropTop = 4;
  const QRect area = crop.PictureArea();
  // 296 of 301 preview rows away: about 9 source rows stay.
  crop.UpSpin()->setValue(area.height() - 12);
  crop.DownSpin()->setValue(7);
  crop.OkButton()->click();
  ASSERT_EQ(Refusals(), 1u) << Dialogs.Summary();
  EXPECT_TRUE(Dialogs.Shown.back().Text.contains("16 x 16"));
  EXPECT_EQ(r.CropTop, 4);
  EXPECT_EQ(r.CropUpValue, 0);
}

TEST_F(CropEditorTest, PreviewIsCroppedAndAdjusted) {
  TfrmCrop crop;
  Open(crop);
  crop.UpSpin()->setValue(10);
  crop.LeftSpin()->setValue(10);
  crop.SetAdjustments(128, 0, 255, 0);
  ASSERT_TRUE(WaitFor([&] {
    crop.Refresh();
    return !crop.OutputFrame().Empty();
  }));
  const TBitmap out = crop.OutputFrame();
  EXPECT_EQ(out.Width(), 720 - 18);
  EXPECT_EQ(out.Height(), 576 - 18);
  SaveScreenshot(crop, "crop_editor.png");
}

// ---- Watermarks ------------------------------------------------------------------------------

class WatermarkEditorTest : public EditorTest {
 protected:
  void Open(TfrmWaterMark& marks) {
    OpenTitle1();
    ASSERT_TRUE(marks.Prepare(Title())) << Dialogs.Summary();
    marks.show();
  }
  std::string Write(const std::string& name, const QImage& image, const char* format) {
    const std::string path = Folder + "/" + name;
    EXPECT_TRUE(image.save(QString::fromStdString(path), format));
    return path;
  }
};

TEST_F(WatermarkEditorTest, NewTextShowsForTheWholeTitle) {
  TfrmWaterMark marks;
  Open(marks);
  EXPECT_EQ(marks.FrameSize(), QSize(720, 576));
  marks.AddText();
  ASSERT_EQ(marks.RowCount(), 1);
  EXPECT_EQ(marks.Item(0).StartTime, 0);
  EXPECT_EQ(marks.Item(0).EndTime, 12);
  EXPECT_TRUE(marks.InPlaceEditor()->isVisible());
  // In-place editing renames the row and re-renders its layer.
  const qreal width = marks.Layer(0)->boundingRect().width();
  QTest::keyClick(marks.InPlaceEditor(), Qt::Key_End);
  QTest::keyClicks(marks.InPlaceEditor(), " here");
  EXPECT_EQ(marks.List()->item(0)->text(), "Add Text here");
  EXPECT_GT(marks.Layer(0)->boundingRect().width(), width);
  // The title's pictures reach the stage.
  EXPECT_TRUE(WaitFor([&] {
    for (QGraphicsItem* item : marks.View()->scene()->items())
      if (item->zValue() < 0 && !static_cast<QGraphicsPixmapItem*>(item)->pixmap().isNull())
        return true;
    return false;
  }));
  marks.AddImage(QString::fromStdString(Write(
      "logo.png",
      [] {
        QImage logo(64, 32, QImage::Format_ARGB32);
        logo.fill(QColor(250, 200, 0, 180));
        return logo;
      }(),
      "PNG")));
  SaveScreenshot(marks, "watermark_editor.png");
  marks.Accept();
  const auto& stored = Window().Model().Record(0).WaterMarks;
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0]->Text, "Add Text here");
  EXPECT_EQ(stored[0]->Kind, 0);
  EXPECT_EQ(stored[1]->Kind, 1);
}

TEST_F(WatermarkEditorTest, LayerDraggedOutOfPictureKeepsItsPosition) {
  TfrmWaterMark marks;
  Open(marks);
  marks.AddText();
  marks.InPlaceEditor()->hide();
  QGraphicsPixmapItem* layer = marks.Layer(0);
  QGraphicsView* view = marks.View();
  // Drag the layer so that its left edge lands at -20 picture pixels.
  const QPointF inside = layer->sceneBoundingRect().center();
  const QPointF target = inside + QPointF(-20 - layer->x(), 0);
  Drag(view->viewport(), view->mapFromScene(inside), view->mapFromScene(target));
  // The view's scale rounds the drag to whole screen pixels; put the exact place.
  layer->setX(-20);
  EXPECT_EQ(marks.HorizBar()->value(), 0);
  marks.Accept();
  ASSERT_EQ(Window().Model().Record(0).WaterMarks.size(), 1u);
  EXPECT_EQ(Window().Model().Record(0).WaterMarks[0]->TextLeft, -20);
}

TEST_F(WatermarkEditorTest, UpAndDownReorderRowsAndLayers) {
  TfrmWaterMark marks;
  Open(marks);
  marks.AddText();
  marks.SetText("first");
  marks.AddText();
  marks.SetText("second");
  // Down on the last row and Up on the first do nothing.
  marks.MoveDown();
  EXPECT_EQ(marks.Item(1).Text, "second");
  marks.SelectRow(0);
  marks.MoveUp();
  EXPECT_EQ(marks.Item(0).Text, "first");
  marks.MoveDown();
  EXPECT_EQ(marks.Item(0).Text, "second");
  EXPECT_EQ(marks.Item(1).Text, "first");
  EXPECT_EQ(marks.SelectedRow(), 1);
  EXPECT_LT(marks.Layer(0)->zValue(), marks.Layer(1)->zValue());
}

TEST_F(WatermarkEditorTest, EmptyListEmptiesTheRecord) {
  Window();
  OpenTitle1();
  Window().Model().Record(0).WaterMarks.push_back(std::make_shared<TWmRec>());
  Window().Model().Record(0).WaterMarks[0]->Text = "old";
  TfrmWaterMark marks;
  ASSERT_TRUE(marks.Prepare(Title()));
  ASSERT_EQ(marks.RowCount(), 1);
  marks.DeleteRow();
  marks.Accept();
  EXPECT_TRUE(Window().Model().Record(0).WaterMarks.empty());
}

TEST_F(WatermarkEditorTest, PicturesKeepTheirSizeAndAlpha) {
  TfrmWaterMark marks;
  Open(marks);
  QImage alpha(40, 30, QImage::Format_ARGB32);
  alpha.fill(QColor(255, 0, 0, 100));
  QImage solid(50, 20, QImage::Format_RGB32);
  solid.fill(Qt::yellow);
  const struct {
    const char* Name;
    const QImage* Image;
    const char* Format;
  } cases[] = {{"a.png", &alpha, "PNG"}, {"b.bmp", &solid, "BMP"}, {"c.jpg", &solid, "JPEG"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(marks.AddImage(QString::fromStdString(Write(c.Name, *c.Image, c.Format))))
        << c.Name << Dialogs.Summary();
    const int row = marks.RowCount() - 1;
    EXPECT_EQ(marks.Item(row).ImageWidth, c.Image->width()) << c.Name;
    EXPECT_EQ(marks.Item(row).ImageHeight, c.Image->height()) << c.Name;
  }
  // PNG's alpha is kept in the layer.
  EXPECT_TRUE(marks.Layer(0)->pixmap().hasAlphaChannel());
  EXPECT_EQ(marks.Layer(0)->pixmap().toImage().pixelColor(5, 5).alpha(), 100);
}

TEST_F(WatermarkEditorTest, RangeThumbsNeverCross) {
  TfrmWaterMark marks;
  Open(marks);
  marks.AddText();
  marks.InPlaceEditor()->hide();
  TTrackBar2* range = marks.RangeBar();
  for (int start : {0, 5, 11, 12, 20}) {
    range->SetPositionL(start);
    EXPECT_LT(range->PositionL(), range->PositionU()) << start;
    EXPECT_LT(marks.Item(0).StartTime, marks.Item(0).EndTime) << start;
  }
  for (int end : {12, 6, 1, 0}) {
    range->SetPositionU(end);
    EXPECT_LT(range->PositionL(), range->PositionU()) << end;
  }
}

// Bad input: each is refused with a message and the title's watermarks stay as they were.
TEST_F(WatermarkEditorTest, BadInputIsRefusedAndRecordKept) {
  OpenTitle1();
  auto kept = std::make_shared<TWmRec>();
  kept->Text = "kept";
  Window().Model().Record(0).WaterMarks = {kept};
  const std::string empty = Folder + "/empty.bmp";
  std::ofstream(empty).close();
  const std::string text = Folder + "/notes.png";
  std::ofstream(text) << "this is not a picture";
  const struct {
    const char* What;
    std::function<bool(TfrmWaterMark&)> Act;  // false when the step itself was refused
    const char* Message;
  } cases[] = {
      {"missing picture",
       [&](TfrmWaterMark& m) { return m.AddImage(QString::fromStdString(Folder + "/none.png")); },
       "does not exist"},
      {"empty picture", [&](TfrmWaterMark& m) { return m.AddImage(QString::fromStdString(empty)); },
       "empty"},
      {"not a picture", [&](TfrmWaterMark& m) { return m.AddImage(QString::fromStdString(text)); },
       "cannot be used"},
      {"empty text",
       [](TfrmWaterMark& m) {
         m.AddText();
         m.SetText("");
         return true;
       },
       "text is empty"},
      {"10,000 characters",
       [](TfrmWaterMark& m) {
         m.AddText();
         m.SetText(QString(10000, 'x'));
         return true;
       },
       "characters long"},
      {"font not installed",
       [](TfrmWaterMark& m) {
         m.AddText();
         return m.SetFontName("No Such Font 123");
       },
       "not installed"},
      {"negative time range",
       [](TfrmWaterMark& m) {
         m.AddText();
         return m.SetTimeRange(-3, 5);
       },
       "not valid"},
      {"reversed time range",
       [](TfrmWaterMark& m) {
         m.AddText();
         return m.SetTimeRange(9, 4);
       },
       "not valid"},
  };
  for (const auto& c : cases) {
    Dialogs.Shown.clear();
    TfrmWaterMark marks;
    ASSERT_TRUE(marks.Prepare(Title()));
    const int rows = marks.RowCount();
    const bool done = c.Act(marks);
    if (done) marks.Accept();
    ASSERT_EQ(Refusals(), 1u) << c.What << ": " << Dialogs.Summary();
    EXPECT_TRUE(Dialogs.Shown.back().Text.contains(QLatin1String(c.Message)))
        << c.What << ": " << Dialogs.Summary();
    if (!done && std::string(c.What).find("picture") != std::string::npos) {
      EXPECT_EQ(marks.RowCount(), rows) << c.What;  // not added
    }
    const auto& stored = Window().Model().Record(0).WaterMarks;
    ASSERT_EQ(stored.size(), 1u) << c.What;
    EXPECT_EQ(stored[0]->Text, "kept") << c.What;
  }
}

// ---- Same pixels: the editors' preview and the converted output ------------------------------

namespace {

// Decodes the picture of `file` at `seconds` as 24-bit BGR of width × height with FFmpeg.
bool DecodePicture(const std::string& file, double seconds, int width, int height, TBitmap& out) {
  const std::string raw = file + ".frame.bgr";
  const std::string command = "ffmpeg -nostdin -v error -y -i " + ShellQuote(file) + " -ss " +
                              std::to_string(seconds) + " -frames:v 1 -f rawvideo -pix_fmt bgr24 " +
                              ShellQuote(raw);
  if (std::system(command.c_str()) != 0) return false;
  std::ifstream in(raw, std::ios::binary);
  out.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    if (!in.read(reinterpret_cast<char*>(out.ScanLine(y)), std::streamsize(width) * 3))
      return false;
  return true;
}

double Psnr(const TBitmap& a, const TBitmap& b) {
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width() * 3; ++x) {
      const double d = double(a.ScanLine(y)[x]) - double(b.ScanLine(y)[x]);
      sum += d * d;
    }
  const double mse = sum / (double(a.Width()) * a.Height() * 3);
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace

TEST_F(EditorTest, PreviewAndConvertedOutputHoldTheSamePixels) {
  OpenTitle1();
  // Adjustments set in the crop editor, a text and a picture watermark in the watermark editor.
  QImage logo(48, 32, QImage::Format_ARGB32);
  logo.fill(QColor(20, 200, 40, 200));
  const std::string logoFile = Folder + "/logo.png";
  ASSERT_TRUE(logo.save(QString::fromStdString(logoFile), "PNG"));
  {
    TfrmWaterMark marks;
    ASSERT_TRUE(marks.Prepare(Title()));
    marks.AddText();
    marks.SetText("Same pixels");
    marks.InPlaceEditor()->hide();
    marks.Layer(0)->setPos(40, 60);
    ASSERT_TRUE(marks.AddImage(QString::fromStdString(logoFile)));
    marks.Layer(1)->setPos(500, 400);
    marks.Accept();
  }
  TBitmap preview;
  int64_t pts = -1;
  {
    TfrmCrop crop;
    ASSERT_TRUE(crop.Prepare(Title()));
    crop.SetAdjustments(300, 20, 200, 40);
    ASSERT_TRUE(WaitFor([&] {
      crop.Refresh();
      return crop.OutputPTS() > 2000000;
    }));
    crop.SetCapturing(false);
    crop.Refresh();
    preview = crop.OutputFrame();
    pts = crop.OutputPTS();
    crop.OkButton()->click();
  }
  ASSERT_EQ(preview.Width(), 720);
  // The watermarks as the watermark editor's layers draw them (the conversion's drawing).
  for (const auto& mark : Window().Model().Record(0).WaterMarks) {
    if (mark->Kind == 0)
      DrawTextWatermark(preview, *mark);
    else
      DrawPictureWatermark(preview, *mark);
  }
  // Title 1 alone, MPEG-2 at the catalogue's highest rate.
  for (int row = 1; row < Window().Model().rowCount(); ++row)
    Window().Model().SetChecked(row, false);
  Window().Run().FormatCodeOverride = 101;
  Window().Run().ParamOverrides["paraVideoBitRate"] = "8000";
  Window().Run().OutputDirOverride = Folder + "/out";
  fs::create_directories(Folder + "/out");
  Window().StartConversion();
  std::string output;
  for (const auto& entry : fs::directory_iterator(Folder + "/out"))
    if (entry.path().extension() == ".mpg") output = entry.path().string();
  ASSERT_FALSE(output.empty()) << Dialogs.Summary();
  TBitmap converted;
  // FFmpeg takes the first picture at or after the time asked for; the preview's time may lie
  // a little past its picture's start, so ask half a picture (25 per second) earlier.
  ASSERT_TRUE(DecodePicture(output, double(pts) / 1e6 - 0.02, 720, 576, converted));
  const double psnr = Psnr(preview, converted);
  EXPECT_GE(psnr, 35.0) << "at " << pts << " us";
  QImage side(1440, 576, QImage::Format_RGB888);
  QPainter painter(&side);
  painter.drawImage(0, 0, BitmapImage(preview));
  painter.drawImage(720, 0, BitmapImage(converted));
  painter.end();
  QDir().mkpath(QStringLiteral(DVDSWF_SCREENSHOTS_DIR));
  side.save(QStringLiteral(DVDSWF_SCREENSHOTS_DIR "/editors_same_pixels.png"));
}
