// Opening the file, choosing and opening its streams, the reading loop, seeking, pausing
// and closing (the demux thread and the calls that steer it).
#include <SDL2/SDL.h>

#include <cstdint>

extern "C" {
#include <libavutil/time.h>
}

#include <cinttypes>
#include <cmath>
#include <thread>

#include "media/file_names.h"
#include "media/io_scheme.h"
#include "media/loader.h"
#include "media/logger.h"
#include "player/playback_state.h"

namespace {

// FFmpeg asks this while it blocks in its own I/O: the file's abort request ends the wait.
int DecodeInterrupt(void* opaque) {
  return static_cast<PlaybackState*>(opaque)->AbortRequest.load() ? 1 : 0;
}

void Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

PlaybackState::PlaybackState(TCustomPlayer& player, std::string fileName, TVideoOutput* output,
                             TOpenOptions options)
    : Player(player), FileName(std::move(fileName)), Output(output), Options(std::move(options)) {
  AudioBuffer.resize(kAudioBufferBytes);
  AudioPacket = MakePacket();
  AudioFrame = MakeFrame();
}

PlaybackState::~PlaybackState() {
  // Every thread has ended (joined by the play thread, Open or the player's reaping).
  if (Rdft) av_tx_uninit(&Rdft);
  av_channel_layout_uninit(&AudioSourceLayout);
  {
    std::lock_guard lock(CodecLock());
    AudioCodec.reset();
    VideoCodec.reset();
    SubtitleCodec.reset();
  }
  Format.reset();
}

void PlaybackState::SetStatus(int status) {
  {
    std::lock_guard lock(StatusLock);
    Status = status;
  }
  StatusChanged.notify_all();
}

void PlaybackState::DemuxMain() {
  const bool opened = OpenInput();
  if (opened) {
    SetStatus(1);
    while (!AbortRequest && !ReadingAllowed.WaitFor(std::chrono::milliseconds(100))) {
    }
    if (!AbortRequest) ReadLoop();
    // The loop ends on abort, or on an input error: then the play thread closes the file.
    if (!AbortRequest) PostEvent(peQuit);
  } else {
    SetStatus(-1);
  }
  // The file stays open for the probe until the state is freed; its decoders close now.
  while (opened && !AbortRequest) Sleep(100);
  if (AudioStream) CloseStreamComponent(AudioStreamIndex);
  if (VideoStream) CloseStreamComponent(VideoStreamIndex);
  if (SubtitleStream) CloseStreamComponent(SubtitleStreamIndex);
  if (!opened) SetStatus(-2);
  DemuxDone.Set();
}

bool PlaybackState::OpenInput() {
  auto fail = [&](const std::string& text) {
    std::lock_guard lock(StatusLock);
    OpenError = text;
    return false;
  };
  const AVInputFormat* format = nullptr;
  if (!Options.InputFormat.empty()) {
    format = av_find_input_format(Options.InputFormat.c_str());
    if (!format) return fail("Unknown input format: " + Options.InputFormat);
  }
  AVDictionary* raw = nullptr;
  if (Options.FrameWidth > 0 && Options.FrameHeight > 0)
    av_dict_set(
        &raw, "video_size",
        (std::to_string(Options.FrameWidth) + "x" + std::to_string(Options.FrameHeight)).c_str(),
        0);
  std::unique_ptr<AVDictionary, AVDictionaryFree> demuxerOptions(raw);
  const AVIOInterruptCB interrupt{DecodeInterrupt, this};
  AVFormatContext* context = nullptr;
  AVDictionary* opts = demuxerOptions.release();
  const int ret = OpenMediaInput(&context, LibraryFileNameOf(FileName), format, &opts, &interrupt);
  av_dict_free(&opts);
  if (ret < 0) return fail(FormatErrorMessage(FileName, ret));
  Format.reset(context);
  AVFormatContext* ic = Format.get();

  int found;
  {
    std::lock_guard lock(CodecLock());
    found = avformat_find_stream_info(ic, nullptr);
  }
  if (found < 0) return fail(FileName + ": could not find codec parameters");
  if (ic->pb) ic->pb->eof_reached = 0;

  const std::string formatName = ic->iformat ? ic->iformat->name : "";
  StillImage = formatName == "image2";
  // Live sources: the old capture formats and today's Linux ones.
  LiveCapture = formatName == "vfwcap" || formatName == "vfwcapture" ||
                formatName == "video4linux2,v4l2" || formatName == "x11grab";
  StartTime = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
  Duration = ic->duration != AV_NOPTS_VALUE ? ic->duration : -1;

  if (Options.PlayStart != kNoPTS) {
    int64_t timestamp = Options.PlayStart;
    if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;
    if (SeekInput(timestamp, 0, 0) < 0)
      GlobalLogger().LogFmt(&Player, llError, "%s: could not seek to position %0.3f",
                            FileName.c_str(), double(timestamp) / 1000000.0);
  }

  // Every stream is discarded until it is opened; the wanted one of each type, else the one
  // with the most frames, is chosen.
  int chosen[5] = {-1, -1, -1, -1, -1};
  int64_t chosenFrames[5] = {};
  int ordinal[5] = {};
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream* st = ic->streams[i];
    st->discard = AVDISCARD_ALL;
    const int type = st->codecpar->codec_type;
    if (type < 0 || type > 4) continue;
    const int n = ordinal[type]++;
    const int wanted = Options.WantedStream[type];
    if (wanted != -1 && wanted != n) continue;
    if (chosen[type] == -1 || st->nb_frames > chosenFrames[type]) {
      chosen[type] = int(i);
      chosenFrames[type] = st->nb_frames;
    }
  }
  if (!Options.DisableAudio && chosen[AVMEDIA_TYPE_AUDIO] >= 0)
    OpenStreamComponent(chosen[AVMEDIA_TYPE_AUDIO]);
  if (!Options.DisableVideo && chosen[AVMEDIA_TYPE_VIDEO] >= 0)
    OpenStreamComponent(chosen[AVMEDIA_TYPE_VIDEO]);
  if (!VideoStream && !Options.DisableDisplay) ShowAudio = 2;
  if (!Options.DisableVideo && chosen[AVMEDIA_TYPE_SUBTITLE] >= 0)
    OpenStreamComponent(chosen[AVMEDIA_TYPE_SUBTITLE]);
  if (!AudioStream && !VideoStream)
    return fail(FileName + ": could not open codecs, no stream to play.");
  return true;
}

int PlaybackState::OpenStreamComponent(int index) {
  AVFormatContext* ic = Format.get();
  AVStream* st = ic->streams[index];
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  AVCodecContextPtr context(codec ? avcodec_alloc_context3(codec) : nullptr);
  int ret = context ? avcodec_parameters_to_context(context.get(), st->codecpar) : -1;
  if (ret >= 0) {
    context->pkt_timebase = st->time_base;
    context->workaround_bugs = 1;
    context->error_concealment = 3;
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      // Slice threads only: frame threads would hold pictures back and delay every seek.
      context->thread_count = 0;
      context->thread_type = FF_THREAD_SLICE;
    } else {
      context->thread_count = 1;
    }
    std::lock_guard lock(CodecLock());
    ret = avcodec_open2(context.get(), codec, nullptr);
  }
  if (ret < 0) {
    GlobalLogger().Log(&Player, llError, "avcodec_open() failed.");
    return -1;
  }

  switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
      AudioCodec = std::move(context);
      if (!OpenAudioDevice()) {
        std::string reason;
        {
          std::lock_guard lock(SdlLock());
          reason = SdlAudioStarted ? SDL_GetError() : "audio is not available";
        }
        GlobalLogger().Log(&Player, llError, "SDL_OpenAudio() failed: " + reason);
        std::lock_guard lock(CodecLock());
        AudioCodec.reset();
        return -1;
      }
      st->discard = AVDISCARD_DEFAULT;
      AudioStreamIndex = index;
      AudioStream = st;
      AudioDuration = st->duration != AV_NOPTS_VALUE
                          ? av_rescale_q(st->duration, st->time_base, AVRational{1, 1000000})
                          : -1;
      AudioBufferSize = AudioBufferIndex = 0;
      AudioDiffAvgCoef = std::exp(std::log(0.01) / kAudioDiffMeasures);
      AudioDiffAvgCount = 0;
      AudioDiffThreshold = 2.0 * 1024 / AudioRate;
      AudioQueue.PutFlush();
      std::lock_guard lock(SdlLock());
      SDL_PauseAudioDevice(AudioDevice, 0);
      break;
    }
    case AVMEDIA_TYPE_VIDEO: {
      VideoCodec = std::move(context);
      st->discard = AVDISCARD_DEFAULT;
      VideoStreamIndex = index;
      VideoStream = st;
      const AVRational rate = av_guess_frame_rate(ic, st, nullptr);
      if (rate.num > 0 && rate.den > 0) FrameDuration = av_q2d(av_inv_q(rate));
      FrameLastDelay = FrameDuration;
      VideoQueue.PutFlush();
      VideoThread = std::thread([this] { VideoMain(); });
      break;
    }
    case AVMEDIA_TYPE_SUBTITLE: {
      SubtitleCodec = std::move(context);
      st->discard = AVDISCARD_DEFAULT;
      SubtitleStreamIndex = index;
      SubtitleStream = st;
      SubtitleQueue.PutFlush();
      SubtitleThread = std::thread([this] { SubtitleMain(); });
      break;
    }
    default: {
      std::lock_guard lock(CodecLock());
      context.reset();
      return -1;
    }
  }
  return 0;
}

void PlaybackState::CloseStreamComponent(int index) {
  AVStream* st = Format->streams[index];
  switch (st->codecpar->codec_type) {
    case AVMEDIA_TYPE_AUDIO: {
      AudioQueue.Abort();
      {
        std::lock_guard lock(SdlLock());
        if (AudioDevice) SDL_CloseAudioDevice(AudioDevice);
        AudioDevice = 0;
      }
      AudioQueue.Flush();
      AudioConverter.reset();
      std::lock_guard lock(CodecLock());
      AudioCodec.reset();
      break;
    }
    case AVMEDIA_TYPE_VIDEO: {
      VideoQueue.Abort();
      { std::lock_guard lock(PictureLock); }
      PictureCond.notify_all();
      if (VideoThread.joinable()) VideoThread.join();
      VideoQueue.Flush();
      std::lock_guard lock(CodecLock());
      VideoCodec.reset();
      break;
    }
    case AVMEDIA_TYPE_SUBTITLE: {
      SubtitleQueue.Abort();
      {
        std::lock_guard lock(SubtitleLock);
        SubtitleStreamChanged = true;
      }
      SubtitleCond.notify_all();
      if (SubtitleThread.joinable()) SubtitleThread.join();
      SubtitleQueue.Flush();
      std::lock_guard lock(CodecLock());
      SubtitleCodec.reset();
      break;
    }
    default:
      break;
  }
  st->discard = AVDISCARD_ALL;
}

void PlaybackState::ReadLoop() {
  AVFormatContext* ic = Format.get();
  AVPacketPtr packet = MakePacket();
  bool eof = false;
  const bool audio = AudioStream, video = VideoStream, subtitle = SubtitleStream;
  while (!AbortRequest) {
    if (Paused != LastPaused) {
      LastPaused = Paused;
      if (LastPaused)
        ReadPauseResult = av_read_pause(ic);
      else
        av_read_play(ic);
    }
    if (SeekRequest) {
      const int ret = SeekInput(SeekPos, SeekRel, SeekFlags);
      if (ret < 0) {
        GlobalLogger().LogFmt(&Player, llError, "%s: error while seeking", FileName.c_str());
        if (video) FrameQueued.Set();
      } else {
        // Set before the flush packets go out, so that no picture decoded before the seek
        // is shown once the video thread has emptied the picture ring.
        {
          std::lock_guard lock(SeekPictureLock);
          JustSeeked = true;
          if (video) {
            VideoFlushedForSeek = false;
            FrameQueued.Reset();
          }
        }
        if (audio) {
          AudioQueue.Flush();
          AudioQueue.PutFlush();
        }
        if (subtitle) {
          SubtitleQueue.Flush();
          SubtitleQueue.PutFlush();
        }
        if (video) {
          VideoQueue.Flush();
          VideoQueue.PutFlush();
        }
      }
      EofReported = false;
      Drained = false;
      SeekRequest = false;
      SeekDone.Set();
      if (!video) Seeking = false;
      eof = false;
    }

    const int audioBytes = AudioQueue.Bytes();
    const int videoBytes = VideoQueue.Bytes();
    const int subtitleBytes = SubtitleQueue.Bytes();
    const bool wantMore = (audio && audioBytes <= kMinAudioQueueBytes) ||
                          (video && VideoQueue.Packets() <= kMinFrames) ||
                          (subtitle && SubtitleQueue.Packets() <= kMinFrames);
    if (audioBytes + videoBytes + subtitleBytes > kMaxQueueBytes || !wantMore) {
      Sleep(10);
      continue;
    }
    if (eof) {
      // One empty packet makes the decoder give out the pictures it holds back.
      if (video) {
        if (VideoQueue.Packets() == 0 && !EndFlagged) VideoQueue.PutEnd(VideoStreamIndex);
        FrameQueued.Set();
      }
      Sleep(10);
      if (AudioQueue.Bytes() == 0 && VideoQueue.Bytes() == 0 && SubtitleQueue.Bytes() == 0)
        Drained = true;
      continue;
    }
    Reading = true;
    const int ret = av_read_frame(ic, packet.get());
    Reading = false;
    if (AbortRequest) break;
    if (ret == AVERROR(EAGAIN)) {
      Sleep(10);
      continue;
    }
    if (ret < 0) {
      if (video) FrameQueued.Set();
      // A failed read (a sector the drive cannot read) often reaches us as the end of the
      // input; the input remembers it.
      AVIOContext* pb = ic->pb;
      const int readError = MediaInputReadError(ic);
      const bool ioError = readError < 0;
      const int code = ioError && ret == AVERROR_EOF ? readError : ret;
      const bool atEnd = !ioError && (ret == AVERROR_EOF || (pb && avio_feof(pb)));
      if (!StillImage && !EofReported) {
        EofReported = true;
        if (atEnd)
          GlobalLogger().LogFmt(&Player, llInfo, "reach end of file: %s", FileName.c_str());
        else
          GlobalLogger().LogFmt(&Player, llError, "error #%d while reading file: %s", code,
                                FileName.c_str());
      }
      if (atEnd) eof = true;
      if (ioError) break;
      if (!atEnd) Sleep(100);
      continue;
    }
    if (packet->stream_index == AudioStreamIndex && audio)
      AudioQueue.Put(packet.get());
    else if (packet->stream_index == VideoStreamIndex && video)
      VideoQueue.Put(packet.get());
    else if (packet->stream_index == SubtitleStreamIndex && subtitle)
      SubtitleQueue.Put(packet.get());
    av_packet_unref(packet.get());
  }
}

int PlaybackState::SeekInput(int64_t target, int64_t rel, int flags) {
  AVFormatContext* ic = Format.get();
  const bool byTime = !(flags & (AVSEEK_FLAG_BYTE | AVSEEK_FLAG_FRAME));
  // Program streams have no index: a demuxer lands on the first packet past the time it is
  // given, usually inside a group of pictures whose key picture it then misses. Landing a
  // second early lets the decoder start at a key picture; what comes before the target is
  // decoded but neither shown nor heard.
  int64_t at = target;
  const int64_t first = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
  int ret = -1;
  if (byTime && target - kSeekPreRoll <= first) {
    // Within the first second: read from the beginning. A time search there lands wherever
    // the first time stamp it meets happens to be, in a program stream often past the
    // first picture; such a stream starts at its first byte.
    if (ic->iformat && std::string(ic->iformat->name) == "mpeg")
      ret = av_seek_frame(ic, -1, 0, AVSEEK_FLAG_BYTE);
    if (ret < 0)
      ret = avformat_seek_file(ic, -1, INT64_MIN, first, first, flags & ~AVSEEK_FLAG_ANY);
  }
  if (ret < 0) {
    if (byTime && rel == 0 && target - kSeekPreRoll > first) at = target - kSeekPreRoll;
    const int64_t lower = rel > 0 ? at - rel + 2 : INT64_MIN;
    const int64_t upper = rel < 0 ? at - rel - 2 : INT64_MAX;
    ret = avformat_seek_file(ic, -1, lower, at, upper, flags);
    if (ret < 0) ret = av_seek_frame(ic, -1, at, flags);
    if (ret < 0) ret = av_seek_frame(ic, -1, at, flags ^ AVSEEK_FLAG_BACKWARD);
  }
  if (ret >= 0) {
    const double from = byTime ? double(target) / AV_TIME_BASE : kNoSeekTarget;
    VideoSeekFrom = from;
    AudioSeekFrom = from;
    if (byTime && AudioStream) {
      // The sound's clock restarts at the target too: a paused player decodes no sound, and
      // a clock left where the seek began makes the first pictures late (and dropped).
      AudioClockReset = from;
      AudioBufferLeft = 0;
      AudioClockPublished = from;
    }
  }
  return ret;
}

void PlaybackState::AbortQueues() {
  AudioQueue.Abort();
  VideoQueue.Abort();
  SubtitleQueue.Abort();
  { std::lock_guard lock(PictureLock); }
  PictureCond.notify_all();
  { std::lock_guard lock(SubtitleLock); }
  SubtitleCond.notify_all();
}

void PlaybackState::StreamClose() {
  AbortRequest = true;
  AbortQueues();
  if (DemuxThread.joinable()) DemuxThread.join();
  if (RefreshThread.joinable()) RefreshThread.join();
  std::lock_guard lock(PictureLock);
  for (FramePicture& picture : Pictures) {
    picture.Frame.reset();
    picture.Overlay.reset();
    picture.Allocated = false;
  }
}

void PlaybackState::RequestSeek(int64_t pos, int64_t rel, int flags) {
  if (SeekRequest) return;
  Seeking = true;
  PausedAtSeek = Paused.load();
  SeekPos = pos;
  SeekRel = rel;
  SeekFlags = flags & 15;
  SeekDone.Reset();
  SeekRequest = true;
}

void PlaybackState::SeekTo(uint8_t flags, int64_t pts) {
  if (flags & kSeekByte) {
    RequestSeek(pts, 0, flags);
    return;
  }
  const int64_t relative = pts <= 0 ? 1 : 0;
  if (Duration > 0 && pts > Duration) pts = Duration;
  if (Format->start_time != AV_NOPTS_VALUE) pts += Format->start_time;
  RequestSeek(pts, relative, flags);
}

void PlaybackState::TogglePause() {
  if (SeekRequest) SeekDone.WaitFor(std::chrono::milliseconds(250));
  if (Paused) {
    const double now = NowSeconds();
    {
      std::lock_guard lock(PictureLock);
      FrameTimer += now + VideoCurrentPtsDrift - VideoCurrentPts;
    }
    if (ReadPauseResult != AVERROR(ENOSYS) && !VideoClockHeld)
      VideoCurrentPts = VideoCurrentPtsDrift + now;
    VideoCurrentPtsDrift = VideoCurrentPts - now;
    Paused = false;
  } else {
    if (HasVideo()) FrameQueued.WaitFor(std::chrono::milliseconds(250));
    // A seek whose picture is not queued yet still shows it, as a seek made while paused
    // does (the video thread decodes on until that picture).
    if (SeekRequest || (HasVideo() && JustSeeked)) PausedAtSeek = true;
    Paused = true;
  }
}
