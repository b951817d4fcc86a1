// Joins media's main-thread call queue to the Qt event loop.
//
// - Wake-up: a thread that queues a call (CallInMainThread) posts one event to the bridge;
//   the Qt loop (or any nested loop: a modal dialog, a menu) then runs the queued calls. At
//   most one wake-up event is pending at a time.
// - Pump: a wait of the main thread inside media or the engine (ProcessMessages, for example
//   a conversion stop that waits for its workers) lets Qt process its events, so the windows
//   keep painting. User input is held back during such waits (it is handled when the wait
//   ends), so a click cannot start new work in the middle of a stop.
//
// Threads: Install, Uninstall and the queued calls on the main thread (the thread that made
// the QApplication); the wake-up is called from any thread.
#pragma once

#include <QObject>
#include <atomic>

class TMainThreadBridge : public QObject {
 public:
  // Installs the hooks and makes the calling thread media's main thread. One bridge at a
  // time; it uninstalls itself when destroyed.
  TMainThreadBridge();
  ~TMainThreadBridge() override;

  // Wake-up events posted so far (tests and benchmarks).
  int WakeUps() const { return FWakeUps.load(); }

 protected:
  void customEvent(QEvent* event) override;

 private:
  void Wake();
  void Pump();

  std::atomic<bool> FPending{false};
  std::atomic<int> FWakeUps{0};
  bool FServing = false;  // running queued calls: ProcessMessages must not pump again
  bool FPumping = false;
};
