#include "engine/component/transcoder_job.h"

#include <sys/resource.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "media/logger.h"
#include "media/main_thread.h"

int NiceValueOf(TThreadPriority priority) {
  switch (priority) {
    case tpIdle:
      return 19;
    case tpLowest:
      return 15;
    case tpLower:
      return 10;
    case tpHigher:
      return -5;
    case tpHighest:
      return -10;
    case tpTimeCritical:
      return -20;
    case tpNormal:
    default:
      return 0;
  }
}

namespace {

// On the worker itself: nice values are per thread on Linux, and the threads the worker
// creates (the codecs' own threads, the termination delivery) start with its value. Raising
// the priority needs privileges the program usually lacks; the job then runs at the priority
// it has, and the refusal is logged.
void ApplyPriority(const void* sender, TThreadPriority priority) {
  const int nice = NiceValueOf(priority);
  errno = 0;
  const int current = getpriority(PRIO_PROCESS, id_t(CurrentThreadId()));
  if (errno == 0 && current == nice) return;
  if (setpriority(PRIO_PROCESS, id_t(CurrentThreadId()), nice) != 0)
    GlobalLogger().LogFmt(sender, llVerbose, "Cannot set thread priority %d: %s", nice,
                          std::strerror(errno));
}

}  // namespace

TTranscoder::~TTranscoder() {
  // The worker may still be finishing after its termination was reported; the conversion is
  // cleaned up (by the base destructor) only once it has completely ended.
  Stop(true);
  WaitForWorker();
  if (FWorker.joinable()) FWorker.join();
  CloseProbes();
  for (auto& options : FInputOptions) InitInputOptions(options);
  for (auto& options : FOutputOptions) InitOutputOptions(options);
}

TMediaProbe* TTranscoder::InputProbe(int index) const {
  if (index < 0 || index >= kMaxFiles) return nullptr;
  return FProbes[size_t(index)].get();
}

TMediaProbe* TTranscoder::AttachInputProbe(int index) {
  if (index < 0 || index >= kMaxFiles || index >= InputCount()) return nullptr;
  auto& probe = FProbes[size_t(index)];
  if (!probe) probe = std::make_unique<TMediaProbe>();
  probe->AttachContext(InputContext(index));
  return probe.get();
}

void TTranscoder::CloseProbes() {
  for (auto& probe : FProbes)
    if (probe) probe->CloseMedia();
}

void TTranscoder::StoreInputOptions(int slot, const TInputOptions& options) {
  if (slot >= 0 && slot < kMaxFiles) FInputOptions[size_t(slot)] = options;
}

void TTranscoder::StoreOutputOptions(int slot, const TOutputOptions& options) {
  if (slot >= 0 && slot < kMaxFiles) FOutputOptions[size_t(slot)] = options;
}

void TTranscoder::ResetOutputOptions(int slot) {
  if (slot >= 0 && slot < kMaxFiles) InitOutputOptions(FOutputOptions[size_t(slot)]);
}

bool TTranscoder::StartWorker(TThreadPriority priority, bool paused) {
  FStarted = true;
  // The probes only borrow the inputs, which belong to the worker from now on.
  CloseProbes();
  if (!Start()) return false;
  if (paused) SetPaused(true);
  {
    std::lock_guard lock(FWorkerMutex);
    FHasWorker = true;
    FWorkerDone = false;
  }
  FWorker = std::thread([this, priority] {
    ApplyPriority(this, priority);
    Run();  // never raises: every step's failure is recorded
    {
      std::lock_guard lock(FWorkerMutex);
      FWorkerDone = true;
    }
    FWorkerChanged.notify_all();
    WakeMainThread();  // a main thread waiting for this worker checks again
  });
  return true;
}

void TTranscoder::RunHere() {
  FStarted = true;
  CloseProbes();
  if (Start()) Run();
}

void TTranscoder::TerminateUnstarted() {
  FStarted = true;
  Terminate();
}

bool TTranscoder::HasWorker() const {
  std::lock_guard lock(FWorkerMutex);
  return FHasWorker;
}

bool TTranscoder::WorkerDone() const {
  std::lock_guard lock(FWorkerMutex);
  return FWorkerDone;
}

void TTranscoder::WaitForWorker() {
  if (IsMainThread()) {
    // Serve the calls a worker (this one or another) is blocked on.
    ServeMainThreadUntil([this] { return WorkerDone(); });
    return;
  }
  std::unique_lock lock(FWorkerMutex);
  FWorkerChanged.wait(lock, [this] { return FWorkerDone; });
}

void TTranscoder::Stop(bool wait) {
  RequestStop();
  if (!HasWorker()) return;
  if (wait) WaitForWorker();
}

// ---- TTranscoderList ----

int TTranscoderList::Add(TTranscoderPtr job) {
  FItems.push_back(std::move(job));
  return Count() - 1;
}

TTranscoderPtr TTranscoderList::Extract(int index) {
  if (index < 0 || index >= Count()) return nullptr;
  TTranscoderPtr job = std::move(FItems[size_t(index)]);
  FItems.erase(FItems.begin() + index);
  return job;
}

std::vector<TTranscoderPtr> TTranscoderList::ExtractAll() {
  std::vector<TTranscoderPtr> jobs;
  jobs.swap(FItems);
  return jobs;
}

TTranscoder* TTranscoderList::Item(int index) const {
  return Shared(index).get();
}

TTranscoderPtr TTranscoderList::Shared(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return FItems[size_t(index)];
}

int TTranscoderList::IndexOf(const TTranscoder* job) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == job) return int(i);
  return -1;
}

void TTranscoderList::SuspendAll() {
  for (auto& job : FItems)
    if (job->HasWorker()) job->SetPaused(true);
}

void TTranscoderList::ResumeAll() {
  for (auto& job : FItems) job->SetPaused(false);
}

void TTranscoderList::StopAll(bool wait) {
  for (auto& job : FItems) job->Stop(wait);
}

void TTranscoderList::SetPreviewFlags(int mask, bool on) {
  // Each read and write is under the process-wide preview lock; the read-modify-write as a
  // whole is not, which is safe as long as only the application's thread changes the flags.
  for (auto& job : FItems) {
    const int flags = job->PreviewFlags();
    job->SetPreviewFlags(on ? flags | mask : flags & ~mask);
  }
}
