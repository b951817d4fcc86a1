#include "player/player_event_ring.h"

void TPlayerEventRing::Push(const TPlayerEventItem& item) {
  {
    std::lock_guard lock(FLock);
    const int newest = (FRead + FCount - 1 + kSlots) % kSlots;
    if (FCount > 0 && FItems[newest].Kind == item.Kind) {
      FItems[newest] = item;
    } else {
      if (FCount == kSlots) {  // full: the oldest goes
        FRead = (FRead + 1) % kSlots;
        --FCount;
      }
      FItems[(FRead + FCount) % kSlots] = item;
      ++FCount;
    }
  }
  FNotEmpty.notify_one();
}

TPlayerEventItem TPlayerEventRing::Pop() {
  std::lock_guard lock(FLock);
  if (FCount == 0) return {};
  TPlayerEventItem item = FItems[FRead];
  FRead = (FRead + 1) % kSlots;
  --FCount;
  return item;
}

void TPlayerEventRing::WaitNotEmpty() {
  std::unique_lock lock(FLock);
  FNotEmpty.wait(lock, [&] { return FCount > 0; });
}

int TPlayerEventRing::Count() const {
  std::lock_guard lock(FLock);
  return FCount;
}
