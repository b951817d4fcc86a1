#include "player/player_sync.h"

#include <cstdint>

extern "C" {
#include <libavutil/time.h>
}

#include <thread>

#include "media/main_thread.h"

void TManualEvent::Set() {
  {
    std::lock_guard lock(FLock);
    FSet = true;
  }
  FChanged.notify_all();
}

void TManualEvent::Reset() {
  std::lock_guard lock(FLock);
  FSet = false;
}

bool TManualEvent::IsSet() const {
  std::lock_guard lock(FLock);
  return FSet;
}

bool TManualEvent::WaitFor(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, timeout, [&] { return FSet; });
}

namespace {
constexpr std::chrono::milliseconds kSlice{5};
}

bool WaitServing(const TManualEvent& event, std::chrono::milliseconds timeout) {
  if (!IsMainThread()) return event.WaitFor(timeout);
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ProcessMessages();
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return event.IsSet();
    const auto slice = std::min<std::chrono::steady_clock::duration>(kSlice, end - now);
    if (event.WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(slice) +
                      std::chrono::milliseconds(1)))
      return true;
  }
}

bool WaitServing(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const bool main = IsMainThread();
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (main) ProcessMessages();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

double NowSeconds() {
  return double(av_gettime_relative()) / 1000000.0;
}
