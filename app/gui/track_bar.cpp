#include "app/gui/track_bar.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>

namespace {

const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kGrey(0x80, 0x80, 0x80);

// Pointer thumbs: width along the bar (it becomes ThumbSize) and height across it.
struct TPointerSize {
  int Along, Across;
};
TPointerSize PointerSize(TThumbStyle style) {
  switch (style) {
    case tsSmallPointer:
      return {11, 8};
    case tsMediumPointer:
      return {15, 11};
    default:
      return {19, 14};
  }
}

bool IsPointer(TThumbStyle style) {
  return style == tsSmallPointer || style == tsMediumPointer || style == tsLargePointer;
}

bool IsRectangle(TThumbStyle style) {
  return style == tsRectangle || style == tsRaisedRectangle || style == tsLoweredRectangle;
}

// A two-pixel bevel inside `rect`: the outer pair of colours, then the inner pair.
void Bevel(QPainter& p, const QRect& rect, const QColor& outerTL, const QColor& outerBR,
           const QColor& innerTL, const QColor& innerBR) {
  auto frame = [&p](const QRect& r, const QColor& tl, const QColor& br) {
    p.setPen(tl);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(br);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
  };
  frame(rect, outerTL, outerBR);
  if (rect.width() > 2 && rect.height() > 2) frame(rect.adjusted(1, 1, -1, -1), innerTL, innerBR);
}

}  // namespace

TTrackBar2::TTrackBar2(QWidget* parent) : QWidget(parent) {
  FTickColor = palette().color(QPalette::Button);
  FThumbColor = palette().color(QPalette::Button);
  setFocusPolicy(Qt::StrongFocus);
  resize(500, 50);
}

// ---- Properties -------------------------------------------------------------------------

void TTrackBar2::SetMax(int value) {
  FMax = value;
  if (FPositionU > FMax) FPositionU = FMax;
  if (FPositionL > FMax) FPositionL = FMax;
  update();
}

void TTrackBar2::SetMin(int value) {
  FMin = value;
  if (FPositionL < FMin) FPositionL = FMin;
  update();
}

TOrientation TTrackBar2::Orientation() const {
  if (width() > height()) return toHorizontal;
  if (height() > width()) return toVertical;
  return FOrientation;  // square: as last set
}

void TTrackBar2::SetOrientation(TOrientation value) {
  FOrientation = value;
  if (Orientation() != value) resize(height(), width());
  update();
}

void TTrackBar2::SetTrackSize(int value) {
  FTrackSize = value;
  update();
}

void TTrackBar2::SetTrackStyle(TTrackStyle value) {
  FTrackStyle = value;
  update();
}

void TTrackBar2::SetTrackColor(const QColor& value) {
  FTrackColor = value;
  update();
}

void TTrackBar2::SetTickSize(int value) {
  FTickSize = value;
  update();
}

void TTrackBar2::SetTickStyle(TTickStyle value) {
  FTickStyle = value;
  if (value == tiLine) FTickColor = Qt::black;
  update();
}

void TTrackBar2::SetTickColor(const QColor& value) {
  FTickColor = value;
  update();
}

void TTrackBar2::SetTickOrientation(TTickOrientation value) {
  FTickOrientation = value;
  update();
}

void TTrackBar2::SetTickInterval(int value) {
  FTickInterval = std::max(1, value);
  update();
}

void TTrackBar2::SetThumbSize(int value) {
  FRectThumbSize = value;
  FThumbSize = IsPointer(FThumbStyle) ? PointerSize(FThumbStyle).Along : value;
  update();
}

void TTrackBar2::SetThumbStyle(TThumbStyle value) {
  FThumbStyle = value;
  FThumbSize = IsPointer(value) ? PointerSize(value).Along : FRectThumbSize;
  update();
}

void TTrackBar2::SetThumbColor(const QColor& value) {
  FThumbColor = value;
  update();
}

void TTrackBar2::SetSecondThumb(bool value) {
  FSecondThumb = value;
  update();
}

void TTrackBar2::SetDitherThumb(bool value) {
  FDitherThumb = value;
  update();
}

void TTrackBar2::SetPositionL(int value) {
  if (value == FPositionL) return;
  if (FSecondThumb && value >= FPositionU)
    value = FPositionU - 1;
  else
    value = std::clamp(value, FMin, std::max(FMin, FMax));
  if (value == FPositionL) return;  // nothing changed after all
  FPositionL = value;
  Change();
}

void TTrackBar2::SetPositionU(int value) {
  if (value == FPositionU) return;
  if (value > FMax) value = FMax;
  if (value <= FPositionL) value = FPositionL + 1;
  if (value == FPositionU) return;
  FPositionU = value;
  Change();
}

void TTrackBar2::Change() {
  if (OnChange) OnChange(this);
  RedrawThumbs();
}

// ---- Geometry ---------------------------------------------------------------------------

int TTrackBar2::ThumbAlong() const {
  if (IsRectangle(FThumbStyle)) return FThumbSize / 2;
  return FThumbSize;
}

int TTrackBar2::ThumbAcross() const {
  if (IsPointer(FThumbStyle)) return PointerSize(FThumbStyle).Across;
  return FThumbSize;
}

int TTrackBar2::ThumbOffset() const {
  return IsRectangle(FThumbStyle) ? FThumbSize / 4 : FThumbSize / 2;
}

QRect TTrackBar2::TrackRect() const {
  const int from = FThumbSize / 2, to = Length() - FThumbSize / 2;
  const int across = Thickness() / 2 - FTrackSize / 2;
  if (Horizontal()) return QRect(from, across, to - from, FTrackSize);
  return QRect(across, height() - to, FTrackSize, to - from);
}

QRect TTrackBar2::ThumbRect(int position) const {
  const int range = std::max(1, Range());
  const int along = Travel() * (position - FMin) / range + (FThumbSize / 2 - ThumbOffset());
  int across = Thickness() / 2 - ThumbAcross() / 2;
  if (IsPointer(FThumbStyle)) {
    // A pointer sits on the side its tip points from: below the track for an upward
    // pointer, above it for a downward one.
    across = FTickOrientation == toBottomRight ? Thickness() / 2 - FTrackSize / 2 - ThumbAcross()
                                               : Thickness() / 2 + FTrackSize / 2;
    across = std::clamp(across, 0, std::max(0, Thickness() - ThumbAcross()));
  }
  if (Horizontal()) return QRect(along, across, ThumbAlong(), ThumbAcross());
  return QRect(across, height() - along - ThumbAlong(), ThumbAcross(), ThumbAlong());
}

QRect TTrackBar2::BetweenRect() const {
  if (!FSecondThumb || FThumbStyle == tsUserDrawn) return QRect();
  const QRect l = ThumbRect(FPositionL), u = ThumbRect(FPositionU);
  const int middle = Thickness() / 2;
  if (Horizontal()) return QRect(QPoint(l.right() + 1, middle), QPoint(u.left() - 1, middle));
  return QRect(QPoint(middle, u.bottom() + 1), QPoint(middle, l.top() - 1));
}

int TTrackBar2::PositionAt(QPoint point) const {
  const int along = Horizontal() ? point.x() : height() - point.y();
  const int travel = std::max(1, Travel());
  return (along - ThumbOffset()) * Range() / travel + FMin;
}

int TTrackBar2::TickAt(int value) const {
  const int range = std::max(1, Range());
  return (value - FMin) * Travel() / range + FThumbSize / 2;
}

void TTrackBar2::UpdateShape() {
  FOrientation = Orientation();
  update();
}

void TTrackBar2::RedrawThumbs() {
  // What the thumbs leave and what they enter; the rest of the control stays as painted.
  QRegion dirty;
  dirty += FDrawnL;
  dirty += FDrawnU;
  dirty += FDrawnBetween.adjusted(0, -1, 0, 1);
  dirty += ThumbRect(FPositionL);
  if (FSecondThumb) {
    dirty += ThumbRect(FPositionU);
    dirty += BetweenRect().adjusted(0, -1, 0, 1);
  }
  update(dirty);
}

// ---- Painting ---------------------------------------------------------------------------

QBrush TTrackBar2::DitherBrush() const {
  QPixmap pattern(8, 8);
  pattern.fill(FTrackColor);
  QPainter p(&pattern);
  p.setPen(FTrackColor.rgb() == kSilver.rgb() ? kGrey : kSilver);
  for (int row = 0; row < 8; ++row)
    for (int col = 0; col < 8; ++col)
      if ((row + col) % 2 == 1) p.drawPoint(col, row);
  return QBrush(pattern);
}

void TTrackBar2::paintEvent(QPaintEvent*) {
  if (OnPaint) OnPaint(this);
  QPainter painter(this);
  DrawTrack(painter);
  DrawTicks(painter);
  DrawThumbs(painter);
}

void TTrackBar2::DrawTrack(QPainter& p) {
  const QRect track = TrackRect();
  if (FTrackStyle == trUserDrawn) {
    if (OnDrawTrack) OnDrawTrack(this, p);
    return;
  }
  p.fillRect(track, isEnabled() ? QBrush(FTrackColor) : DitherBrush());
  if (FTrackStyle == trRaised)
    Bevel(p, track, Qt::white, Qt::black, kSilver, kGrey);
  else if (FTrackStyle == trLowered)
    Bevel(p, track, Qt::black, Qt::white, kGrey, kSilver);
}

void TTrackBar2::DrawTicks(QPainter& p) {
  if (FTickInterval < 1 || Range() < 0) return;
  const bool first = FTickOrientation == toTopLeft || FTickOrientation == toBoth;
  const bool second = FTickOrientation == toBottomRight || FTickOrientation == toBoth;
  for (int v = FMin; v <= FMax; v += FTickInterval) {
    const int along = TickAt(v);
    for (int side = 0; side < 2; ++side) {
      if ((side == 0 && !first) || (side == 1 && !second)) continue;
      const int across = side == 0 ? 2 : Thickness() - FTickSize - 2;
      const int x = Horizontal() ? along : across;
      const int y = Horizontal() ? across : height() - along;
      switch (FTickStyle) {
        case tiUserDrawn:
          if (OnDrawTick) OnDrawTick(this, p, x, y, v);
          break;
        case tiLine:
          p.setPen(FTickColor);
          if (Horizontal())
            p.drawLine(x, y, x, y + FTickSize - 1);
          else
            p.drawLine(x, y, x + FTickSize - 1, y);
          break;
        default: {
          const QRect box = Horizontal() ? QRect(x - FTickSize / 2, y, FTickSize, FTickSize)
                                         : QRect(x, y - FTickSize / 2, FTickSize, FTickSize);
          p.fillRect(box, FTickColor);
          if (FTickStyle == tiSquare) {
            p.setPen(Qt::black);
            p.drawRect(box.adjusted(0, 0, -1, -1));
          } else {
            const bool raised = FTickStyle == tiRaisedSquare;
            const QRect r = box.adjusted(0, 0, -1, -1);
            p.setPen(raised ? Qt::white : Qt::black);
            p.drawLine(r.topLeft(), r.topRight());
            p.drawLine(r.topLeft(), r.bottomLeft());
            p.setPen(raised ? Qt::black : Qt::white);
            p.drawLine(r.bottomLeft(), r.bottomRight());
            p.drawLine(r.topRight(), r.bottomRight());
          }
        }
      }
    }
  }
}

void TTrackBar2::DrawThumbs(QPainter& p) {
  FDrawnL = ThumbRect(FPositionL);
  FDrawnU = FSecondThumb ? ThumbRect(FPositionU) : QRect();
  FDrawnBetween = BetweenRect();
  if (FThumbStyle == tsUserDrawn) {
    if (OnDrawThumb) {
      OnDrawThumb(this, p, FDrawnL.x(), FDrawnL.y());
      if (FSecondThumb) OnDrawThumb(this, p, FDrawnU.x(), FDrawnU.y());
    }
    return;
  }
  if (FSecondThumb && FDrawnBetween.isValid()) {
    p.setPen(Qt::black);
    p.drawLine(FDrawnBetween.topLeft(), FDrawnBetween.bottomRight());
  }
  DrawThumb(p, FDrawnL);
  if (FSecondThumb) DrawThumb(p, FDrawnU);
}

void TTrackBar2::DrawThumb(QPainter& p, const QRect& rect) {
  const bool dither = !isEnabled() && FDitherThumb;
  if (IsRectangle(FThumbStyle)) {
    p.fillRect(rect, dither ? DitherBrush() : QBrush(FThumbColor));
    const QRect r = rect;
    if (FThumbStyle == tsRectangle) {
      p.setPen(Qt::black);
      p.drawRect(r.adjusted(0, 0, -1, -1));
    } else if (FThumbStyle == tsRaisedRectangle) {
      Bevel(p, r.adjusted(0, 0, -1, -1), Qt::white, Qt::black, kSilver, kGrey);
    } else {
      Bevel(p, r.adjusted(0, 0, -1, -1), Qt::black, Qt::white, kGrey, kSilver);
    }
    return;
  }
  // Pointers: a pentagon whose tip points at the track; what lies around it stays visible.
  QPainterPath path;
  const QRectF r = QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
  const bool towardLow = FTickOrientation != toBottomRight;  // tip toward y = 0 (or x = 0)
  const qreal tip = (Horizontal() ? r.height() : r.width()) * 0.45;
  if (Horizontal()) {
    if (towardLow) {
      path.moveTo(r.center().x(), r.top());
      path.lineTo(r.right(), r.top() + tip);
      path.lineTo(r.right(), r.bottom());
      path.lineTo(r.left(), r.bottom());
      path.lineTo(r.left(), r.top() + tip);
    } else {
      path.moveTo(r.center().x(), r.bottom());
      path.lineTo(r.right(), r.bottom() - tip);
      path.lineTo(r.right(), r.top());
      path.lineTo(r.left(), r.top());
      path.lineTo(r.left(), r.bottom() - tip);
    }
  } else {
    if (towardLow) {
      path.moveTo(r.left(), r.center().y());
      path.lineTo(r.left() + tip, r.top());
      path.lineTo(r.right(), r.top());
      path.lineTo(r.right(), r.bottom());
      path.lineTo(r.left() + tip, r.bottom());
    } else {
      path.moveTo(r.right(), r.center().y());
      path.lineTo(r.right() - tip, r.top());
      path.lineTo(r.left(), r.top());
      path.lineTo(r.left(), r.bottom());
      path.lineTo(r.right() - tip, r.bottom());
    }
  }
  path.closeSubpath();
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::black);
  p.setBrush(dither ? DitherBrush() : QBrush(FThumbColor));
  p.drawPath(path);
  p.restore();
}

// ---- Shape, mouse and keyboard ----------------------------------------------------------

void TTrackBar2::resizeEvent(QResizeEvent*) {
  UpdateShape();
}

void TTrackBar2::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange) update();
  QWidget::changeEvent(event);
}

void TTrackBar2::enterEvent(QEnterEvent*) {
  update();
}

void TTrackBar2::leaveEvent(QEvent*) {
  update();
}

void TTrackBar2::SetPositionFromMouse(bool upper, QPoint point) {
  if (upper)
    SetPositionU(PositionAt(point));
  else
    SetPositionL(PositionAt(point));
}

void TTrackBar2::mousePressEvent(QMouseEvent* event) {
  if (OnMouseDown) OnMouseDown(this, event);
  setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton) return;
  const QPoint point = event->position().toPoint();
  bool upper = false;
  if (FSecondThumb) {
    const QRect l = ThumbRect(FPositionL), u = ThumbRect(FPositionU);
    if (Horizontal())
      upper = point.x() > (l.right() + 1 + u.left()) / 2;
    else
      upper = point.y() < (l.top() + u.bottom() + 1) / 2;
  }
  const QRect thumb = ThumbRect(upper ? FPositionU : FPositionL);
  if (thumb.contains(point)) {
    (upper ? FTrackingU : FTrackingL) = true;
    return;
  }
  if (!(event->modifiers() & Qt::ShiftModifier)) {
    SetPositionFromMouse(upper, point);
    return;
  }
  const int current = upper ? FPositionU : FPositionL;
  const int step = PositionAt(point) > current ? FSmallChange : -FSmallChange;
  if (upper)
    SetPositionU(current + step);
  else
    SetPositionL(current + step);
}

void TTrackBar2::mouseMoveEvent(QMouseEvent* event) {
  if (OnMouseMove) OnMouseMove(this, event);
  if (FTrackingL) SetPositionFromMouse(false, event->position().toPoint());
  if (FTrackingU) SetPositionFromMouse(true, event->position().toPoint());
}

void TTrackBar2::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) FTrackingL = FTrackingU = false;
}

void TTrackBar2::keyPressEvent(QKeyEvent* event) {
  const bool upper = FSecondThumb && (event->modifiers() & Qt::ShiftModifier);
  int step = 0;
  switch (event->key()) {
    case Qt::Key_PageUp:
      step = FLargeChange;
      break;
    case Qt::Key_PageDown:
      step = -FLargeChange;
      break;
    case Qt::Key_Left:
    case Qt::Key_Down:
      step = -FSmallChange;
      break;
    case Qt::Key_Up:
    case Qt::Key_Right:
      step = FSmallChange;
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  if (upper)
    SetPositionU(FPositionU + step);
  else
    SetPositionL(FPositionL + step);
}
