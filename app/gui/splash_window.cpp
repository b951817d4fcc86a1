#include "app/gui/splash_window.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "app/gui/app_style.h"

TSplashWindow::TSplashWindow()
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("splash"));
  setAttribute(Qt::WA_DeleteOnClose);
  const QSize size = PictureSize(QStringLiteral("splash.svg"));
  setFixedSize(size.isEmpty() ? QSize(480, 280) : size);
  FPicture = RenderPicture(QStringLiteral("splash.svg"), this->size(), devicePixelRatioF());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = rect();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  FTimer.setInterval(1000);
  connect(&FTimer, &QTimer::timeout, this, [this] {
    if (FMainWindow && FMainWindow->isVisible()) close();
  });
  FTimer.start();
}

void TSplashWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), app_colors::kAccent);
  painter.drawPixmap(0, 0, FPicture);
}
