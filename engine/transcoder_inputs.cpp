// FindCodec and OpenInputFile.
#include <cstdint>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <cstring>

#include "engine/transcoder.h"
#include "media/ffmpeg_ptr.h"
#include "media/file_names.h"
#include "media/io_scheme.h"
#include "media/loader.h"
#include "media/logger.h"

namespace {

// Encoder names this FFmpeg no longer has, and what replaced them.
const char* EncoderAlias(const std::string& name) {
  static const struct {
    const char* Old;
    const char* New;
  } kAliases[] = {{"libfaac", "aac"}, {"libflac", "flac"}};
  for (const auto& alias : kAliases)
    if (name == alias.Old) return alias.New;
  return nullptr;
}

// The time the input's pictures begin: the start of its first video stream (cover pictures
// aside), else the start of the file. A DVD cell interleaves the sound of the half second
// before its first picture with that picture, so a chapter range (or any cut at a cell)
// begins with sound that belongs before the cut; measured from the first picture, that
// lead-in lies before zero and is not converted.
int64_t PictureStart(const AVFormatContext* ic) {
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVStream* st = ic->streams[i];
    if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
        (st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->start_time == AV_NOPTS_VALUE)
      continue;
    return av_rescale_q(st->start_time, st->time_base, AV_TIME_BASE_Q);
  }
  return ic->start_time;
}

// Whether, read from here on, the input's first key picture comes at or before `target`
// (true when the input has no video, or no key picture comes within a few hundred packets).
bool KeyPictureBefore(AVFormatContext* ic, int64_t target) {
  AVPacketPtr packet = MakePacket();
  for (int read = 0; read < 512 && av_read_frame(ic, packet.get()) >= 0; ++read) {
    const AVStream* st = ic->streams[packet->stream_index];
    const int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    const bool keyPicture = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
                            (packet->flags & AV_PKT_FLAG_KEY) && time != AV_NOPTS_VALUE;
    const bool before =
        keyPicture && av_compare_ts(time, st->time_base, target, AV_TIME_BASE_Q) <= 0;
    av_packet_unref(packet.get());
    if (keyPicture) return before;
  }
  return true;
}

// Seeks to where a key picture at or before `target` comes first. Formats without a
// key-picture index (MPEG program and transport streams) land on the last picture before
// the target, often one that needs the pictures before it: the decoder then drops
// everything up to the next key picture, and the conversion would begin late. So the seek
// steps back (1, 2, 4, 8 s) until a key picture at or before the target comes first. False
// when the input cannot seek at all.
bool SeekToKeyPicture(AVFormatContext* ic, int64_t target) {
  int64_t margin = 0;
  for (int attempt = 0;; ++attempt) {
    if (av_seek_frame(ic, -1, target - margin, AVSEEK_FLAG_BACKWARD) < 0) return false;
    if (attempt == 4 || KeyPictureBefore(ic, target)) break;
    margin = margin ? margin * 2 : AV_TIME_BASE;
  }
  // The look read packets; the same seek again starts reading where the look began.
  return av_seek_frame(ic, -1, target - margin, AVSEEK_FLAG_BACKWARD) >= 0;
}

}  // namespace

const AVCodec* FindCodecByName(const std::string& name, bool encoder) {
  const AVCodec* codec = encoder ? avcodec_find_encoder_by_name(name.c_str())
                                 : avcodec_find_decoder_by_name(name.c_str());
  if (!codec && encoder)
    if (const char* alias = EncoderAlias(name)) codec = avcodec_find_encoder_by_name(alias);
  return codec;
}

bool TCustomTranscoder::FindCodec(const std::string& name, AVMediaType type, bool encoder,
                                  int strict, AVCodecID& id) {
  id = AV_CODEC_ID_NONE;
  if (name.empty()) return true;
  const char* kind = encoder ? "encoder" : "decoder";
  const AVCodec* codec = FindCodecByName(name, encoder);
  if (!codec) {
    FLastError = FormatText("Unknown %s '%s'", kind, name.c_str());
    return false;
  }
  if (codec->type != type) {
    FLastError = FormatText("Invalid %s type '%s'", kind, name.c_str());
    return false;
  }
  if ((codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) && strict > FF_COMPLIANCE_EXPERIMENTAL) {
    FLastError = FormatText(
        "%s '%s' is experimental and might produce bad results.\r\nAdd '-strict experimental' "
        "if you want to use it.",
        kind, codec->name);
    const AVCodec* other =
        encoder ? avcodec_find_encoder(codec->id) : avcodec_find_decoder(codec->id);
    if (other && !(other->capabilities & AV_CODEC_CAP_EXPERIMENTAL))
      FLastError += FormatText("\r\nOr use the non experimental %s '%s'.", kind, other->name);
    return false;
  }
  id = codec->id;
  return true;
}

void TCustomTranscoder::ApplyFormatOptions(AVFormatContext* target, int flags,
                                           AVDictionary** dict) const {
  for (const auto& name : FOptNames) {
    auto it = FOptTypes.find(name);
    if (it == FOptTypes.end() || !(it->second & kFormatBit)) continue;
    if (!av_opt_find(target, name.c_str(), nullptr, flags, 0)) continue;
    uint8_t* value = nullptr;
    if (av_opt_get(FOptFormat.get(), name.c_str(), 0, &value) >= 0 && value) {
      if (dict)
        av_dict_set(dict, name.c_str(), reinterpret_cast<char*>(value), 0);
      else
        av_opt_set(target, name.c_str(), reinterpret_cast<char*>(value), 0);
    }
    av_free(value);
  }
}

void TCustomTranscoder::ApplyCodecOptions(AVCodecContext* target, AVMediaType type,
                                          int flags) const {
  const int index = TypeIndex(type);
  if (index < 0) return;
  for (const auto& name : FOptNames) {
    auto it = FOptTypes.find(name);
    if (it == FOptTypes.end() || !(it->second & (1u << index))) continue;
    if (!av_opt_find(target, name.c_str(), nullptr, flags, 0)) continue;
    uint8_t* value = nullptr;
    if (av_opt_get(FOptCodec[index].get(), name.c_str(), 0, &value) >= 0 && value)
      av_opt_set(target, name.c_str(), reinterpret_cast<char*>(value), 0);
    av_free(value);
  }
}

AVDictionaryPtr TCustomTranscoder::CodecOptionsDictionary(AVMediaType type, int flags) const {
  const int index = TypeIndex(type);
  AVDictionaryPtr dict;
  if (index < 0) return dict;
  for (const auto& name : FOptNames) {
    auto it = FOptTypes.find(name);
    if (it == FOptTypes.end() || !(it->second & (1u << index))) continue;
    if (!av_opt_find(FOptCodec[index].get(), name.c_str(), nullptr, flags, 0)) continue;
    uint8_t* value = nullptr;
    if (av_opt_get(FOptCodec[index].get(), name.c_str(), 0, &value) >= 0 && value)
      av_dict_set(DictionaryArg(dict), name.c_str(), reinterpret_cast<char*>(value), 0);
    av_free(value);
  }
  return dict;
}

bool TCustomTranscoder::OpenInputFile(const std::string& fileName) {
  auto& s = FSettings;
  if (InputCount() >= kMaxFiles) {
    FLastError = FormatText("Too many input files (at most %d)", kMaxFiles);
    return false;
  }
  const AVInputFormat* format = nullptr;
  if (!s.FormatName.empty()) {
    format = av_find_input_format(s.FormatName.c_str());
    if (!format) RaiseFFmpeg("Unknown input format: \"%s\"", s.FormatName.c_str());
    s.FormatName.clear();
  }

  // What raw and capture inputs need to know; other demuxers leave these unused.
  AVDictionaryPtr options;
  if (s.FrameRate.num > 0)
    av_dict_set(DictionaryArg(options), "framerate",
                FormatText("%d/%d", s.FrameRate.num, s.FrameRate.den).c_str(), 0);
  if (s.FrameWidth > 0 && s.FrameHeight > 0)
    av_dict_set(DictionaryArg(options), "video_size",
                FormatText("%dx%d", s.FrameWidth, s.FrameHeight).c_str(), 0);
  if (s.FramePixFmt != AV_PIX_FMT_NONE)
    av_dict_set(DictionaryArg(options), "pixel_format", av_get_pix_fmt_name(s.FramePixFmt), 0);
  if (s.VideoChannel) av_dict_set_int(DictionaryArg(options), "channel", s.VideoChannel, 0);
  if (!s.VideoStandard.empty())
    av_dict_set(DictionaryArg(options), "standard", s.VideoStandard.c_str(), 0);
  ApplyFormatOptions(FOptFormat.get(), AV_OPT_FLAG_DECODING_PARAM, DictionaryArg(options));
  av_dict_copy(DictionaryArg(options), FPrivateFormatOptions.get(), 0);

  // Decoders chosen by name.
  AVCodecID videoId, audioId, subtitleId;
  if (!FindCodec(s.VideoCodecName, AVMEDIA_TYPE_VIDEO, false, FOptCodec[0]->strict_std_compliance,
                 videoId) ||
      !FindCodec(s.AudioCodecName, AVMEDIA_TYPE_AUDIO, false, FOptCodec[1]->strict_std_compliance,
                 audioId) ||
      !FindCodec(s.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false,
                 FOptCodec[3]->strict_std_compliance, subtitleId))
    return false;
  if (s.PgmYuv) videoId = AV_CODEC_ID_PGMYUV;

  auto input = std::make_unique<TInputFile>();
  input->FileName = fileName;
  AVFormatContext* raw = nullptr;
  const int opened =
      OpenMediaInput(&raw, LibraryFileNameOf(fileName), format, DictionaryArg(options));
  options.reset();
  if (opened < 0) {
    FLastError = FormatErrorMessage(fileName, opened);
    return false;
  }
  input->Context.reset(raw);
  AVFormatContext* ic = raw;
  ic->flags |= AVFMT_FLAG_NONBLOCK;
  ic->video_codec_id = videoId;
  ic->audio_codec_id = audioId;
  ic->subtitle_codec_id = subtitleId;
  if (videoId != AV_CODEC_ID_NONE) ic->video_codec = avcodec_find_decoder(videoId);
  if (audioId != AV_CODEC_ID_NONE) ic->audio_codec = avcodec_find_decoder(audioId);
  if (subtitleId != AV_CODEC_ID_NONE) ic->subtitle_codec = avcodec_find_decoder(subtitleId);

  if (s.ProgramId) {
    bool found = false;
    for (unsigned i = 0; i < ic->nb_streams; ++i) ic->streams[i]->discard = AVDISCARD_ALL;
    for (unsigned i = 0; i < ic->nb_programs; ++i) {
      AVProgram* program = ic->programs[i];
      if (program->id == s.ProgramId) {
        found = true;
        for (unsigned j = 0; j < program->nb_stream_indexes; ++j)
          ic->streams[program->stream_index[j]]->discard = AVDISCARD_DEFAULT;
      } else {
        program->discard = AVDISCARD_ALL;
      }
    }
    if (!found) {
      FLastError = "Specified program id not found";
      return false;
    }
    s.ProgramId = 0;
  }

  if (s.LoopInput) av_opt_set_int(ic, "loop", 1, AV_OPT_SEARCH_CHILDREN);
  int info;
  {
    std::lock_guard lock(CodecLock());
    info = avformat_find_stream_info(ic, nullptr);
  }
  if (info < 0 && s.Verbose >= 0) {
    FLastError = FormatText("%s: could not find codec parameters", fileName.c_str());
    GlobalLogger().Log(this, llVerbose, FLastError);
    return false;
  }

  int64_t target = s.StartTime;
  const int64_t start = PictureStart(ic);
  if (start != AV_NOPTS_VALUE) target += start;
  if (s.StartTime != 0) {
    input->SeekTarget = target;
    if (!SeekToKeyPicture(ic, target) && s.Verbose > 0)
      GlobalLogger().LogFmt(this, llVerbose, "%s: could not seek to position %0.3f",
                            fileName.c_str(), double(target) / AV_TIME_BASE);
    s.StartTime = 0;
  }

  input->Decoders.resize(ic->nb_streams);
  input->DecoderOptions.resize(ic->nb_streams);
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream* st = ic->streams[i];
    AVCodecParameters* par = st->codecpar;
    // Decoding options given before this input, kept for the decoder that the run opens.
    auto decoderOptions = [&](AVMediaType type, int flags) {
      input->DecoderOptions[i] = CodecOptionsDictionary(type, flags);
    };
    switch (par->codec_type) {
      case AVMEDIA_TYPE_VIDEO: {
        decoderOptions(AVMEDIA_TYPE_VIDEO, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        s.FrameWidth = par->width;
        s.FrameHeight = par->height;
        if (st->sample_aspect_ratio.num)
          s.FrameAspectRatio = float(av_q2d(st->sample_aspect_ratio));
        else
          s.FrameAspectRatio = float(av_q2d(par->sample_aspect_ratio));
        if (par->width * par->height != 0)
          s.FrameAspectRatio *= float(par->width) / float(par->height);
        if (s.FrameAspectRatio == 0) s.FrameAspectRatio = 4.0f / 3.0f;
        s.FrameAspectRatioGiven = false;
        if (par->format < 0) par->format = 0;
        s.FramePixFmt = AVPixelFormat(par->format);
        const AVRational real = st->r_frame_rate;
        const AVRational average = st->avg_frame_rate;
        if (average.num && real.num && av_cmp_q(average, real) != 0 && s.Verbose >= 0)
          GlobalLogger().LogFmt(
              this, llInfo,
              "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) "
              "-> %2.2f (%d/%d)",
              int(i), av_q2d(average), average.num, average.den, av_q2d(real), real.num, real.den);
        s.FrameRate = real;
        input->Decoders[i] = ic->video_codec;
        if (s.VideoDisable)
          st->discard = AVDISCARD_ALL;
        else if (s.VideoDiscard)
          st->discard = AVDiscard(s.VideoDiscard);
        break;
      }
      case AVMEDIA_TYPE_AUDIO:
        decoderOptions(AVMEDIA_TYPE_AUDIO, AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        s.AudioChannelLayout =
            par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
        s.AudioChannels = par->ch_layout.nb_channels;
        s.AudioSampleRate = par->sample_rate;
        s.AudioSampleFmt = AVSampleFormat(par->format);
        input->Decoders[i] = ic->audio_codec;
        if (s.AudioDisable) st->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        decoderOptions(AVMEDIA_TYPE_SUBTITLE,
                       AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        input->Decoders[i] = ic->subtitle_codec;
        if (s.SubtitleDisable) st->discard = AVDISCARD_ALL;
        break;
      case AVMEDIA_TYPE_DATA:
      case AVMEDIA_TYPE_ATTACHMENT:
      case AVMEDIA_TYPE_UNKNOWN:
        break;
      default:
        throw FFmpegException("invalid codec_type");
    }
  }

  if (ic->duration != AV_NOPTS_VALUE && ic->duration > FExpectedDuration)
    FExpectedDuration = ic->duration;
  input->TimestampOffset = s.InputTsOffset - (s.CopyTs ? 0 : target);
  if (s.Verbose >= 0) av_dump_format(ic, InputCount(), fileName.c_str(), 0);
  FInputs.push_back(std::move(input));
  s.VideoChannel = 0;
  s.VideoCodecName.clear();
  s.AudioCodecName.clear();
  s.SubtitleCodecName.clear();
  return true;
}
