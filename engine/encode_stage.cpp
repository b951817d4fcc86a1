#include "engine/encode_stage.h"

#include <algorithm>
#include <utility>

TEncodeStage::TEncodeStage(THandler handler) : TEncodeStage(std::move(handler), TLimits{}) {}

TEncodeStage::TEncodeStage(THandler handler, TLimits limits)
    : FHandler(std::move(handler)), FLimits(limits), FThread([this] { Work(); }) {}

TEncodeStage::~TEncodeStage() {
  std::deque<TStageJob> discarded;
  {
    std::lock_guard lock(FMutex);
    FQuit = true;
    discarded.swap(FQueue);
    FPictures = FBytes = 0;
  }
  FChanged.notify_all();
  FThread.join();
}

size_t TEncodeStage::DataBytes(const TStageJob& job) {
  size_t bytes = 0;
  if (job.Frame)
    for (const AVBufferRef* buffer : job.Frame->buf)
      if (buffer) bytes += buffer->size;
  if (job.Packet) bytes += size_t(std::max(job.Packet->size, 0));
  return bytes;
}

bool TEncodeStage::Full() const {
  // An empty queue always takes a job, however large, so that nothing waits for ever.
  return !FQueue.empty() && (FQueue.size() >= FLimits.Jobs || FPictures >= FLimits.Pictures ||
                             FBytes >= FLimits.Bytes);
}

void TEncodeStage::RaiseFailure() {
  // Raised on every call after the failure: the loop ends the run at the first.
  std::rethrow_exception(FFailure);
}

void TEncodeStage::Push(TStageJob job) {
  const bool picture = job.Kind == TStageJob::TKind::Encode && job.Frame && job.Frame->width > 0;
  const size_t bytes = DataBytes(job);
  {
    std::unique_lock lock(FMutex);
    FChanged.wait(lock, [this] { return FFailure || !Full(); });
    if (FFailure) RaiseFailure();
    FQueue.push_back(std::move(job));
    FPictures += picture ? 1 : 0;
    FBytes += bytes;
  }
  FChanged.notify_all();
}

void TEncodeStage::Drain() {
  std::unique_lock lock(FMutex);
  FChanged.wait(lock, [this] { return FFailure || (FQueue.empty() && !FBusy); });
  if (FFailure) {
    // Wait for the job under way too, so nothing of the stage runs when the loop goes on.
    FChanged.wait(lock, [this] { return !FBusy; });
    RaiseFailure();
  }
}

void TEncodeStage::Work() {
  std::unique_lock lock(FMutex);
  for (;;) {
    FChanged.wait(lock, [this] { return FQuit || !FQueue.empty(); });
    if (FQueue.empty()) return;  // quit with nothing left
    TStageJob job = std::move(FQueue.front());
    FQueue.pop_front();
    const bool picture = job.Kind == TStageJob::TKind::Encode && job.Frame && job.Frame->width > 0;
    FPictures -= picture ? 1 : 0;
    FBytes -= DataBytes(job);
    FBusy = true;
    lock.unlock();
    FChanged.notify_all();
    std::exception_ptr failure;
    try {
      FHandler(job);
    } catch (...) {
      failure = std::current_exception();
    }
    // The frame and packet go here, outside the lock.
    job = TStageJob{};
    lock.lock();
    FBusy = false;
    if (failure) {
      FFailure = failure;
      FQueue.clear();
      FPictures = FBytes = 0;
    }
    FChanged.notify_all();
  }
}
