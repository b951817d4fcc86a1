#include "app/gui/editors/picture_box.h"

#include <QPainter>

#include "app/gui/editors/editor_math.h"

QImage BitmapImage(const TBitmap& bitmap) {
  return QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.Stride(),
                QImage::Format_BGR888);
}

TPictureBox::TPictureBox(const QColor& background, QWidget* parent)
    : QWidget(parent), FBackground(background) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPictureBox::Clear() {
  if (FImage.size() != size()) FImage = QImage(size(), QImage::Format_RGB32);
  FImage.fill(FBackground);
  update();
}

QRect TPictureBox::DrawFitted(const TBitmap& bitmap) {
  if (bitmap.Empty()) return QRect();
  if (FImage.size() != size()) Clear();
  const QRect target = FitRect(QRect(0, 0, bitmap.Width(), bitmap.Height()), rect());
  QPainter painter(&FImage);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, BitmapImage(bitmap));
  update();
  return target.adjusted(1, 1, -1, -1);
}

void TPictureBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (FImage.isNull())
    painter.fillRect(rect(), FBackground);
  else
    painter.drawImage(0, 0, FImage);
}

void TPictureBox::resizeEvent(QResizeEvent*) {
  Clear();
}
