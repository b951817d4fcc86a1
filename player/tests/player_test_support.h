// Helpers of the player's tests: the libraries and the DVD plug-in, waits that keep the
// main-thread queue served, a record of the player's events, and the fixture discs.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "player/player.h"

// Loads the player's libraries and the DVD plug-in of this build tree; fails the calling
// test when they cannot be loaded.
void LoadPlayerLibraries();

// Serves main-thread calls until `done` or the timeout (generous: tests run under
// sanitizers on loaded machines). True when `done`.
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));
// Serves main-thread calls for `duration`.
void PumpFor(std::chrono::milliseconds duration);

// What the player reported, with the wall-clock time of each position.
class TEventLog {
 public:
  struct TPosition {
    std::chrono::steady_clock::time_point At;
    int64_t PTS;
  };
  void Attach(TCustomPlayer& player);
  std::vector<TPosition> Positions() const;
  std::vector<TPlayState> States() const;
  int Count(TPlayState state) const;
  bool Has(TPlayState state) const { return Count(state) > 0; }
  int64_t LastPosition() const;  // -1 before any
  void Clear();

 private:
  mutable std::mutex FLock;
  std::vector<TPosition> FPositions;
  std::vector<TPlayState> FStates;
};

// The title set's VOB of disc "disc_a" (title 1..3) in the build tree's fixtures.
std::string FixtureVob(const std::string& disc, int title);
// SetDVDParam with the selection, then "opendvd:" + the disc folder (or its ISO).
std::string SelectDVDTitle(const std::string& disc, int title, int audioId, int subtitleId,
                           bool iso = false);

// Threads of this process (to see that none stays behind).
int ProcessThreadCount();

// The index of the picture among `references` that `luma` matches best (mean absolute
// difference), with that difference.
int BestMatch(const std::vector<uint8_t>& luma, const std::vector<std::vector<uint8_t>>& references,
              double* difference = nullptr);
