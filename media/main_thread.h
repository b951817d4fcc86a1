// Calls that must run on the process's main thread, and the message pump that serves them.
//
// Engine threads hand work to the main thread with CallInMainThread and block until it has
// run. The main thread serves queued calls whenever it calls ProcessMessages, so any wait of
// the main thread for an engine thread must keep calling ProcessMessages (or
// WaitForMainThreadCalls), or the engine thread stalls.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

// The operating-system id of the calling thread (Linux tid).
uint32_t CurrentThreadId();

// True on the thread that is the main thread: the process's initial thread unless a
// toolkit claimed another with SetMainThread.
bool IsMainThread();

// Makes the calling thread the main thread (for programs whose event loop runs elsewhere).
void SetMainThread();

// Runs `call` on the main thread. On the main thread it runs at once; from any other
// thread it is queued, the wake-up hook is called, and the caller blocks until the main
// thread has run it. An exception thrown by `call` is rethrown in the caller.
void CallInMainThread(const std::function<void()>& call);

// Main thread only: runs every queued call, then the pump hook (a toolkit's own event
// processing), if one is installed.
void ProcessMessages();

// Main thread only: waits up to `timeout` for a queued call, then behaves as
// ProcessMessages. Returns true when at least one queued call ran. Lets a main thread that
// has no toolkit wait for workers without spinning.
bool WaitForMainThreadCalls(std::chrono::milliseconds timeout);

// Main thread only: serves queued calls (and the pump hook) until `ready` holds. `ready` is
// checked at the start and again after every wake-up: a queued call, a WakeMainThread, or
// `pumpInterval` without either (so that a toolkit's own events keep flowing). A thread that
// changes what `ready` reads calls WakeMainThread afterwards; no change goes unseen.
// Elsewhere `ready` is only polled at `pumpInterval`, so wait on a condition there instead.
void ServeMainThreadUntil(const std::function<bool()>& ready,
                          std::chrono::milliseconds pumpInterval = std::chrono::milliseconds(50));

// Any thread: makes a ServeMainThreadUntil of the main thread check its condition again.
void WakeMainThread();

// A recursive mutex whose lock, on the main thread, serves main-thread calls while it waits:
// the holder may be a worker blocked on a main-thread delivery (a log line, an event), which
// would otherwise never release it.
class TMainThreadServingMutex {
 public:
  void lock();
  bool try_lock() { return FMutex.try_lock(); }
  void unlock();

 private:
  std::recursive_mutex FMutex;
  std::atomic<int> FMainWaiting{0};
};

// The pump hook runs at the end of every ProcessMessages (a GUI installs
// QCoreApplication::processEvents). The wake-up hook is called from the queuing thread each
// time a call is queued (a GUI posts an event so that its loop serves the queue). Either
// may be empty. Install them on the main thread before workers start.
void SetMessagePumpHook(std::function<void()> pump);
void SetMainThreadWakeup(std::function<void()> wakeup);
