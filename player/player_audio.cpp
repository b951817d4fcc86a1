// Audio: decoding for SDL's audio callback, volume and mute, the audio clock and the
// audio-side synchronisation.
#include <SDL2/SDL.h>

#include <cstdint>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include "media/logger.h"
#include "player/playback_state.h"

namespace {
constexpr int kSdlSamples = 1024;
constexpr int kSilenceBytes = 1024;
}  // namespace

bool PlaybackState::OpenAudioDevice() {
  if (!SdlAudioStarted) return false;
  const int channels = AudioCodec->ch_layout.nb_channels;
  SDL_AudioSpec wanted{}, got{};
  wanted.freq = AudioCodec->sample_rate;
  wanted.format = AUDIO_S16SYS;
  wanted.channels = uint8_t(channels == 1 ? 1 : 2);
  wanted.silence = 0;
  wanted.samples = kSdlSamples;
  wanted.callback = AudioCallbackEntry;
  wanted.userdata = this;
  AudioChannels = wanted.channels;
  AudioRate = wanted.freq;
  if (AudioRate <= 0) return false;
  std::lock_guard lock(SdlLock());
  // SDL converts whatever the device wants; the callback always sees this format.
  AudioDevice = SDL_OpenAudioDevice(nullptr, 0, &wanted, &got, 0);
  if (!AudioDevice) return false;
  AudioHardwareBufferSize = int(got.size);
  return true;
}

void PlaybackState::AudioCallbackEntry(void* opaque, uint8_t* stream, int len) {
  static_cast<PlaybackState*>(opaque)->AudioCallback(stream, len);
}

void PlaybackState::AudioCallback(uint8_t* stream, int len) {
  AudioCallbackTime = av_gettime_relative();
  std::memset(stream, 0, size_t(len));
  const double reset = AudioClockReset.exchange(kNoSeekTarget);
  if (reset != kNoSeekTarget) {
    // A seek: what is left of the chunk from before it is not played.
    AudioClockValue = reset;
    AudioBufferIndex = AudioBufferSize;
  }
  while (len > 0) {
    if (AudioBufferIndex >= AudioBufferSize) {
      if (AudioQueue.Aborted()) break;
      double pts = 0;
      int size = AudioDecodeFrame(pts);
      if (size < 0) {
        std::memset(AudioBuffer.data(), 0, kSilenceBytes);
        size = kSilenceBytes;
      } else {
        if (ShowAudio) {
          std::lock_guard lock(SampleLock);
          if (SampleRing.empty()) SampleRing.assign(kSampleRing, 0);
          const auto* samples = reinterpret_cast<const int16_t*>(AudioBuffer.data());
          int count = size / 2;
          const int16_t* from = samples;
          while (count > 0) {
            const int n = std::min(count, kSampleRing - SampleIndex);
            std::memcpy(&SampleRing[size_t(SampleIndex)], from, size_t(n) * 2);
            from += n;
            SampleIndex = (SampleIndex + n) % kSampleRing;
            count -= n;
          }
        }
        size = SynchronizeAudio(size, pts);
      }
      AudioBufferSize = size;
      AudioBufferIndex = 0;
    }
    const int n = std::min(AudioBufferSize - AudioBufferIndex, len);
    if (!Player.Mute())
      SDL_MixAudioFormat(stream, AudioBuffer.data() + AudioBufferIndex, AUDIO_S16SYS, uint32_t(n),
                         Player.AudioVolume());
    len -= n;
    stream += n;
    AudioBufferIndex += n;
  }
  AudioBufferLeft = AudioBufferSize - AudioBufferIndex;
  AudioClockPublished = AudioClockValue;
}

bool PlaybackState::ReceiveAudioFrame() {
  const int ret = avcodec_receive_frame(AudioCodec.get(), AudioFrame.get());
  if (ret >= 0) return true;
  if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF)
    GlobalLogger().Log(&Player, llInfo, "avcodec_decode_audio2() failed");
  AudioPacketPending = false;
  return false;
}

int PlaybackState::AudioDecodeFrame(double& pts) {
  const int bytesPerFrame = 2 * AudioChannels;
  for (;;) {
    while (AudioPacketPending && ReceiveAudioFrame()) {
      AVFrame* frame = AudioFrame.get();
      if (frame->pts != AV_NOPTS_VALUE)
        AudioClockValue = double(frame->pts) * av_q2d(AudioStream->time_base);

      // A new source format (or layout, or rate) gets a new converter to what SDL plays.
      const bool sameSource = frame->format == AudioSourceFormat &&
                              frame->sample_rate == AudioSourceRate &&
                              av_channel_layout_compare(&frame->ch_layout, &AudioSourceLayout) == 0;
      if (!sameSource) {
        AudioConverter.reset();
        AVChannelLayout out{};
        av_channel_layout_default(&out, AudioChannels);
        SwrContext* converter = nullptr;
        int made =
            swr_alloc_set_opts2(&converter, &out, AV_SAMPLE_FMT_S16, AudioRate, &frame->ch_layout,
                                AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        SwrContextPtr owned(converter);
        if (made >= 0) made = swr_init(converter);
        av_channel_layout_uninit(&out);
        if (made < 0) {
          const char* from = av_get_sample_fmt_name(AVSampleFormat(frame->format));
          GlobalLogger().LogFmt(&Player, llError,
                                "Cannot convert %s sample format to %s sample format",
                                from ? from : "?", av_get_sample_fmt_name(AV_SAMPLE_FMT_S16));
          av_frame_unref(frame);
          continue;
        }
        AudioConverter = std::move(owned);
        AudioSourceFormat = frame->format;
        AudioSourceRate = frame->sample_rate;
        av_channel_layout_uninit(&AudioSourceLayout);
        av_channel_layout_copy(&AudioSourceLayout, &frame->ch_layout);
      }
      uint8_t* out[1] = {AudioBuffer.data()};
      const int capacity = kAudioBufferBytes / bytesPerFrame;
      const int samples =
          swr_convert(AudioConverter.get(), out, capacity,
                      const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
      av_frame_unref(frame);
      if (samples < 0) {
        GlobalLogger().Log(&Player, llError, "av_audio_convert() failed");
        continue;
      }
      if (samples == 0) continue;
      const int size = samples * bytesPerFrame;
      if (AudioDropUntil != kNoSeekTarget) {
        // After a seek by time: the sound before the target is not played.
        const double end = AudioClockValue + double(size) / (double(bytesPerFrame) * AudioRate);
        if (end <= AudioDropUntil) {
          AudioClockValue = end;
          continue;
        }
        AudioDropUntil = kNoSeekTarget;
      }
      pts = AudioClockValue;
      AudioClockValue += double(size) / (double(bytesPerFrame) * AudioRate);
      return size;
    }

    if (Paused || AudioQueue.Aborted()) return -1;
    bool flush = false;
    if (AudioQueue.Get(AudioPacket.get(), flush, false) <= 0) return -1;
    if (flush) {
      avcodec_flush_buffers(AudioCodec.get());
      AudioPacketPending = false;
      AudioDropUntil = AudioSeekFrom.exchange(kNoSeekTarget);
      continue;
    }
    if (AudioPacket->pts != AV_NOPTS_VALUE)
      AudioClockValue = double(AudioPacket->pts) * av_q2d(AudioStream->time_base);
    if (avcodec_send_packet(AudioCodec.get(), AudioPacket.get()) < 0)
      GlobalLogger().Log(&Player, llInfo, "avcodec_decode_audio2() failed");
    else
      AudioPacketPending = true;
    av_packet_unref(AudioPacket.get());
  }
}

int PlaybackState::SynchronizeAudio(int size, double pts) {
  (void)pts;
  const bool slave = (SyncType == 1 && VideoStream) || SyncType == 2;
  if (!slave) return size;
  const int bytesPerFrame = 2 * AudioChannels;
  const double diff = AudioClock() - MasterClock();
  if (!(std::fabs(diff) < kNoSyncThreshold)) {
    AudioDiffAvgCount = 0;
    AudioDiffCum = 0;
    return size;
  }
  AudioDiffCum = diff + AudioDiffAvgCoef * AudioDiffCum;
  if (AudioDiffAvgCount < kAudioDiffMeasures) {
    ++AudioDiffAvgCount;
    return size;
  }
  const double average = AudioDiffCum * (1.0 - AudioDiffAvgCoef);
  if (std::fabs(average) < AudioDiffThreshold) return size;
  int wanted = size + int(std::lrint(diff * AudioRate)) * bytesPerFrame;
  const int frames = size / bytesPerFrame;
  const int minSize = frames * 90 / 100 * bytesPerFrame;
  const int maxSize = std::min(frames * 110 / 100 * bytesPerFrame,
                               kAudioBufferBytes / bytesPerFrame * bytesPerFrame);
  wanted = std::clamp(wanted, minSize, maxSize);
  if (wanted > size && size >= bytesPerFrame) {
    // Lengthen by repeating the last sample frame.
    const uint8_t* last = AudioBuffer.data() + size - bytesPerFrame;
    for (int at = size; at + bytesPerFrame <= wanted; at += bytesPerFrame)
      std::memcpy(AudioBuffer.data() + at, last, size_t(bytesPerFrame));
  }
  return wanted;
}

double PlaybackState::AudioClock() const {
  if (AudioRate <= 0 || AudioChannels <= 0) return AudioClockPublished;
  return AudioClockPublished - double(AudioBufferLeft) / (double(AudioRate) * 2 * AudioChannels);
}
