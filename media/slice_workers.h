// TSliceWorkers splits one picture's work into horizontal bands and runs them at once: the
// calling thread takes the first band and helper threads the rest; RunRows returns when
// every band is done. The conversion loop is mostly one thread (decoder, encoder and muxer
// take turns), so per-picture colour conversion and effects would otherwise add their whole
// cost to it while the other cores idle.
//
// Only for work whose rows are independent of each other: the bands must give the same
// pixels as one pass over the whole picture.
//
// One pool serves a whole process (Shared()) or a job: converters and effects take it handed
// in rather than owning one each, so a conversion does not hold a pool per stage.
//
// Threads: RunRows from any thread. One round at a time runs on the helpers; a caller that
// finds a round underway runs its own bands one after the other on its own thread (the same
// bands, numbers and pixels), so two stages that share the pool never wait for each other.
// The helpers start at the first RunRows that has more than one band and end with the
// object.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TSliceWorkers {
 public:
  // threads counts the caller; 0 takes the machine's cores (at most 4, as more bands only
  // add hand-over cost at DVD sizes).
  explicit TSliceWorkers(int threads = 0);
  ~TSliceWorkers();
  TSliceWorkers(const TSliceWorkers&) = delete;
  TSliceWorkers& operator=(const TSliceWorkers&) = delete;

  int Threads() const { return FThreads; }

  // The process's pool (machine's cores, at most 4), made at the first call and kept to
  // the end of the process.
  static std::shared_ptr<TSliceWorkers> Shared();

  // Calls work(band, first, last) for bands [first, last) covering [0, rows), numbered from
  // 0 top-down (the same rows get the same number while rows, align and minRows stay). Every
  // band but the last starts and ends on a multiple of align; pictures shorter than minRows
  // per band get fewer bands. The first exception a band throws is rethrown here once all
  // bands ended.
  using TWork = std::function<void(int band, int first, int last)>;
  void RunRows(int rows, int align, int minRows, const TWork& work);

 private:
  void HelperLoop(int index);
  // The bands of one call, numbered as RunRows numbers them.
  static std::vector<std::pair<int, int>> Split(int rows, int align, int minRows, int threads);

  const int FThreads;
  std::atomic<bool> FRoundBusy{false};  // a caller's round runs on the helpers
  std::vector<std::thread> FHelpers;
  std::mutex FLock;
  std::condition_variable FWake;  // helpers wait here for a new round
  std::condition_variable FDone;  // the owner waits here for the round's end
  const TWork* FWork = nullptr;
  std::vector<std::pair<int, int>> FBands;  // the current round's bands; [0] is the owner's
  unsigned FRound = 0;
  int FPending = 0;
  bool FQuit = false;
  std::exception_ptr FError;
};
