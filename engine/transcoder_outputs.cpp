// OpenOutputFile and the creation of output streams.
#include <cstdint>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <cmath>
#include <cstring>
#include <ctime>

#include "engine/transcoder.h"
#include "media/file_names.h"
#include "media/logger.h"

const AVCodec* FindCodecByName(const std::string& name, bool encoder);  // transcoder_inputs.cpp

namespace {

// The nearest fraction with terms up to 255 to the pixel aspect that gives `aspect` at
// width x height (4:3 pictures when the size is unknown).
AVRational SampleAspect(float aspect, int width, int height) {
  if (aspect == 0) return {0, 1};
  const double value =
      width * height != 0 ? double(aspect) * height / width : double(aspect) * 3 / 4;
  return av_d2q(value, 255);
}

// Formats whose default video codec only holds a cover picture: a converted video would be
// one still image at best, so they take no video stream unless one is asked for.
bool CoverArtOnly(const AVOutputFormat* format) {
  return std::strcmp(format->name, "mp3") == 0 || std::strcmp(format->name, "flac") == 0;
}

bool BitmapSubtitle(AVCodecID id) {
  const AVCodecDescriptor* desc = avcodec_descriptor_get(id);
  return desc && (desc->props & AV_CODEC_PROP_BITMAP_SUB);
}

}  // namespace

TOutputStreamSetup& TCustomTranscoder::NewStream(int outputFile, AVMediaType type) {
  TOutputFile& file = *FOutputs.at(size_t(outputFile));
  AVFormatContext* oc = file.Context.get();
  if (oc->nb_streams >= unsigned(kMaxStreams)) throw FFmpegException("Could not alloc stream");
  AVStream* st = avformat_new_stream(oc, nullptr);
  if (!st) throw FFmpegException("Could not alloc stream");
  st->id = FSettings.StreamIds[size_t(st->index)];
  auto setup = std::make_unique<TOutputStreamSetup>();
  setup->Stream = st;
  setup->Type = type;
  file.Streams.push_back(std::move(setup));
  return *file.Streams.back();
}

void TCustomTranscoder::NewVideoStream(int outputFile) {
  auto& s = FSettings;
  TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_VIDEO);
  AVFormatContext* oc = Output(outputFile).Context.get();
  AVStream* st = setup.Stream;
  setup.BitstreamFilters = std::move(s.VideoBitstreamFilters);
  s.VideoBitstreamFilters.clear();

  const AVCodec* codec = nullptr;
  AVCodecID id = AV_CODEC_ID_NONE;
  if (!s.VideoStreamCopy) {
    if (!s.VideoCodecName.empty()) {
      if (!FindCodec(s.VideoCodecName, AVMEDIA_TYPE_VIDEO, true,
                     FOptCodec[0]->strict_std_compliance, id))
        throw FFmpegException(FLastError);
      codec = FindCodecByName(s.VideoCodecName, true);
    } else {
      id = av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, AVMEDIA_TYPE_VIDEO);
      codec = avcodec_find_encoder(id);
    }
  }
  setup.Codec.reset(avcodec_alloc_context3(codec));
  if (!setup.Codec) throw FFmpegException("avcodec_alloc_context failed");
  AVCodecContext* enc = setup.Codec.get();
  enc->codec_type = AVMEDIA_TYPE_VIDEO;
  enc->codec_id = id;
  if (s.VideoCodecTag) enc->codec_tag = s.VideoCodecTag;
  if ((s.VideoGlobalHeader & 1) ||
      (s.VideoGlobalHeader == 0 && (oc->oformat->flags & AVFMT_GLOBALHEADER))) {
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    FOptCodec[0]->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (s.VideoGlobalHeader & 2) {
    enc->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    FOptCodec[0]->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
  }

  if (s.VideoStreamCopy) {
    setup.StreamCopy = true;
    st->sample_aspect_ratio = SampleAspect(s.FrameAspectRatio, s.FrameWidth, s.FrameHeight);
  } else {
    setup.Encoder = codec;
    ApplyCodecOptions(enc, AVMEDIA_TYPE_VIDEO,
                      AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    setup.PrivateOptions = CopyDictionary(FPrivateCodecOptions[0].get());
    AVRational rate = s.FrameRate.num ? s.FrameRate : AVRational{25, 1};
    if (codec && codec->supported_framerates && !s.ForceFps)
      rate = codec->supported_framerates[av_find_nearest_q_idx(rate, codec->supported_framerates)];
    enc->time_base = av_inv_q(rate);
    enc->framerate = rate;
    enc->width = s.FrameWidth;
    enc->height = s.FrameHeight;
    enc->sample_aspect_ratio = st->sample_aspect_ratio =
        SampleAspect(s.FrameAspectRatio, s.FrameWidth, s.FrameHeight);
    enc->pix_fmt = s.FramePixFmt;
    if (codec && codec->pix_fmts) {
      bool listed = false;
      for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        listed = listed || *p == enc->pix_fmt;
      if (codec->id == AV_CODEC_ID_MJPEG && enc->strict_std_compliance < 0 &&
          (enc->pix_fmt == AV_PIX_FMT_YUV420P || enc->pix_fmt == AV_PIX_FMT_YUV422P))
        listed = true;
      if (!listed) enc->pix_fmt = codec->pix_fmts[0];
    }
    if (s.IntraOnly) enc->gop_size = 0;
    if (s.VideoQScale != 0 || s.SameQuality) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = int(FF_QP2LAMBDA * s.VideoQScale);
    }
    auto matrix = [](const std::vector<uint16_t>& values) -> uint16_t* {
      if (values.size() != 64) return nullptr;
      auto* copy = static_cast<uint16_t*>(av_malloc(64 * sizeof(uint16_t)));
      if (copy) std::memcpy(copy, values.data(), 64 * sizeof(uint16_t));
      return copy;
    };
    enc->intra_matrix = matrix(s.IntraMatrix);
    enc->inter_matrix = matrix(s.InterMatrix);
    if (!s.VideoRcOverride.empty()) {
      std::vector<RcOverride> overrides;
      const char* p = s.VideoRcOverride.c_str();
      while (p && *p) {
        int start = 0, end = 0, q = 0;
        if (std::sscanf(p, "%d,%d,%d", &start, &end, &q) != 3)
          throw FFmpegException("error parsing rc_override");
        RcOverride item{};
        item.start_frame = start;
        item.end_frame = end;
        if (q > 0) {
          item.qscale = q;
          item.quality_factor = 1.0f;
        } else {
          item.qscale = 0;
          item.quality_factor = -q / 100.0f;
        }
        overrides.push_back(item);
        p = std::strchr(p, '/');
        if (p) ++p;
      }
      enc->rc_override =
          static_cast<RcOverride*>(av_malloc_array(overrides.size(), sizeof(RcOverride)));
      if (!enc->rc_override) throw FFmpegException("av_mallocz fail");
      std::memcpy(enc->rc_override, overrides.data(), overrides.size() * sizeof(RcOverride));
      enc->rc_override_count = int(overrides.size());
    }
    if (enc->rc_initial_buffer_occupancy == 0)
      enc->rc_initial_buffer_occupancy = enc->rc_buffer_size * 3 / 4;
    enc->intra_dc_precision = s.IntraDcPrecision - 8;
    if (s.DoPSNR) enc->flags |= AV_CODEC_FLAG_PSNR;
    if (s.DoPass == 1) enc->flags |= AV_CODEC_FLAG_PASS1;
    if (s.DoPass == 2) enc->flags |= AV_CODEC_FLAG_PASS2;
    setup.TopBand = s.TopBand;
    setup.BottomBand = s.BottomBand;
    setup.LeftBand = s.LeftBand;
    setup.RightBand = s.RightBand;
  }
  if (!s.VideoLanguage.empty()) {
    av_dict_set(&st->metadata, "language", s.VideoLanguage.c_str(), 0);
    s.VideoLanguage.clear();
  }
  s.VideoDisable = false;
  s.VideoCodecName.clear();
  s.VideoStreamCopy = false;
  s.FramePixFmt = AV_PIX_FMT_NONE;
}

void TCustomTranscoder::NewAudioStream(int outputFile) {
  auto& s = FSettings;
  TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_AUDIO);
  AVFormatContext* oc = Output(outputFile).Context.get();
  AVStream* st = setup.Stream;
  setup.BitstreamFilters = std::move(s.AudioBitstreamFilters);
  s.AudioBitstreamFilters.clear();

  const AVCodec* codec = nullptr;
  AVCodecID id = AV_CODEC_ID_NONE;
  if (!s.AudioStreamCopy) {
    if (!s.AudioCodecName.empty()) {
      if (!FindCodec(s.AudioCodecName, AVMEDIA_TYPE_AUDIO, true,
                     FOptCodec[1]->strict_std_compliance, id))
        throw FFmpegException(FLastError);
      codec = FindCodecByName(s.AudioCodecName, true);
    } else {
      id = av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, AVMEDIA_TYPE_AUDIO);
      codec = avcodec_find_encoder(id);
    }
  }
  setup.Codec.reset(avcodec_alloc_context3(codec));
  if (!setup.Codec) throw FFmpegException("avcodec_alloc_context failed");
  AVCodecContext* enc = setup.Codec.get();
  enc->codec_type = AVMEDIA_TYPE_AUDIO;
  enc->codec_id = id;
  if (s.AudioCodecTag) enc->codec_tag = s.AudioCodecTag;
  if (oc->oformat->flags & AVFMT_GLOBALHEADER) {
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    FOptCodec[1]->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  auto setLayout = [&s](AVCodecContext* context) {
    av_channel_layout_uninit(&context->ch_layout);
    if (s.AudioChannelLayout && av_popcount64(s.AudioChannelLayout) == s.AudioChannels)
      av_channel_layout_from_mask(&context->ch_layout, s.AudioChannelLayout);
    else
      av_channel_layout_default(&context->ch_layout, s.AudioChannels);
  };
  if (s.AudioStreamCopy) {
    setup.StreamCopy = true;
    setLayout(enc);
    enc->sample_rate = s.AudioSampleRate;
  } else {
    setup.Encoder = codec;
    ApplyCodecOptions(enc, AVMEDIA_TYPE_AUDIO,
                      AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    setup.PrivateOptions = CopyDictionary(FPrivateCodecOptions[1].get());
    if (s.AudioQScale > -99999.0f) {
      enc->flags |= AV_CODEC_FLAG_QSCALE;
      enc->global_quality = int(FF_QP2LAMBDA * s.AudioQScale);
    }
    setLayout(enc);
    enc->sample_fmt = s.AudioSampleFmt;
    if (codec && codec->sample_fmts) {
      bool listed = false;
      for (const AVSampleFormat* p = codec->sample_fmts; *p != AV_SAMPLE_FMT_NONE; ++p)
        listed = listed || *p == enc->sample_fmt;
      if (!listed) enc->sample_fmt = codec->sample_fmts[0];
    }
    enc->sample_rate = s.AudioSampleRate;
    if (codec && codec->supported_samplerates) {
      int best = codec->supported_samplerates[0];
      for (const int* p = codec->supported_samplerates; *p; ++p)
        if (std::abs(*p - enc->sample_rate) < std::abs(best - enc->sample_rate)) best = *p;
      if (best != enc->sample_rate) {
        GlobalLogger().LogFmt(this, llWarning,
                              "Requested sampling rate unsupported using closest supported (%d)",
                              best);
        enc->sample_rate = best;
      }
    }
    enc->time_base = AVRational{1, enc->sample_rate > 0 ? enc->sample_rate : 1};
  }
  if (!s.AudioLanguage.empty()) {
    av_dict_set(&st->metadata, "language", s.AudioLanguage.c_str(), 0);
    s.AudioLanguage.clear();
  }
  s.AudioDisable = false;
  s.AudioCodecName.clear();
  s.AudioStreamCopy = false;
}

void TCustomTranscoder::NewSubtitleStream(int outputFile) {
  auto& s = FSettings;
  TOutputStreamSetup& setup = NewStream(outputFile, AVMEDIA_TYPE_SUBTITLE);
  AVStream* st = setup.Stream;
  setup.BitstreamFilters = std::move(s.SubtitleBitstreamFilters);
  s.SubtitleBitstreamFilters.clear();
  const AVCodec* codec = nullptr;
  AVCodecID id = AV_CODEC_ID_NONE;
  if (!s.SubtitleStreamCopy) {
    if (!FindCodec(s.SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, true,
                   FOptCodec[3]->strict_std_compliance, id))
      throw FFmpegException(FLastError);
    if (!s.SubtitleCodecName.empty()) codec = FindCodecByName(s.SubtitleCodecName, true);
  }
  setup.Codec.reset(avcodec_alloc_context3(codec));
  if (!setup.Codec) throw FFmpegException("avcodec_alloc_context failed");
  AVCodecContext* enc = setup.Codec.get();
  enc->codec_type = AVMEDIA_TYPE_SUBTITLE;
  enc->codec_id = id;
  if (s.SubtitleCodecTag) enc->codec_tag = s.SubtitleCodecTag;
  // Subtitle times are kept in microseconds; today's encoders refuse to open without a base.
  enc->time_base = AV_TIME_BASE_Q;
  if (s.SubtitleStreamCopy) {
    setup.StreamCopy = true;
  } else {
    setup.Encoder = codec;
    ApplyCodecOptions(enc, AVMEDIA_TYPE_SUBTITLE,
                      AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
    setup.PrivateOptions = CopyDictionary(FPrivateCodecOptions[3].get());
  }
  if (!s.SubtitleLanguage.empty()) {
    av_dict_set(&st->metadata, "language", s.SubtitleLanguage.c_str(), 0);
    s.SubtitleLanguage.clear();
  }
  s.SubtitleDisable = false;
  s.SubtitleCodecName.clear();
  s.SubtitleStreamCopy = false;
}

bool TCustomTranscoder::CheckInputTypes(bool join, bool& hasVideo, bool& hasAudio,
                                        bool& hasSubtitle, AVCodecID& subtitleId) const {
  hasVideo = hasAudio = hasSubtitle = false;
  subtitleId = AV_CODEC_ID_NONE;
  const int count = join ? std::min(1, InputCount()) : InputCount();
  for (int i = 0; i < count; ++i) {
    AVFormatContext* ic = InputContext(i);
    for (unsigned j = 0; j < ic->nb_streams; ++j) {
      const AVCodecParameters* par = ic->streams[j]->codecpar;
      switch (par->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
          hasVideo = true;
          break;
        case AVMEDIA_TYPE_AUDIO:
          hasAudio = true;
          break;
        case AVMEDIA_TYPE_SUBTITLE:
          if (!hasSubtitle) subtitleId = par->codec_id;
          hasSubtitle = true;
          break;
        case AVMEDIA_TYPE_DATA:
        case AVMEDIA_TYPE_ATTACHMENT:
        case AVMEDIA_TYPE_UNKNOWN:
          break;
        default:
          throw FFmpegException("invalid codec_type of input file");
      }
    }
  }
  return count > 0;
}

int TCustomTranscoder::OpenOutputFile(const std::string& fileName, bool join) {
  auto& s = FSettings;
  if (FJoin) {
    FLastError = "Cannot join more than one output file.";
    return -1;
  }
  if (OutputCount() >= kMaxFiles) {
    FLastError = FormatText("max output files %d reached", kMaxFiles);
    return -1;
  }
  FUseFilters = !s.VideoFilters.empty();

  // The pending format name is used up by this output, found or not.
  const std::string formatName = std::move(s.FormatName);
  s.FormatName.clear();
  const AVOutputFormat* format = nullptr;
  if (!formatName.empty()) {
    format = av_guess_format(formatName.c_str(), nullptr, nullptr);
    if (!format)
      RaiseFFmpeg("Requested output format '%s' is not a suitable output format",
                  formatName.c_str());
  } else {
    format = av_guess_format(nullptr, fileName.c_str(), nullptr);
    if (!format) RaiseFFmpeg("Unable to find a suitable output format for '%s'", fileName.c_str());
  }

  auto file = std::make_shared<TOutputFile>();
  file->FileName = fileName;
  {
    AVFormatContext* raw = nullptr;
    const std::string url = LibraryOutputNameOf(fileName);
    if (avformat_alloc_output_context2(&raw, format, nullptr, url.c_str()) < 0 || !raw)
      throw FFmpegException("avformat_alloc_context failed");
    file->Context.reset(raw);
  }
  AVFormatContext* oc = file->Context.get();

  // Which streams to create.
  bool useVideo = s.VideoStreamCopy ||
                  (format->video_codec != AV_CODEC_ID_NONE && !CoverArtOnly(format)) ||
                  !s.VideoCodecName.empty();
  bool useAudio =
      s.AudioStreamCopy || format->audio_codec != AV_CODEC_ID_NONE || !s.AudioCodecName.empty();
  bool useSubtitle = s.SubtitleStreamCopy || format->subtitle_codec != AV_CODEC_ID_NONE ||
                     !s.SubtitleCodecName.empty();
  if (InputCount() > 0) {
    bool hasVideo, hasAudio, hasSubtitle;
    AVCodecID subtitleId;
    try {
      CheckInputTypes(join, hasVideo, hasAudio, hasSubtitle, subtitleId);
    } catch (const std::exception& e) {
      RaiseFFmpeg("check_audio_video_sub_inputs fail: %s", e.what());
    }
    useVideo = useVideo && hasVideo;
    useAudio = useAudio && hasAudio;
    useSubtitle = useSubtitle && hasSubtitle;
    // A subtitle chosen only by the format's default cannot turn pictures into text (or
    // back), so such a stream is left out rather than failing the whole run.
    if (useSubtitle && !s.SubtitleStreamCopy && s.SubtitleCodecName.empty() &&
        BitmapSubtitle(subtitleId) != BitmapSubtitle(format->subtitle_codec))
      useSubtitle = false;
  }
  if (s.VideoDisable) useVideo = false;
  if (s.AudioDisable) useAudio = false;
  if (s.SubtitleDisable) useSubtitle = false;

  // Registered now so the stream creation finds it; unregistered again on failure.
  FOutputs.push_back(file);
  const int index = OutputCount() - 1;
  auto unregister = [this, index] {
    if (index < OutputCount()) FOutputs.resize(size_t(index));
  };
  try {
    if (useVideo) {
      try {
        NewVideoStream(index);
      } catch (const std::exception& e) {
        RaiseFFmpeg("new_video_stream fail: %s", e.what());
      }
    }
    if (useAudio) {
      try {
        NewAudioStream(index);
      } catch (const std::exception& e) {
        RaiseFFmpeg("new_audio_stream fail: %s", e.what());
      }
    }
    if (useSubtitle) {
      try {
        NewSubtitleStream(index);
      } catch (const std::exception& e) {
        RaiseFFmpeg("new_subtitle_stream fail: %s", e.what());
      }
    }

    if (s.RecordingTimestamp != 0) {
      const time_t stamp = time_t(s.RecordingTimestamp);
      struct tm utc;
      gmtime_r(&stamp, &utc);
      char text[32];
      strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
      av_dict_set(&oc->metadata, "creation_time", text, 0);
    }
    for (auto it = s.Metadata.rbegin(); it != s.Metadata.rend(); ++it)
      av_dict_set(&oc->metadata, it->first.c_str(), it->second.c_str(), 0);
    s.Metadata.clear();

    if ((format->flags & AVFMT_NEEDNUMBER) && !av_filename_number_test(fileName.c_str())) {
      FLastError = FormatErrorMessage(fileName, -33);
      unregister();
      return -1;
    }
    if (!(format->flags & AVFMT_NOFILE)) {
      const int opened = avio_open(&oc->pb, oc->url, AVIO_FLAG_WRITE);
      if (opened < 0) {
        FLastError = FormatErrorMessage(fileName, opened);
        unregister();
        return -1;
      }
    }

    oc->max_delay = int(s.MuxMaxDelay * 1000000);
    ApplyFormatOptions(oc, AV_OPT_FLAG_ENCODING_PARAM, nullptr);
    {
      AVDictionaryPtr options = CopyDictionary(FPrivateFormatOptions.get());
      const AVClass* priv = format->priv_class;
      auto known = [&priv](const char* name) {
        return priv && av_opt_find(&priv, name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
      };
      if (known("preload"))
        av_dict_set_int(DictionaryArg(options), "preload", int64_t(s.MuxPreload * 1000000),
                        AV_DICT_DONT_OVERWRITE);
      if (known("loop"))
        av_dict_set_int(DictionaryArg(options), "loop", s.LoopOutput, AV_DICT_DONT_OVERWRITE);
      file->FormatOptions = std::move(options);
    }
    s.StreamIds.fill(0);
  } catch (...) {
    unregister();
    throw;
  }

  if (join && InputCount() > 1) {
    FJoin = true;
    int64_t sum = 0;
    for (int i = 0; i < InputCount(); ++i) {
      const int64_t duration = InputContext(i)->duration;
      if (duration != AV_NOPTS_VALUE && duration > 0) sum += duration;
    }
    FExpectedDuration = sum == 0 ? -1 : sum;
    for (int i = 1; i < InputCount(); ++i) FOutputs.push_back(file);
  }
  return OutputCount();
}
