// Small waiting primitives of the player: a manual-reset event, and waits that keep
// serving main-thread calls when made on the main thread (a playback thread may be blocked
// in CallInMainThread while the main thread waits for it).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class TManualEvent {
 public:
  explicit TManualEvent(bool initiallySet) : FSet(initiallySet) {}
  void Set();
  void Reset();
  bool IsSet() const;
  // True when set within `timeout`.
  bool WaitFor(std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex FLock;
  mutable std::condition_variable FChanged;
  bool FSet;
};

// Waits up to `timeout` for `event`. On the main thread the wait runs in short slices and
// runs queued main-thread calls (ProcessMessages) between them. True when set.
bool WaitServing(const TManualEvent& event, std::chrono::milliseconds timeout);

// The same for a condition polled every few milliseconds.
bool WaitServing(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Seconds on a monotonic clock (the player's "now").
double NowSeconds();
