// The track bar and the rectangle tracker, driven through Qt's event functions.
#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

#include "app/gui/rect_tracker.h"
#include "app/gui/track_bar.h"

namespace {

// ---- Track bar positions ------------------------------------------------------------------

struct TPositionCase {
  const char* Name;
  bool SecondThumb;
  int StartL, StartU;  // positions before the change
  bool SetsUpper;      // the change sets PositionU (else PositionL)
  int Value;
  int ExpectedL, ExpectedU;
  int Changes;  // OnChange calls
};

void PrintTo(const TPositionCase& c, std::ostream* os) {
  *os << c.Name;
}

class TrackBarPosition : public ::testing::TestWithParam<TPositionCase> {};

TEST_P(TrackBarPosition, FollowsTheThumbRules) {
  const TPositionCase& c = GetParam();
  TTrackBar2 bar;  // Max 20
  bar.SetSecondThumb(c.SecondThumb);
  bar.SetPositionU(c.StartU);
  bar.SetPositionL(c.StartL);
  int changes = 0;
  bar.OnChange = [&changes](TTrackBar2*) { ++changes; };
  if (c.SetsUpper)
    bar.SetPositionU(c.Value);
  else
    bar.SetPositionL(c.Value);
  EXPECT_EQ(bar.PositionL(), c.ExpectedL);
  EXPECT_EQ(bar.PositionU(), c.ExpectedU);
  EXPECT_EQ(changes, c.Changes);
}

const TPositionCase kPositionCases[] = {
    {"LowerAtUpperStopsBelowIt", true, 0, 10, false, 10, 9, 10, 1},
    {"LowerAboveUpperStopsBelowIt", true, 0, 10, false, 15, 9, 10, 1},
    {"UpperBelowLowerStopsAboveIt", true, 5, 10, true, 3, 5, 6, 1},
    {"UpperAtLowerStopsAboveIt", true, 5, 10, true, 5, 5, 6, 1},
    {"UpperBeyondMaxIsMax", true, 5, 10, true, 50, 5, 20, 1},
    {"LowerBeyondMaxIsMax", false, 0, 10, false, 21, 20, 10, 1},
    {"LowerBelowMinIsMin", false, 4, 10, false, -3, 0, 10, 1},
    {"SameValueFiresNothing", false, 7, 10, false, 7, 7, 10, 0},
    {"AdjustedToItsOwnValueFiresNothing", true, 9, 10, false, 12, 9, 10, 0},
    {"InRangeIsTaken", false, 0, 10, false, 13, 13, 10, 1},
};
INSTANTIATE_TEST_SUITE_P(Rules, TrackBarPosition, ::testing::ValuesIn(kPositionCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(TrackBar, RangeChangesPullThePositionsAlong) {
  TTrackBar2 bar;
  bar.SetSecondThumb(true);
  bar.SetPositionU(18);
  bar.SetPositionL(6);
  bar.SetMax(12);
  EXPECT_EQ(bar.PositionU(), 12);
  bar.SetMin(8);
  EXPECT_EQ(bar.PositionL(), 8);
}

TEST(TrackBar, StartsAsDescribed) {
  TTrackBar2 bar;
  EXPECT_EQ(bar.Max(), 20);
  EXPECT_EQ(bar.Min(), 0);
  EXPECT_EQ(bar.PositionL(), 0);
  EXPECT_EQ(bar.PositionU(), 10);
  EXPECT_EQ(bar.ThumbSize(), 20);
  EXPECT_EQ(bar.TrackSize(), 10);
  EXPECT_EQ(bar.size(), QSize(500, 50));
  EXPECT_EQ(bar.Orientation(), toHorizontal);
  EXPECT_EQ(bar.TrackStyle(), trLowered);
  EXPECT_EQ(bar.ThumbStyle(), tsRaisedRectangle);
  EXPECT_FALSE(bar.SecondThumb());
  bar.SetTickStyle(tiLine);
  EXPECT_EQ(bar.TickColor(), QColor(Qt::black));
}

TEST(TrackBar, ShapeDecidesTheOrientation) {
  TTrackBar2 bar;
  bar.resize(40, 300);
  EXPECT_EQ(bar.Orientation(), toVertical);
  bar.SetOrientation(toHorizontal);
  EXPECT_EQ(bar.size(), QSize(300, 40));
  EXPECT_EQ(bar.Orientation(), toHorizontal);
}

TEST(TrackBar, GeometryFollowsThePositions) {
  TTrackBar2 bar;  // 500 x 50, thumb size 20: travel 480
  EXPECT_EQ(bar.TrackRect(), QRect(10, 20, 480, 10));
  bar.SetPositionL(10);
  // Rectangle thumbs are half as wide as ThumbSize and centred on their place.
  EXPECT_EQ(bar.ThumbRectL(), QRect(480 * 10 / 20 + 5, 15, 10, 20));
  EXPECT_EQ(bar.PositionAt(QPoint(245, 25)), (245 - 5) * 20 / 480);
}

// ---- Track bar mouse and keyboard -----------------------------------------------------------

TEST(TrackBar, PressOnTheTrackJumpsAndShiftPressSteps) {
  TTrackBar2 bar;
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  const QPoint far(bar.ThumbRectL().center().x() + 300, 25);
  QTest::mousePress(&bar, Qt::LeftButton, Qt::ShiftModifier, far);
  QTest::mouseRelease(&bar, Qt::LeftButton, Qt::ShiftModifier, far);
  EXPECT_EQ(bar.PositionL(), 1) << "Shift steps by SmallChange toward the press";
  QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, far);
  QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, far);
  EXPECT_EQ(bar.PositionL(), bar.PositionAt(far));
  EXPECT_FALSE(bar.TrackingL());
}

TEST(TrackBar, ThumbIsDraggedWhilePressed) {
  TTrackBar2 bar;
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  const QPoint thumb = bar.ThumbRectL().center();
  QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, thumb);
  EXPECT_TRUE(bar.TrackingL());
  EXPECT_EQ(bar.PositionL(), 0) << "a press on the thumb only takes it";
  QTest::mouseMove(&bar, QPoint(245, 25));
  EXPECT_EQ(bar.PositionL(), bar.PositionAt(QPoint(245, 25)));
  QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(245, 25));
  EXPECT_FALSE(bar.TrackingL());
}

TEST(TrackBar, SecondThumbTakesPressesRightOfTheMiddle) {
  TTrackBar2 bar;
  bar.SetSecondThumb(true);
  bar.SetPositionU(16);
  bar.SetPositionL(2);
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  const auto middle = [&bar] { return (bar.ThumbRectL().right() + bar.ThumbRectU().left()) / 2; };
  const QPoint right(middle() + 30, 25);
  QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, right);
  EXPECT_EQ(bar.PositionU(), bar.PositionAt(right));
  EXPECT_EQ(bar.PositionL(), 2);
  const QPoint left(middle() - 30, 25);
  QTest::mouseClick(&bar, Qt::LeftButton, Qt::NoModifier, left);
  EXPECT_EQ(bar.PositionL(), bar.PositionAt(left));
  EXPECT_EQ(bar.PositionU(), bar.PositionAt(right));
}

TEST(TrackBar, KeysMoveTheThumbs) {
  TTrackBar2 bar;
  bar.SetSecondThumb(true);
  bar.SetPositionU(15);
  bar.SetPositionL(5);
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  QTest::keyClick(&bar, Qt::Key_PageUp);
  EXPECT_EQ(bar.PositionL(), 7);
  QTest::keyClick(&bar, Qt::Key_Left);
  EXPECT_EQ(bar.PositionL(), 6);
  QTest::keyClick(&bar, Qt::Key_Up);
  EXPECT_EQ(bar.PositionL(), 7);
  QTest::keyClick(&bar, Qt::Key_PageDown, Qt::ShiftModifier);
  EXPECT_EQ(bar.PositionU(), 13) << "Shift moves the upper thumb";
  QTest::keyClick(&bar, Qt::Key_Right, Qt::ShiftModifier);
  EXPECT_EQ(bar.PositionU(), 14);
}

TEST(TrackBar, MouseMoveHandlerIsOverriddenWhileTracking) {
  TTrackBar2 bar;
  bar.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
  bar.OnMouseMove = [](TTrackBar2* sender, QMouseEvent*) { sender->SetPositionL(3); };
  QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, bar.ThumbRectL().center());
  QTest::mouseMove(&bar, QPoint(400, 25));
  EXPECT_EQ(bar.PositionL(), bar.PositionAt(QPoint(400, 25)));
  QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, QPoint(400, 25));
}

// ---- Rectangle tracker --------------------------------------------------------------------

class RectTrackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Parent.resize(400, 300);
    Tracker = new TRectTracker(&Parent);
    Tracker->setGeometry(100, 100, 60, 40);
    Tracker->OnChange = [this](TCustomRectTracker*, const QRect& rect) {
      ++Changes;
      LastRect = rect;
    };
    Parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Parent));
  }
  // Drags from a point of the tracker by (dx, dy), in steps, as a hand would. The tracker
  // moves under the mouse, so each step is given in its coordinates of the moment.
  void DragFrom(QPoint from, int dx, int dy) {
    const QPoint press = Tracker->mapToParent(from);
    QTest::mousePress(Tracker, Qt::LeftButton, Qt::NoModifier, from);
    QPoint at = from;
    for (int step = 1; step <= 4; ++step) {
      at = Tracker->mapFromParent(press + QPoint(dx * step / 4, dy * step / 4));
      QTest::mouseMove(Tracker, at);
    }
    QTest::mouseRelease(Tracker, Qt::LeftButton, Qt::NoModifier, at);
  }

  QWidget Parent;
  TRectTracker* Tracker = nullptr;
  int Changes = 0;
  QRect LastRect;
};

TEST_F(RectTrackerTest, HitZonesAndHandles) {
  // 60 x 40: middle handles start at 27 and 17.
  EXPECT_EQ(Tracker->HitZone(QPoint(1, 1)), TCustomRectTracker::dmTopLeft);
  EXPECT_EQ(Tracker->HitZone(QPoint(58, 38)), TCustomRectTracker::dmBottomRight);
  EXPECT_EQ(Tracker->HitZone(QPoint(1, 38)), TCustomRectTracker::dmBottomLeft);
  EXPECT_EQ(Tracker->HitZone(QPoint(58, 1)), TCustomRectTracker::dmTopRight);
  EXPECT_EQ(Tracker->HitZone(QPoint(2, 19)), TCustomRectTracker::dmLeft);
  EXPECT_EQ(Tracker->HitZone(QPoint(57, 19)), TCustomRectTracker::dmRight);
  EXPECT_EQ(Tracker->HitZone(QPoint(29, 1)), TCustomRectTracker::dmTop);
  EXPECT_EQ(Tracker->HitZone(QPoint(29, 38)), TCustomRectTracker::dmBottom);
  EXPECT_EQ(Tracker->HitZone(QPoint(20, 10)), TCustomRectTracker::dmMove);
  EXPECT_EQ(Tracker->HitZone(QPoint(0, 10)), TCustomRectTracker::dmNone);
  EXPECT_EQ(Tracker->InnerRect(), QRect(2, 2, 56, 36));
}

TEST_F(RectTrackerTest, LeftEdgeStopsAtTenPixelsAndStillGoesOut) {
  Tracker->setGeometry(100, 100, 10, 40);
  const QPoint leftHandle(1, (40 + 1) / 2 - 3 + 2);
  DragFrom(leftHandle, 6, 0);
  EXPECT_EQ(Tracker->geometry(), QRect(100, 100, 10, 40)) << "no narrower than 10";
  EXPECT_EQ(Changes, 0) << "nothing changed, nothing reported";
  DragFrom(leftHandle, -20, 0);
  EXPECT_EQ(Tracker->geometry(), QRect(80, 100, 30, 40));
  EXPECT_EQ(Changes, 1);
  EXPECT_EQ(LastRect, QRect(82, 102, 26, 36)) << "the inner rectangle, in the parent";
}

TEST_F(RectTrackerTest, ReleaseWithoutChangeReportsNothing) {
  QTest::mousePress(Tracker, Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
  QTest::mouseRelease(Tracker, Qt::LeftButton, Qt::NoModifier, QPoint(20, 10));
  EXPECT_EQ(Changes, 0);
  EXPECT_EQ(Tracker->DragMode(), TCustomRectTracker::dmNone);
}

TEST_F(RectTrackerTest, MoveAndResizeFromEachSide) {
  DragFrom(QPoint(20, 10), 30, 20);
  EXPECT_EQ(Tracker->geometry(), QRect(130, 120, 60, 40));
  DragFrom(QPoint(58, 38), 20, 10);  // bottom-right corner
  EXPECT_EQ(Tracker->geometry(), QRect(130, 120, 80, 50));
  DragFrom(QPoint(Tracker->width() / 2, 1), 0, 45);  // top edge past the bottom
  EXPECT_EQ(Tracker->geometry().height(), 10);
  EXPECT_EQ(Tracker->geometry().bottom(), QRect(130, 120, 80, 50).bottom());
  EXPECT_EQ(Changes, 3);
}

TEST_F(RectTrackerTest, KeptControlFollowsTheFrame) {
  QWidget inner(&Parent);
  inner.setGeometry(50, 60, 100, 80);
  Tracker->SetAcControl(&inner);
  EXPECT_EQ(Tracker->geometry(), QRect(45, 55, 110, 90));
  Tracker->setGeometry(10, 20, 200, 100);
  EXPECT_EQ(inner.geometry(), QRect(15, 25, 190, 90));
  Tracker->SetAcControl(Tracker);
  EXPECT_EQ(Tracker->AcControl(), nullptr);
}

}  // namespace
