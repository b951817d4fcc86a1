// TBackgroundTask runs one job at a time on a thread of its own, for work that overlaps with
// what its owner does meanwhile: the transcoder converts the next picture for its hook while
// the current one goes through the hook, the scaler and the encoder.
//
// Threads: one owner starts jobs and waits for them. The thread starts with the first job
// and ends with the object, which first waits for a job still running.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

class TBackgroundTask {
 public:
  TBackgroundTask() = default;
  ~TBackgroundTask();
  TBackgroundTask(const TBackgroundTask&) = delete;
  TBackgroundTask& operator=(const TBackgroundTask&) = delete;

  // Hands `job` to the thread. A job still running is waited for first (see Wait).
  void Start(std::function<void()> job);

  // Returns once the last job has ended, rethrowing what it threw (once). Returns at once
  // when there is none.
  void Wait();

 private:
  void Loop();

  std::thread FThread;
  std::mutex FLock;
  std::condition_variable FChanged;
  std::function<void()> FJob;  // set while a job waits or runs
  bool FQuit = false;
  std::exception_ptr FError;
};
