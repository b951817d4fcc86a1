// TTrackBar2: a track bar with an optional second thumb (a range selector), a track, ticks and
// thumbs that the owner may draw itself. The main window uses it for the preview position and
// volume; the editors for the trim range and the watermark time range.
//
// Moving a thumb repaints only the areas the thumb left and entered (and the line between
// two thumbs), never the whole control, so position updates that arrive many times a second
// do not flicker.
//
// Threads: main thread (a widget).
#pragma once

#include <QColor>
#include <QWidget>
#include <functional>

class QPainter;

enum TOrientation { toHorizontal, toVertical };
enum TTrackStyle { trUserDrawn, trFlat, trRaised, trLowered };
enum TTickStyle { tiUserDrawn, tiLine, tiSquare, tiRaisedSquare, tiLoweredSquare };
enum TTickOrientation { toTopLeft, toBottomRight, toBoth };
enum TThumbStyle {
  tsUserDrawn,
  tsRectangle,
  tsRaisedRectangle,
  tsLoweredRectangle,
  tsSmallPointer,
  tsMediumPointer,
  tsLargePointer
};

class TTrackBar2;
using TNotifyEvent = std::function<void(TTrackBar2* Sender)>;
using TDrawTrackEvent = std::function<void(TTrackBar2* Sender, QPainter& Canvas)>;
using TDrawThumbEvent = std::function<void(TTrackBar2* Sender, QPainter& Canvas, int X, int Y)>;
using TDrawTickEvent =
    std::function<void(TTrackBar2* Sender, QPainter& Canvas, int X, int Y, int Position)>;
using TTrackBarMouseEvent = std::function<void(TTrackBar2* Sender, QMouseEvent* Event)>;

class TTrackBar2 : public QWidget {
 public:
  explicit TTrackBar2(QWidget* parent = nullptr);

  int Max() const { return FMax; }
  void SetMax(int value);  // pulls PositionU (and PositionL) down to it
  int Min() const { return FMin; }
  void SetMin(int value);  // pushes PositionL up to it
  // Follows the shape: wider than tall is horizontal, taller than wide vertical.
  TOrientation Orientation() const;
  // Swaps width and height when the shape does not match.
  void SetOrientation(TOrientation value);
  int TrackSize() const { return FTrackSize; }
  void SetTrackSize(int value);
  TTrackStyle TrackStyle() const { return FTrackStyle; }
  void SetTrackStyle(TTrackStyle value);
  QColor TrackColor() const { return FTrackColor; }
  void SetTrackColor(const QColor& value);
  int TickSize() const { return FTickSize; }
  void SetTickSize(int value);
  TTickStyle TickStyle() const { return FTickStyle; }
  void SetTickStyle(TTickStyle value);  // tiLine makes TickColor black
  QColor TickColor() const { return FTickColor; }
  void SetTickColor(const QColor& value);
  TTickOrientation TickOrientation() const { return FTickOrientation; }
  void SetTickOrientation(TTickOrientation value);
  int TickInterval() const { return FTickInterval; }
  void SetTickInterval(int value);  // at least 1
  int PositionL() const { return FPositionL; }
  void SetPositionL(int value);
  int PositionU() const { return FPositionU; }
  void SetPositionU(int value);
  int SmallChange() const { return FSmallChange; }
  void SetSmallChange(int value) { FSmallChange = value; }
  int LargeChange() const { return FLargeChange; }
  void SetLargeChange(int value) { FLargeChange = value; }
  int ThumbSize() const { return FThumbSize; }
  void SetThumbSize(int value);
  TThumbStyle ThumbStyle() const { return FThumbStyle; }
  void SetThumbStyle(TThumbStyle value);
  QColor ThumbColor() const { return FThumbColor; }
  void SetThumbColor(const QColor& value);
  bool SecondThumb() const { return FSecondThumb; }
  void SetSecondThumb(bool value);
  bool DitherThumb() const { return FDitherThumb; }
  void SetDitherThumb(bool value);
  bool TrackingL() const { return FTrackingL; }
  bool TrackingU() const { return FTrackingU; }

  // Geometry, in the control's pixels.
  QRect TrackRect() const;
  QRect ThumbRectL() const { return ThumbRect(FPositionL); }
  QRect ThumbRectU() const { return ThumbRect(FPositionU); }
  // The position a mouse coordinate along the bar stands for (x, or y on a vertical bar).
  int PositionAt(QPoint point) const;

  // Events. OnChange fires on every change of either position.
  TNotifyEvent OnChange;
  TNotifyEvent OnPaint;
  TDrawTrackEvent OnDrawTrack;
  TDrawThumbEvent OnDrawThumb;
  TDrawTickEvent OnDrawTick;
  TTrackBarMouseEvent OnMouseDown;
  TTrackBarMouseEvent OnMouseMove;

  QSize sizeHint() const override { return QSize(500, 50); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  bool Horizontal() const { return Orientation() == toHorizontal; }
  int Length() const { return Horizontal() ? width() : height(); }
  int Thickness() const { return Horizontal() ? height() : width(); }
  int Range() const { return FMax - FMin; }
  int Travel() const { return Length() - FThumbSize; }
  // The thumb picture's size along and across the bar, and its offset from the thumb's
  // place on the track.
  int ThumbAlong() const;
  int ThumbAcross() const;
  int ThumbOffset() const;
  QRect ThumbRect(int position) const;
  // The line drawn between two thumbs.
  QRect BetweenRect() const;
  // Along-the-bar coordinate of a position's tick.
  int TickAt(int value) const;
  void UpdateShape();
  // Repaints only what moved: the thumbs' previous and new areas.
  void RedrawThumbs();
  void SetPositionFromMouse(bool upper, QPoint point);
  void Change();

  void DrawTrack(QPainter& painter);
  void DrawTicks(QPainter& painter);
  void DrawThumbs(QPainter& painter);
  void DrawThumb(QPainter& painter, const QRect& rect);
  QBrush DitherBrush() const;

  int FMax = 20, FMin = 0;
  TOrientation FOrientation = toHorizontal;
  int FTrackSize = 10;
  TTrackStyle FTrackStyle = trLowered;
  QColor FTrackColor = Qt::white;
  int FTickSize = 6;
  TTickStyle FTickStyle = tiRaisedSquare;
  QColor FTickColor;
  TTickOrientation FTickOrientation = toBoth;
  int FTickInterval = 1;
  int FPositionL = 0, FPositionU = 10;
  int FSmallChange = 1, FLargeChange = 2;
  int FThumbSize = 20;
  int FRectThumbSize = 20;  // the size to return to when a pointer style is left
  TThumbStyle FThumbStyle = tsRaisedRectangle;
  QColor FThumbColor;
  bool FSecondThumb = false;
  bool FDitherThumb = true;
  bool FTrackingL = false, FTrackingU = false;
  // Where the thumbs were last drawn, for hit tests and for repainting what they leave.
  QRect FDrawnL, FDrawnU, FDrawnBetween;
};
