#include "app/gui/rect_tracker.h"

#include <QMouseEvent>
#include <QPainter>

TCustomRectTracker::TCustomRectTracker(QWidget* parent) : QWidget(parent) {
  setMinimumSize(kMinimumSize, kMinimumSize);
  resize(65, 65);
  setMouseTracking(true);  // the cursor follows the zone under the mouse
}

QRect TCustomRectTracker::InnerRect() const {
  return QRect(2, 2, width() - 4, height() - 4);
}

int TCustomRectTracker::MiddleX() const {
  return (width() + 1) / 2 - 3;
}

int TCustomRectTracker::MiddleY() const {
  return (height() + 1) / 2 - 3;
}

void TCustomRectTracker::SetAcControl(QWidget* control) {
  if (control == this) control = nullptr;
  FAcControl = control;
  if (!control) return;
  setGeometry(control->geometry().adjusted(-kControlMargin, -kControlMargin, kControlMargin,
                                           kControlMargin));
  FollowControl();
}

void TCustomRectTracker::FollowControl() {
  if (FAcControl)
    FAcControl->setGeometry(
        geometry().adjusted(kControlMargin, kControlMargin, -kControlMargin, -kControlMargin));
}

void TCustomRectTracker::moveEvent(QMoveEvent*) {
  FollowControl();
}

void TCustomRectTracker::resizeEvent(QResizeEvent*) {
  FollowControl();
}

TCustomRectTracker::TDragMode TCustomRectTracker::HitZone(QPoint p) const {
  const int w = width(), h = height(), mx = MiddleX(), my = MiddleY();
  const auto in = [&p](int left, int top, int right, int bottom) {
    return p.x() >= left && p.x() < right && p.y() >= top && p.y() < bottom;
  };
  if (in(0, 0, kHandle, kHandle)) return dmTopLeft;
  if (in(w - kHandle, h - kHandle, w, h)) return dmBottomRight;
  if (in(0, h - kHandle, kHandle, h)) return dmBottomLeft;
  if (in(w - kHandle, 0, w, kHandle)) return dmTopRight;
  if (in(0, my, kHandle, my + kHandle)) return dmLeft;
  if (in(w - kHandle, my, w, my + kHandle)) return dmRight;
  if (in(mx, 0, mx + kHandle, kHandle)) return dmTop;
  if (in(mx, h - kHandle, mx + kHandle, h)) return dmBottom;
  if (in(2, 2, w - 2, h - 2)) return dmMove;
  return dmNone;
}

Qt::CursorShape TCustomRectTracker::CursorFor(TDragMode mode) {
  switch (mode) {
    case dmTopLeft:
    case dmBottomRight:
      return Qt::SizeFDiagCursor;
    case dmBottomLeft:
    case dmTopRight:
      return Qt::SizeBDiagCursor;
    case dmLeft:
    case dmRight:
      return Qt::SizeHorCursor;
    case dmTop:
    case dmBottom:
      return Qt::SizeVerCursor;
    case dmMove:
      return Qt::SizeAllCursor;
    case dmNone:
      break;
  }
  return Qt::ArrowCursor;
}

void TCustomRectTracker::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // Dotted, and mixed with what lies below so that it shows on dark and light pictures.
  p.setCompositionMode(QPainter::RasterOp_SourceOrNotDestination);
  QPen pen(Qt::black, 1, Qt::DotLine);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRect(2, 2, width() - 4, height() - 4));
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  const int w = width(), h = height(), mx = MiddleX(), my = MiddleY();
  const QRect handles[] = {
      {0, 0, kHandle, kHandle},           {w - kHandle, 0, kHandle, kHandle},
      {0, h - kHandle, kHandle, kHandle}, {w - kHandle, h - kHandle, kHandle, kHandle},
      {0, my, kHandle, kHandle},          {w - kHandle, my, kHandle, kHandle},
      {mx, 0, kHandle, kHandle},          {mx, h - kHandle, kHandle, kHandle},
  };
  for (const QRect& r : handles) p.fillRect(r, Qt::black);
}

void TCustomRectTracker::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    FPressBounds = geometry();
    FPress = event->position().toPoint();
    FDragMode = HitZone(FPress);
  }
  if (OnMouseDown) OnMouseDown(this, event);
}

void TCustomRectTracker::mouseMoveEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (FDragMode != dmNone && FPress.x() >= 0) {
    const int dx = point.x() - FPress.x(), dy = point.y() - FPress.y();
    int left = x(), top = y(), w = width(), h = height();
    // An edge taken toward the other one stops where the frame is kMinimumSize across;
    // dragged outward it always follows.
    const auto dragLeft = [&] {
      if (w > kMinimumSize || dx <= 0) {
        const int step = std::min(dx, w - kMinimumSize);
        left += step;
        w -= step;
      }
    };
    const auto dragTop = [&] {
      if (h > kMinimumSize || dy <= 0) {
        const int step = std::min(dy, h - kMinimumSize);
        top += step;
        h -= step;
      }
    };
    switch (FDragMode) {
      case dmLeft:
        dragLeft();
        break;
      case dmRight:
        w += dx;
        FPress.setX(point.x());
        break;
      case dmTop:
        dragTop();
        break;
      case dmBottom:
        h += dy;
        FPress.setY(point.y());
        break;
      case dmTopLeft:
        dragLeft();
        dragTop();
        break;
      case dmTopRight:
        dragTop();
        w += dx;
        FPress.setX(point.x());
        break;
      case dmBottomLeft:
        dragLeft();
        h += dy;
        FPress.setY(point.y());
        break;
      case dmBottomRight:
        w += dx;
        h += dy;
        FPress = point;
        break;
      case dmMove:
        left += dx;
        top += dy;
        break;
      case dmNone:
        break;
    }
    setGeometry(left, top, std::max(w, kMinimumSize), std::max(h, kMinimumSize));
  }
  setCursor(CursorFor(FDragMode != dmNone ? FDragMode : HitZone(point)));
  if (OnMouseMove) OnMouseMove(this, event);
}

void TCustomRectTracker::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  FPress = QPoint(-1, -1);
  FDragMode = dmNone;
  if (OnMouseUp) OnMouseUp(this, event);
  if (geometry() != FPressBounds && OnChange) OnChange(this, geometry().adjusted(2, 2, -2, -2));
}
