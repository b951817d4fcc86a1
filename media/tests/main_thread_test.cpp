#include "media/main_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
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

// A worker holds the lock and, before it lets go, waits for a call on the main thread; the
// main thread's lock must serve that call, or neither ever goes on.
TEST(MainThread, ServingMutexServesCallsWhileItWaits) {
  TMainThreadServingMutex mutex;
  std::atomic<bool> held{false};
  bool served = false;  // main thread only
  std::thread worker([&] {
    std::lock_guard lock(mutex);
    held = true;
    CallInMainThread([&] { served = true; });
  });
  while (!held) std::this_thread::yield();
  {
    std::lock_guard lock(mutex);
    EXPECT_TRUE(served);
  }
  worker.join();
}

// A condition another thread makes true, with a wake-up and nothing queued, ends the wait
// (the pump interval is far longer than the test may wait, so only the wake-up can end it).
TEST(MainThread, ServeUntilEndsAtAWakeUp) {
  std::atomic<bool> ready{false};
  std::thread worker([&] {
    ready = true;
    WakeMainThread();
  });
  ServeMainThreadUntil([&] { return ready.load(); }, std::chrono::hours(1));
  EXPECT_TRUE(ready);
  worker.join();
}
