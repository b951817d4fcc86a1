// A fixed picture area that shows one picture fitted into it (proportions kept, centred) over
// a background colour, as the crop editor's source and output pictures.
//
// Threads: main thread.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>

#include "media/bitmap.h"

class TPictureBox : public QWidget {
 public:
  TPictureBox(const QColor& background, QWidget* parent = nullptr);

  // Fills the box with its background.
  void Clear();
  // Draws the bitmap stretched into FitRect(bitmap, box) and returns that rectangle inset by
  // one pixel on each side, in the box's coordinates; nothing (an empty rectangle) for an
  // empty bitmap.
  QRect DrawFitted(const TBitmap& bitmap);
  // What the box shows, at its own size.
  const QImage& Shown() const { return FImage; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QColor FBackground;
  QImage FImage;
};

// The bitmap as a QImage sharing its pixels (valid while the bitmap lives unchanged in size).
QImage BitmapImage(const TBitmap& bitmap);
