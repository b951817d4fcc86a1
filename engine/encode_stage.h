// TEncodeStage: the encoding and muxing of a run on a thread of their own, fed in order by
// the conversion loop through a bounded queue, so that decoding and picture work go on while
// the encoder works on the pictures before.
//
// Threads: Push, Drain and the destructor belong to the loop's thread; the handler runs on
// the stage's thread, one job at a time, in the order the jobs were pushed. Whatever the
// handler touches belongs to the stage between a Push and the next Drain: the loop reads it
// only after Drain returned.
#pragma once

extern "C" {
#include <libavutil/rational.h>
}

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "media/ffmpeg_ptr.h"

// One piece of work, as the loop would have done it at that point.
struct TStageJob {
  enum class TKind {
    Encode,  // Frame into the stream's encoder (null: drain the encoder), packets muxed
    Copy,    // Packet copied from the input: counted in the sizes, then muxed
    Write,   // Packet muxed as it is (subtitles)
    Aspect,  // the encoder's pixel shape becomes Aspect for the pictures after it
  };
  TKind Kind = TKind::Encode;
  int Stream = 0;  // index in the run's output streams
  AVFramePtr Frame;
  AVPacketPtr Packet;
  AVRational Aspect{0, 1};
};

class TEncodeStage {
 public:
  using THandler = std::function<void(TStageJob&)>;
  // How much may wait: pictures, bytes of picture and sound data, and jobs of any kind.
  struct TLimits {
    size_t Pictures = 8;
    size_t Bytes = size_t(64) << 20;
    size_t Jobs = 64;
  };

  explicit TEncodeStage(THandler handler);
  TEncodeStage(THandler handler, TLimits limits);
  // Discards what still waits (after a failure elsewhere) and ends the thread; the job under
  // way finishes first.
  ~TEncodeStage();
  TEncodeStage(const TEncodeStage&) = delete;
  TEncodeStage& operator=(const TEncodeStage&) = delete;

  // Queues a job, waiting while the queue is full. The frame or packet moves in: the loop
  // must not write into its buffers afterwards (a picture it reuses is taken only when
  // writable, that is when the stage and the encoder let go of it). Raises the stage's
  // failure, if the handler raised one, instead of queueing.
  void Push(TStageJob job);
  // Waits until every queued job has run; raises the stage's failure if there was one.
  // Afterwards the loop may read what the handler wrote, until its next Push.
  void Drain();

 private:
  static size_t DataBytes(const TStageJob& job);
  bool Full() const;
  void Work();
  void RaiseFailure();

  THandler FHandler;
  TLimits FLimits;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<TStageJob> FQueue;  // under FMutex
  size_t FPictures = 0, FBytes = 0;
  bool FBusy = false;           // the stage's thread runs a job
  bool FQuit = false;           // the destructor asks the thread to end
  std::exception_ptr FFailure;  // the handler's failure; later jobs are discarded
  std::thread FThread;          // last: starts when everything above is made
};
