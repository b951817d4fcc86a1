#include "media/slice_workers.h"

#include <algorithm>

namespace {
int ThreadsFor(int threads) {
  return threads > 0 ? threads : std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
}
}  // namespace

TSliceWorkers::TSliceWorkers(int threads) : FThreads(ThreadsFor(threads)) {}

std::shared_ptr<TSliceWorkers> TSliceWorkers::Shared() {
  static const std::shared_ptr<TSliceWorkers> pool = std::make_shared<TSliceWorkers>();
  return pool;
}

TSliceWorkers::~TSliceWorkers() {
  {
    std::lock_guard lock(FLock);
    FQuit = true;
  }
  FWake.notify_all();
  for (auto& helper : FHelpers) helper.join();
}

std::vector<std::pair<int, int>> TSliceWorkers::Split(int rows, int align, int minRows,
                                                      int threads) {
  std::vector<std::pair<int, int>> ranges;
  if (rows <= 0) return ranges;
  align = std::max(align, 1);
  int bands = std::min(threads, std::max(1, rows / std::max(minRows, 1)));
  // Band height rounded up to the alignment, so only the last band can be short.
  const int units = (rows + align - 1) / align;
  bands = std::min(bands, units);
  if (bands <= 1) {
    ranges.emplace_back(0, rows);
    return ranges;
  }
  const int step = (units + bands - 1) / bands * align;
  for (int first = 0; first < rows; first += step)
    ranges.emplace_back(first, std::min(rows, first + step));
  return ranges;
}

void TSliceWorkers::RunRows(int rows, int align, int minRows, const TWork& work) {
  const std::vector<std::pair<int, int>> ranges = Split(rows, align, minRows, FThreads);
  if (ranges.empty()) return;
  // A flag rather than a lock: a band that itself calls RunRows on this pool must not block.
  bool idle = false;
  if (ranges.size() == 1 || !FRoundBusy.compare_exchange_strong(idle, true)) {
    // One band, or the helpers serve another caller: every band here, in order.
    std::exception_ptr first;
    for (size_t band = 0; band < ranges.size(); ++band) {
      try {
        work(int(band), ranges[band].first, ranges[band].second);
      } catch (...) {
        if (!first) first = std::current_exception();
      }
    }
    if (first) std::rethrow_exception(first);
    return;
  }
  struct TRelease {
    std::atomic<bool>& Busy;
    ~TRelease() { Busy = false; }
  } release{FRoundBusy};

  {
    std::lock_guard lock(FLock);
    while (int(FHelpers.size()) < int(ranges.size()) - 1) {
      const int index = int(FHelpers.size()) + 1;
      FHelpers.emplace_back([this, index] { HelperLoop(index); });
    }
    FBands = ranges;
    FWork = &work;
    FPending = int(ranges.size()) - 1;
    FError = nullptr;
    ++FRound;
  }
  FWake.notify_all();

  std::exception_ptr mine;
  try {
    work(0, ranges[0].first, ranges[0].second);
  } catch (...) {
    mine = std::current_exception();
  }

  std::unique_lock lock(FLock);
  FDone.wait(lock, [this] { return FPending == 0; });
  FWork = nullptr;
  std::exception_ptr error = mine ? mine : FError;
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

void TSliceWorkers::HelperLoop(int index) {
  unsigned seen = 0;
  std::unique_lock lock(FLock);
  for (;;) {
    FWake.wait(lock, [&] { return FQuit || FRound != seen; });
    if (FQuit) return;
    seen = FRound;
    if (index >= int(FBands.size())) continue;  // this round has fewer bands
    const auto band = FBands[index];
    const auto* work = FWork;
    lock.unlock();
    std::exception_ptr error;
    try {
      (*work)(index, band.first, band.second);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    if (error && !FError) FError = error;
    if (--FPending == 0) FDone.notify_one();
  }
}
