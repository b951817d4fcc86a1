#include "media/slice_workers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// The bands of one RunRows, sorted, and which threads ran them.
struct TRound {
  std::vector<std::pair<int, int>> Bands;
  std::set<std::thread::id> Threads;
};

TRound Bands(TSliceWorkers& workers, int rows, int align, int minRows) {
  TRound round;
  std::mutex lock;
  std::vector<std::tuple<int, int, int>> numbered;  // first, last, band
  workers.RunRows(rows, align, minRows, [&](int band, int first, int last) {
    std::lock_guard guard(lock);
    numbered.emplace_back(first, last, band);
    round.Threads.insert(std::this_thread::get_id());
  });
  std::sort(numbered.begin(), numbered.end());
  for (size_t i = 0; i < numbered.size(); ++i) {
    const auto [first, last, band] = numbered[i];
    EXPECT_EQ(band, int(i)) << "bands are numbered top-down";
    round.Bands.emplace_back(first, last);
  }
  return round;
}

}  // namespace

TEST(SliceWorkers, BandsCoverEveryRowOnceOnAlignedBoundaries) {
  struct {
    int threads, rows, align, minRows;
    std::vector<std::pair<int, int>> expected;
  } cases[] = {
      {2, 576, 2, 16, {{0, 288}, {288, 576}}},
      {2, 575, 2, 16, {{0, 288}, {288, 575}}},  // odd height: only the last band is short
      {3, 100, 4, 1, {{0, 36}, {36, 72}, {72, 100}}},
      {4, 6, 2, 1, {{0, 2}, {2, 4}, {4, 6}}},  // fewer alignment units than threads
      {2, 20, 2, 16, {{0, 20}}},               // too short to be worth a second band
      {1, 576, 2, 16, {{0, 576}}},
      {4, 1, 2, 1, {{0, 1}}},
  };
  for (const auto& c : cases) {
    TSliceWorkers workers(c.threads);
    EXPECT_EQ(Bands(workers, c.rows, c.align, c.minRows).Bands, c.expected)
        << c.threads << " threads, " << c.rows << " rows";
  }
}

TEST(SliceWorkers, RoundsRunOnSeveralThreadsAndReuseThem) {
  TSliceWorkers workers(2);
  std::set<std::thread::id> seen;
  for (int i = 0; i < 50; ++i) {
    const TRound round = Bands(workers, 64, 2, 1);
    ASSERT_EQ(round.Bands.size(), 2u);
    EXPECT_EQ(round.Threads.size(), 2u);
    seen.insert(round.Threads.begin(), round.Threads.end());
  }
  EXPECT_EQ(seen.size(), 2u);  // the caller and one helper, not a thread per round
  EXPECT_NE(seen.count(std::this_thread::get_id()), 0u);
  // A round with fewer bands after a wider one leaves the spare helper out.
  EXPECT_EQ(Bands(workers, 1, 1, 1).Bands.size(), 1u);
  EXPECT_EQ(Bands(workers, 64, 2, 1).Bands.size(), 2u);
}

TEST(SliceWorkers, ExceptionOfAnyBandReachesTheCallerAfterAllBandsEnded) {
  TSliceWorkers workers(3);
  for (int failing = 0; failing < 3; ++failing) {
    std::atomic<int> finished{0};
    EXPECT_THROW(workers.RunRows(90, 1, 1,
                                 [&](int, int first, int) {
                                   if (first / 30 == failing) throw std::runtime_error("band");
                                   ++finished;
                                 }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 2);
  }
  // The workers stay usable.
  EXPECT_EQ(Bands(workers, 90, 1, 1).Bands.size(), 3u);
}

TEST(SliceWorkers, NothingToDoCallsNothing) {
  TSliceWorkers workers(2);
  int calls = 0;
  workers.RunRows(0, 2, 1, [&](int, int, int) { ++calls; });
  EXPECT_EQ(calls, 0);
}

// Two stages converting at once through one pool (the look-ahead and the hook, say): each
// call gets every one of its bands, numbered as alone, whichever of them holds the helpers.
TEST(SliceWorkers, CallersSharingOnePoolEachGetTheirWholeRound) {
  auto workers = TSliceWorkers::Shared();
  ASSERT_EQ(workers, TSliceWorkers::Shared()) << "one pool per process";
  TSliceWorkers alone(workers->Threads());
  const std::vector<std::pair<int, int>> expected = Bands(alone, 576, 2, 16).Bands;
  std::vector<std::vector<std::pair<int, int>>> seen(2);
  {
    std::vector<std::thread> callers;
    for (int c = 0; c < 2; ++c)
      callers.emplace_back([&, c] {
        for (int i = 0; i < 200; ++i) {
          const TRound round = Bands(*workers, 576, 2, 16);
          if (round.Bands != expected) {
            seen[c] = round.Bands;
            return;
          }
        }
        seen[c] = expected;
      });
    for (auto& caller : callers) caller.join();
  }
  EXPECT_EQ(seen[0], expected);
  EXPECT_EQ(seen[1], expected);
}

TEST(SliceWorkers, BandMayUseThePoolItself) {
  TSliceWorkers workers(2);
  std::atomic<int> rows{0};
  workers.RunRows(64, 2, 1, [&](int, int first, int last) {
    workers.RunRows(last - first, 1, 1, [&](int, int a, int b) { rows += b - a; });
  });
  EXPECT_EQ(rows.load(), 64);
}
