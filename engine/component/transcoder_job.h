// One conversion job (TTranscoder: a transcoder with its worker thread, the probes of its
// inputs and the option records it was given) and the ordered list that owns the jobs.
//
// Threads: the set-up side (option records, probes, Start*) belongs to the application's
// thread while the job is not running. The worker thread owns everything the run touches
// (see engine/transcoder.h) from StartWorker until the completion signal. RequestStop,
// SetPaused, Stop, the flag queries and WorkerDone may be called from any thread. A job is
// destroyed on any thread except its own worker; destruction waits for the worker.
#pragma once

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/component/option_records.h"
#include "engine/transcoder.h"
#include "media/probe.h"

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The nice value of the worker (and of the threads it starts) for a priority: tpIdle 19,
// tpLowest 15, tpLower 10, tpNormal 0, tpHigher -5, tpHighest -10, tpTimeCritical -20.
int NiceValueOf(TThreadPriority priority);

class TTranscoder : public TCustomTranscoder {
 public:
  TTranscoder() = default;
  ~TTranscoder() override;

  // ---- Set-up side ----
  // The probe of an input slot, or null; describes the input from AddTask until the job
  // starts: from then on the run owns the input and the probe is closed.
  TMediaProbe* InputProbe(int index) const;
  // Makes the slot's probe and hands it the opened input `index`.
  TMediaProbe* AttachInputProbe(int index);
  // Stored copies of the records (slots 0..kMaxFiles-1; other slots are ignored).
  void StoreInputOptions(int slot, const TInputOptions& options);
  void StoreOutputOptions(int slot, const TOutputOptions& options);
  void ResetOutputOptions(int slot);
  const TInputOptions& InputOptions(int slot) const { return FInputOptions.at(size_t(slot)); }
  const TOutputOptions& OutputOptions(int slot) const { return FOutputOptions.at(size_t(slot)); }

  // ---- Running ----
  // Whether StartWorker or RunHere was called (the job was taken up by a run).
  bool Started() const { return FStarted; }
  // Starts the job on a new worker thread that runs at `priority`, paused at its first packet
  // when `paused`. False when the job could not start (it is running or terminated, or it
  // failed at once and has already terminated).
  bool StartWorker(TThreadPriority priority, bool paused);
  // Runs the job to its end on the calling thread.
  void RunHere();
  // Terminates a job that never started (its termination is still reported).
  void TerminateUnstarted();
  // Requests the stop (releasing a pause); with `wait`, waits for the worker to end. On the
  // main thread the wait keeps serving main-thread calls.
  void Stop(bool wait);
  bool HasWorker() const;
  bool WorkerDone() const;
  void WaitForWorker();

 private:
  void CloseProbes();

  std::array<std::unique_ptr<TMediaProbe>, kMaxFiles> FProbes;
  std::array<TInputOptions, kMaxFiles> FInputOptions;
  std::array<TOutputOptions, kMaxFiles> FOutputOptions;

  std::atomic<bool> FStarted{false};
  std::thread FWorker;              // joined by the destructor
  mutable std::mutex FWorkerMutex;  // FHasWorker, FWorkerDone
  std::condition_variable FWorkerChanged;
  bool FHasWorker = false;
  bool FWorkerDone = true;  // the completion signal, set while no worker runs
};

using TTranscoderPtr = std::shared_ptr<TTranscoder>;

// The component's jobs in order. Not synchronised: the component guards it. A job stays
// alive while anyone holds its pointer; the last holder's release destroys it, which waits
// for its worker, so release jobs off their own worker threads.
class TTranscoderList {
 public:
  int Add(TTranscoderPtr job);
  TTranscoderPtr Extract(int index);         // removes and returns the job
  std::vector<TTranscoderPtr> ExtractAll();  // empties the list
  void Delete(int index) { Extract(index); }
  void Clear() { ExtractAll(); }
  TTranscoder* Item(int index) const;  // null when out of range
  TTranscoderPtr Shared(int index) const;
  int IndexOf(const TTranscoder* job) const;  // -1 when absent
  int Count() const { return int(FItems.size()); }
  std::vector<TTranscoderPtr> Snapshot() const { return FItems; }

  void SuspendAll();  // pauses every job that has a worker
  void ResumeAll();
  void StopAll(bool wait);
  void SetPreviewFlags(int mask, bool on);

 private:
  std::vector<TTranscoderPtr> FItems;
};
