#include "app/gui/video_widget.h"

#include <cstdint>

extern "C" {
#include <libswscale/swscale.h>
}

#include <QMetaObject>
#include <QPainter>
#include <QResizeEvent>
#include <atomic>
#include <mutex>
#include <vector>

#include "media/ffmpeg_ptr.h"

// The output side: runs on the player's play thread, hands pictures over under FLock.
class TVideoWidget::TOutput : public TVideoOutput {
 public:
  explicit TOutput(TVideoWidget* widget) : FWidget(widget) {}

  // GUI thread.
  void Detach() {
    std::lock_guard lock(FLock);
    FWidget = nullptr;
  }
  void Resized(int width, int height) {
    FWidth = width;
    FHeight = height;
    std::lock_guard lock(FListenerLock);
    if (FListener) FListener->OutputResized(width, height);
  }
  // Reports the widget's size only when it differs from the last one reported.
  void SizeKnown(int width, int height) {
    if (width != FWidth || height != FHeight) Resized(width, height);
  }
  // Takes the newest picture for painting (GUI thread).
  void Paint(QPainter& painter, const QSize& widgetSize) {
    {
      std::lock_guard lock(FLock);
      FRepaintPosted = false;
      if (FHasNew) {
        FShown = std::move(FNewest);
        FNewest = TPicture();
        FHasNew = false;
        ++FPainted;
      }
    }
    painter.fillRect(QRect(QPoint(0, 0), widgetSize), Qt::black);
    if (FShown.Pixels.empty()) return;
    // The pixels stay this thread's while painted (no image data is shared across threads).
    const QImage image = FShown.Image();
    QRect target = FShown.Rect;
    if (FShown.Surface != widgetSize && FShown.Surface.width() > 0 && FShown.Surface.height() > 0) {
      // The window changed size since: scale until the player draws for the new size.
      const double sx = double(widgetSize.width()) / FShown.Surface.width();
      const double sy = double(widgetSize.height()) / FShown.Surface.height();
      target = QRect(int(target.x() * sx), int(target.y() * sy), int(target.width() * sx),
                     int(target.height() * sy));
    }
    if (target.size() == image.size()) {
      painter.drawImage(target.topLeft(), image);
    } else {
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(target, image);
    }
  }
  void Clear() {
    std::lock_guard lock(FLock);
    FNewest = TPicture();
    FShown = TPicture();
    FHasNew = false;
  }
  int Painted() const {
    std::lock_guard lock(FLock);
    return FPainted;
  }
  int Dropped() const {
    std::lock_guard lock(FLock);
    return FDropped;
  }
  QImage Last() const {
    std::lock_guard lock(FLock);
    return (FHasNew ? FNewest : FShown).Image().copy();
  }

  // TVideoOutput (play thread, except ClientSize and the listener).
  void ClientSize(int& width, int& height) override {
    width = FWidth;
    height = FHeight;
  }
  void SetListener(TVideoOutputListener* listener) override {
    std::lock_guard lock(FListenerLock);
    FListener = listener;
  }
  bool SetVideoMode(int width, int height) override {
    FSurface = QSize(width, height);
    return true;
  }
  void DisplayOverlay(TOverlay& overlay, const TVideoRect& rect, int64_t) override {
    if (rect.Width <= 0 || rect.Height <= 0) return;
    // Converted and scaled into the rectangle in one pass, so painting is a plain copy.
    SwsContext* scaler = sws_getCachedContext(
        FScaler.release(), overlay.Width(), overlay.Height(), AV_PIX_FMT_YUV420P, rect.Width,
        rect.Height, AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr);
    FScaler.reset(scaler);
    if (!scaler) return;
    TPicture picture;
    picture.Width = rect.Width;
    picture.Height = rect.Height;
    // Scalers may write a little past a row's end: rows of whole 16-pixel blocks, one spare.
    picture.Stride = ((rect.Width + 15) & ~15) * 4;
    picture.Pixels.resize(size_t(picture.Stride) * (rect.Height + 1));
    const uint8_t* planes[4] = {overlay.Plane(0), overlay.Plane(1), overlay.Plane(2), nullptr};
    const int pitches[4] = {overlay.Pitch(0), overlay.Pitch(1), overlay.Pitch(2), 0};
    uint8_t* out[4] = {picture.Pixels.data(), nullptr, nullptr, nullptr};
    const int outPitch[4] = {picture.Stride, 0, 0, 0};
    sws_scale(scaler, planes, pitches, 0, overlay.Height(), out, outPitch);
    picture.Rect = QRect(rect.X, rect.Y, rect.Width, rect.Height);
    picture.Surface = FSurface;
    HandOver(std::move(picture));
  }
  void DisplayScreen(const TBitmap& screen, const TVideoRect&) override {
    if (screen.Empty()) return;
    TPicture picture;
    picture.Width = screen.Width();
    picture.Height = screen.Height();
    picture.Stride = picture.Width * 4;
    picture.Pixels.resize(size_t(picture.Stride) * picture.Height);
    for (int y = 0; y < picture.Height; ++y) {
      const uint8_t* from = screen.ScanLine(y);
      uint8_t* to = picture.Pixels.data() + size_t(y) * picture.Stride;
      for (int x = 0; x < picture.Width; ++x, from += 3, to += 4) {
        to[0] = from[0];  // RGB32 is blue, green, red, 0xff in memory
        to[1] = from[1];
        to[2] = from[2];
        to[3] = 0xff;
      }
    }
    picture.Rect = QRect(0, 0, picture.Width, picture.Height);
    picture.Surface = FSurface;
    HandOver(std::move(picture));
  }

 private:
  // Plain memory moved from the play thread to the GUI thread under FLock; wrapped in a
  // QImage only where it is painted.
  struct TPicture {
    std::vector<uint8_t> Pixels;  // RGB32 rows of Stride bytes
    int Width = 0, Height = 0, Stride = 0;
    QRect Rect;     // in the surface
    QSize Surface;  // the surface size it was drawn for
    QImage Image() const {
      return Pixels.empty() ? QImage()
                            : QImage(Pixels.data(), Width, Height, Stride, QImage::Format_RGB32);
    }
  };

  void HandOver(TPicture picture) {
    std::lock_guard lock(FLock);
    if (FHasNew) ++FDropped;
    FNewest = std::move(picture);
    FHasNew = true;
    if (FWidget && !FRepaintPosted) {
      FRepaintPosted = true;
      // A queued call of the widget's own slot: Qt makes and frees the call inside its event
      // queue (dropped if the widget is gone), so nothing of this thread's reaches the GUI
      // thread except the picture, which FLock guards.
      QMetaObject::invokeMethod(FWidget, "update", Qt::QueuedConnection);
    }
  }

  std::atomic<int> FWidth{0}, FHeight{0};
  QSize FSurface;         // play thread
  SwsContextPtr FScaler;  // play thread
  mutable std::mutex FLock;
  TVideoWidget* FWidget;
  TPicture FNewest, FShown;
  bool FHasNew = false;
  bool FRepaintPosted = false;
  int FPainted = 0, FDropped = 0;
  std::mutex FListenerLock;
  TVideoOutputListener* FListener = nullptr;
};

TVideoWidget::TVideoWidget(QWidget* parent)
    : QWidget(parent), FOutput(std::make_unique<TOutput>(this)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAutoFillBackground(false);
  setMinimumSize(64, 48);
  setFocusPolicy(Qt::StrongFocus);
  FOutput->Resized(width(), height());
}

TVideoWidget::~TVideoWidget() {
  FOutput->Detach();
}

TVideoOutput* TVideoWidget::Output() {
  // A widget placed but not shown yet gets its resize event only when it shows; the player
  // asks for the size when it opens, and would scale its first pictures for the old one.
  FOutput->SizeKnown(width(), height());
  return FOutput.get();
}

int TVideoWidget::PaintedPictures() const {
  return FOutput->Painted();
}

int TVideoWidget::DroppedPictures() const {
  return FOutput->Dropped();
}

QImage TVideoWidget::LastPicture() const {
  return FOutput->Last();
}

void TVideoWidget::Clear() {
  FOutput->Clear();
  update();
}

void TVideoWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  FOutput->Paint(painter, size());
}

void TVideoWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FOutput->Resized(event->size().width(), event->size().height());
}
