// TRectTracker: a frame with eight handles that the user drags to move or resize a rectangle
// (the crop editor's crop rectangle). It paints nothing but the dotted frame and the handles,
// so whatever lies below it stays visible.
//
// Threads: main thread (a widget).
#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>
#include <functional>

class TCustomRectTracker;
// TrackRect: the inner rectangle in the parent's coordinates.
using TTrackerEvent = std::function<void(TCustomRectTracker* Sender, const QRect& TrackRect)>;
using TTrackerMouseEvent = std::function<void(TCustomRectTracker* Sender, QMouseEvent* Event)>;

class TCustomRectTracker : public QWidget {
 public:
  // Drag modes, one per hit zone.
  enum TDragMode {
    dmLeft = 0,
    dmRight = 1,
    dmTop = 2,
    dmBottom = 3,
    dmTopLeft = 4,
    dmTopRight = 5,
    dmBottomLeft = 6,
    dmBottomRight = 7,
    dmMove = 8,
    dmNone = 9,
  };
  static constexpr int kMinimumSize = 10;
  static constexpr int kHandle = 5;
  // How far the frame lies outside the control it keeps (AcControl).
  static constexpr int kControlMargin = 5;

  explicit TCustomRectTracker(QWidget* parent = nullptr);

  TTrackerEvent OnChange;
  TTrackerMouseEvent OnMouseDown;
  TTrackerMouseEvent OnMouseMove;
  TTrackerMouseEvent OnMouseUp;

  // The control kept inside the frame: setting it places the frame around it (its bounds
  // grown by 5 on each side); every later change of the frame's bounds moves it along.
  // Setting the tracker itself (or null) clears it.
  QWidget* AcControl() const { return FAcControl; }
  void SetAcControl(QWidget* control);

  // The zone under a point of the control, and its cursor.
  TDragMode HitZone(QPoint point) const;
  static Qt::CursorShape CursorFor(TDragMode mode);
  TDragMode DragMode() const { return FDragMode; }
  // The rectangle the frame is drawn on: (2, 2, width - 2, height - 2).
  QRect InnerRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Left edge of the top and bottom handles, top edge of the left and right handles.
  int MiddleX() const;
  int MiddleY() const;
  void FollowControl();

  TDragMode FDragMode = dmNone;
  QPoint FPress{-1, -1};
  QRect FPressBounds;
  QPointer<QWidget> FAcControl;
};

class TRectTracker : public TCustomRectTracker {
 public:
  using TCustomRectTracker::TCustomRectTracker;
};
