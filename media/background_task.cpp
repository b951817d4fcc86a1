#include "media/background_task.h"

#include <utility>

TBackgroundTask::~TBackgroundTask() {
  {
    std::unique_lock lock(FLock);
    FChanged.wait(lock, [this] { return !FJob; });
    FQuit = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
}

void TBackgroundTask::Start(std::function<void()> job) {
  Wait();
  {
    std::lock_guard lock(FLock);
    FJob = std::move(job);
    if (!FThread.joinable()) FThread = std::thread([this] { Loop(); });
  }
  FChanged.notify_all();
}

void TBackgroundTask::Wait() {
  std::unique_lock lock(FLock);
  FChanged.wait(lock, [this] { return !FJob; });
  if (FError) std::rethrow_exception(std::exchange(FError, nullptr));
}

void TBackgroundTask::Loop() {
  std::unique_lock lock(FLock);
  for (;;) {
    FChanged.wait(lock, [this] { return FQuit || FJob; });
    if (FQuit) return;
    lock.unlock();
    std::exception_ptr error;
    try {
      FJob();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    FError = error;
    FJob = nullptr;
    FChanged.notify_all();
  }
}
