// Video: the decoding thread, its filter graph, picture timing and the two-slot picture
// ring, and the hook.
#include <cstdint>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <cstring>
#include <thread>

#include "media/logger.h"
#include "player/playback_state.h"

namespace {
constexpr double kNoFramePts = -1e30;  // "no last frame time stamp"
}

bool PlaybackState::ConfigureGraph(const AVFrame* frame) {
  Graph.reset(avfilter_graph_alloc());
  GraphSource = GraphSink = nullptr;
  if (!Graph) return false;
  Graph->scale_sws_opts = av_strdup("flags=bicubic");
  Graph->nb_threads = 1;

  const AVRational timeBase = VideoStream->time_base;
  AVRational sar = frame->sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0)
    sar = av_guess_sample_aspect_ratio(Format.get(), VideoStream, nullptr);
  if (sar.num <= 0 || sar.den <= 0) sar = {0, 1};
  char args[256];
  snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d",
           frame->width, frame->height, frame->format, timeBase.num, timeBase.den, sar.num,
           sar.den);
  if (avfilter_graph_create_filter(&GraphSource, avfilter_get_by_name("buffer"), "src", args,
                                   nullptr, Graph.get()) < 0)
    return false;
  if (avfilter_graph_create_filter(&GraphSink, avfilter_get_by_name("buffersink"), "out", nullptr,
                                   nullptr, Graph.get()) < 0)
    return false;
  const enum AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
  if (av_opt_set_int_list(GraphSink, "pix_fmts", formats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN) <
      0)
    return false;

  if (Options.VideoFilters.empty()) {
    if (avfilter_link(GraphSource, 0, GraphSink, 0) < 0) return false;
  } else {
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (!outputs || !inputs) {
      avfilter_inout_free(&outputs);
      avfilter_inout_free(&inputs);
      return false;
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = GraphSource;
    outputs->pad_idx = 0;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = GraphSink;
    inputs->pad_idx = 0;
    const int ret = avfilter_graph_parse_ptr(Graph.get(), Options.VideoFilters.c_str(), &inputs,
                                             &outputs, nullptr);
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&inputs);
    if (ret < 0) return false;
  }
  if (avfilter_graph_config(Graph.get(), nullptr) < 0) return false;
  GraphWidth = frame->width;
  GraphHeight = frame->height;
  GraphFormat = frame->format;
  return true;
}

void PlaybackState::FlushPictures() {
  avcodec_flush_buffers(VideoCodec.get());
  Graph.reset();  // a filter may hold pictures from before the seek
  GraphSource = GraphSink = nullptr;
  GraphFormat = -1;
  {
    std::unique_lock lock(PictureLock);
    for (FramePicture& picture : Pictures) picture.Target = 0;
    PictureCond.wait(lock,
                     [&] { return PictureSize == 0 || VideoQueue.Aborted() || AbortRequest; });
    VideoCurrentPos = -1;
    FaultyPts = FaultyDts = 0;
    LastPts = LastDts = kNoPTS;
    FrameLastPts = kNoFramePts;
    FrameLastDelay = 0;
    FrameTimer = NowSeconds();
  }
  SkipRatio = 1;
  SkipCounter = 0;
  VideoDropUntil = VideoSeekFrom.exchange(kNoSeekTarget);
  if (VideoDropUntil != kNoSeekTarget) {
    // The clock restarts at the target: measured against the sound from there, the first
    // pictures are on time rather than late by the distance of the seek (and dropped).
    VideoCurrentPts = VideoDropUntil;
    VideoCurrentPtsDrift = VideoDropUntil - NowSeconds();
    VideoClockHeld = true;
  }
  {
    std::lock_guard lock(SeekPictureLock);
    VideoFlushedForSeek = true;
  }
  FirstAfterFlush = true;
}

// Decodes what the decoder gives for `packet` (null: the end) into pictures and queues the
// ones that are shown. False when the thread must end.
bool PlaybackState::DecodePicture(AVFrame* frame, const AVPacket* packet, bool& got) {
  got = false;
  int ret = avcodec_send_packet(VideoCodec.get(), packet);
  if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN)) return true;  // damaged data
  for (;;) {
    ret = avcodec_receive_frame(VideoCodec.get(), frame);
    if (ret < 0) return true;
    got = true;
    // The time stamp: the reordered one unless it proved less reliable than the decoding
    // times.
    const int64_t reordered = frame->pts;
    const int64_t dts = frame->pkt_dts;
    if (reordered != AV_NOPTS_VALUE) {
      if (LastPts != kNoPTS && reordered <= LastPts) ++FaultyPts;
      LastPts = reordered;
    }
    if (dts != AV_NOPTS_VALUE) {
      if (LastDts != kNoPTS && dts <= LastDts) ++FaultyDts;
      LastDts = dts;
    }
    int64_t stamp = 0;
    if (reordered != AV_NOPTS_VALUE && (FaultyPts <= FaultyDts || dts == AV_NOPTS_VALUE))
      stamp = reordered;
    else if (dts != AV_NOPTS_VALUE)
      stamp = dts;
    frame->pts = stamp;

    // After a seek by time: the pictures before the target only prepare the decoder.
    if (VideoDropUntil != kNoSeekTarget) {
      if (double(stamp) * av_q2d(VideoStream->time_base) < VideoDropUntil - FrameDuration / 2) {
        av_frame_unref(frame);
        continue;
      }
      VideoDropUntil = kNoSeekTarget;
    }

    // The skip ratio drops pictures while the display falls behind; stepping shows each.
    SkipCounter += 1;
    const float ratio = SkipRatio;
    if (SkipCounter < ratio && !StepMode) {
      av_frame_unref(frame);
      continue;
    }
    SkipCounter -= std::max(1.0f, ratio);

    if (!Graph || frame->width != GraphWidth || frame->height != GraphHeight ||
        frame->format != GraphFormat) {
      if (!ConfigureGraph(frame)) {
        GlobalLogger().Log(&Player, llError, "Player: the video filter graph cannot be set up.");
        av_frame_unref(frame);
        return false;
      }
    }
    const int64_t pos = frame->pkt_pos;
    if (av_buffersrc_add_frame_flags(GraphSource, frame, 0) < 0) {
      av_frame_unref(frame);
      continue;
    }
    AVFramePtr picture = MakeFrame();
    while (av_buffersink_get_frame(GraphSink, picture.get()) >= 0) {
      const AVRational timeBase = av_buffersink_get_time_base(GraphSink);
      const double time =
          picture->pts == AV_NOPTS_VALUE ? 0 : double(picture->pts) * av_q2d(timeBase);
      {
        std::lock_guard lock(SeekPictureLock);
        if (JustSeeked && VideoFlushedForSeek) {
          JustSeeked = false;
          PausedAtSeek = false;
        }
      }
      if (!OutputPicture(picture.get(), time, pos)) return false;
      av_frame_unref(picture.get());

      {
        // A seek made while this picture was queued waits for a picture of its own.
        std::lock_guard lock(SeekPictureLock);
        if (VideoFlushedForSeek) {
          FrameQueued.Set();
          if (!SeekRequest) Seeking = false;
        }
      }
      EndFlagged = false;
      int expected = 1;
      if (!OpenPausedCounter.compare_exchange_strong(expected, 2)) {
        expected = 2;
        if (OpenPausedCounter.compare_exchange_strong(expected, 0)) Player.SetState(*this, psPause);
      }
      if (StepMode && !Paused) TogglePause();
    }
  }
}

void PlaybackState::VideoMain() {
  AVPacketPtr packet = MakePacket();
  AVFramePtr frame = MakeFrame();
  for (;;) {
    while (Paused && !VideoQueue.Aborted() && !AbortRequest && !PausedAtSeek &&
           OpenPausedCounter == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    bool flush = false;
    if (VideoQueue.Get(packet.get(), flush, true) < 0) break;
    if (flush) {
      FlushPictures();
      continue;
    }
    const bool end = packet->size == 0 && !packet->data;
    bool got = false;
    if (!DecodePicture(frame.get(), end ? nullptr : packet.get(), got)) break;
    av_packet_unref(packet.get());
    if (end && !EndFlagged) UpdatePosition();
  }
}

bool PlaybackState::OutputPicture(AVFrame* frame, double pts, int64_t pos) {
  if (pts != 0)
    VideoClockValue = pts;
  else
    pts = VideoClockValue;
  VideoClockValue = VideoClockValue + FrameDuration * (1 + 0.5 * frame->repeat_pict);
  return QueuePicture(frame, pts, pos) >= 0;
}

double PlaybackState::ComputeTargetTime(double pts) {
  double delay = pts - FrameLastPts;
  if (delay <= 0 || delay >= 10.0)
    delay = FrameLastDelay;
  else
    FrameLastDelay = delay;
  FrameLastPts = pts;
  if ((SyncType == 0 && AudioStream) || SyncType == 2) {
    const double diff = VideoClock() - MasterClock();
    const double threshold = std::max(kSyncThreshold, delay);
    if (std::fabs(diff) < kNoSyncThreshold) {
      if (diff <= -threshold)
        delay = 0;
      else if (diff >= threshold)
        delay = 2 * delay;
    }
  }
  FrameTimer += delay;
  return FrameTimer;
}

int PlaybackState::QueuePicture(AVFrame* frame, double pts, int64_t pos) {
  auto aborted = [&] { return VideoQueue.Aborted() || AbortRequest; };
  std::unique_lock lock(PictureLock);
  if (PictureSize >= kPictureRing && !RefreshPending)
    SkipRatio = std::max(0.95f, SkipRatio * 0.95f);
  PictureCond.wait(lock, [&] { return PictureSize < kPictureRing || aborted(); });
  if (aborted()) return -1;

  FramePicture& picture = Pictures[PictureWrite];
  const int width = frame->width & ~1, height = frame->height & ~1;
  if (!picture.Overlay || picture.Width != width || picture.Height != height) {
    picture.Allocated = false;
    picture.Width = width;
    picture.Height = height;
    PostEvent(peAllocate);
    PictureCond.wait(lock, [&] { return picture.Allocated || aborted(); });
    if (aborted()) return -1;
  }
  lock.unlock();

  {
    std::lock_guard overlayLock(picture.Overlay->Lock());
    TOverlay& overlay = *picture.Overlay;
    for (int plane = 0; plane < 3; ++plane) {
      const int rows = plane == 0 ? height : height / 2;
      const int bytes = plane == 0 ? width : width / 2;
      for (int y = 0; y < rows; ++y) {
        const int from = Options.FlipVertical ? rows - 1 - y : y;
        std::memcpy(overlay.Plane(plane) + size_t(y) * overlay.Pitch(plane),
                    frame->data[plane] + ptrdiff_t(from) * frame->linesize[plane], size_t(bytes));
      }
    }
    picture.Pts = pts;
    RunHook(picture);
  }
  picture.Frame.reset(av_frame_clone(frame));
  picture.Pos = pos;
  picture.FirstAfterSeek = FirstAfterFlush;
  FirstAfterFlush = false;

  lock.lock();
  PictureWrite = (PictureWrite + 1) % kPictureRing;
  picture.Target = ComputeTargetTime(pts);
  ++PictureSize;
  return 0;
}

void PlaybackState::RunHook(FramePicture& picture) {
  if (!Player.Hook() || Player.FDestroying || !Player.OnHook || Abandoned) return;
  TOverlay& overlay = *picture.Overlay;
  const uint8_t* planes[4] = {overlay.Plane(0), overlay.Plane(1), overlay.Plane(2), nullptr};
  const int pitches[4] = {overlay.Pitch(0), overlay.Pitch(1), overlay.Pitch(2), 0};
  if (!HookConverter.ToRGB(planes, pitches, AV_PIX_FMT_YUV420P, overlay.Height(),
                           overlay.Width())) {
    GlobalLogger().Log(&Player, llError, "Cannot initialize the toRGB conversion context");
    return;
  }
  TBitmap* bitmap = HookConverter.Bitmap();
  try {
    std::lock_guard canvas(bitmap->Canvas());
    Player.OnHook(&Player, bitmap, std::llround(picture.Pts * 1000000.0) - StartTime);
  } catch (const std::exception& e) {
    GlobalLogger().Log(&Player, llError, std::string("Error occurs OnHook: ") + e.what());
    return;
  }
  if (HookConverter.Unchanged()) return;
  uint8_t* out[4] = {overlay.Plane(0), overlay.Plane(1), overlay.Plane(2), nullptr};
  if (!HookConverter.FromRGB(out, pitches, AV_PIX_FMT_YUV420P, overlay.Height(), overlay.Width()))
    GlobalLogger().Log(&Player, llError, "Cannot initialize the fromRGB conversion context");
}

void PlaybackState::AllocatePicture() {
  std::unique_lock lock(PictureLock);
  FramePicture& picture = Pictures[PictureWrite];
  if (picture.Allocated) return;
  const int width = picture.Width, height = picture.Height;
  picture.Overlay.reset();
  picture.Frame.reset();
  lock.unlock();
  if (!SurfaceOpen) OpenSurface(false, width, height);
  std::unique_ptr<TOverlay> overlay;
  if (Output) overlay = Output->CreateOverlay(width, height);
  if (!overlay) overlay = std::make_unique<TOverlay>(width, height);
  lock.lock();
  picture.Overlay = std::move(overlay);
  picture.Allocated = true;
  lock.unlock();
  PictureCond.notify_all();
}
