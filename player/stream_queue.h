// One stream's packet queue between the demux thread and a decoder. Byte size counts each
// packet's size plus 72 per node, as the read limits are set in those units. The flush
// packet (FlushPacket()) is queued by address and tells the decoder a seek happened.
//
// Threads: any; each queue has its own lock and condition.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

#include "media/ffmpeg_ptr.h"

class TStreamQueue {
 public:
  static constexpr int kNodeBytes = 72;

  TStreamQueue() = default;
  ~TStreamQueue() { Flush(); }
  TStreamQueue(const TStreamQueue&) = delete;
  TStreamQueue& operator=(const TStreamQueue&) = delete;

  // Takes the packet's reference (the packet is left blank). False when it cannot be
  // queued (no memory).
  bool Put(AVPacket* packet);
  bool PutFlush();
  // An empty packet for the stream: the decoder gives out the pictures it holds back.
  bool PutEnd(int streamIndex);
  // 1 with a packet moved into `packet` (or `isFlush` set), 0 when empty and not blocking,
  // -1 when aborted.
  int Get(AVPacket* packet, bool& isFlush, bool block);
  void Flush();
  void Abort();
  bool Aborted() const;
  // Clears the abort request (a queue is reused after a stream is reopened).
  void Start();

  int Packets() const;
  int Bytes() const;

 private:
  struct TNode {
    AVPacketPtr Packet;  // null for the flush packet
  };
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<TNode> FNodes;
  int FBytes = 0;
  bool FAbort = false;
};
