// Bitmap subtitles: decoded on their own thread into a ring of four, blended at display.
#include <thread>

#include "media/logger.h"
#include "player/playback_state.h"

void PlaybackState::SubtitleMain() {
  AVPacketPtr packet = MakePacket();
  for (;;) {
    while (Paused && !PausedAtSeek && !SubtitleQueue.Aborted() && !AbortRequest)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    bool flush = false;
    if (SubtitleQueue.Get(packet.get(), flush, true) < 0) break;
    if (flush) {
      avcodec_flush_buffers(SubtitleCodec.get());
      continue;
    }
    {
      std::unique_lock lock(SubtitleLock);
      SubtitleCond.wait(lock, [&] {
        return int(Subtitles.size()) < kSubtitleRing || SubtitleQueue.Aborted() || AbortRequest;
      });
      if (SubtitleQueue.Aborted() || AbortRequest) break;
    }
    const double pts =
        packet->pts != AV_NOPTS_VALUE ? double(packet->pts) * av_q2d(SubtitleStream->time_base) : 0;
    AVSubtitle subtitle{};
    int got = 0;
    const int ret = avcodec_decode_subtitle2(SubtitleCodec.get(), &subtitle, &got, packet.get());
    av_packet_unref(packet.get());
    if (ret < 0 || !got) continue;
    if (subtitle.format == 0) {  // bitmaps
      SubtitlePicture picture;
      picture.Pts = pts;
      picture.Start = pts + subtitle.start_display_time / 1000.0;
      picture.End = pts + subtitle.end_display_time / 1000.0;
      for (unsigned i = 0; i < subtitle.num_rects; ++i) {
        const AVSubtitleRect* rect = subtitle.rects[i];
        if (rect->type != SUBTITLE_BITMAP || rect->w <= 0 || rect->h <= 0) continue;
        TSubtitleBitmap bitmap;
        bitmap.X = rect->x;
        bitmap.Y = rect->y;
        bitmap.Width = rect->w;
        bitmap.Height = rect->h;
        bitmap.Indices.resize(size_t(rect->w) * rect->h);
        for (int y = 0; y < rect->h; ++y)
          std::copy_n(rect->data[0] + size_t(y) * rect->linesize[0], rect->w,
                      bitmap.Indices.begin() + ptrdiff_t(y) * rect->w);
        const auto* palette = reinterpret_cast<const uint32_t*>(rect->data[1]);
        for (int c = 0; c < rect->nb_colors && c < 256; ++c)
          bitmap.Palette[size_t(c)] = RgbaToYuva(palette[c]);
        picture.Rects.push_back(std::move(bitmap));
      }
      std::lock_guard lock(SubtitleLock);
      Subtitles.push_back(std::move(picture));
    }
    avsubtitle_free(&subtitle);
  }
}
