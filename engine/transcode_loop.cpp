// The transcoding loop: choosing the input, reading, timestamp correction, the packet
// processor (decode, hand frames to the audio, video and subtitle paths, stream copy),
// WriteFrame, join mode and the end of the run.
#include <cstdint>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/time.h>
}

#include <cmath>
#include <cstring>

#include "engine/run_state.h"
#include "engine/transcoder.h"
#include "media/logger.h"

namespace {

int MaxFramesIndex(AVMediaType type) {
  return type == AVMEDIA_TYPE_VIDEO ? 0 : type == AVMEDIA_TYPE_AUDIO ? 1 : 2;
}

template <typename T>
void ScaleSamples(uint8_t* data, int count, int volume) {
  T* samples = reinterpret_cast<T*>(data);
  for (int i = 0; i < count; ++i) {
    if constexpr (std::is_same_v<T, int16_t>) {
      int value = (samples[i] * volume + 128) >> 8;
      samples[i] = int16_t(std::clamp(value, -32768, 32767));
    } else if constexpr (std::is_same_v<T, int32_t>) {
      int64_t value = (int64_t(samples[i]) * volume + 128) >> 8;
      samples[i] = int32_t(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
    } else {
      samples[i] = T(samples[i] * volume / 256.0);
    }
  }
}

// The volume change of every decoded sample (256 = unchanged).
void ApplyVolume(AVFrame* frame, int volume) {
  if (av_frame_make_writable(frame) < 0) return;
  const auto format = AVSampleFormat(frame->format);
  const bool planar = av_sample_fmt_is_planar(format);
  const int planes = planar ? frame->ch_layout.nb_channels : 1;
  const int count = planar ? frame->nb_samples : frame->nb_samples * frame->ch_layout.nb_channels;
  for (int p = 0; p < planes; ++p) {
    uint8_t* data = frame->extended_data[p];
    switch (av_get_packed_sample_fmt(format)) {
      case AV_SAMPLE_FMT_S16:
        ScaleSamples<int16_t>(data, count, volume);
        break;
      case AV_SAMPLE_FMT_S32:
        ScaleSamples<int32_t>(data, count, volume);
        break;
      case AV_SAMPLE_FMT_FLT:
        ScaleSamples<float>(data, count, volume);
        break;
      case AV_SAMPLE_FMT_DBL:
        ScaleSamples<double>(data, count, volume);
        break;
      default:
        break;
    }
  }
}

}  // namespace

std::string ErrorText(const std::string& name, int code) {
  std::string text = FormatErrorMessage(name, code);
  if (text.size() >= 8 && text.compare(text.size() - 8, 8, "occurred") == 0) {
    // The shared table knows the common codes only; say what the others mean.
    char reason[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, reason, sizeof reason);
    text += std::string(" (") + reason + ")";
  }
  return text;
}

void TCustomTranscoder::Transcode() {
  PrepareRun();
  try {
    TranscodeLoop();
    EndRun();
  } catch (...) {
    // What the loop handed to the stage before it failed would have been encoded before the
    // failure on one thread: a failure in that work is the run's failure.
    SyncStage();
    throw;
  }
}

void TCustomTranscoder::SyncStage() {
  if (FRun && FRun->Stage) FRun->Stage->Drain();
}

bool TCustomTranscoder::ReachedMaxFrames(const TOutputStreamRun& ost) const {
  return ost.FramesWritten >= FSettings.MaxFrames[MaxFramesIndex(ost.Setup->Type)];
}

void TCustomTranscoder::TranscodeLoop() {
  auto& s = FSettings;
  TRunState& run = *FRun;
  run.StartTime = run.LastReportTime = av_gettime_relative();
  run.CurrentInput = FJoin ? 0 : -1;

  while (!FStopRequested) {
    WaitWhilePaused();
    if (FStopRequested) break;

    // 1. Choose the input.
    int fileIndex = -1;
    if (FJoin) {
      fileIndex = run.CurrentInput;
      for (const auto& ost : run.OutputStreams)
        if (ost.FileIndex == fileIndex && ReachedMaxFrames(ost)) fileIndex = -1;
    } else {
      // Without input sync the next input is the one whose output lags most, as written so
      // far; with one input every stream leads to it, and the stage need not be waited for.
      const bool byOutput = !s.InputSync && run.Files.size() > 1;
      if (byOutput) SyncStage();
      double best = 1e300;
      for (const auto& ost : run.OutputStreams) {
        const TInputStreamRun& ist = run.InputStreams[size_t(ost.SourceIndex)];
        const TInputFileRun& file = run.Files[size_t(ist.FileIndex)];
        if (ist.PastRecordingTime || file.NoPacket) continue;
        if (ReachedMaxFrames(ost)) {
          fileIndex = -1;
          break;
        }
        if (file.Eof) continue;
        const double position = !byOutput ? double(ist.Pts) / AV_TIME_BASE : ost.OutputTime;
        if (position < best) {
          best = position;
          fileIndex = ist.FileIndex;
        }
      }
      run.CurrentInput = fileIndex;
    }
    if (fileIndex < 0) {
      if (FJoin || run.NoPacketCount == 0) break;
      for (auto& file : run.Files) file.NoPacket = false;
      run.NoPacketCount = 0;
      av_usleep(10000);
      continue;
    }

    // 2. File-size limit.
    if (s.LimitFileSize) {
      AVIOContext* pb = OutputContext(0)->pb;
      if (pb && avio_tell(pb) >= s.LimitFileSize) break;
    }

    // 3. Read.
    TInputFileRun& file = run.Files[size_t(fileIndex)];
    AVFormatContext* ic = InputContext(fileIndex);
    AVPacket* pkt = run.Packet.get();
    const int read = av_read_frame(ic, pkt);
    if (read == AVERROR(EAGAIN)) {
      file.NoPacket = true;
      ++run.NoPacketCount;
      continue;
    }
    if (read < 0) {
      file.Eof = true;
      if (FJoin) {
        if (JoinEndOfInput(fileIndex)) break;
        continue;
      }
      if (s.Shortest) break;
      continue;
    }
    for (auto& f : run.Files) f.NoPacket = false;
    run.NoPacketCount = 0;

    // 4. Packet dump.
    if (s.DoPktDump)
      av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, pkt, s.DoHexDump, ic->streams[pkt->stream_index]);

    // 5. Streams that appeared later, or that no output uses.
    if (pkt->stream_index >= file.StreamCount) {
      av_packet_unref(pkt);
      continue;
    }
    TInputStreamRun& ist = run.InputStreams[size_t(file.FirstStream + pkt->stream_index)];
    NotePictureEnd(file, ist, *pkt);
    if (ist.Discard) {
      av_packet_unref(pkt);
      continue;
    }
    const AVRational tb = ist.Stream->time_base;
    TInputFile& input = *FInputs[size_t(fileIndex)];

    // 6. Timestamp offset and scale.
    const int64_t offset = av_rescale_q(input.TimestampOffset, AV_TIME_BASE_Q, tb);
    if (pkt->dts != AV_NOPTS_VALUE) pkt->dts += offset;
    if (pkt->pts != AV_NOPTS_VALUE) pkt->pts += offset;
    if (ist.StreamIndex < kMaxStreams && fileIndex < kMaxFiles) {
      const double scale = s.TimeScales[size_t(fileIndex)][size_t(ist.StreamIndex)];
      if (scale != 0) {
        if (pkt->dts != AV_NOPTS_VALUE) pkt->dts = std::llround(double(pkt->dts) * scale);
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts = std::llround(double(pkt->pts) * scale);
      }
    }

    // 7. Timestamp discontinuity.
    if (pkt->dts != AV_NOPTS_VALUE && ist.NextDts != AV_NOPTS_VALUE &&
        (ic->iformat->flags & AVFMT_TS_DISCONT) && !s.CopyTs) {
      const int64_t dtsUs = av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
      const int64_t delta = dtsUs - ist.NextDts;
      if (std::llabs(delta) > int64_t(s.DtsDeltaThreshold * AV_TIME_BASE) || dtsUs + 1 < ist.Dts) {
        input.TimestampOffset -= delta;
        const int64_t shift = av_rescale_q(delta, AV_TIME_BASE_Q, tb);
        pkt->dts -= shift;
        if (pkt->pts != AV_NOPTS_VALUE) pkt->pts -= shift;
        if (s.Verbose >= 3)
          GlobalLogger().LogFmt(this, llVerbose, "timestamp discontinuity %lld, new offset= %lld",
                                (long long)delta, (long long)input.TimestampOffset);
      }
    }

    // 8. Recording time. A stream past it takes no further packet, also none that carries no
    // presentation time (it would otherwise slip through while other streams of the file
    // are still read).
    const int64_t packetTime = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (ist.PastRecordingTime ||
        (s.RecordingTime != INT64_MAX && packetTime != AV_NOPTS_VALUE &&
         av_compare_ts(packetTime, tb, s.RecordingTime + s.StartTime, AV_TIME_BASE_Q) >= 0)) {
      ist.PastRecordingTime = true;
      av_packet_unref(pkt);
      continue;
    }

    // 9. Decode and hand on.
    if (ProcessPacket(ist, pkt) < 0) {
      const std::string text =
          FormatText("Error while decoding stream #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                     MediaTypeText(ist.Stream->codecpar->codec_type));
      av_packet_unref(pkt);
      if (s.ExitOnError) throw FFmpegException(text);
      if (s.Verbose >= 0) GlobalLogger().Log(this, llVerbose, text);
      continue;
    }
    av_packet_unref(pkt);

    // 10. Progress.
    const int64_t now = av_gettime_relative();
    if (now - run.LastReportTime > ProgressIntervalUs) {
      run.LastReportTime = now;
      Report(false, run.CurrentInput);
    }
  }
}

bool TCustomTranscoder::JoinEndOfInput(int k) {
  TRunState& run = *FRun;
  const bool last = k + 1 >= InputCount();
  // 1. Flush the input's decoders. The encoders go on with the next input's pictures and
  // sound, as one stream: drained and opened afresh they would begin again with a key
  // picture and the sound encoder's start padding, and a partly filled sound frame would be
  // padded with silence in the middle of the output. The last input flushes them too.
  run.EncodersContinue = !last;
  FlushInputStreams(k, true);
  run.EncodersContinue = false;
  SyncStage();  // the output times below are those of the written packets
  // 4. Frame numbering, sample count and the sound not yet encoded continue in the next
  // entry.
  const int perEntry = run.StreamsPerEntry;
  double pictureEnd = 0, soundEnd = 0;
  for (int i = 0; i < perEntry; ++i) {
    TOutputStreamRun& ost = run.OutputStreams[size_t(k * perEntry + i)];
    // 5. Where the input ends: what was given to the encoders (their packets lag behind).
    if (ost.EncodingNeeded && run.Encoder(ost)) {
      const AVCodecContext* enc = run.Encoder(ost);
      if (ost.Setup->Type == AVMEDIA_TYPE_VIDEO)
        pictureEnd = std::max(pictureEnd, double(ost.NextFrameIndex) * av_q2d(enc->time_base));
      else if (ost.Setup->Type == AVMEDIA_TYPE_AUDIO)
        soundEnd = std::max(soundEnd, double(AudioPosition(ost)) / enc->sample_rate);
    } else {
      pictureEnd = std::max(pictureEnd, ost.OutputTime);
    }
    ost.Reportable = false;
    if (!last) {
      TOutputStreamRun& next = run.OutputStreams[size_t((k + 1) * perEntry + i)];
      next.NextFrameIndex = ost.NextFrameIndex;
      next.FramesWritten = ost.FramesWritten;
      next.OutputTime = ost.OutputTime;
      next.Fifo = std::move(ost.Fifo);
      next.Resampler = std::move(ost.Resampler);
      next.ResamplerMade = ost.ResamplerMade;
      next.ResamplerInFormat = ost.ResamplerInFormat;
      next.ResamplerInRate = ost.ResamplerInRate;
      next.ResamplerInChannels = ost.ResamplerInChannels;
      next.AudioResample = next.AudioResample || ost.AudioResample;
    }
  }
  if (last) return true;
  // The next input's first picture follows the last picture; its sound is put in place
  // against that (a gap filled, an overlap cut) by the audio path. Sound alone follows the
  // end of the input's pictures all the same, when it has any.
  const int64_t inputPictures = run.Files[size_t(k)].PictureEnd;
  double endTime = pictureEnd;
  if (endTime <= 0 && inputPictures != AV_NOPTS_VALUE)
    endTime = double(inputPictures - FSettings.StartTime) / AV_TIME_BASE;
  if (endTime <= 0) endTime = soundEnd;
  FInputs[size_t(k + 1)]->TimestampOffset += std::llround(endTime * AV_TIME_BASE);
  run.CurrentInput = k + 1;
  return false;
}

void TCustomTranscoder::EndRun() {
  // 1. Flush decoders and, through them, encoders; the stage finishes what it was given
  // (also after a stop, so that the file plays) and ends.
  FlushInputStreams(-1, false);
  if (FRun->Stage) {
    FRun->Stage->Drain();
    FRun->Stage.reset();
  }
  // 2. Trailers (in join mode once).
  for (int o = 0; o < OutputCount(); ++o) {
    if (FJoin && o > 0) break;
    const int written = av_write_trailer(OutputContext(o));
    if (written < 0) throw FFmpegException(ErrorText("av_write_trailer()", written));
  }
  // 3. Last report.
  Report(true, -1);
  // 4. Close the codecs.
  CloseOpenCodecs();
  // 5.
  FFinished = !FStopRequested;
  // 6.
  FRun.reset();
}

void TCustomTranscoder::NotePictureEnd(TInputFileRun& file, const TInputStreamRun& ist,
                                       const AVPacket& pkt) const {
  const AVStream* st = ist.Stream;
  const int64_t time = pkt.pts != AV_NOPTS_VALUE ? pkt.pts : pkt.dts;
  if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
      (st->disposition & AV_DISPOSITION_ATTACHED_PIC) || time == AV_NOPTS_VALUE)
    return;
  const auto& s = FSettings;
  int64_t end =
      av_rescale_q(time + std::max<int64_t>(pkt.duration, 0), st->time_base, AV_TIME_BASE_Q) +
      Input(ist.FileIndex).TimestampOffset;
  if (s.RecordingTime != INT64_MAX) end = std::min(end, s.RecordingTime + s.StartTime);
  if (file.PictureEnd == AV_NOPTS_VALUE || end > file.PictureEnd) file.PictureEnd = end;
}

void TCustomTranscoder::FlushInputStreams(int file, bool close) {
  TRunState& run = *FRun;
  for (const bool pictures : {true, false}) {
    for (auto& ist : run.InputStreams) {
      if ((file >= 0 && ist.FileIndex != file) || !ist.DecodingNeeded || ist.Closed) continue;
      if ((ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) != pictures) continue;
      ProcessPacket(ist, nullptr);
      if (!close) continue;
      if (ist.Decoder) avcodec_flush_buffers(ist.Decoder.get());
      ist.Closed = true;
    }
  }
}

int64_t TCustomTranscoder::FrameDuration(const TInputStreamRun& ist, const AVFrame* frame) const {
  const AVCodecParameters* par = ist.Stream->codecpar;
  if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
    const int rate = frame ? frame->sample_rate : par->sample_rate;
    const int samples = frame ? frame->nb_samples : par->frame_size;
    return rate > 0 ? int64_t(AV_TIME_BASE) * samples / rate : 0;
  }
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    AVRational rate = ist.Decoder && ist.Decoder->framerate.num ? ist.Decoder->framerate
                                                                : ist.Stream->avg_frame_rate;
    if (!rate.num) rate = ist.Stream->r_frame_rate;
    if (!rate.num) return 0;
    const int ticks = 2 + (frame ? frame->repeat_pict : 0);
    return int64_t(AV_TIME_BASE) * rate.den * ticks / (2 * int64_t(rate.num));
  }
  return 0;
}

int TCustomTranscoder::ProcessPacket(TInputStreamRun& ist, const AVPacket* pkt) {
  auto& s = FSettings;
  TRunState& run = *FRun;
  const AVRational tb = ist.Stream->time_base;
  if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;
  if (pkt && pkt->dts != AV_NOPTS_VALUE)
    ist.NextPts = ist.Pts = av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
  const AVMediaType type = ist.Stream->codecpar->codec_type;
  const int istIndex = int(&ist - run.InputStreams.data());
  if (pkt) {
    if (pkt->dts != AV_NOPTS_VALUE)
      ist.Dts = av_rescale_q(pkt->dts, tb, AV_TIME_BASE_Q);
    else if (ist.NextDts != AV_NOPTS_VALUE)
      ist.Dts = ist.NextDts;
    int64_t duration = pkt->duration > 0 ? av_rescale_q(pkt->duration, tb, AV_TIME_BASE_Q) : 0;
    if (!duration) duration = FrameDuration(ist, nullptr);
    ist.NextDts = ist.Dts + duration;
  }

  if (!ist.DecodingNeeded) {
    if (!pkt) return 0;
    ist.Pts = ist.NextPts;
    int64_t duration = FrameDuration(ist, nullptr);
    if (!duration && pkt->duration > 0) duration = av_rescale_q(pkt->duration, tb, AV_TIME_BASE_Q);
    ist.NextPts += duration;
    if (s.StartTime == 0 || ist.Pts >= s.StartTime) CopyPacket(istIndex, pkt);
    return 0;
  }

  if (type == AVMEDIA_TYPE_SUBTITLE) {
    if (pkt) {
      AVSubtitle subtitle{};
      int got = 0;
      if (avcodec_decode_subtitle2(ist.Decoder.get(), &subtitle, &got, const_cast<AVPacket*>(pkt)) <
          0)
        return -1;
      if (got) {
        if (s.StartTime == 0 || ist.Pts >= s.StartTime) {
          for (auto& ost : run.OutputStreams)
            if (ost.SourceIndex == istIndex && ost.EncodingNeeded)
              DoSubtitleOut(ost, ist, &subtitle, pkt->pts);
        }
        avsubtitle_free(&subtitle);
      }
      if (s.StartTime == 0 || ist.Pts >= s.StartTime) CopyPacket(istIndex, pkt);
    }
    return 0;
  }
  if (type != AVMEDIA_TYPE_AUDIO && type != AVMEDIA_TYPE_VIDEO) return -1;

  AVCodecContext* decoder = ist.Decoder.get();
  const int sent = avcodec_send_packet(decoder, pkt);
  if (sent < 0 && sent != AVERROR_EOF && sent != AVERROR(EAGAIN)) return -1;
  int frames = 0;
  for (;;) {
    AVFrame* frame = run.Decoded.get();
    const int got = avcodec_receive_frame(decoder, frame);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) break;
    if (got < 0) return -1;
    ++frames;
    if (type == AVMEDIA_TYPE_AUDIO && frames == 2 && pkt &&
        ((!ist.MultipleFramesWarned && s.Verbose > 0) || s.Verbose > 1)) {
      GlobalLogger().LogFmt(this, llError, "Multiple frames in a packet from stream %d",
                            pkt->stream_index);
      ist.MultipleFramesWarned = true;
    }
    // Each frame's own time where the decoder knows it (a packet may give several frames,
    // or a frame of an earlier packet); otherwise the time expected after the last one.
    if (frame->best_effort_timestamp != AV_NOPTS_VALUE)
      ist.Pts = av_rescale_q(frame->best_effort_timestamp, tb, AV_TIME_BASE_Q);
    else
      ist.Pts = ist.NextPts;
    ist.NextPts = ist.Pts + FrameDuration(ist, frame);
    HandleDecodedFrame(ist, istIndex, frame);
    av_frame_unref(frame);
    if (FStopRequested && pkt) break;
  }
  if (pkt && (s.StartTime == 0 || ist.Pts >= s.StartTime)) CopyPacket(istIndex, pkt);
  if (!pkt) {
    if (run.Hook.Waiting()) HandOnWaitingPicture();
    if (!run.EncodersContinue) FlushEncoders(istIndex);
  }
  return 0;
}

bool TCustomTranscoder::Started(const TInputStreamRun& ist) const {
  // What lies before the start is not part of the conversion: after a start-time seek what
  // the decoder gives between the key picture it landed on and the target, and the sound a
  // cut begins with before its first picture (the input's time zero). A block of sound that
  // straddles the start has begun; the audio path cuts its lead part.
  const int64_t start = FSettings.StartTime;
  if (start == 0 && FSettings.CopyTs) return true;
  if (ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return ist.NextPts > start;
  return ist.Pts >= start;
}

void TCustomTranscoder::HandleDecodedFrame(TInputStreamRun& ist, int istIndex, AVFrame* frame) {
  if (ist.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
    THookLookahead& ahead = FRun->Hook;
    if (HookLooksAhead(istIndex)) {
      // This picture converts to RGB on the background thread while the one before it goes
      // through the hook, the scaler and the encoder, and the sound decoded until the next
      // picture is encoded.
      THookLookahead::TPicture* previous = ahead.Waiting() ? &ahead.Take() : nullptr;
      const bool begun = ahead.Begin(frame, istIndex, ist.Pts, ist.NextPts);
      if (previous) HandOnWaitingPicture(*previous);
      if (begun) return;
    } else if (ahead.Waiting()) {
      HandOnWaitingPicture();
    }
  }
  HandOnFrame(ist, istIndex, frame, THookPicture::Convert);
}

// Hands on the picture that waited for its conversion, with its input stream's clock as it
// read when the picture was decoded (what the hook, the sync and the encoder would have seen
// without the look-ahead).
void TCustomTranscoder::HandOnWaitingPicture() {
  HandOnWaitingPicture(FRun->Hook.Take());
}

void TCustomTranscoder::HandOnWaitingPicture(THookLookahead::TPicture& picture) {
  TInputStreamRun& ist = FRun->InputStreams[size_t(picture.Stream)];
  const int64_t pts = ist.Pts, nextPts = ist.NextPts;
  ist.Pts = picture.Pts;
  ist.NextPts = picture.NextPts;
  HandOnFrame(ist, picture.Stream, picture.Frame.get(),
              picture.Converted ? THookPicture::Converted : THookPicture::Failed);
  ist.Pts = pts;
  ist.NextPts = nextPts;
  FRun->Hook.Release(picture);
}

// The look-ahead changes when a picture is handed on, never what becomes of it; so only
// where nothing else reads the stream's clock in between: no deinterlacing before the hook,
// no real-time pacing, and each output fed from the stream synchronised to it.
bool TCustomTranscoder::HookLooksAhead(int istIndex) const {
  const auto& s = FSettings;
  if (!OnCustomHook || FHookDisabled || s.DoDeinterlace || s.RateEmu) return false;
  for (const auto& ost : FRun->OutputStreams)
    if (ost.SourceIndex == istIndex && ost.EncodingNeeded && ost.SyncIndex != istIndex)
      return false;
  return true;
}

void TCustomTranscoder::HandOnFrame(TInputStreamRun& ist, int istIndex, AVFrame* frame,
                                    THookPicture hookPicture) {
  auto& s = FSettings;
  TRunState& run = *FRun;
  const AVMediaType type = ist.Stream->codecpar->codec_type;
  AVFrame* picture = frame;
  if (type == AVMEDIA_TYPE_VIDEO) {
    ist.Quality = frame->quality;
    picture = PreProcess(ist, frame, hookPicture);
    if (ist.Graph) {
      picture->pts = ist.Pts;
      picture->sample_aspect_ratio = ist.Decoder->sample_aspect_ratio;
      if (av_buffersrc_add_frame_flags(ist.BufferSource, picture, AV_BUFFERSRC_FLAG_KEEP_REF) < 0)
        return;
    }
  } else if (type == AVMEDIA_TYPE_AUDIO && s.AudioVolume != 256) {
    ApplyVolume(frame, s.AudioVolume);
  }

  if (s.RateEmu) {
    const int64_t ahead = ist.Pts - (av_gettime_relative() - ist.StartRealTime);
    if (ahead > 1000) av_usleep(unsigned(ahead));
  }

  auto feed = [&](AVFrame* data) {
    for (auto& ost : run.OutputStreams) {
      if (ost.SourceIndex != istIndex || !ost.EncodingNeeded) continue;
      if (type == AVMEDIA_TYPE_AUDIO) {
        DoAudioOut(ost, ist, data);
      } else if (type == AVMEDIA_TYPE_VIDEO) {
        const int64_t written = DoVideoOut(ost, ist, data);
        if (!s.VStatsFileName.empty() && written > 0) DoVideoStats(ost, written);
      }
    }
  };

  const bool started = Started(ist);
  if (type == AVMEDIA_TYPE_VIDEO && ist.Graph) {
    AVFrame* filtered = run.Filtered.get();
    const AVRational sinkBase = av_buffersink_get_time_base(ist.BufferSink);
    while (av_buffersink_get_frame(ist.BufferSink, filtered) >= 0) {
      if (filtered->pts != AV_NOPTS_VALUE)
        ist.Pts = av_rescale_q(filtered->pts, sinkBase, AV_TIME_BASE_Q);
      if (Started(ist)) {
        for (auto& ost : run.OutputStreams)
          if (ost.SourceIndex == istIndex && ost.EncodingNeeded &&
              filtered->sample_aspect_ratio.num && !s.FrameAspectRatioGiven)
            SetEncoderAspect(ost, filtered->sample_aspect_ratio);
        feed(filtered);
      }
      av_frame_unref(filtered);
    }
  } else if (started) {
    feed(picture);
  }
}

void TCustomTranscoder::CopyPacket(int istIndex, const AVPacket* pkt) {
  auto& s = FSettings;
  TRunState& run = *FRun;
  const TInputStreamRun& ist = run.InputStreams[size_t(istIndex)];
  for (auto& ost : run.OutputStreams) {
    if (ost.SourceIndex != istIndex || ost.EncodingNeeded) continue;
    if (ost.FramesWritten == 0 && !(pkt->flags & AV_PKT_FLAG_KEY) && !s.CopyInitialNonKeyFrames)
      continue;
    if (ost.Setup->Type == AVMEDIA_TYPE_VIDEO) ++ost.NextFrameIndex;
    TStageJob job;
    job.Kind = TStageJob::TKind::Copy;
    job.Stream = StreamIndex(ost);
    job.Packet = MakePacket();
    AVPacket* out = job.Packet.get();
    if (av_packet_ref(out, pkt) < 0) throw FFmpegException("av_mallocz fail");
    const AVRational in = ist.Stream->time_base, outBase = ost.Stream->time_base;
    const int64_t start = av_rescale_q(s.StartTime, AV_TIME_BASE_Q, outBase);
    out->pts =
        pkt->pts == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : av_rescale_q(pkt->pts, in, outBase) - start;
    out->dts = (pkt->dts == AV_NOPTS_VALUE ? av_rescale_q(ist.Pts, AV_TIME_BASE_Q, outBase)
                                           : av_rescale_q(pkt->dts, in, outBase)) -
               start;
    out->duration = av_rescale_q(pkt->duration, in, outBase);
    Submit(std::move(job));
    ++ost.FramesWritten;
    CountFrame(ost);
  }
}

void TCustomTranscoder::WriteFrame(TOutputStreamRun& ost, AVPacket* pkt) {
  auto& s = FSettings;
  TRunState& run = *FRun;
  AVFormatContext* oc = OutputContext(ost.FileIndex);
  pkt->stream_index = ost.Stream->index;

  std::vector<AVPacketPtr> packets;
  const TOutputStreamRun& owner =
      run.OutputStreams[size_t(ost.EncoderOwner >= 0 ? ost.EncoderOwner : 0)];
  const auto& filters = (FJoin ? owner : ost).Filters;
  if (!filters.empty()) {
    std::vector<AVPacketPtr> current;
    current.push_back(MakePacket());
    av_packet_move_ref(current.back().get(), pkt);
    bool failed = false;
    for (size_t f = 0; f < filters.size() && !failed; ++f) {
      std::vector<AVPacketPtr> next;
      for (auto& packet : current) {
        int ret = av_bsf_send_packet(filters[f].get(), packet.get());
        while (ret >= 0) {
          AVPacketPtr result = MakePacket();
          ret = av_bsf_receive_packet(filters[f].get(), result.get());
          if (ret >= 0) next.push_back(std::move(result));
        }
        if (ret != AVERROR(EAGAIN) && ret != AVERROR_EOF) {
          AVCodecContext* enc = run.Encoder(ost);
          const std::string text = ErrorText(
              FormatText("%s failed for stream %d, codec %s", filters[f]->filter->name,
                         ost.Stream->index, enc && enc->codec ? enc->codec->name : "copy"),
              ret);
          if (s.ExitOnError) throw FFmpegException(text);
          GlobalLogger().Log(this, llError, text);
          failed = true;
          break;
        }
      }
      if (!failed) current = std::move(next);
    }
    packets = std::move(current);
  } else {
    packets.push_back(MakePacket());
    av_packet_move_ref(packets.back().get(), pkt);
  }

  for (auto& packet : packets) {
    AVPacket* p = packet.get();
    p->stream_index = ost.Stream->index;
    const int64_t time = p->dts != AV_NOPTS_VALUE ? p->dts : p->pts;
    if (time != AV_NOPTS_VALUE) {
      const double end =
          double(time + std::max<int64_t>(p->duration, 0)) * av_q2d(ost.Stream->time_base);
      ost.OutputTime = std::max(ost.OutputTime, end);
    }
    ++ost.Packets;
    ++FOutputs[size_t(ost.FileIndex)]->PacketsWritten;
    if (!FRunReport.empty()) ++FRunReport[ReportIndex(ost)].Packets;
    const int written = av_interleaved_write_frame(oc, p);
    if (written < 0) throw FFmpegException(ErrorText("av_interleaved_write_frame()", written));
  }
}

size_t TCustomTranscoder::ReportIndex(const TOutputStreamRun& ost) const {
  if (FJoin) return size_t(ost.Index);
  const size_t index = size_t(&ost - FRun->OutputStreams.data());
  return std::min(index, FRunReport.size() - 1);
}

void TCustomTranscoder::CountFrame(const TOutputStreamRun& ost) {
  if (!FRunReport.empty()) ++FRunReport[ReportIndex(ost)].Frames;
}

int TCustomTranscoder::StreamIndex(const TOutputStreamRun& ost) const {
  return int(&ost - FRun->OutputStreams.data());
}

int64_t TCustomTranscoder::Encode(TOutputStreamRun& ost, AVFrame* frame) {
  TStageJob job;
  job.Stream = StreamIndex(ost);
  if (frame) {
    job.Frame = MakeFrame();
    av_frame_move_ref(job.Frame.get(), frame);
  }
  return Submit(std::move(job));
}

void TCustomTranscoder::SetEncoderAspect(TOutputStreamRun& ost, AVRational aspect) {
  TOutputStreamRun& owner = FRun->OutputStreams[size_t(ost.EncoderOwner)];
  if (av_cmp_q(owner.AskedAspect, aspect) == 0 && owner.AskedAspect.den) return;
  owner.AskedAspect = aspect;
  TStageJob job;
  job.Kind = TStageJob::TKind::Aspect;
  job.Stream = StreamIndex(ost);
  job.Aspect = aspect;
  Submit(std::move(job));
}

int64_t TCustomTranscoder::Submit(TStageJob&& job) {
  if (FRun->Stage) {
    FRun->Stage->Push(std::move(job));
    return 0;
  }
  return RunStageJob(job);
}

// On the stage's thread (or the run's, without a stage).
int64_t TCustomTranscoder::RunStageJob(TStageJob& job) {
  TRunState& run = *FRun;
  TOutputStreamRun& ost = run.OutputStreams[size_t(job.Stream)];
  switch (job.Kind) {
    case TStageJob::TKind::Encode:
      return EncodeNow(ost, job.Frame.get());
    case TStageJob::TKind::Copy:
      if (ost.Setup->Type == AVMEDIA_TYPE_VIDEO)
        FVideoSize += job.Packet->size;
      else if (ost.Setup->Type == AVMEDIA_TYPE_AUDIO)
        FAudioSize += job.Packet->size;
      WriteFrame(ost, job.Packet.get());
      return 0;
    case TStageJob::TKind::Write:
      WriteFrame(ost, job.Packet.get());
      return 0;
    case TStageJob::TKind::Aspect:
      if (AVCodecContext* enc = run.Encoder(ost)) enc->sample_aspect_ratio = job.Aspect;
      return 0;
  }
  return 0;
}

int64_t TCustomTranscoder::EncodeNow(TOutputStreamRun& ost, AVFrame* frame) {
  TRunState& run = *FRun;
  AVCodecContext* enc = run.Encoder(ost);
  const bool video = ost.Setup->Type == AVMEDIA_TYPE_VIDEO;
  const char* failure = video ? "Video encoding failed" : "Audio encoding failed";
  const int sent = avcodec_send_frame(enc, frame);
  if (sent < 0 && sent != AVERROR_EOF) throw FFmpegException(failure);
  int64_t bytes = 0;
  AVPacket* pkt = run.StagePacket.get();
  for (;;) {
    const int got = avcodec_receive_packet(enc, pkt);
    if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) break;
    if (got < 0) throw FFmpegException(failure);
    size_t sideSize = 0;
    if (const uint8_t* side = av_packet_get_side_data(pkt, AV_PKT_DATA_QUALITY_STATS, &sideSize);
        side && sideSize >= 6) {
      ost.Quality = int(side[0] | side[1] << 8 | side[2] << 16 | uint32_t(side[3]) << 24);
      ost.PictType = side[4];
      const int errors = std::min<int>(side[5], 4);
      for (int i = 0; i < errors && sideSize >= size_t(8 + 8 * (i + 1)); ++i) {
        uint64_t value = 0;
        std::memcpy(&value, side + 8 + 8 * i, 8);
        ost.Error[i] = value;
      }
    }
    if (!video) pkt->flags |= AV_PKT_FLAG_KEY;
    av_packet_rescale_ts(pkt, enc->time_base, ost.Stream->time_base);
    bytes += pkt->size;
    (video ? FVideoSize : FAudioSize) += pkt->size;
    if (video && ost.PassLog && enc->stats_out && *enc->stats_out)
      std::fputs(enc->stats_out, ost.PassLog.get());
    WriteFrame(ost, pkt);
    av_packet_unref(pkt);
  }
  return bytes;
}

void TCustomTranscoder::FlushEncoders(int istIndex) {
  TRunState& run = *FRun;
  for (auto& ost : run.OutputStreams) {
    if (ost.SourceIndex != istIndex || !ost.EncodingNeeded) continue;
    AVCodecContext* enc = run.Encoder(ost);
    if (!enc) continue;
    if (ost.Setup->Type == AVMEDIA_TYPE_AUDIO) {
      FinishAudio(ost);
      if (!ost.Fifo) continue;  // PCM-like encoders hold nothing back
      FlushAudioFifo(ost);
      Encode(ost, nullptr);
    } else if (ost.Setup->Type == AVMEDIA_TYPE_VIDEO) {
      Encode(ost, nullptr);
    }
  }
}

void TCustomTranscoder::DoSubtitleOut(TOutputStreamRun& ost, TInputStreamRun& ist,
                                      AVSubtitle* subtitle, int64_t pts) {
  auto& s = FSettings;
  TRunState& run = *FRun;
  if (pts == AV_NOPTS_VALUE) {
    if (s.ExitOnError) throw FFmpegException("Subtitle packets must have a pts");
    GlobalLogger().Log(this, llError, "Subtitle packets must have a pts");
    return;
  }
  AVCodecContext* enc = run.Encoder(ost);
  const int count = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE ? 2 : 1;
  if (run.SubtitleBuffer.empty()) run.SubtitleBuffer.resize(1024 * 1024);
  for (int i = 0; i < count; ++i) {
    subtitle->pts = av_rescale_q(pts, ist.Stream->time_base, AV_TIME_BASE_Q) +
                    int64_t(subtitle->start_display_time) * 1000;
    subtitle->end_display_time -= subtitle->start_display_time;
    subtitle->start_display_time = 0;
    if (i == 1) subtitle->num_rects = 0;  // the second packet clears the display
    const int size = avcodec_encode_subtitle(enc, run.SubtitleBuffer.data(),
                                             int(run.SubtitleBuffer.size()), subtitle);
    if (size < 0) throw FFmpegException("Subtitle encoding failed");
    TStageJob job;
    job.Kind = TStageJob::TKind::Write;
    job.Stream = StreamIndex(ost);
    job.Packet = MakePacket();
    AVPacket* pkt = job.Packet.get();
    if (av_new_packet(pkt, size) < 0) throw FFmpegException("av_mallocz fail");
    std::memcpy(pkt->data, run.SubtitleBuffer.data(), size_t(size));
    pkt->pts = av_rescale_q(subtitle->pts, AV_TIME_BASE_Q, ost.Stream->time_base);
    if (enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE)
      pkt->pts += av_rescale_q(i == 0 ? subtitle->start_display_time : subtitle->end_display_time,
                               AVRational{1, 1000}, ost.Stream->time_base);
    pkt->dts = pkt->pts;
    Submit(std::move(job));
    ++ost.FramesWritten;
    CountFrame(ost);
  }
}
