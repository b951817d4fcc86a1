// The conversion component: an ordered list of jobs (one transcoder each), run one after
// another or several at once on worker threads, with progress, preview-bitmap, per-picture
// hook and termination events.
//
// Threads:
// - Operations are called on the application's (main) thread. ClearTasks may also be
//   called from an OnTerminate handler (it runs on the component's delivery thread).
// - Event handlers and TriggerEventInMainThread are assigned while no run is in progress.
// - OnCustomHook runs on the job's worker thread with the bitmap's canvas locked.
//   OnProgress and OnPreviewBitmap run on the main thread while the worker waits when
//   TriggerEventInMainThread is set (the main thread must keep calling ProcessMessages or
//   WaitForMainThreadCalls), otherwise on the worker.
// - OnTerminate runs, for runs on worker threads, on the component's delivery thread, one
//   event after another in the order the jobs terminated, the final event (JobIndex -1)
//   last; for a run in the caller's thread (StartTask(0)) on that thread.
// - Guarded by FTerminateLock: the run counters and flags, the start of jobs. By FListLock:
//   the job list. By the lock of each event kind: that kind's record, and the handlers that
//   run on workers (one at a time); a delivery to the main thread takes a copy and releases
//   the lock before it waits. The terminate lock is recursive: a run in the caller's thread
//   holds it while the job reports its end.
// - Every wait of the main thread (stop, job destruction, lock acquisition) keeps serving
//   main-thread calls, so a worker blocked on a main-thread delivery cannot dead-lock it.
//   The waits sleep until a call is queued or what they wait for changes (no polling).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "engine/component/option_records.h"
#include "engine/component/transcoder_job.h"
#include "engine/transcoder_events.h"
#include "media/main_thread.h"
#include "media/media_component.h"
#include "media/probe.h"

class TCustomConverter;

using TCustomHookEvent = std::function<void(TCustomConverter* Sender, PHookInfo AHookInfo)>;
using TPreviewBitmapEvent =
    std::function<void(TCustomConverter* Sender, const TPreviewInfo& APreviewInfo)>;
using TProgressEvent = std::function<void(TCustomConverter* Sender, PProgressInfo AProgressInfo)>;
using TTerminateEvent =
    std::function<void(TCustomConverter* Sender, const TTerminateInfo& ATerminateInfo)>;

class TEventDeliveryThread;  // converter.cpp

class TCustomConverter : public TMediaComponent {
 public:
  explicit TCustomConverter(TMediaComponent* owner = nullptr);
  // Stops every job and waits for it; termination events are no longer delivered.
  ~TCustomConverter() override;

  std::string About;
  static std::string Version() { return "3.3"; }
  std::string LastError() const;

  bool LibrariesReady() const;
  // Loads the converter's libraries from `folder` (empty: the default places). False with
  // LastError set when they cannot be loaded.
  bool LoadLibrariesFrom(const std::string& folder);

  // The new job's index, or -1 with LastError set. Refuses while working.
  int AddTask(const std::string& FileName, const TInputOptions* Options = nullptr);
  // False with LastError set. Refuses while working.
  bool SetOutputFile(int JobIndex, const std::string& FileName,
                     const TOutputOptions* Options = nullptr);
  void RemoveTask(int JobIndex);  // refuses while working
  // Frees every job and returns to idle; refused while a run has not ended.
  void ClearTasks();
  // ThreadCount > 0: starts up to that many jobs on worker threads and returns; the rest
  // start as jobs end. Otherwise runs every job in the calling thread before returning.
  // An empty list ends the run at once with the final event.
  void StartTask(int ThreadCount);
  // Holds every running job between packets (and jobs that start while paused).
  void PauseTask();
  void ResumeTask();
  // Starts no further job, stops the running ones and terminates the unstarted ones. With
  // Wait, returns when the stopped workers have ended, except when called on the main thread
  // from inside an OnProgress or OnPreviewBitmap delivery: the workers cannot end before
  // that handler returns, so the stop is only requested.
  void StopTask(bool Wait);
  int TaskCount() const;
  // The probe of a job's input, or null. It describes the input until the job starts.
  TMediaProbe* InputProbe(int JobIndex, int InputIndex) const;
  // The job itself, or null (for reading its settings and results). Shared: the job stays
  // alive while the caller holds it, even when it is removed from the list meanwhile.
  TTranscoderPtr Task(int JobIndex) const;

  bool Preview() const { return FPreview; }
  void SetPreview(bool value);
  bool PreviewBitmap() const { return FPreviewBitmap; }
  void SetPreviewBitmap(bool value);
  int ProgressInterval() const { return FProgressInterval; }
  void SetProgressInterval(int milliseconds);  // 100 and below are stored as 100
  TThreadPriority ThreadPriority() const { return FThreadPriority; }
  void SetThreadPriority(TThreadPriority value) { FThreadPriority = value; }

  TCustomHookEvent OnCustomHook;
  TPreviewBitmapEvent OnPreviewBitmap;
  TProgressEvent OnProgress;
  TTerminateEvent OnTerminate;

  // Run state.
  bool Working() const { return FWorking; }
  bool AllDone() const { return FAllDone; }
  bool Async() const { return FAsync; }
  int FinishedCount() const { return FFinishedCount; }
  int NextIndex() const { return FNextIndex; }
  int Remaining() const { return FRemaining; }

 private:
  void RefuseWhileWorking(const char* operation) const;
  void SetLastError(const std::string& text);
  int IndexOfJob(const TTranscoder* job) const;
  TTranscoderPtr SharedJob(int index) const;
  void InstallCallbacks(TTranscoder& job);

  // Terminate lock held.
  void StartNextJob();
  void IssueFinalEvent();
  void DeliverTermination(const TTerminateInfo& info);

  // Callbacks of the jobs (job thread).
  void DoTerminate(TTranscoder* job, const TTerminateInfo& info);
  void DoCustomHook(TTranscoder* job, THookInfo& info);
  void DoPreviewBitmap(TTranscoder* job, const TPreviewInfo& info);
  void DoProgress(TTranscoder* job, TProgressInfo& info);
  // Whether events of workers go to the main thread (TriggerEventInMainThread, called off it).
  bool DeliversInMainThread() const;
  // Runs `handler` on the main thread, the worker waiting; counted in FMainThreadDeliveries.
  void RunInMainThread(const std::function<void()>& handler);

  // Application thread.
  bool FPreview = false;
  bool FPreviewBitmap = false;
  int FProgressInterval = 500;
  std::atomic<TThreadPriority> FThreadPriority{tpNormal};
  mutable std::mutex FLastErrorLock;
  std::string FLastError;

  // The job list (FListLock).
  mutable std::mutex FListLock;
  TTranscoderList FJobs;

  // Run counters and flags (FTerminateLock; atomics so they can be read without it).
  TMainThreadServingMutex FTerminateLock;
  std::atomic<int> FFinishedCount{0};
  std::atomic<int> FNextIndex{-1};
  std::atomic<int> FRemaining{0};
  std::atomic<bool> FAllDone{false};
  std::atomic<bool> FAsync{false};
  std::atomic<bool> FWorking{false};
  std::atomic<bool> FPaused{false};
  std::atomic<bool> FDestroying{false};
  // Handlers of worker events now running on the main thread (the worker waiting).
  std::atomic<int> FMainThreadDeliveries{0};

  // One lock and one record per event kind.
  std::mutex FHookLock, FPreviewLock, FProgressLock;
  THookInfo FHookInfo;
  TPreviewInfo FPreviewInfo;
  TProgressInfo FProgressInfo;
  TTerminateInfo FTerminateInfo;  // FTerminateLock

  std::unique_ptr<TCustomMediaProbe> FProbe;
  std::unique_ptr<TEventDeliveryThread> FDelivery;  // made with the component
};

class TConverter : public TCustomConverter {
 public:
  using TCustomConverter::TCustomConverter;
};
