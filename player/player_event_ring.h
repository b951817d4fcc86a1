// The ring that carries the player's position and state events from the playback threads
// to its event thread. Ten slots; a new item of the same kind as the newest one replaces it
// (consecutive positions, or consecutive states, coalesce), and when the ring is full the
// oldest item is dropped. So a slow receiver sees the newest position and never blocks a
// playback thread.
//
// Threads: any number of writers; one reader (the event thread). Push never blocks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "player/player_types.h"

enum TPlayerEventKind : uint8_t {
  pekNone = 0,      // what Pop returns on an empty ring
  pekPosition = 1,  // PTS holds the position
  pekState = 2,     // State holds the state
  pekEnd = 3,       // the event thread ends
};

struct TPlayerEventItem {
  TPlayerEventKind Kind = pekNone;
  TPlayState State = psPlay;
  int64_t PTS = 0;
};

// Whether a position is reported: the first one, and any that moved more than 10,000
// microseconds from the last one reported.
constexpr int64_t kPositionThreshold = 10000;
inline bool PositionWorthReporting(int64_t lastReported, int64_t position) {
  if (lastReported == kNoPTS) return true;
  const int64_t move = position > lastReported ? position - lastReported : lastReported - position;
  return move > kPositionThreshold;
}

class TPlayerEventRing {
 public:
  static constexpr int kSlots = 10;

  void Push(const TPlayerEventItem& item);
  // The oldest item, or one of Kind pekNone when the ring is empty.
  TPlayerEventItem Pop();
  // Blocks until an item is there (no limit).
  void WaitNotEmpty();
  int Count() const;

 private:
  mutable std::mutex FLock;
  std::condition_variable FNotEmpty;
  TPlayerEventItem FItems[kSlots];
  int FRead = 0;   // the oldest item
  int FCount = 0;  // items from FRead on
};
