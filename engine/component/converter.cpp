#include "engine/component/converter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <stdexcept>
#include <thread>

#include "engine/ffmpeg_exception.h"
#include "media/bitmap.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/main_thread.h"

// Runs termination handlers off the job threads, in the order they were posted, so that a
// handler may free the job that just ended and the final event always comes last. Made on
// the component's thread, so it runs at that thread's priority whatever the jobs run at.
class TEventDeliveryThread {
 public:
  TEventDeliveryThread() : FThread([this] { Serve(); }) {}
  ~TEventDeliveryThread() {
    WaitIdle();
    {
      std::lock_guard lock(FMutex);
      FQuit = true;
    }
    FChanged.notify_all();
    FThread.join();
  }

  void Post(std::function<void()> call) {
    {
      std::lock_guard lock(FMutex);
      FQueue.push_back(std::move(call));
    }
    FChanged.notify_all();
  }

  // Until every posted call has run; the main thread keeps serving its calls meanwhile
  // (a handler may be waiting for the main thread).
  void WaitIdle() {
    auto idle = [this] { return FQueue.empty() && !FBusy; };
    if (IsMainThread()) {
      FMainWaiting = true;
      ServeMainThreadUntil([&] {
        std::lock_guard lock(FMutex);
        return idle();
      });
      FMainWaiting = false;
      return;
    }
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, idle);
  }

 private:
  void Serve() {
    std::unique_lock lock(FMutex);
    for (;;) {
      FChanged.wait(lock, [this] { return FQuit || !FQueue.empty(); });
      if (FQueue.empty()) return;  // quitting
      std::function<void()> call = std::move(FQueue.front());
      FQueue.pop_front();
      FBusy = true;
      lock.unlock();
      try {
        call();
      } catch (const std::exception& e) {
        GlobalLogger().Log(this, llError, std::string("OnTerminate handler failed: ") + e.what());
      } catch (...) {
        GlobalLogger().Log(this, llError, "OnTerminate handler failed");
      }
      lock.lock();
      FBusy = false;
      FChanged.notify_all();
      if (FMainWaiting) WakeMainThread();
    }
  }

  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<std::function<void()>> FQueue;
  bool FBusy = false;
  bool FQuit = false;
  std::atomic<bool> FMainWaiting{false};  // WaitIdle serving the main thread
  std::thread FThread;                    // last: starts after the members it uses
};

TCustomConverter::TCustomConverter(TMediaComponent* owner)
    : TMediaComponent(owner),
      FProbe(std::make_unique<TCustomMediaProbe>(this)),
      FDelivery(std::make_unique<TEventDeliveryThread>()) {}

TCustomConverter::~TCustomConverter() {
  {
    std::unique_lock lock(FTerminateLock);
    FDestroying = true;
    FRemaining = 0;
  }
  std::vector<TTranscoderPtr> jobs;
  {
    std::lock_guard lock(FListLock);
    jobs = FJobs.ExtractAll();
  }
  for (auto& job : jobs) job->RequestStop();
  jobs.clear();  // each waits for its worker
  FDelivery.reset();
  // An event that is being delivered holds its lock; wait for it before the records go.
  { std::lock_guard lock(FHookLock); }
  { std::lock_guard lock(FPreviewLock); }
  { std::lock_guard lock(FProgressLock); }
  { std::unique_lock lock(FTerminateLock); }
  FProbe.reset();
}

std::string TCustomConverter::LastError() const {
  std::lock_guard lock(FLastErrorLock);
  return FLastError;
}

void TCustomConverter::SetLastError(const std::string& text) {
  std::lock_guard lock(FLastErrorLock);
  FLastError = text;
}

void TCustomConverter::RefuseWhileWorking(const char* operation) const {
  if (FWorking) throw std::runtime_error(FormatText("Cannot %s while working.", operation));
}

bool TCustomConverter::LibrariesReady() const {
  return GlobalLoader().LibrariesLoaded(ConverterLibraries);
}

bool TCustomConverter::LoadLibrariesFrom(const std::string& folder) {
  TLibraryLoader& loader = GlobalLoader();
  if (!folder.empty()) loader.SetLibraryPath(folder);
  if (loader.LoadLibraries(ConverterLibraries)) return true;
  SetLastError(loader.LastError());
  return false;
}

int TCustomConverter::IndexOfJob(const TTranscoder* job) const {
  std::lock_guard lock(FListLock);
  return FJobs.IndexOf(job);
}

TTranscoderPtr TCustomConverter::SharedJob(int index) const {
  std::lock_guard lock(FListLock);
  return FJobs.Shared(index);
}

int TCustomConverter::TaskCount() const {
  std::lock_guard lock(FListLock);
  return FJobs.Count();
}

TTranscoderPtr TCustomConverter::Task(int JobIndex) const {
  return SharedJob(JobIndex);
}

TMediaProbe* TCustomConverter::InputProbe(int JobIndex, int InputIndex) const {
  // The probe belongs to the job, which the list keeps.
  TTranscoderPtr job = SharedJob(JobIndex);
  return job ? job->InputProbe(InputIndex) : nullptr;
}

void TCustomConverter::InstallCallbacks(TTranscoder& job) {
  TTranscoder* sender = &job;
  job.OnProgress = [this, sender](TProgressInfo& info) { DoProgress(sender, info); };
  job.OnTerminate = [this, sender](const TTerminateInfo& info) { DoTerminate(sender, info); };
}

int TCustomConverter::AddTask(const std::string& FileName, const TInputOptions* Options) {
  RefuseWhileWorking("AddTask");
  try {
    auto job = std::make_shared<TTranscoder>();
    job->Reset();
    job->ParseOption("v", "1");
    job->SetPreviewFlags((FPreview ? kPreviewWindowBit : 0) |
                         (FPreviewBitmap ? kPreviewBitmapBit : 0));
    TTranscoder* sender = job.get();
    job->OnPreviewBitmap = [this, sender](const TPreviewInfo& info) {
      DoPreviewBitmap(sender, info);
    };
    if (Options) {
      TInputOptions options = *Options;
      ApplyInputOptions(*job, options, FileName);
    }
    if (!job->OpenInputFile(FileName)) {
      SetLastError(job->LastError());
      return -1;
    }
    job->AttachInputProbe(job->InputCount() - 1);
    InstallCallbacks(*job);
    std::lock_guard lock(FListLock);
    return FJobs.Add(std::move(job));
  } catch (const std::exception& e) {
    SetLastError(e.what());
    return -1;
  }
}

bool TCustomConverter::SetOutputFile(int JobIndex, const std::string& FileName,
                                     const TOutputOptions* Options) {
  RefuseWhileWorking("SetOutputFile");
  TTranscoderPtr job = SharedJob(JobIndex);
  if (!job) {
    SetLastError(FormatText("List index out of bounds (%d)", JobIndex));
    return false;
  }
  if (job->OutputCount() >= kMaxFiles) {
    SetLastError(FormatText("max output files %d reached", kMaxFiles));
    return false;
  }
  const int slot = job->OutputCount();
  try {
    bool join = false;
    TOutputOptions options;
    if (Options) {
      options = *Options;
      join = ApplyOutputOptions(*job, options, FileName);
      if (options.CustomHook) {
        TTranscoder* sender = job.get();
        job->OnCustomHook = [this, sender](THookInfo& info) { DoCustomHook(sender, info); };
      }
    } else {
      job->ResetOutputOptions(slot);
    }
    if (job->OpenOutputFile(FileName, join) < 0) {
      SetLastError(job->LastError());
      job->ResetOutputOptions(slot);
      return false;
    }
    if (Options) CreateAdditionalStreams(*job, options);
    return true;
  } catch (const std::exception& e) {
    SetLastError(e.what());
    job->ResetOutputOptions(slot);
    return false;
  }
}

void TCustomConverter::RemoveTask(int JobIndex) {
  RefuseWhileWorking("RemoveTask");
  TTranscoderPtr job;
  {
    std::lock_guard lock(FListLock);
    job = FJobs.Extract(JobIndex);
  }
  job.reset();  // outside the list lock: destruction waits for the worker
}

void TCustomConverter::ClearTasks() {
  std::vector<TTranscoderPtr> jobs;
  {
    std::unique_lock lock(FTerminateLock);
    if (FWorking && !FAllDone) throw std::runtime_error("Cannot ClearTasks while working.");
    {
      std::lock_guard listLock(FListLock);
      jobs = FJobs.ExtractAll();
    }
    SetLastError(std::string());
    FFinishedCount = 0;
    FNextIndex = -1;
    FRemaining = 0;
    FAllDone = false;
    FAsync = false;
    FWorking = false;
    FPaused = false;
  }
  jobs.clear();
}

void TCustomConverter::StartTask(int ThreadCount) {
  std::unique_lock lock(FTerminateLock);
  RefuseWhileWorking("StartTask");
  FFinishedCount = 0;
  FNextIndex = 0;
  FRemaining = TaskCount();
  FAllDone = false;
  FAsync = ThreadCount > 0;
  FWorking = true;
  if (FRemaining == 0) {
    // Nothing will terminate, so the run ends here.
    IssueFinalEvent();
    return;
  }
  int started = 0;
  while (FRemaining > 0) {
    StartNextJob();
    if (FAsync && ++started >= ThreadCount) break;
  }
}

void TCustomConverter::StartNextJob() {
  if (FRemaining <= 0) return;
  --FRemaining;
  // Taken before the start: a job that fails at once terminates inside it, and its
  // termination may start the next job.
  const int index = FNextIndex++;
  TTranscoderPtr job = SharedJob(index);
  if (!job) return;
  job->ProgressIntervalUs = int64_t(FProgressInterval) * 1000;
  if (FAsync)
    job->StartWorker(FThreadPriority, FPaused);
  else
    job->RunHere();
}

void TCustomConverter::PauseTask() {
  std::unique_lock lock(FTerminateLock);
  FPaused = true;
  std::lock_guard listLock(FListLock);
  FJobs.SuspendAll();
}

void TCustomConverter::ResumeTask() {
  std::unique_lock lock(FTerminateLock);
  FPaused = false;
  std::lock_guard listLock(FListLock);
  FJobs.ResumeAll();
}

void TCustomConverter::StopTask(bool Wait) {
  std::vector<TTranscoderPtr> jobs;
  {
    std::unique_lock lock(FTerminateLock);
    FRemaining = 0;
    FPaused = false;
    std::lock_guard listLock(FListLock);
    jobs = FJobs.Snapshot();
  }
  // A worker whose event the main thread is handling right now cannot end before the
  // handler returns; waiting for it here would never end.
  const bool wait = Wait && !(IsMainThread() && FMainThreadDeliveries > 0);
  for (auto& job : jobs) {
    if (job->Started()) {
      if (!job->Terminated() || job->HasWorker()) job->Stop(wait);
      continue;
    }
    // No job starts any more (Remaining is 0), so an unstarted one stays unstarted.
    std::unique_lock lock(FTerminateLock);
    if (!job->Started()) job->TerminateUnstarted();
  }
}

void TCustomConverter::SetPreview(bool value) {
  FPreview = value;
  std::lock_guard lock(FListLock);
  FJobs.SetPreviewFlags(kPreviewWindowBit, value);
}

void TCustomConverter::SetPreviewBitmap(bool value) {
  FPreviewBitmap = value;
  std::lock_guard lock(FListLock);
  FJobs.SetPreviewFlags(kPreviewBitmapBit, value);
}

void TCustomConverter::SetProgressInterval(int milliseconds) {
  FProgressInterval = milliseconds <= 100 ? 100 : milliseconds;
}

// ---- Dispatch ----

void TCustomConverter::DoTerminate(TTranscoder* job, const TTerminateInfo& jobInfo) {
  std::unique_lock lock(FTerminateLock);
  if (!job) {
    IssueFinalEvent();
    return;
  }
  if (OnTerminate && !FDestroying) {
    FTerminateInfo = jobInfo;
    FTerminateInfo.JobIndex = IndexOfJob(job);
    DeliverTermination(FTerminateInfo);
  }
  ++FFinishedCount;
  if (FRemaining < 1) {
    if (FFinishedCount >= TaskCount()) IssueFinalEvent();
  } else if (FAsync) {
    StartNextJob();
  }
}

void TCustomConverter::IssueFinalEvent() {
  if (FAllDone || FDestroying) return;  // one final event per run
  if (!OnTerminate) {
    FAllDone = true;
    return;
  }
  FTerminateInfo = TTerminateInfo();
  FTerminateInfo.JobIndex = -1;
  FTerminateInfo.Finished = true;
  if (FAsync) {
    // In place before the handler runs, so that it may clear the jobs.
    FAllDone = true;
    DeliverTermination(FTerminateInfo);
  } else {
    // After the handler: it still runs inside the last job's run, which it must not free.
    DeliverTermination(FTerminateInfo);
    FAllDone = true;
  }
}

void TCustomConverter::DeliverTermination(const TTerminateInfo& info) {
  if (!FAsync) {
    OnTerminate(this, info);
    return;
  }
  FDelivery->Post([this, handler = OnTerminate, info] { handler(this, info); });
}

bool TCustomConverter::DeliversInMainThread() const {
  return TriggerEventInMainThread && !IsMainThread();
}

void TCustomConverter::RunInMainThread(const std::function<void()>& handler) {
  CallInMainThread([this, &handler] {
    struct Count {
      std::atomic<int>& value;
      explicit Count(std::atomic<int>& v) : value(v) { ++value; }
      ~Count() { --value; }
    } count(FMainThreadDeliveries);
    handler();
  });
}

void TCustomConverter::DoCustomHook(TTranscoder* job, THookInfo& info) {
  if (!OnCustomHook) return;
  std::lock_guard lock(FHookLock);
  FHookInfo = info;
  FHookInfo.JobIndex = IndexOfJob(job);
  {
    std::unique_lock<std::mutex> canvas;
    if (info.Bitmap) canvas = std::unique_lock(info.Bitmap->Canvas());
    OnCustomHook(this, &FHookInfo);
  }
  info.Update = FHookInfo.Update;
  info.DisableHook = FHookInfo.DisableHook;
}

// Handlers on a worker run one at a time under the event's lock. A delivery to the main
// thread hands over a copy and releases the lock first: the main thread runs one handler at
// a time anyway, and a lock held across the wait for it would stall every other worker's
// event of that kind behind a handler that may itself be waiting (a modal dialog, a stop).
void TCustomConverter::DoPreviewBitmap(TTranscoder* job, const TPreviewInfo& info) {
  if (!OnPreviewBitmap) return;
  std::unique_lock lock(FPreviewLock);
  FPreviewInfo = info;
  FPreviewInfo.JobIndex = IndexOfJob(job);
  if (!DeliversInMainThread()) {
    OnPreviewBitmap(this, FPreviewInfo);
    return;
  }
  const TPreviewInfo delivered = FPreviewInfo;
  lock.unlock();
  RunInMainThread([this, &delivered] { OnPreviewBitmap(this, delivered); });
}

void TCustomConverter::DoProgress(TTranscoder* job, TProgressInfo& info) {
  if (!OnProgress) return;
  std::unique_lock lock(FProgressLock);
  FProgressInfo = info;
  FProgressInfo.JobIndex = IndexOfJob(job);
  if (!DeliversInMainThread()) {
    OnProgress(this, &FProgressInfo);
    return;
  }
  TProgressInfo delivered = FProgressInfo;
  lock.unlock();
  RunInMainThread([this, &delivered] { OnProgress(this, &delivered); });
}
