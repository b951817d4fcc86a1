// The audio path: sync (silence, dropping, drift compensation), resampling and format
// conversion with libswresample, framing through an AVAudioFifo, encoding.
#include <cstdint>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include <cmath>

#include "engine/run_state.h"
#include "engine/transcoder.h"
#include "media/logger.h"

namespace {

// Without audio sync, how far the sound may run off the picture's clock before it is moved
// back into place (below, timestamps' rounding and a resampler's delay estimate).
constexpr double kAudioGapSeconds = 0.02;

// A frame that can hold `samples` samples of the encoder's format, reused between blocks.
AVFrame* WorkFrame(AVFramePtr& frame, const AVCodecContext* enc, int samples) {
  if (!frame) frame = MakeFrame();
  AVFrame* f = frame.get();
  if (f->nb_samples >= samples && f->format == enc->sample_fmt &&
      f->ch_layout.nb_channels == enc->ch_layout.nb_channels && av_frame_is_writable(f))
    return f;
  av_frame_unref(f);
  f->format = enc->sample_fmt;
  av_channel_layout_copy(&f->ch_layout, &enc->ch_layout);
  f->sample_rate = enc->sample_rate;
  f->nb_samples = std::max(samples, 1024);
  if (av_frame_get_buffer(f, 0) < 0) throw FFmpegException("Out of memory in do_audio_out");
  return f;
}

}  // namespace

void TCustomTranscoder::DoAudioOut(TOutputStreamRun& ost, TInputStreamRun& ist, AVFrame* frame) {
  auto& s = FSettings;
  TRunState& run = *FRun;
  AVCodecContext* enc = run.Encoder(ost);
  const auto inFormat = AVSampleFormat(frame->format);
  const int inRate = frame->sample_rate;
  const int inChannels = frame->ch_layout.nb_channels;
  const int outRate = enc->sample_rate;
  const int outChannels = enc->ch_layout.nb_channels;
  const auto outFormat = enc->sample_fmt;
  if (inRate <= 0 || inChannels <= 0) return;

  // 2, 3. Resampler and format converter are one libswresample context here; it is (re)made
  // when the input's format changes.
  if (outChannels != inChannels) ost.AudioResample = true;
  const bool convert = ost.AudioResample || inFormat != outFormat;
  if (convert && (!ost.ResamplerMade || ost.ResamplerInFormat != inFormat ||
                  ost.ResamplerInRate != inRate || ost.ResamplerInChannels != inChannels)) {
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
      av_channel_layout_default(&inLayout, inChannels);
    else
      av_channel_layout_copy(&inLayout, &frame->ch_layout);
    SwrContext* raw = nullptr;
    int made = swr_alloc_set_opts2(&raw, &enc->ch_layout, outFormat, outRate, &inLayout, inFormat,
                                   inRate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    SwrContextPtr context(raw);
    if (made >= 0 && s.AudioSyncMethod > 1)
      made = av_opt_set_int(context.get(), "flags", SWR_FLAG_RESAMPLE, 0);
    if (made >= 0) made = swr_init(context.get());
    if (made < 0) {
      if (ost.AudioResample)
        RaiseFFmpeg("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", inChannels,
                    inRate, outChannels, outRate);
      RaiseFFmpeg("Cannot convert %s sample format to %s sample format",
                  av_get_sample_fmt_name(inFormat), av_get_sample_fmt_name(outFormat));
    }
    ost.Resampler = std::move(context);
    ost.ResamplerMade = true;
    ost.ResamplerInFormat = inFormat;
    ost.ResamplerInRate = inRate;
    ost.ResamplerInChannels = inChannels;
    if (ost.AudioResample && !FRunReport.empty()) FRunReport[ReportIndex(ost)].Resampled = true;
  }
  SwrContext* swr = convert ? ost.Resampler.get() : nullptr;

  // What lies before the start of the conversion (the lead-in of a cut, what a seek gives
  // before its target) is not converted, to the sample: the block that straddles the start
  // loses its lead part.
  int dropSamples = 0;
  const int64_t start = s.StartTime;
  if (!(s.CopyTs && start == 0) && ist.Pts < start) {
    dropSamples = int(
        std::min<int64_t>(frame->nb_samples, av_rescale(start - ist.Pts, inRate, AV_TIME_BASE)));
    if (dropSamples >= frame->nb_samples) return;
  }

  // 4. Audio sync. Positions are in output samples; what waits in the FIFO and in the
  // resampler's filter has not been encoded yet.
  const int64_t fifoSamples = ost.Fifo ? av_audio_fifo_size(ost.Fifo.get()) : 0;
  const int64_t pending = fifoSamples + (swr ? swr_get_delay(swr, outRate) : 0);
  const TInputStreamRun& sync = run.InputStreams[size_t(ost.SyncIndex)];
  double syncTime = double(sync.Pts - s.StartTime) / AV_TIME_BASE;
  if (&sync == &ist) syncTime += double(dropSamples) / inRate;
  int64_t silence = 0;
  const double delta = syncTime * outRate - double(ost.NextFrameIndex) - double(pending);
  // Whether the block is moved to its place: cut where it overlaps what was encoded, or
  // preceded by silence where it leaves a gap. With audio sync the first block always is,
  // later ones when they drift past the threshold. Without it (0) the sound keeps to the
  // picture's clock within a few samples at the first block and within kAudioGapSeconds
  // later: a cut's lead-in, a join, a gap in the source or a sound that started late never
  // shift the sound against the picture, in containers that keep no audio times (DV, SWF,
  // WAV, raw audio) as in those that do.
  bool realign = false;
  if (std::fabs(delta) > 50) {
    if (s.AudioSyncMethod != 0)
      realign = ist.IsStart || std::fabs(delta) > s.AudioDriftThreshold * outRate;
    else
      realign = ist.IsStart || std::fabs(delta) > kAudioGapSeconds * outRate;
  }
  if (realign) {
    if (delta < 0) {
      const double inputDelta = -delta * inRate / outRate;
      dropSamples = int(std::min<double>(dropSamples + std::trunc(inputDelta), frame->nb_samples));
      if (s.Verbose > 2)
        GlobalLogger().LogFmt(this, llVerbose, "discarding %d audio samples", int(-delta));
      if (dropSamples >= frame->nb_samples) return;
    } else {
      silence = int64_t(delta);
      if (s.Verbose > 2)
        GlobalLogger().LogFmt(this, llVerbose, "adding %d audio samples of silence", int(delta));
    }
  } else if (std::fabs(delta) > 50 && s.AudioSyncMethod > 1) {
    if (!swr) throw EAssertionFailed("audio drift compensation without a resampler");
    const int compensation = std::clamp(int(delta), -s.AudioSyncMethod, s.AudioSyncMethod);
    if (s.Verbose > 2)
      GlobalLogger().LogFmt(this, llVerbose,
                            "compensating audio timestamp drift:%f compensation:%d in:%d", delta,
                            compensation, outRate);
    swr_set_compensation(swr, compensation, outRate);
  }
  // Only the very first block may be aligned whatever its offset; later ones only when they
  // drift past the threshold.
  ist.IsStart = false;

  // 5, 6. Resample or convert into the work frame, after any silence.
  const int inSamples = frame->nb_samples - dropSamples;
  const int bytesPerSample = av_get_bytes_per_sample(inFormat);
  const uint8_t* input[AV_NUM_DATA_POINTERS] = {};
  const bool planar = av_sample_fmt_is_planar(inFormat);
  for (int p = 0; p < (planar ? inChannels : 1) && p < AV_NUM_DATA_POINTERS; ++p)
    input[p] =
        frame->extended_data[p] + size_t(dropSamples) * bytesPerSample * (planar ? 1 : inChannels);
  if (planar && inChannels > AV_NUM_DATA_POINTERS)
    throw FFmpegException(FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                                     inChannels, inRate, outChannels, outRate));

  const int64_t capacity = silence + (swr ? swr_get_out_samples(swr, inSamples) : inSamples) + 16;
  if (capacity > INT_MAX / 64) throw FFmpegException("Buffer sizes too large in do_audio_out");
  AVFrame* work = WorkFrame(ost.AudioWork, enc, int(capacity));
  int outSamples = 0;
  if (silence > 0) {
    av_samples_set_silence(work->extended_data, 0, int(silence), outChannels, outFormat);
    outSamples = int(silence);
  }
  if (swr) {
    const int outBytesPerSample = av_get_bytes_per_sample(outFormat);
    const bool outPlanar = av_sample_fmt_is_planar(outFormat);
    uint8_t* output[AV_NUM_DATA_POINTERS] = {};
    for (int p = 0; p < (outPlanar ? outChannels : 1) && p < AV_NUM_DATA_POINTERS; ++p)
      output[p] = work->extended_data[p] +
                  size_t(outSamples) * outBytesPerSample * (outPlanar ? 1 : outChannels);
    const int converted = swr_convert(swr, output, work->nb_samples - outSamples, input, inSamples);
    if (converted < 0) {
      if (s.ExitOnError || ost.AudioResample)
        throw FFmpegException(ost.AudioResample ? "audio_resample() failed"
                                                : "av_audio_convert() failed");
      GlobalLogger().Log(this, llError, "av_audio_convert() failed");
      return;
    }
    outSamples += converted;
  } else {
    av_samples_copy(work->extended_data, const_cast<uint8_t* const*>(input), outSamples, 0,
                    inSamples, outChannels, outFormat);
    outSamples += inSamples;
  }
  if (outSamples <= 0) return;

  // 7. Encode.
  EncodeAudioSamples(ost, work, outSamples);
}

// Whole frames through the FIFO, or the whole block for PCM-like encoders.
void TCustomTranscoder::EncodeAudioSamples(TOutputStreamRun& ost, AVFrame* work, int samples) {
  TRunState& run = *FRun;
  AVCodecContext* enc = run.Encoder(ost);
  if (ost.Fifo) {
    if (av_audio_fifo_write(ost.Fifo.get(), reinterpret_cast<void**>(work->extended_data),
                            samples) < samples)
      throw FFmpegException("av_fifo_realloc2() failed");
    const int frameSize = enc->frame_size;
    while (av_audio_fifo_size(ost.Fifo.get()) >= frameSize) {
      AVFrame* out = run.EncodeFrame.get();
      PrepareAudioFrame(out, enc, frameSize);
      av_audio_fifo_read(ost.Fifo.get(), reinterpret_cast<void**>(out->extended_data), frameSize);
      EncodeAudioFrame(ost, out, frameSize);
    }
  } else {
    AVFrame* out = run.EncodeFrame.get();
    av_frame_unref(out);
    if (av_frame_ref(out, work) < 0) throw FFmpegException("Out of memory in do_audio_out");
    out->nb_samples = samples;
    EncodeAudioFrame(ost, out, samples);
  }
}

int64_t TCustomTranscoder::AudioPosition(const TOutputStreamRun& ost) const {
  const AVCodecContext* enc = FRun->Encoder(ost);
  int64_t position = ost.NextFrameIndex;
  if (ost.Fifo) position += av_audio_fifo_size(ost.Fifo.get());
  if (ost.Resampler && enc) position += swr_get_delay(ost.Resampler.get(), enc->sample_rate);
  return position;
}

// The end of the sound of an output stream (its input ended, was stopped, or a join moves
// on): what the resampler still holds is encoded, then silence up to the end of the
// pictures of the same output file, so the sound lasts as long as the picture. DV needs the
// sound of every picture before it can write it; other formats simply end together.
void TCustomTranscoder::FinishAudio(TOutputStreamRun& ost) {
  TRunState& run = *FRun;
  AVCodecContext* enc = run.Encoder(ost);
  if (!enc) return;
  if (SwrContext* swr = ost.Resampler.get()) {
    const int held = swr_get_out_samples(swr, 0);
    if (held > 0) {
      AVFrame* work = WorkFrame(ost.AudioWork, enc, held + 16);
      const int drained = swr_convert(swr, work->extended_data, work->nb_samples, nullptr, 0);
      if (drained > 0) EncodeAudioSamples(ost, work, drained);
    }
  }
  const AVFormatContext* oc = OutputContext(ost.FileIndex);
  double pictureEnd = 0;
  for (const auto& video : run.OutputStreams) {
    if (video.Setup->Type != AVMEDIA_TYPE_VIDEO || !video.EncodingNeeded ||
        OutputContext(video.FileIndex) != oc)
      continue;
    if (const AVCodecContext* venc = run.Encoder(video))
      pictureEnd = std::max(pictureEnd, double(video.NextFrameIndex) * av_q2d(venc->time_base));
  }
  if (pictureEnd <= 0) {
    // Sound alone lasts as long as the pictures of the input it comes from.
    const TInputStreamRun& ist = run.InputStreams[size_t(ost.SourceIndex)];
    const int64_t inputPictures = run.Files[size_t(ist.FileIndex)].PictureEnd;
    if (inputPictures != AV_NOPTS_VALUE)
      pictureEnd = double(inputPictures - FSettings.StartTime) / AV_TIME_BASE;
  }
  if (pictureEnd <= 0) return;
  const int64_t held = ost.Fifo ? av_audio_fifo_size(ost.Fifo.get()) : 0;
  int64_t missing = std::llround(pictureEnd * enc->sample_rate) - (ost.NextFrameIndex + held);
  while (missing > 0) {
    const int samples = int(std::min<int64_t>(missing, enc->sample_rate));
    AVFrame* work = WorkFrame(ost.AudioWork, enc, samples);
    av_samples_set_silence(work->extended_data, 0, samples, enc->ch_layout.nb_channels,
                           enc->sample_fmt);
    EncodeAudioSamples(ost, work, samples);
    missing -= samples;
  }
}

void TCustomTranscoder::EncodeAudioFrame(TOutputStreamRun& ost, AVFrame* frame, int samples) {
  frame->pts = ost.NextFrameIndex;
  Encode(ost, frame);
  av_frame_unref(frame);
  ost.NextFrameIndex += samples;
  ++ost.FramesWritten;
  CountFrame(ost);
}

void TCustomTranscoder::PrepareAudioFrame(AVFrame* frame, const AVCodecContext* enc, int samples) {
  av_frame_unref(frame);
  frame->format = enc->sample_fmt;
  av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
  frame->sample_rate = enc->sample_rate;
  frame->nb_samples = samples;
  if (av_frame_get_buffer(frame, 0) < 0) throw FFmpegException("Out of memory in do_audio_out");
}

void TCustomTranscoder::FlushAudioFifo(TOutputStreamRun& ost) {
  TRunState& run = *FRun;
  AVCodecContext* enc = run.Encoder(ost);
  const int left = av_audio_fifo_size(ost.Fifo.get());
  if (left <= 0) return;
  const bool shortLast = enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME;
  const int samples = shortLast ? left : enc->frame_size;
  if (samples < left) throw FFmpegException("frame_bytes invalid.");
  AVFrame* out = run.EncodeFrame.get();
  PrepareAudioFrame(out, enc, samples);
  av_samples_set_silence(out->extended_data, 0, samples, enc->ch_layout.nb_channels,
                         enc->sample_fmt);
  av_audio_fifo_read(ost.Fifo.get(), reinterpret_cast<void**>(out->extended_data), left);
  EncodeAudioFrame(ost, out, samples);
}
