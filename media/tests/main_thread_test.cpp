#include "media/main_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

TEST(MainThread, TestRunnerIsTheMainThread) {
  EXPECT_TRUE(IsMainThread());
}

TEST(MainThread, CallOnMainThreadRunsAtOnce) {
  bool ran = false;
  CallInMainThread([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(MainThread, EightThreadsAtOnceAllRunOnMainThreadAndWait) {
  constexpr int kThreads = 8, kCallsEach = 50;
  std::atomic<int> finishedThreads{0};
  std::atomic<int> ranOffMain{0};
  std::atomic<int> returnedEarly{0};
  int callsRun = 0;  // touched only on the main thread: TSan checks that claim
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kCallsEach; ++i) {
        bool ran = false;
        CallInMainThread([&] {
          if (!IsMainThread()) ++ranOffMain;
          ++callsRun;
          ran = true;
        });
        if (!ran) ++returnedEarly;
        EXPECT_FALSE(IsMainThread());
      }
      ++finishedThreads;
    });
  }
  while (finishedThreads < kThreads) WaitForMainThreadCalls(std::chrono::milliseconds(50));
  for (auto& t : threads) t.join();
  EXPECT_EQ(callsRun, kThreads * kCallsEach);
  EXPECT_EQ(ranOffMain, 0);
  EXPECT_EQ(returnedEarly, 0);
}

TEST(MainThread, ExceptionReachesTheCaller) {
  std::string caught;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      CallInMainThread([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
  });
  while (!done) ProcessMessages();
  worker.join();
  EXPECT_EQ(caught, "boom");
}

TEST(MainThread, WakeupAndPumpHooksAreCalled) {
  std::atomic<int> wakeups{0};
  int pumps = 0;
  SetMainThreadWakeup([&] { ++wakeups; });
  SetMessagePumpHook([&] { ++pumps; });
  std::atomic<bool> done{false};
  std::thread worker([&] {
    CallInMainThread([] {});
    done = true;
  });
  while (!done) WaitForMainThreadCalls(std::chrono::milliseconds(20));
  worker.join();
  SetMainThreadWakeup(nullptr);
  SetMessagePumpHook(nullptr);
  EXPECT_EQ(wakeups, 1);
  EXPECT_GE(pumps, 1);
}

TEST(MainThread, WaitTimesOutWithoutCalls) {
  EXPECT_FALSE(WaitForMainThreadCalls(std::chrono::milliseconds(1)));
}
