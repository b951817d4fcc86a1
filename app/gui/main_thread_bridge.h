// Joins media's main-thread call queue to the Qt event loop.
//
// - Wake-up: a thread that queues a call (CallInMainThread) writes to an event counter (an
//   eventfd) that the Qt loop watches; any loop (the main one, a modal dialog's, a menu's)
//   then runs the queued calls. Nothing is allocated on the calling thread, and any number of
//   wake-ups before the loop looks make one.
// - Post: a call handed to the main thread without waiting for it (the floating preview
//   window's pictures); same wake-up, own queue.
// - Pump: a wait of the main thread inside media or the engine (ProcessMessages, for example
//   a conversion stop that waits for its workers) lets Qt process its events, so the windows
//   keep painting. User input is held back during such waits (it is handled when the wait
//   ends), so a click cannot start new work in the middle of a stop.
//
// Threads: the bridge is made, used and destroyed on the main thread (the thread that made
// the QApplication); the wake-up and Post are called from any thread.
#pragma once

#include <QObject>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>

class QSocketNotifier;

class TMainThreadBridge : public QObject {
 public:
  // Installs the hooks and makes the calling thread media's main thread. One bridge at a
  // time; it uninstalls itself when destroyed.
  TMainThreadBridge();
  ~TMainThreadBridge() override;

  // The bridge installed now, or null.
  static TMainThreadBridge* Instance();
  // Runs `call` on the main thread later; returns at once. Calls run in the order posted.
  void Post(std::function<void()> call);

  // Wake-ups signalled so far (tests and benchmarks).
  int WakeUps() const { return FWakeUps.load(); }

 private:
  void Wake();
  void Serve();
  void Pump();

  int FEventFd = -1;
  QSocketNotifier* FNotifier = nullptr;
  std::atomic<int> FWakeUps{0};
  std::mutex FPostLock;  // guards FPosted
  std::deque<std::function<void()>> FPosted;
  bool FServing = false;  // running queued calls: ProcessMessages must not pump again
  bool FPumping = false;
};
