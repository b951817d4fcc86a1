#include "app/gui/main_thread_bridge.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdint>
#include <stdexcept>

#include "media/main_thread.h"

namespace {

std::atomic<TMainThreadBridge*> gInstance{nullptr};

}  // namespace

TMainThreadBridge::TMainThreadBridge() {
  FEventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FEventFd < 0) throw std::runtime_error("Cannot create the main thread's wake-up event");
  FNotifier = new QSocketNotifier(FEventFd, QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] { Serve(); });
  SetMainThread();
  gInstance = this;
  SetMainThreadWakeup([this] { Wake(); });
  SetMessagePumpHook([this] { Pump(); });
}

TMainThreadBridge::~TMainThreadBridge() {
  SetMainThreadWakeup(nullptr);
  SetMessagePumpHook(nullptr);
  gInstance = nullptr;
  // Calls posted and never run are dropped here, on the main thread.
  delete FNotifier;
  close(FEventFd);
}

TMainThreadBridge* TMainThreadBridge::Instance() {
  return gInstance.load();
}

void TMainThreadBridge::Wake() {
  ++FWakeUps;
  const uint64_t one = 1;
  // The counter only fails to take more when it is about to overflow: the loop is awake then.
  [[maybe_unused]] const ssize_t written = write(FEventFd, &one, sizeof one);
}

void TMainThreadBridge::Post(std::function<void()> call) {
  {
    std::lock_guard lock(FPostLock);
    FPosted.push_back(std::move(call));
  }
  Wake();
}

void TMainThreadBridge::Serve() {
  // Read before the calls run: a call queued while they run wakes the loop again.
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(FEventFd, &count, sizeof count);
  struct TServing {
    bool& Flag;
    const bool Was;
    explicit TServing(bool& flag) : Flag(flag), Was(flag) { Flag = true; }
    ~TServing() { Flag = Was; }
  } serving(FServing);
  ProcessMessages();
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard lock(FPostLock);
      if (FPosted.empty()) break;
      call = std::move(FPosted.front());
      FPosted.pop_front();
    }
    call();
  }
}

void TMainThreadBridge::Pump() {
  // Serving queued calls from the event loop already: the loop itself goes on afterwards.
  if (FServing || FPumping) return;
  FPumping = true;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  FPumping = false;
}
