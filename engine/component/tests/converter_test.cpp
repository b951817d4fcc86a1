// The conversion component on real conversions of the fixture disc's titles.
#include "engine/component/converter.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "media/bitmap.h"
#include "media/loader.h"
#include "media/main_thread.h"
#include "tests/support/test_support.h"

// FFmpeg's codec threads hand pictures over with atomics inside the (uninstrumented) library,
// which ThreadSanitizer cannot see; its reports about memory inside libavcodec say nothing
// about this program's own synchronisation. The same holds for libavutil's reference counts:
// a picture the encoding thread read and let go of is freed by the conversion thread when it
// lets go of the last reference.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libavcodec.so\nrace:av_buffer_unref\n";
}

namespace {

using namespace std::chrono_literals;

std::string Title(int number) {
  return FixturesDir() + "/disc_a/VIDEO_TS/VTS_0" + std::to_string(number) + "_1.VOB";
}

// Serves main-thread calls until `done` holds; false after `limit` (a hang shows as a failure).
bool PumpUntil(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    WaitForMainThreadCalls(10ms);
  }
  return true;
}

// Serves main-thread calls for `span`.
void PumpFor(std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) WaitForMainThreadCalls(10ms);
}

// A small, quick output: quarter-size MPEG-4 with MP2 audio in Matroska.
TOutputOptions SmallOutput() {
  TOutputOptions options;
  options.VideoCodec = "mpeg4";
  options.AudioCodec = "mp2";
  options.FrameSize = "176x144";
  return options;
}

struct EventLog {
  std::mutex mutex;
  std::vector<TTerminateInfo> terminations;
  std::vector<TProgressInfo> progress;
  std::atomic<bool> finalSeen{false};
  std::atomic<int> progressCount{0};

  void Attach(TConverter& converter) {
    converter.OnTerminate = [this](TCustomConverter*, const TTerminateInfo& info) {
      std::lock_guard lock(mutex);
      terminations.push_back(info);
      if (info.JobIndex == -1) finalSeen = true;
    };
    converter.OnProgress = [this](TCustomConverter*, PProgressInfo info) {
      std::lock_guard lock(mutex);
      progress.push_back(*info);
      ++progressCount;
    };
  }
  std::vector<TTerminateInfo> Terminations() {
    std::lock_guard lock(mutex);
    return terminations;
  }
};

class ConverterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(IsMainThread());
    ASSERT_TRUE(converter.LoadLibrariesFrom(""));
    folder = TestFolder();
  }

  // Adds a job converting `title` into a small file; returns its output name.
  std::string AddJob(int title, const std::string& name, TOutputOptions options = SmallOutput()) {
    const int index = converter.AddTask(Title(title));
    EXPECT_GE(index, 0) << converter.LastError();
    const std::string output = folder + "/" + name + ".mkv";
    EXPECT_TRUE(converter.SetOutputFile(index, output, &options)) << converter.LastError();
    return output;
  }

  // Every job once, then one final event, in that order.
  void ExpectCompleteRun(const std::vector<TTerminateInfo>& events, int jobs, bool finished) {
    ASSERT_EQ(events.size(), size_t(jobs + 1));
    std::vector<int> seen;
    for (int i = 0; i < jobs; ++i) {
      EXPECT_GE(events[size_t(i)].JobIndex, 0);
      EXPECT_EQ(events[size_t(i)].Finished, finished) << "job " << events[size_t(i)].JobIndex;
      EXPECT_FALSE(events[size_t(i)].Failed) << events[size_t(i)].ErrorMessage;
      seen.push_back(events[size_t(i)].JobIndex);
    }
    std::sort(seen.begin(), seen.end());
    for (int i = 0; i < jobs; ++i) EXPECT_EQ(seen[size_t(i)], i);
    const TTerminateInfo& last = events.back();
    EXPECT_EQ(last.JobIndex, -1);
    EXPECT_TRUE(last.Finished);
    EXPECT_FALSE(last.Failed);
    EXPECT_EQ(last.ErrorMessage, "");
  }

  TConverter converter;
  std::string folder;
  EventLog log;
};

TEST_F(ConverterTest, SynchronousRunConvertsAndReports) {
  log.Attach(converter);
  const std::string output = AddJob(3, "one");
  converter.StartTask(0);
  ExpectCompleteRun(log.Terminations(), 1, true);
  EXPECT_TRUE(converter.AllDone());
  EXPECT_GT(std::filesystem::file_size(output), 10000u);
}

// A slower job: full-size pictures, so that a run lasts long enough to be paused or stopped.
TOutputOptions FullSizeOutput() {
  TOutputOptions options;
  options.VideoCodec = "mpeg4";
  options.AudioCodec = "mp2";
  return options;
}

TEST_F(ConverterTest, ThreeJobsRunWithTheRequestedNumberOfThreads) {
  // Per job: the order numbers of its first and last picture, taken on the worker.
  struct Span {
    int first = -1, last = -1;
  };
  for (int threads : {1, 2, 0}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    TConverter local;
    EventLog events;
    events.Attach(local);
    std::mutex mutex;
    std::map<int, Span> spans;
    int order = 0;
    local.OnCustomHook = [&](TCustomConverter*, PHookInfo info) {
      if (threads > 0) {
        EXPECT_FALSE(IsMainThread());
      }
      info->Update = false;
      std::lock_guard lock(mutex);
      Span& span = spans[info->JobIndex];
      if (span.first < 0) span.first = order;
      span.last = order++;
    };
    TOutputOptions options = SmallOutput();
    options.CustomHook = true;
    for (int i = 0; i < 3; ++i) {
      const int index = local.AddTask(Title(3));
      ASSERT_EQ(index, i) << local.LastError();
      ASSERT_TRUE(local.SetOutputFile(
          index, folder + "/t" + std::to_string(threads) + "_" + std::to_string(i) + ".mkv",
          &options))
          << local.LastError();
    }
    local.StartTask(threads);
    if (threads == 0) {
      EXPECT_TRUE(local.AllDone());
      EXPECT_TRUE(events.finalSeen);
    }
    ASSERT_TRUE(PumpUntil([&] { return events.finalSeen.load(); }));
    ExpectCompleteRun(events.Terminations(), 3, true);
    EXPECT_EQ(local.FinishedCount(), 3);
    std::lock_guard lock(mutex);
    ASSERT_EQ(spans.size(), 3u);
    if (threads != 2) {
      // Strictly one after another, in list order.
      EXPECT_LT(spans[0].last, spans[1].first);
      EXPECT_LT(spans[1].last, spans[2].first);
    } else {
      // The first two at once; the third only after one of them ended.
      EXPECT_LT(spans[0].first, spans[1].last);
      EXPECT_LT(spans[1].first, spans[0].last);
      EXPECT_GT(spans[2].first, std::min(spans[0].last, spans[1].last));
    }
  }
}

TEST_F(ConverterTest, StopDuringRunEndsEveryJobUnfinished) {
  log.Attach(converter);
  for (int i = 0; i < 3; ++i) AddJob(1, "stop" + std::to_string(i), FullSizeOutput());
  converter.SetProgressInterval(100);
  converter.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return log.progressCount > 0; }));
  converter.StopTask(true);
  EXPECT_EQ(converter.Remaining(), 0);
  ASSERT_TRUE(PumpUntil([&] { return log.finalSeen.load(); }));
  const auto events = log.Terminations();
  ExpectCompleteRun(events, 3, false);
  EXPECT_EQ(events[0].JobIndex, 0);  // the running job was stopped first
  // The stopped job still wrote a playable file up to where it got.
  EXPECT_GT(std::filesystem::file_size(folder + "/stop0.mkv"), 0u);
}

TEST_F(ConverterTest, StopFromInsideAProgressHandlerDoesNotDeadlock) {
  for (int threads : {1, 0}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    TConverter local;
    EventLog events;
    events.Attach(local);
    bool stopped = false;
    local.SetProgressInterval(100);
    local.OnProgress = [&](TCustomConverter* sender, PProgressInfo) {
      EXPECT_TRUE(IsMainThread());
      // A handler that blocks for a while serving the message loop, then stops the run.
      PumpFor(50ms);
      if (!stopped) {
        stopped = true;
        sender->StopTask(true);
      }
    };
    for (int i = 0; i < 2; ++i) {
      const int index = local.AddTask(Title(1));
      ASSERT_GE(index, 0) << local.LastError();
      TOutputOptions options = FullSizeOutput();
      ASSERT_TRUE(local.SetOutputFile(
          index, folder + "/h" + std::to_string(threads) + std::to_string(i) + ".mkv", &options));
    }
    local.StartTask(threads);
    ASSERT_TRUE(PumpUntil([&] { return events.finalSeen.load(); }));
    EXPECT_TRUE(stopped);
    ExpectCompleteRun(events.Terminations(), 2, false);
  }
}

TEST_F(ConverterTest, PauseHoldsTheJobAndResumeContinues) {
  log.Attach(converter);
  const std::string output = AddJob(1, "pause", FullSizeOutput());
  converter.SetProgressInterval(100);
  converter.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return log.progressCount > 0; }));
  converter.PauseTask();
  PumpFor(200ms);  // an event already on its way may still arrive
  const int eventsBefore = log.progressCount;
  const auto sizeBefore = std::filesystem::file_size(output);
  PumpFor(1000ms);
  EXPECT_EQ(log.progressCount, eventsBefore);
  EXPECT_EQ(std::filesystem::file_size(output), sizeBefore);
  EXPECT_FALSE(log.finalSeen);
  converter.ResumeTask();
  ASSERT_TRUE(PumpUntil([&] { return log.finalSeen.load(); }));
  EXPECT_GT(log.progressCount, eventsBefore);
  ExpectCompleteRun(log.Terminations(), 1, true);
}

TEST_F(ConverterTest, PauseThenStopEndsPromptly) {
  log.Attach(converter);
  AddJob(1, "pausestop", FullSizeOutput());
  AddJob(1, "pausestop2", FullSizeOutput());
  converter.SetProgressInterval(100);
  converter.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return log.progressCount > 0; }));
  converter.PauseTask();
  converter.StopTask(true);
  ASSERT_TRUE(PumpUntil([&] { return log.finalSeen.load(); }, 10s));
  ExpectCompleteRun(log.Terminations(), 2, false);
}

TEST_F(ConverterTest, FinalHandlerMayClearTheJobs) {
  std::atomic<bool> cleared{false};
  std::atomic<int> jobEvents{0};
  converter.OnTerminate = [&](TCustomConverter* sender, const TTerminateInfo& info) {
    if (info.JobIndex >= 0) {
      ++jobEvents;
      return;
    }
    sender->ClearTasks();
    cleared = true;
  };
  for (int i = 0; i < 2; ++i) AddJob(3, "clear" + std::to_string(i));
  converter.StartTask(2);
  ASSERT_TRUE(PumpUntil([&] { return cleared.load(); }));
  EXPECT_EQ(jobEvents, 2);
  EXPECT_EQ(converter.TaskCount(), 0);
  EXPECT_FALSE(converter.Working());
  // Back to idle: a new run can be set up.
  EXPECT_GE(converter.AddTask(Title(3)), 0) << converter.LastError();
}

TEST_F(ConverterTest, SynchronousFinalHandlerCannotClearTheRunningJob) {
  std::string refusal;
  converter.OnTerminate = [&](TCustomConverter* sender, const TTerminateInfo& info) {
    if (info.JobIndex != -1) return;
    try {
      sender->ClearTasks();
    } catch (const std::runtime_error& e) {
      refusal = e.what();
    }
  };
  AddJob(3, "syncclear");
  converter.StartTask(0);
  EXPECT_EQ(refusal, "Cannot ClearTasks while working.");
  EXPECT_TRUE(converter.AllDone());
  converter.ClearTasks();
  EXPECT_EQ(converter.TaskCount(), 0);
}

TEST_F(ConverterTest, OperationsAreRefusedWhileWorking) {
  log.Attach(converter);
  converter.AddTask(Title(3));  // no output: fails at once
  converter.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return log.finalSeen.load(); }));
  const auto events = log.Terminations();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(events[0].Failed);
  EXPECT_FALSE(events[0].Finished);
  EXPECT_EQ(events[0].ErrorMessage, "At least one output file must be specified");
  EXPECT_EQ(events[1].JobIndex, -1);
  EXPECT_TRUE(events[1].Finished);

  auto refused = [](const std::function<void()>& call) {
    try {
      call();
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("not refused");
  };
  EXPECT_EQ(refused([&] { converter.AddTask(Title(3)); }), "Cannot AddTask while working.");
  EXPECT_EQ(refused([&] { converter.SetOutputFile(0, folder + "/x.mkv"); }),
            "Cannot SetOutputFile while working.");
  EXPECT_EQ(refused([&] { converter.RemoveTask(0); }), "Cannot RemoveTask while working.");
  EXPECT_EQ(refused([&] { converter.StartTask(1); }), "Cannot StartTask while working.");
  EXPECT_EQ(converter.TaskCount(), 1);
  converter.ClearTasks();
  EXPECT_GE(converter.AddTask(Title(3)), 0);
}

TEST_F(ConverterTest, SynchronousJobWithoutOutputFails) {
  log.Attach(converter);
  converter.AddTask(Title(3));
  converter.StartTask(0);
  const auto events = log.Terminations();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].JobIndex, 0);
  EXPECT_TRUE(events[0].Failed);
  EXPECT_EQ(events[0].ErrorMessage, "At least one output file must be specified");
  EXPECT_EQ(events[1].JobIndex, -1);
}

TEST_F(ConverterTest, AtMostTwentyOutputs) {
  const int index = converter.AddTask(Title(3));
  ASSERT_EQ(index, 0);
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(converter.SetOutputFile(index, folder + "/o" + std::to_string(i) + ".mkv"))
        << i << ": " << converter.LastError();
  EXPECT_FALSE(converter.SetOutputFile(index, folder + "/o20.mkv"));
  EXPECT_EQ(converter.LastError(), "max output files 20 reached");
}

TEST_F(ConverterTest, SetUpFailuresAreReportedByResult) {
  EXPECT_EQ(converter.AddTask(folder + "/missing.vob"), -1);
  EXPECT_NE(converter.LastError().find("missing.vob"), std::string::npos) << converter.LastError();
  EXPECT_EQ(converter.TaskCount(), 0);

  TInputOptions badInput;
  badInput.FileFormat = "no_such_format";
  EXPECT_EQ(converter.AddTask(Title(3), &badInput), -1);
  EXPECT_NE(converter.LastError(), "");

  ASSERT_EQ(converter.AddTask(Title(3)), 0);
  TOutputOptions badOutput;
  badOutput.VideoCodec = "no_such_codec";
  EXPECT_FALSE(converter.SetOutputFile(0, folder + "/bad.mkv", &badOutput));
  EXPECT_NE(converter.LastError(), "");
  EXPECT_EQ(converter.Task(0)->OutputOptions(0).VideoCodec, "");  // the slot was reset
  EXPECT_FALSE(converter.SetOutputFile(7, folder + "/bad.mkv"));
}

TEST_F(ConverterTest, ProgressReportsOfARealConversion) {
  log.Attach(converter);
  std::atomic<int> previews{0};
  converter.SetPreviewBitmap(true);
  converter.OnPreviewBitmap = [&](TCustomConverter*, const TPreviewInfo& info) {
    EXPECT_TRUE(IsMainThread());
    ASSERT_NE(info.Bitmap, nullptr);
    EXPECT_EQ(info.Bitmap->Width(), 720);
    EXPECT_EQ(info.JobIndex, 0);
    ++previews;
  };
  AddJob(1, "progress", FullSizeOutput());
  TMediaProbe* probe = converter.InputProbe(0, 0);
  ASSERT_NE(probe, nullptr);
  TFileStreamInfo info;
  probe->ReadFileInfo(info);
  const int64_t duration = converter.Task(0)->ExpectedDuration();
  EXPECT_GT(duration, 11000000);
  converter.SetProgressInterval(100);
  converter.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return log.finalSeen.load(); }));
  ExpectCompleteRun(log.Terminations(), 1, true);

  std::lock_guard lock(log.mutex);
  const auto& reports = log.progress;
  ASSERT_GE(reports.size(), 2u);
  EXPECT_GE(reports.front().FrameNumber, 1);  // only after the first encoded picture
  for (size_t i = 1; i < reports.size(); ++i) {
    EXPECT_GE(reports[i].FrameNumber, reports[i - 1].FrameNumber);
    EXPECT_GE(reports[i].OutputSize, reports[i - 1].OutputSize);
    EXPECT_GE(reports[i].OutputTime, reports[i - 1].OutputTime);
  }
  for (const auto& report : reports) {
    EXPECT_EQ(report.JobIndex, 0);
    EXPECT_EQ(report.ExpectedDuration, duration);
    EXPECT_GE(report.FPS, 0);
  }
  EXPECT_GT(reports.back().FrameNumber, reports.front().FrameNumber);
  EXPECT_GT(reports.back().OutputSize, reports.front().OutputSize);
  EXPECT_GT(reports.back().OutputTime, reports.front().OutputTime);
  EXPECT_EQ(reports.back().InputIndex, -1);
  for (size_t i = 0; i + 1 < reports.size(); ++i) EXPECT_EQ(reports[i].InputIndex, 0);
  EXPECT_GT(previews, 0);
}

TEST_F(ConverterTest, ExpectedDurationFollowsTheRecordingTime) {
  log.Attach(converter);
  TOutputOptions options = SmallOutput();
  options.Duration = 1000000;
  AddJob(3, "duration", options);
  converter.StartTask(0);
  std::lock_guard lock(log.mutex);
  ASSERT_FALSE(log.progress.empty());
  EXPECT_EQ(log.progress.back().ExpectedDuration, 1000000);
}

TEST_F(ConverterTest, InputProbeDescribesEachJobInput) {
  ASSERT_EQ(converter.AddTask(Title(3)), 0);
  TMediaProbe* probe = converter.InputProbe(0, 0);
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(probe->VideoStreamCount(), 1);
  EXPECT_GE(probe->AudioStreamCount(), 1);
  EXPECT_EQ(converter.InputProbe(0, 1), nullptr);
  EXPECT_EQ(converter.InputProbe(3, 0), nullptr);
  converter.RemoveTask(0);
  EXPECT_EQ(converter.TaskCount(), 0);
}

TEST_F(ConverterTest, TaskStaysValidAfterItsRemovalFromTheList) {
  ASSERT_EQ(converter.AddTask(Title(3)), 0);
  TTranscoderPtr job = converter.Task(0);
  ASSERT_NE(job, nullptr);
  converter.RemoveTask(0);
  EXPECT_EQ(converter.TaskCount(), 0);
  EXPECT_EQ(converter.Task(0), nullptr);
  // The caller's hold keeps the job and its opened input.
  EXPECT_EQ(job->InputCount(), 1);
  EXPECT_NE(job->InputContext(0), nullptr);
}

TEST_F(ConverterTest, Properties) {
  EXPECT_EQ(converter.ProgressInterval(), 500);
  converter.SetProgressInterval(50);
  EXPECT_EQ(converter.ProgressInterval(), 100);
  converter.SetProgressInterval(101);
  EXPECT_EQ(converter.ProgressInterval(), 101);
  EXPECT_EQ(TConverter::Version(), "3.3");
  EXPECT_TRUE(converter.TriggerEventInMainThread);
  EXPECT_EQ(converter.ThreadPriority(), tpNormal);
  EXPECT_TRUE(converter.LibrariesReady());

  ASSERT_EQ(converter.AddTask(Title(3)), 0);
  EXPECT_EQ(converter.Task(0)->PreviewFlags(), 0);
  converter.SetPreviewBitmap(true);
  EXPECT_EQ(converter.Task(0)->PreviewFlags(), 2);
  converter.SetPreview(true);
  EXPECT_EQ(converter.Task(0)->PreviewFlags(), 3);
  converter.SetPreviewBitmap(false);
  EXPECT_EQ(converter.Task(0)->PreviewFlags(), 1);
  ASSERT_EQ(converter.AddTask(Title(3)), 1);
  EXPECT_EQ(converter.Task(1)->PreviewFlags(), 1);  // later jobs take the current values
}

TEST_F(ConverterTest, EmptyListEndsTheRunAtOnce) {
  log.Attach(converter);
  converter.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return log.finalSeen.load(); }));
  EXPECT_TRUE(converter.AllDone());
  ExpectCompleteRun(log.Terminations(), 0, true);
}

TEST_F(ConverterTest, EventsOnTheWorkerWhenNotTriggeredInMainThread) {
  converter.TriggerEventInMainThread = false;
  std::atomic<int> onWorker{0}, onMain{0};
  std::atomic<bool> done{false};
  converter.OnProgress = [&](TCustomConverter*, PProgressInfo) {
    (IsMainThread() ? onMain : onWorker)++;
  };
  converter.OnTerminate = [&](TCustomConverter*, const TTerminateInfo& info) {
    if (info.JobIndex == -1) done = true;
  };
  AddJob(3, "worker");
  converter.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
  EXPECT_GT(onWorker, 0);
  EXPECT_EQ(onMain, 0);
}

struct PriorityCase {
  TThreadPriority priority;
  int policy;
  int nice;
};

class PriorityTest : public ConverterTest, public ::testing::WithParamInterface<PriorityCase> {};

TEST_P(PriorityTest, WorkerRunsAtTheMappedPriority) {
  const PriorityCase c = GetParam();
  converter.SetThreadPriority(c.priority);
  std::atomic<int> policy{-1}, nice{-100};
  converter.OnCustomHook = [&](TCustomConverter*, PHookInfo info) {
    policy = sched_getscheduler(0);
    nice = getpriority(PRIO_PROCESS, CurrentThreadId());
    info->DisableHook = true;
  };
  TOutputOptions options = SmallOutput();
  options.CustomHook = true;
  AddJob(3, "priority", options);
  log.Attach(converter);
  converter.StartTask(1);
  ASSERT_TRUE(PumpUntil([&] { return log.finalSeen.load(); }));
  EXPECT_EQ(policy, c.policy);
  if (c.policy == SCHED_OTHER) {
    EXPECT_EQ(nice, c.nice);
  }
}

INSTANTIATE_TEST_SUITE_P(Priorities, PriorityTest,
                         ::testing::Values(PriorityCase{tpIdle, SCHED_OTHER, 19},
                                           PriorityCase{tpLowest, SCHED_OTHER, 15},
                                           PriorityCase{tpLower, SCHED_OTHER, 10},
                                           PriorityCase{tpNormal, SCHED_OTHER, 0}));

TEST_F(ConverterTest, HookDisabledByTheHandlerIsNotCalledAgain) {
  std::atomic<int> calls{0};
  converter.OnCustomHook = [&](TCustomConverter*, PHookInfo info) {
    ++calls;
    EXPECT_NE(info->Bitmap, nullptr);
    EXPECT_EQ(info->FrameNumber, 1);
    EXPECT_TRUE(info->Update);
    EXPECT_FALSE(info->DisableHook);
    info->DisableHook = true;
  };
  TOutputOptions options = SmallOutput();
  options.CustomHook = true;
  AddJob(3, "hookonce", options);
  log.Attach(converter);
  converter.StartTask(0);
  EXPECT_EQ(calls, 1);
  ExpectCompleteRun(log.Terminations(), 1, true);
}

// Handlers on the main thread that call back into the component while workers wait for them.
// A dead-lock would hold the main thread inside the handler, where no assertion can see it,
// so a watchdog thread ends the test with a message instead of letting it hang.
enum class CallbackEvent { Progress, PreviewBitmap };
enum class CallbackAction { TogglePreview, PauseAndResume, StopWithoutWaiting };

struct CallbackCase {
  const char* name;
  CallbackEvent event;
  CallbackAction action;
};

class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : FThread([this, limit] {
          std::unique_lock lock(FMutex);
          if (!FDone.wait_for(lock, limit, [this] { return FFinished; })) {
            std::fprintf(stderr, "dead-lock: the main thread did not come back in time\n");
            std::_Exit(3);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(FMutex);
      FFinished = true;
    }
    FDone.notify_all();
    FThread.join();
  }

 private:
  std::mutex FMutex;
  std::condition_variable FDone;
  bool FFinished = false;
  std::thread FThread;  // last: starts after the members it uses
};

class CallbackTest : public ConverterTest, public ::testing::WithParamInterface<CallbackCase> {};

TEST_P(CallbackTest, HandlerCallingBackIntoTheComponentDoesNotDeadlock) {
  const CallbackCase& c = GetParam();
  Watchdog watchdog(std::chrono::seconds(300));
  log.Attach(converter);
  converter.SetProgressInterval(100);
  std::atomic<int> actions{0};
  auto act = [&](TCustomConverter* sender) {
    EXPECT_TRUE(IsMainThread());
    if (actions >= 4) return;  // a few times, from both jobs' events
    ++actions;
    switch (c.action) {
      case CallbackAction::TogglePreview:
        sender->SetPreview(!sender->Preview());
        break;
      case CallbackAction::PauseAndResume:
        sender->PauseTask();
        PumpFor(20ms);  // the other worker runs into the pause or into its own delivery
        sender->ResumeTask();
        break;
      case CallbackAction::StopWithoutWaiting:
        sender->StopTask(false);
        break;
    }
  };
  if (c.event == CallbackEvent::Progress) {
    converter.OnProgress = [&](TCustomConverter* sender, PProgressInfo) { act(sender); };
  } else {
    converter.SetPreviewBitmap(true);
    converter.OnPreviewBitmap = [&](TCustomConverter* sender, const TPreviewInfo& info) {
      EXPECT_NE(info.Bitmap, nullptr);
      act(sender);
    };
  }
  AddJob(1, std::string(c.name) + "0", FullSizeOutput());
  AddJob(1, std::string(c.name) + "1", FullSizeOutput());
  converter.StartTask(2);
  ASSERT_TRUE(PumpUntil([&] { return log.finalSeen.load(); }, 240s));
  EXPECT_GT(actions, 0);
  ExpectCompleteRun(log.Terminations(), 2, c.action != CallbackAction::StopWithoutWaiting);
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, CallbackTest,
    ::testing::Values(
        CallbackCase{"progress_preview", CallbackEvent::Progress, CallbackAction::TogglePreview},
        CallbackCase{"progress_pause", CallbackEvent::Progress, CallbackAction::PauseAndResume},
        CallbackCase{"progress_stop", CallbackEvent::Progress, CallbackAction::StopWithoutWaiting},
        CallbackCase{"bitmap_preview", CallbackEvent::PreviewBitmap, CallbackAction::TogglePreview},
        CallbackCase{"bitmap_pause", CallbackEvent::PreviewBitmap, CallbackAction::PauseAndResume},
        CallbackCase{"bitmap_stop", CallbackEvent::PreviewBitmap,
                     CallbackAction::StopWithoutWaiting}),
    [](const ::testing::TestParamInfo<CallbackCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
