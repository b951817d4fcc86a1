#include "app/gui/player_qt_main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "media/main_thread.h"

namespace {
// Set while the loop itself serves the queue: the pump must not run the loop again inside.
bool gServingFromLoop = false;
}  // namespace

void InstallQtMainThreadPump() {
  SetMainThread();
  SetMessagePumpHook([] {
    if (!gServingFromLoop) QCoreApplication::processEvents();
  });
  SetMainThreadWakeup([] {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
          gServingFromLoop = true;
          ProcessMessages();
          gServingFromLoop = false;
        },
        Qt::QueuedConnection);
  });
}
