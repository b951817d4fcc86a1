#include "media/main_thread.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

namespace {

struct QueuedCall {
  const std::function<void()>* call = nullptr;
  std::exception_ptr error;
  bool done = false;
};

std::atomic<uint32_t> gMainThreadId{static_cast<uint32_t>(getpid())};

std::mutex gMutex;
std::condition_variable gQueued;    // main thread waits for calls
std::condition_variable gFinished;  // callers wait for their call to have run
std::deque<QueuedCall*> gQueue;
uint64_t gWakeups = 0;  // WakeMainThread calls, so that a waiter sees each one
std::function<void()> gPump;
std::function<void()> gWakeup;

bool RunQueuedCalls() {
  bool ran = false;
  for (;;) {
    QueuedCall* item;
    {
      std::lock_guard lock(gMutex);
      if (gQueue.empty()) break;
      item = gQueue.front();
      gQueue.pop_front();
    }
    std::exception_ptr error;
    try {
      (*item->call)();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(gMutex);
      item->error = std::move(error);  // the caller alone frees it
      item->done = true;
    }
    gFinished.notify_all();
    ran = true;
  }
  return ran;
}

}  // namespace

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(syscall(SYS_gettid));
}

bool IsMainThread() {
  return CurrentThreadId() == gMainThreadId.load();
}

void SetMainThread() {
  gMainThreadId = CurrentThreadId();
}

void CallInMainThread(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  QueuedCall item;
  item.call = &call;
  std::function<void()> wakeup;
  {
    std::lock_guard lock(gMutex);
    gQueue.push_back(&item);
    wakeup = gWakeup;
  }
  gQueued.notify_all();
  if (wakeup) wakeup();
  std::unique_lock lock(gMutex);
  gFinished.wait(lock, [&] { return item.done; });
  if (item.error) std::rethrow_exception(item.error);
}

void ProcessMessages() {
  RunQueuedCalls();
  std::function<void()> pump;
  {
    std::lock_guard lock(gMutex);
    pump = gPump;
  }
  if (pump) pump();
}

bool WaitForMainThreadCalls(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(gMutex);
    gQueued.wait_for(lock, timeout, [] { return !gQueue.empty(); });
  }
  bool ran = RunQueuedCalls();
  ProcessMessages();
  return ran;
}

void ServeMainThreadUntil(const std::function<bool()>& ready,
                          std::chrono::milliseconds pumpInterval) {
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard lock(gMutex);
      seen = gWakeups;
    }
    // Checked after taking the count: a change made from now on also moves the count.
    if (ready()) return;
    {
      std::unique_lock lock(gMutex);
      gQueued.wait_for(lock, pumpInterval, [&] { return !gQueue.empty() || gWakeups != seen; });
    }
    ProcessMessages();
  }
}

void WakeMainThread() {
  {
    std::lock_guard lock(gMutex);
    ++gWakeups;
  }
  gQueued.notify_all();
}

void TMainThreadServingMutex::lock() {
  if (!IsMainThread()) {
    FMutex.lock();
    return;
  }
  ++FMainWaiting;
  ServeMainThreadUntil([this] { return FMutex.try_lock(); });
  --FMainWaiting;
}

void TMainThreadServingMutex::unlock() {
  FMutex.unlock();
  if (FMainWaiting > 0) WakeMainThread();
}

void SetMessagePumpHook(std::function<void()> pump) {
  std::lock_guard lock(gMutex);
  gPump = std::move(pump);
}

void SetMainThreadWakeup(std::function<void()> wakeup) {
  std::lock_guard lock(gMutex);
  gWakeup = std::move(wakeup);
}
