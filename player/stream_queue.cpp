#include "player/stream_queue.h"

bool TStreamQueue::Put(AVPacket* packet) {
  AVPacketPtr node(av_packet_alloc());
  if (!node) return false;
  // The queue owns the data: a packet whose buffer the demuxer reuses is copied.
  if (av_packet_make_refcounted(packet) < 0) return false;
  av_packet_move_ref(node.get(), packet);
  const int size = node->size;
  {
    std::lock_guard lock(FLock);
    FNodes.push_back({std::move(node)});
    FBytes += size + kNodeBytes;
  }
  FChanged.notify_all();
  return true;
}

bool TStreamQueue::PutFlush() {
  {
    std::lock_guard lock(FLock);
    FNodes.push_back({nullptr});
    FBytes += kNodeBytes;
  }
  FChanged.notify_all();
  return true;
}

bool TStreamQueue::PutEnd(int streamIndex) {
  AVPacketPtr empty(av_packet_alloc());
  if (!empty) return false;
  empty->stream_index = streamIndex;
  {
    std::lock_guard lock(FLock);
    FNodes.push_back({std::move(empty)});
    FBytes += kNodeBytes;
  }
  FChanged.notify_all();
  return true;
}

int TStreamQueue::Get(AVPacket* packet, bool& isFlush, bool block) {
  std::unique_lock lock(FLock);
  for (;;) {
    if (FAbort) return -1;
    if (!FNodes.empty()) {
      TNode node = std::move(FNodes.front());
      FNodes.pop_front();
      isFlush = !node.Packet;
      FBytes -= (node.Packet ? node.Packet->size : 0) + kNodeBytes;
      lock.unlock();
      av_packet_unref(packet);
      if (node.Packet) av_packet_move_ref(packet, node.Packet.get());
      return 1;
    }
    if (!block) return 0;
    FChanged.wait(lock);
  }
}

void TStreamQueue::Flush() {
  std::deque<TNode> old;
  {
    std::lock_guard lock(FLock);
    old.swap(FNodes);
    FBytes = 0;
  }
}

void TStreamQueue::Abort() {
  {
    std::lock_guard lock(FLock);
    FAbort = true;
  }
  FChanged.notify_all();
}

bool TStreamQueue::Aborted() const {
  std::lock_guard lock(FLock);
  return FAbort;
}

void TStreamQueue::Start() {
  std::lock_guard lock(FLock);
  FAbort = false;
}

int TStreamQueue::Packets() const {
  std::lock_guard lock(FLock);
  return int(FNodes.size());
}

int TStreamQueue::Bytes() const {
  std::lock_guard lock(FLock);
  return FBytes;
}
