// Owning handles for FFmpeg objects: every FFmpeg allocation in the project is held by one
// of these, so that early returns and exceptions free it.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>

struct AVFrameFree {
  void operator()(AVFrame* p) const { av_frame_free(&p); }
};
struct AVPacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct AVCodecContextFree {
  void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct SwsContextFree {
  void operator()(SwsContext* p) const { sws_freeContext(p); }
};
struct SwrContextFree {
  void operator()(SwrContext* p) const { swr_free(&p); }
};
struct AVFilterGraphFree {
  void operator()(AVFilterGraph* p) const { avfilter_graph_free(&p); }
};
struct AVAudioFifoFree {
  void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};
struct AVBSFContextFree {
  void operator()(AVBSFContext* p) const { av_bsf_free(&p); }
};
struct AVDictionaryFree {
  void operator()(AVDictionary* p) const { av_dict_free(&p); }
};

using AVFramePtr = std::unique_ptr<AVFrame, AVFrameFree>;
using AVPacketPtr = std::unique_ptr<AVPacket, AVPacketFree>;
using AVCodecContextPtr = std::unique_ptr<AVCodecContext, AVCodecContextFree>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextFree>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextFree>;
using AVFilterGraphPtr = std::unique_ptr<AVFilterGraph, AVFilterGraphFree>;
using AVAudioFifoPtr = std::unique_ptr<AVAudioFifo, AVAudioFifoFree>;
using AVBSFContextPtr = std::unique_ptr<AVBSFContext, AVBSFContextFree>;
using AVDictionaryPtr = std::unique_ptr<AVDictionary, AVDictionaryFree>;

struct AVFormatContextFree {
  void operator()(AVFormatContext* p) const { avformat_free_context(p); }
};
// A format context that never opened a file (an option set, a context before its open).
using FormatContextPtr = std::unique_ptr<AVFormatContext, AVFormatContextFree>;

inline AVFramePtr MakeFrame() {
  return AVFramePtr(av_frame_alloc());
}
inline AVPacketPtr MakePacket() {
  return AVPacketPtr(av_packet_alloc());
}

// A copy of `source`; null when `source` is null or empty.
inline AVDictionaryPtr CopyDictionary(const AVDictionary* source) {
  AVDictionary* copy = nullptr;
  av_dict_copy(&copy, source, 0);
  return AVDictionaryPtr(copy);
}

// Lends a dictionary handle to a call that takes AVDictionary** (and may add to it, replace it
// or free it): the handle owns whatever the call leaves, also when the call throws. Pass a
// temporary, `avcodec_open2(c, codec, DictionaryArg(options))`, so that the handle takes the
// dictionary back at the end of the statement.
class DictionaryArg {
 public:
  explicit DictionaryArg(AVDictionaryPtr& owner) : FOwner(owner), FRaw(owner.release()) {}
  ~DictionaryArg() { FOwner.reset(FRaw); }
  DictionaryArg(const DictionaryArg&) = delete;
  DictionaryArg& operator=(const DictionaryArg&) = delete;
  operator AVDictionary**() { return &FRaw; }

 private:
  AVDictionaryPtr& FOwner;
  AVDictionary* FRaw;
};

// An input opened with OpenMediaInput (media/io_scheme.h), closed with CloseMediaInput.
void CloseMediaInput(AVFormatContext** context);
struct MediaInputClose {
  void operator()(AVFormatContext* p) const { CloseMediaInput(&p); }
};
using MediaInputPtr = std::unique_ptr<AVFormatContext, MediaInputClose>;

// An output context (its pb closed when it was opened by avio_open).
struct OutputContextFree {
  void operator()(AVFormatContext* p) const {
    if (!p) return;
    if (p->oformat && !(p->oformat->flags & AVFMT_NOFILE)) avio_closep(&p->pb);
    avformat_free_context(p);
  }
};
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextFree>;
