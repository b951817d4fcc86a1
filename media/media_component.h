// The common base of the engine's components (logger, probe, converter, player).
#pragma once

class TMediaComponent {
 public:
  explicit TMediaComponent(TMediaComponent* owner = nullptr) : Owner(owner) {}
  virtual ~TMediaComponent() = default;
  TMediaComponent(const TMediaComponent&) = delete;
  TMediaComponent& operator=(const TMediaComponent&) = delete;

  // When true, events raised on worker threads run on the main thread while the worker
  // waits (see media/main_thread.h); when false they run on the raising thread.
  bool TriggerEventInMainThread = true;

  TMediaComponent* GetOwner() const { return Owner; }

 private:
  TMediaComponent* Owner;
};
