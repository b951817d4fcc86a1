#include "engine/tests/av_onsets.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <limits>

#include "media/ffmpeg_ptr.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kLoud = 0.125;  // the beeps are at half full scale
constexpr double kQuiet = 0.05;  // seconds of quiet before a beep counts as a new one
constexpr int kLumaSide = 16;    // pictures are judged at 16 x 16 grey

struct TStreamDecoder {
  int Index = -1;
  AVStream* Stream = nullptr;
  AVCodecContextPtr Codec;
};

bool OpenDecoder(AVFormatContext* ic, AVMediaType type, TStreamDecoder& out) {
  const AVCodec* codec = nullptr;
  const int index = av_find_best_stream(ic, type, -1, -1, &codec, 0);
  if (index < 0 || !codec) return false;
  out.Index = index;
  out.Stream = ic->streams[index];
  out.Codec.reset(avcodec_alloc_context3(codec));
  if (!out.Codec || avcodec_parameters_to_context(out.Codec.get(), out.Stream->codecpar) < 0)
    return false;
  out.Codec->pkt_timebase = out.Stream->time_base;
  out.Codec->thread_count = 1;
  return avcodec_open2(out.Codec.get(), codec, nullptr) >= 0;
}

class TOnsetCollector {
 public:
  explicit TOnsetCollector(TAvOnsets& result) : R(result) {}

  void Picture(const AVFrame* frame, double time) {
    if (std::isnan(R.VideoStart)) R.VideoStart = time;
    ++R.Pictures;
    Scaler = sws_getCachedContext(Scaler, frame->width, frame->height, AVPixelFormat(frame->format),
                                  kLumaSide, kLumaSide, AV_PIX_FMT_GRAY8, SWS_AREA, nullptr,
                                  nullptr, nullptr);
    uint8_t grey[kLumaSide * kLumaSide];
    uint8_t* planes[4] = {grey, nullptr, nullptr, nullptr};
    int strides[4] = {kLumaSide, 0, 0, 0};
    double mean = 0;
    if (Scaler &&
        sws_scale(Scaler, frame->data, frame->linesize, 0, frame->height, planes, strides) > 0) {
      for (uint8_t value : grey) mean += value;
      mean /= kLumaSide * kLumaSide;
    }
    const bool white = mean > 128;
    if (white && !LastWhite) R.Flashes.push_back(time);
    LastWhite = white;
    // The end of this picture: its own duration, or the distance from the one before.
    double duration = frame->pkt_duration > 0 ? double(frame->pkt_duration) * VideoBase : 0;
    if (duration <= 0) duration = std::isnan(LastPictureTime) ? 0 : time - LastPictureTime;
    LastPictureTime = time;
    R.VideoEnd = std::max(std::isnan(R.VideoEnd) ? time : R.VideoEnd, time + duration);
  }

  void Sound(const AVFrame* frame, double time) {
    if (!Resampler) {
      SwrContext* raw = nullptr;
      AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
      AVChannelLayout in{};
      if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&in, frame->ch_layout.nb_channels);
      else
        av_channel_layout_copy(&in, &frame->ch_layout);
      if (swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_FLT, frame->sample_rate, &in,
                              AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr) >= 0) {
        Resampler.reset(raw);
        if (swr_init(raw) < 0) Resampler.reset();
      }
      av_channel_layout_uninit(&in);
      R.SampleRate = frame->sample_rate;
      R.Channels = frame->ch_layout.nb_channels;
      if (!Resampler) return;
    }
    if (std::isnan(R.AudioStart)) R.AudioStart = time;
    std::vector<float> mono(size_t(frame->nb_samples) + 64);
    uint8_t* out[1] = {reinterpret_cast<uint8_t*>(mono.data())};
    const int got =
        swr_convert(Resampler.get(), out, int(mono.size()),
                    const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    const double rate = frame->sample_rate;
    for (int i = 0; i < got; ++i) {
      const double value = std::fabs(mono[size_t(i)]);
      R.Peak = std::max(R.Peak, value);
      const double at = time + i / rate;
      if (value > kLoud) {
        if (std::isnan(LastLoud) || at - LastLoud > kQuiet) R.Beeps.push_back(at);
        LastLoud = at;
      }
    }
    R.Samples += frame->nb_samples;
    R.AudioEnd = time + frame->nb_samples / rate;
  }

  ~TOnsetCollector() { sws_freeContext(Scaler); }

  double VideoBase = 0;

 private:
  TAvOnsets& R;
  SwsContext* Scaler = nullptr;
  SwrContextPtr Resampler;
  bool LastWhite = false;
  double LastPictureTime = kNaN;
  double LastLoud = kNaN;
};

}  // namespace

TAvOnsets MeasureOnsets(const std::string& path) {
  TAvOnsets result;
  result.VideoStart = result.VideoEnd = result.AudioStart = result.AudioEnd = kNaN;
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
    result.Error = "cannot open " + path;
    return result;
  }
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> input(
      raw, [](AVFormatContext* c) { avformat_close_input(&c); });
  if (avformat_find_stream_info(raw, nullptr) < 0) {
    result.Error = "no stream information in " + path;
    return result;
  }
  if (raw->duration != AV_NOPTS_VALUE) result.ContainerDuration = double(raw->duration) / 1e6;
  TStreamDecoder video, audio;
  const bool hasVideo = OpenDecoder(raw, AVMEDIA_TYPE_VIDEO, video);
  const bool hasAudio = OpenDecoder(raw, AVMEDIA_TYPE_AUDIO, audio);
  if (!hasVideo && !hasAudio) {
    result.Error = "no decodable stream in " + path;
    return result;
  }
  TOnsetCollector collector(result);
  if (hasVideo) collector.VideoBase = av_q2d(video.Stream->time_base);

  AVPacketPtr packet = MakePacket();
  AVFramePtr frame = MakeFrame();
  // Times of frames the decoder gives without one continue from the frame before.
  double nextVideo = kNaN, nextAudio = kNaN;
  auto drain = [&](TStreamDecoder& d) {
    for (;;) {
      const int got = avcodec_receive_frame(d.Codec.get(), frame.get());
      if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
      if (got < 0) {
        result.DecodeErrors = true;
        return;
      }
      const double base = av_q2d(d.Stream->time_base);
      const int64_t ts = frame->best_effort_timestamp;
      if (&d == &video) {
        double time = ts != AV_NOPTS_VALUE ? double(ts) * base : nextVideo;
        if (std::isnan(time)) time = 0;
        collector.Picture(frame.get(), time);
        nextVideo = result.VideoEnd;
      } else {
        double time = ts != AV_NOPTS_VALUE ? double(ts) * base : nextAudio;
        if (std::isnan(time)) time = 0;
        collector.Sound(frame.get(), time);
        nextAudio = result.AudioEnd;
      }
      av_frame_unref(frame.get());
    }
  };
  while (av_read_frame(raw, packet.get()) >= 0) {
    TStreamDecoder* d = nullptr;
    if (hasVideo && packet->stream_index == video.Index) d = &video;
    if (hasAudio && packet->stream_index == audio.Index) d = &audio;
    if (d) {
      if (avcodec_send_packet(d->Codec.get(), packet.get()) < 0) result.DecodeErrors = true;
      drain(*d);
    }
    av_packet_unref(packet.get());
  }
  for (TStreamDecoder* d : {&video, &audio}) {
    if (!d->Codec) continue;
    avcodec_send_packet(d->Codec.get(), nullptr);
    drain(*d);
  }
  return result;
}

namespace {

TLipSync Summarise(const std::vector<double>& differences, int unpaired) {
  TLipSync sync;
  sync.Pairs = int(differences.size());
  sync.Unpaired = unpaired;
  if (differences.empty()) return sync;
  double sum = 0;
  sync.Min = sync.Max = differences.front();
  for (double d : differences) {
    sum += d;
    sync.Min = std::min(sync.Min, d);
    sync.Max = std::max(sync.Max, d);
  }
  sync.Mean = sum / double(differences.size());
  return sync;
}

}  // namespace

TLipSync MeasureLipSync(const TAvOnsets& onsets) {
  std::vector<double> differences;
  int unpaired = 0;
  for (double flash : onsets.Flashes) {
    double best = kNaN;
    for (double beep : onsets.Beeps)
      if (std::fabs(beep - flash) < 0.5 &&
          (std::isnan(best) || std::fabs(beep - flash) < std::fabs(best - flash)))
        best = beep;
    if (std::isnan(best))
      ++unpaired;
    else
      differences.push_back(best - flash);
  }
  return Summarise(differences, unpaired);
}

TLipSync MeasureAgainst(const std::vector<double>& onsets, const std::vector<double>& expected,
                        double start) {
  std::vector<double> differences;
  int unpaired = 0;
  for (double want : expected) {
    double best = kNaN;
    for (double onset : onsets) {
      const double at = onset - start;
      if (std::fabs(at - want) < 0.25 &&
          (std::isnan(best) || std::fabs(at - want) < std::fabs(best - want)))
        best = at;
    }
    if (std::isnan(best))
      ++unpaired;
    else
      differences.push_back(best - want);
  }
  return Summarise(differences, unpaired);
}
