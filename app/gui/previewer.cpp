#include "app/gui/previewer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <mutex>

#include "app/gui/main_thread_bridge.h"
#include "app/gui/snapshot.h"
#include "media/bitmap.h"
#include "media/main_thread.h"
#include "media/probe_text.h"

namespace {

// Runs `call` on the main thread later, without waiting.
void PostToMainThread(std::function<void()> call) {
  if (TMainThreadBridge* bridge = TMainThreadBridge::Instance())
    bridge->Post(std::move(call));
  else
    QMetaObject::invokeMethod(qApp, std::move(call), Qt::QueuedConnection);
}

class TPreviewerWindow : public QWidget {
 public:
  TPreviewerWindow()
      : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                             Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName(QStringLiteral("previewerWindow"));
  }
  std::function<void()> OnClose;
  QImage Picture;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), Picture);
  }
  void closeEvent(QCloseEvent* event) override {
    if (OnClose) OnClose();
    event->accept();
  }
  // The picture moves the window, as its caption does.
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && windowHandle())
      if (!windowHandle()->startSystemMove()) FDrag = event->globalPosition().toPoint() - pos();
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (!FDrag.isNull() && (event->buttons() & Qt::LeftButton))
      move(event->globalPosition().toPoint() - FDrag);
  }
  void mouseReleaseEvent(QMouseEvent*) override { FDrag = QPoint(); }

 private:
  QPoint FDrag;
};

}  // namespace

struct TPreviewer::TShared {
  std::mutex Lock;  // guards the fields below
  bool Closed = false;
  bool Released = false;  // the previewer is gone: a picture still on its way is not shown
  bool Waiting = false;   // a picture is handed over and not yet shown
  TBitmap Pending;
  int64_t PendingTime = 0;
  int Shown = 0;
  int Dropped = 0;
  // Main thread only.
  QPointer<TPreviewerWindow> Window;
  QPointer<QWidget> Anchor;

  void ShowPending(const std::shared_ptr<TShared>& self);
};

void TPreviewer::TShared::ShowPending(const std::shared_ptr<TShared>& self) {
  QImage picture;
  int64_t time;
  {
    std::lock_guard lock(Lock);
    if (!Waiting) return;
    Waiting = false;
    if (Closed || Released) return;
    picture = ImageOf(Pending);
    time = PendingTime;
    ++Shown;
  }
  if (!Window) {
    Window = new TPreviewerWindow();
    std::weak_ptr<TShared> weak = self;
    Window->OnClose = [weak] {
      if (auto shared = weak.lock()) {
        std::lock_guard lock(shared->Lock);
        shared->Closed = true;
      }
    };
    // Centred on the screen, at the picture's size, unless that covers the progress window:
    // then beside it, on the side with more room, made smaller when the picture does not fit.
    const QScreen* screen = Anchor ? Anchor->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    QRect frame(QPoint(0, 0), picture.size());
    frame.moveCenter(area.center());
    if (Anchor && Anchor->isVisible() && frame.intersects(Anchor->frameGeometry())) {
      constexpr int kGap = 12, kSmallest = 120;
      const QRect a = Anchor->frameGeometry();
      const int rightRoom = area.right() - a.right() - kGap;
      const int leftRoom = a.left() - area.left() - kGap;
      const int room = std::max(rightRoom, leftRoom);
      if (room >= kSmallest) {
        const QSize size = picture.size().boundedTo(QSize(room, area.height()));
        frame.setSize(picture.size().scaled(size, Qt::KeepAspectRatio));
        frame.moveTop(std::max(area.top(), a.top()));
        if (rightRoom >= leftRoom)
          frame.moveLeft(a.right() + 1 + kGap);
        else
          frame.moveRight(a.left() - 1 - kGap);
      }
    }
    Window->setFixedSize(frame.size());
    Window->move(frame.topLeft());
    Window->show();
  }
  Window->Picture = std::move(picture);
  Window->setWindowTitle(QString::fromStdString(FormatDuration(time)));
  Window->update();
}

TPreviewer::TPreviewer(QPointer<QWidget> anchor) : FShared(std::make_shared<TShared>()) {
  FShared->Anchor = std::move(anchor);
}

TPreviewer::~TPreviewer() {
  {
    std::lock_guard lock(FShared->Lock);
    FShared->Released = true;
  }
  if (IsMainThread()) {
    delete FShared->Window.data();
    return;
  }
  // The window belongs to the main thread; it goes there without waiting, so a job freed on
  // its own thread while the main thread waits for it cannot dead-lock.
  auto shared = FShared;
  PostToMainThread([shared] { delete shared->Window.data(); });
}

bool TPreviewer::ShowPreview(const TBitmap& bitmap, int, int64_t time) {
  {
    std::lock_guard lock(FShared->Lock);
    if (FShared->Closed) return false;
    FShared->Pending = bitmap;
    FShared->PendingTime = time;
    if (FShared->Waiting) {
      ++FShared->Dropped;  // the picture waiting was never shown
      return true;
    }
    FShared->Waiting = true;
  }
  auto shared = FShared;
  PostToMainThread([shared] { shared->ShowPending(shared); });
  return true;
}

int TPreviewer::Shown() const {
  std::lock_guard lock(FShared->Lock);
  return FShared->Shown;
}

int TPreviewer::Dropped() const {
  std::lock_guard lock(FShared->Lock);
  return FShared->Dropped;
}

int TPreviewer::InFlight() const {
  std::lock_guard lock(FShared->Lock);
  return FShared->Waiting ? 1 : 0;
}

bool TPreviewer::PreviewClosed() const {
  std::lock_guard lock(FShared->Lock);
  return FShared->Closed;
}

QWidget* TPreviewer::Window() const {
  return FShared->Window.data();
}

TPreviewWindowFactory MakePreviewerFactory(QWidget* anchor) {
  // Copied on the conversion thread, read on the main thread only.
  QPointer<QWidget> guarded = anchor;
  return [guarded]() -> std::unique_ptr<TPreviewWindow> {
    return std::make_unique<TPreviewer>(guarded);
  };
}
