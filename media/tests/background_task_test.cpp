#include "media/background_task.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

TEST(BackgroundTask, RunsJobsInTurnOnAThreadOfItsOwn) {
  TBackgroundTask task;
  task.Wait();  // nothing started yet
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  for (int i = 0; i < 5; ++i)
    task.Start([&, i] {  // Start waits for the job before, so the vectors are the task's alone
      order.push_back(i);
      threads.push_back(std::this_thread::get_id());
    });
  task.Wait();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  for (const auto& id : threads) {
    EXPECT_EQ(id, threads[0]) << "one thread for every job";
    EXPECT_NE(id, std::this_thread::get_id());
  }
}

TEST(BackgroundTask, WaitRethrowsWhatTheJobThrewOnce) {
  TBackgroundTask task;
  task.Start([] { throw std::runtime_error("conversion failed"); });
  EXPECT_THROW(
      {
        try {
          task.Wait();
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "conversion failed");
          throw;
        }
      },
      std::runtime_error);
  EXPECT_NO_THROW(task.Wait());
  bool ran = false;
  task.Start([&] { ran = true; });  // the task goes on after a failed job
  task.Wait();
  EXPECT_TRUE(ran);
}

TEST(BackgroundTask, EndsOnlyAfterTheJobUnderway) {
  std::vector<int> written;
  {
    TBackgroundTask task;
    task.Start([&] {
      for (int i = 0; i < 100000; ++i) written.push_back(i);
    });
  }
  EXPECT_EQ(written.size(), 100000u);
}
