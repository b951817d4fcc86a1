#include "app/gui/main_thread_bridge.h"

#include <QCoreApplication>
#include <QEvent>

#include "media/main_thread.h"

namespace {

const QEvent::Type kWakeEvent = QEvent::Type(QEvent::registerEventType());

}  // namespace

TMainThreadBridge::TMainThreadBridge() {
  SetMainThread();
  SetMainThreadWakeup([this] { Wake(); });
  SetMessagePumpHook([this] { Pump(); });
}

TMainThreadBridge::~TMainThreadBridge() {
  SetMainThreadWakeup(nullptr);
  SetMessagePumpHook(nullptr);
}

void TMainThreadBridge::Wake() {
  // One event in the queue serves every call queued before it runs.
  if (FPending.exchange(true)) return;
  ++FWakeUps;
  QCoreApplication::postEvent(this, new QEvent(kWakeEvent), Qt::HighEventPriority);
}

void TMainThreadBridge::customEvent(QEvent* event) {
  if (event->type() != kWakeEvent) return;
  // Cleared before the calls run: a call queued while they run posts a fresh event.
  FPending = false;
  const bool serving = FServing;
  FServing = true;
  ProcessMessages();
  FServing = serving;
}

void TMainThreadBridge::Pump() {
  // Serving queued calls from the event loop already: the loop itself goes on afterwards.
  if (FServing || FPumping) return;
  FPumping = true;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  FPumping = false;
}
