// The splash window shown while the program starts: borderless, centred on the screen, the
// size of its picture. It closes itself at the first tick of its one-second timer at which
// the main window is showing.
//
// Threads: main thread (a widget).
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

class TSplashWindow : public QWidget {
 public:
  TSplashWindow();
  // The window whose showing ends the splash.
  void SetMainWindow(QWidget* window) { FMainWindow = window; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap FPicture;
  QTimer FTimer;
  QPointer<QWidget> FMainWindow;
};
