// Run preparation (stream tables, mapping, codecs, headers) and the closing of codecs.
#include <cstdint>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

#include <cstring>

#include "engine/run_state.h"
#include "engine/transcoder.h"
#include "media/loader.h"
#include "media/logger.h"
#include "media/picture_scaler.h"

namespace {

// A fresh, unopened encoder context with the settings of `model` (an encoder context can be
// opened only once).
AVCodecContextPtr CloneEncoderSettings(const AVCodecContext* model, const AVCodec* codec) {
  AVCodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) throw FFmpegException("avcodec_alloc_context failed");
  AVCodecContext* c = context.get();
  av_opt_copy(c, model);
  c->codec_type = model->codec_type;
  c->codec_id = model->codec_id;
  c->codec_tag = model->codec_tag;
  c->time_base = model->time_base;
  c->framerate = model->framerate;
  c->width = model->width;
  c->height = model->height;
  c->sample_aspect_ratio = model->sample_aspect_ratio;
  c->pix_fmt = model->pix_fmt;
  c->sample_rate = model->sample_rate;
  c->sample_fmt = model->sample_fmt;
  c->ch_layout = AVChannelLayout{};  // av_opt_copy may have copied the model's by value
  av_channel_layout_copy(&c->ch_layout, &model->ch_layout);
  c->flags = model->flags;
  c->flags2 = model->flags2;
  c->global_quality = model->global_quality;
  c->gop_size = model->gop_size;
  c->intra_dc_precision = model->intra_dc_precision;
  c->rc_initial_buffer_occupancy = model->rc_initial_buffer_occupancy;
  auto duplicate = [](const void* data, size_t size) -> void* {
    if (!data) return nullptr;
    void* copy = av_malloc(size);
    if (copy) std::memcpy(copy, data, size);
    return copy;
  };
  c->intra_matrix = static_cast<uint16_t*>(duplicate(model->intra_matrix, 64 * sizeof(uint16_t)));
  c->inter_matrix = static_cast<uint16_t*>(duplicate(model->inter_matrix, 64 * sizeof(uint16_t)));
  c->rc_override_count = model->rc_override_count;
  c->rc_override = static_cast<RcOverride*>(
      duplicate(model->rc_override, size_t(model->rc_override_count) * sizeof(RcOverride)));
  c->thread_count = 0;  // one job runs at a time and should use every core
  return context;
}

// Containers whose sound begins where its first packet begins, with no way to say how many
// samples of the encoder's start padding come first: Flash SWF (its sound runs with the
// frames) and raw AAC (ADTS).
bool LosesStartPadding(const AVOutputFormat* format) {
  for (const char* name : {"swf", "adts", "flv", "avi"})
    if (std::strcmp(format->name, name) == 0) return true;
  return false;
}

// A sound encoder that takes frames of one fixed size gets its samples through a FIFO; in
// join mode each entry's stream has its own, in front of the shared encoder.
void MakeAudioFifo(TOutputStreamRun& ost, const AVCodecContext* enc) {
  if (ost.Setup->Type != AVMEDIA_TYPE_AUDIO || !enc || enc->frame_size <= 1 ||
      (enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
    return;
  ost.Fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, 1024));
  if (!ost.Fifo) throw FFmpegException("av_fifo_alloc fail");
}

}  // namespace

void TCustomTranscoder::DescribeOutputs() {
  for (size_t i = 0; i < FOutputs.size(); ++i) {
    if (FJoin && i > 0) break;
    av_dump_format(FOutputs[i]->Context.get(), int(i), FOutputs[i]->FileName.c_str(), 1);
  }
}

void TCustomTranscoder::LogStreamMapping() {
  if (FSettings.Verbose < 0 || !FRun) return;
  auto& logger = GlobalLogger();
  logger.Log(this, llVerbose, "Stream mapping:");
  for (const auto& ost : FRun->OutputStreams) {
    const auto& ist = FRun->InputStreams[size_t(ost.SourceIndex)];
    std::string line =
        FormatText("  Stream #%d.%d -> #%d.%d (%s)", ist.FileIndex, ist.StreamIndex,
                   FJoin ? 0 : ost.FileIndex, ost.Index, MediaTypeText(ost.Setup->Type));
    if (ost.SyncIndex != ost.SourceIndex) {
      const auto& sync = FRun->InputStreams[size_t(ost.SyncIndex)];
      line += FormatText(" [sync #%d.%d (%s)]", sync.FileIndex, sync.StreamIndex,
                         MediaTypeText(sync.Stream->codecpar->codec_type));
    }
    logger.Log(this, llVerbose, line);
  }
}

void TCustomTranscoder::OpenEncoder(TOutputStreamRun& ost) {
  TOutputStreamSetup& setup = *ost.Setup;
  const int fileNumber = FJoin ? 0 : ost.FileIndex;
  const AVCodec* codec = setup.Encoder;
  if (!codec) codec = avcodec_find_encoder(setup.Codec->codec_id);
  if (!codec) {
    const std::string text =
        FormatText("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                   int(setup.Codec->codec_id), fileNumber, ost.Index, MediaTypeText(setup.Type));
    GlobalLogger().Log(this, llError, text);
    throw FFmpegException(text);
  }
  AVCodecContextPtr encoder = CloneEncoderSettings(setup.Codec.get(), codec);
  if (!ost.PassStats.empty()) encoder->stats_in = ost.PassStats.data();
  AVDictionaryPtr options = CopyDictionary(setup.PrivateOptions.get());
  if (!ost.PassLogName.empty() && codec->priv_class) {
    // Encoders that keep their own statistics file (x264) are told its name.
    const AVClass* cls = codec->priv_class;
    if (av_opt_find(&cls, "stats", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
      av_dict_set(DictionaryArg(options), "stats", ost.PassLogName.c_str(), 0);
  }
  int opened;
  {
    std::lock_guard lock(CodecLock());
    opened = avcodec_open2(encoder.get(), codec, DictionaryArg(options));
  }
  for (const AVDictionaryEntry* entry = nullptr;
       (entry = av_dict_get(options.get(), "", entry, AV_DICT_IGNORE_SUFFIX));)
    GlobalLogger().LogFmt(this, llWarning, "Option \"%s\" (%s) not used by encoder %s", entry->key,
                          entry->value, codec->name);
  if (opened < 0) {
    const std::string text = FormatText(
        "Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect parameters "
        "such as bit_rate, rate, width or height. Please check error log message to find out "
        "more detail information.",
        fileNumber, ost.Index, MediaTypeText(setup.Type));
    GlobalLogger().Log(this, llError, text);
    throw FFmpegException(text);
  }
  ost.OwnedEncoder = std::move(encoder);
}

void TCustomTranscoder::CloseCodec(AVCodecContext* context) {
  if (!context || !avcodec_is_open(context)) return;
  std::lock_guard lock(CodecLock());
  avcodec_close(context);
}

void TCustomTranscoder::CloseOpenCodecs() {
  if (!FRun) return;
  // After a failure the stage may still hold work; it ends before the encoders close.
  FRun->Stage.reset();
  for (auto& ost : FRun->OutputStreams) CloseCodec(ost.OwnedEncoder.get());
  for (auto& ist : FRun->InputStreams) CloseCodec(ist.Decoder.get());
}

void TCustomTranscoder::PrepareRun() {
  if (FRun) FRun->Stage.reset();
  FRun = std::make_unique<TRunState>();
  FRunReport.clear();
  FHookDisabled = false;

  MakeInputStreamTables();
  CheckOutputStreams();
  MapOutputStreams();
  PrepareOutputStreams();
  OpenCodecs();
  SetInputTimes();
  MakeBitstreamFilters();
  WriteHeaders();
  DescribeRun();
  // Encoding and muxing move to a thread of their own, except where the loop reads back
  // what they wrote after every picture: the per-picture statistics file and the file-size
  // limit would wait for the stage each time.
  if (FEncodeStage && FSettings.VStatsFileName.empty() && !FSettings.LimitFileSize)
    FRun->Stage = std::make_unique<TEncodeStage>([this](TStageJob& job) { RunStageJob(job); });
}

// The run's table of every input stream, in file order.
void TCustomTranscoder::MakeInputStreamTables() {
  auto& s = FSettings;
  TRunState& run = *FRun;
  for (int f = 0; f < InputCount(); ++f) {
    AVFormatContext* ic = InputContext(f);
    TInputFileRun file;
    file.FirstStream = int(run.InputStreams.size());
    file.StreamCount = int(ic->nb_streams);
    run.Files.push_back(file);
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
      TInputStreamRun ist;
      ist.FileIndex = f;
      ist.StreamIndex = int(i);
      ist.Stream = ic->streams[i];
      if (s.RateEmu) ist.StartRealTime = av_gettime_relative();
      run.InputStreams.push_back(std::move(ist));
    }
  }
}

// Every output has a stream; the stream maps, when given, name one input stream per output
// stream.
void TCustomTranscoder::CheckOutputStreams() {
  auto& s = FSettings;
  TRunState& run = *FRun;
  int total = 0;
  for (auto& output : FOutputs) output->PacketsWritten = 0;
  for (int f = 0; f < OutputCount(); ++f) {
    const int count = int(Output(f).Streams.size());
    if (count == 0) {
      av_dump_format(OutputContext(f), f, Output(f).FileName.c_str(), 1);
      RaiseFFmpeg("Output file #%d does not contain any stream", f);
    }
    total += count;
  }
  if (FJoin) run.StreamsPerEntry = int(Output(0).Streams.size());
  if (!s.StreamMaps.empty() && int(s.StreamMaps.size()) != total)
    RaiseFFmpeg("Number of stream maps must match number of output streams");
  for (const auto& map : s.StreamMaps) {
    if (run.InputStreamIndex(map.FileIndex, map.StreamIndex) < 0)
      RaiseFFmpeg("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex);
    if (run.InputStreamIndex(map.SyncFileIndex, map.SyncStreamIndex) < 0)
      RaiseFFmpeg("Could not find sync stream #%d.%d", map.SyncFileIndex, map.SyncStreamIndex);
  }
}

// The run's table of output streams, each with its source and sync stream: the mapped ones,
// otherwise the input stream of its type with the most frames (in join mode, of its own
// entry's input).
void TCustomTranscoder::MapOutputStreams() {
  auto& s = FSettings;
  TRunState& run = *FRun;
  int mapIndex = 0;
  for (int f = 0; f < OutputCount(); ++f) {
    const TOutputFile& file = Output(f);
    for (size_t i = 0; i < file.Streams.size(); ++i) {
      TOutputStreamRun ost;
      ost.FileIndex = f;
      ost.Index = int(i);
      ost.Setup = file.Streams[i].get();
      ost.Stream = ost.Setup->Stream;
      const AVMediaType type = ost.Setup->Type;
      if (!s.StreamMaps.empty()) {
        const TStreamMap& map = s.StreamMaps[size_t(mapIndex++)];
        ost.SourceIndex = run.InputStreamIndex(map.FileIndex, map.StreamIndex);
        ost.SyncIndex = run.InputStreamIndex(map.SyncFileIndex, map.SyncStreamIndex);
        const AVMediaType inType =
            run.InputStreams[size_t(ost.SourceIndex)].Stream->codecpar->codec_type;
        if (inType != type)
          RaiseFFmpeg("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", map.FileIndex,
                      map.StreamIndex, MediaTypeText(inType), f, int(i), MediaTypeText(type));
      } else {
        int best = -1;
        int64_t bestFrames = -1;
        for (size_t j = 0; j < run.InputStreams.size(); ++j) {
          const TInputStreamRun& ist = run.InputStreams[j];
          AVStream* st = ist.Stream;
          if (st->codecpar->codec_type != type || st->discard == AVDISCARD_ALL || !ist.Discard)
            continue;
          if (FJoin && ist.FileIndex != f) continue;
          // The container's frame count stands for the frames seen while analysing the
          // stream, which today's library keeps to itself; ties keep the first.
          if (st->nb_frames > bestFrames) {
            best = int(j);
            bestFrames = st->nb_frames;
          }
        }
        if (best < 0 && !FJoin) {
          for (size_t j = 0; j < run.InputStreams.size(); ++j) {
            AVStream* st = run.InputStreams[j].Stream;
            if (st->codecpar->codec_type == type && st->discard != AVDISCARD_ALL) best = int(j);
          }
        }
        if (best < 0)
          RaiseFFmpeg("Could not find input stream matching output stream #%d.%d (%s)", f, int(i),
                      MediaTypeText(type));
        ost.SourceIndex = ost.SyncIndex = best;
      }
      run.InputStreams[size_t(ost.SourceIndex)].Discard = false;
      run.OutputStreams.push_back(std::move(ost));
    }
  }
}

// Stream copy or encoder settings of each output stream, from its source.
void TCustomTranscoder::PrepareOutputStreams() {
  auto& s = FSettings;
  TRunState& run = *FRun;
  for (size_t k = 0; k < run.OutputStreams.size(); ++k) {
    TOutputStreamRun& ost = run.OutputStreams[k];
    TInputStreamRun& ist = run.InputStreams[size_t(ost.SourceIndex)];
    TOutputStreamSetup& setup = *ost.Setup;
    AVStream* st = ost.Stream;
    const AVCodecParameters* in = ist.Stream->codecpar;
    const AVFormatContext* oc = OutputContext(ost.FileIndex);
    const bool firstEntry = !FJoin || ost.FileIndex == 0;
    ost.EncoderOwner = FJoin ? int(k % size_t(run.StreamsPerEntry)) : int(k);

    if (firstEntry) {
      for (const AVDictionaryEntry* e = nullptr;
           (e = av_dict_get(ist.Stream->metadata, "", e, AV_DICT_IGNORE_SUFFIX));)
        av_dict_set(&st->metadata, e->key, e->value, AV_DICT_DONT_OVERWRITE);
      st->disposition = ist.Stream->disposition;
    }

    if (setup.StreamCopy) {
      if (setup.Type == AVMEDIA_TYPE_VIDEO) {
        if (OnCustomHook)
          throw FFmpegException(
              "-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (FFramesHooked)
          throw FFmpegException(
              "-vcodec copy and -vhook are incompatible (frames are not decoded)");
        if (PreviewFlags() != 0)
          throw FFmpegException(
              "-vcodec copy and PostHooks are incompatible (frames are not decoded)");
      }
      if (setup.Type == AVMEDIA_TYPE_AUDIO && s.AudioVolume != 256)
        throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
      if (setup.Type != AVMEDIA_TYPE_VIDEO && setup.Type != AVMEDIA_TYPE_AUDIO &&
          setup.Type != AVMEDIA_TYPE_SUBTITLE)
        throw FFmpegException("invalid codec_type of output stream");
      if (in->extradata_size > INT_MAX - 8)
        throw FFmpegException("icodec.extradata_size is invalid (too large)");
      if (firstEntry) {
        const AVRational sar = st->sample_aspect_ratio;
        if (avcodec_parameters_copy(st->codecpar, in) < 0) throw FFmpegException("av_mallocz fail");
        // The input's tag is kept only where the output format maps it to the same codec.
        const unsigned tag = in->codec_tag;
        if (tag && oc->oformat->codec_tag &&
            av_codec_get_id(oc->oformat->codec_tag, tag) != in->codec_id &&
            av_codec_get_tag(oc->oformat->codec_tag, in->codec_id) != 0)
          st->codecpar->codec_tag = 0;
        if (setup.Type == AVMEDIA_TYPE_AUDIO) {
          if ((in->codec_id == AV_CODEC_ID_MP3 && in->block_align == 1) ||
              in->codec_id == AV_CODEC_ID_AC3)
            st->codecpar->block_align = 0;
        }
        if (setup.Type == AVMEDIA_TYPE_VIDEO && sar.num) st->sample_aspect_ratio = sar;
        st->time_base = ist.Stream->time_base;
      }
      continue;
    }

    ist.DecodingNeeded = true;
    ost.EncodingNeeded = true;
    const AVCodecContext* model = setup.Codec.get();
    switch (setup.Type) {
      case AVMEDIA_TYPE_AUDIO:
        ost.AudioResample = model->sample_rate != in->sample_rate || s.AudioSyncMethod > 1;
        break;
      case AVMEDIA_TYPE_VIDEO: {
        if (model->pix_fmt == AV_PIX_FMT_NONE)
          throw FFmpegException("Video pixel format is unknown, stream cannot be encoded");
        ost.TopBand = setup.TopBand;
        ost.BottomBand = setup.BottomBand;
        ost.LeftBand = setup.LeftBand;
        ost.RightBand = setup.RightBand;
        ost.VideoCrop = ost.TopBand || ost.BottomBand || ost.LeftBand || ost.RightBand;
        const int croppedWidth = in->width - ost.LeftBand - ost.RightBand;
        const int croppedHeight = in->height - ost.TopBand - ost.BottomBand;
        const AVPixelFormat inFormat = AVPixelFormat(in->format);
        ost.UsesFilters = FUseFilters;
        ost.VideoResample = croppedWidth != model->width || croppedHeight != model->height ||
                            inFormat != model->pix_fmt;
        if (ost.VideoResample && !ost.UsesFilters) {
          ost.Scaler = MakeResizeScaler(croppedWidth, croppedHeight, inFormat, model->width,
                                        model->height, model->pix_fmt, ScalerFlags());
          if (!ost.Scaler) throw FFmpegException("Cannot get resampling context");
        }
        if (!ost.UsesFilters) {
          ost.OriginalWidth = in->width;
          ost.OriginalHeight = in->height;
        }
        ost.ResampleWidth = croppedWidth;
        ost.ResampleHeight = croppedHeight;
        ost.ResamplePixFmt = inFormat;
        if (ost.UsesFilters && ConfigureFilters(ist, ost) < 0) {
          const std::string detail = FFilterError;
          throw FFmpegException(detail.empty() ? "Error opening filters!"
                                               : "Error opening filters: " + detail);
        }
        break;
      }
      case AVMEDIA_TYPE_SUBTITLE:
        // Bitmap subtitle encoders draw on a canvas of the picture's size.
        if (setup.Codec->width == 0 || setup.Codec->height == 0) {
          int width = in->width, height = in->height;
          for (const auto& other : run.InputStreams) {
            if (width && height) break;
            const AVCodecParameters* par = other.Stream->codecpar;
            if (other.FileIndex == ist.FileIndex && par->codec_type == AVMEDIA_TYPE_VIDEO) {
              width = par->width;
              height = par->height;
            }
          }
          setup.Codec->width = width;
          setup.Codec->height = height;
        }
        break;
      default:
        throw FFmpegException("invalid codec_type of output stream");
    }
    if (model->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) OpenPassLog(int(k), ost);
  }
}

// Encoders (in join mode those of the first entry), then the decoders of the streams that
// need one.
void TCustomTranscoder::OpenCodecs() {
  TRunState& run = *FRun;
  try {
    for (auto& ost : run.OutputStreams) {
      if (!ost.EncodingNeeded || (FJoin && ost.FileIndex != 0)) continue;
      // What the encoder needs to know of the decoded subtitles.
      OpenEncoder(ost);
      AVCodecContext* enc = ost.OwnedEncoder.get();
      if (avcodec_parameters_from_context(ost.Stream->codecpar, enc) < 0)
        throw FFmpegException("av_mallocz fail");
      // The filters may have changed the pixel shape since the stream was made; the muxer
      // refuses a stream whose two shapes differ.
      if (ost.Setup->Type == AVMEDIA_TYPE_VIDEO)
        ost.Stream->sample_aspect_ratio = enc->sample_aspect_ratio;
      ost.Stream->time_base = enc->time_base;
      if (ost.Setup->Type == AVMEDIA_TYPE_VIDEO) ost.Stream->avg_frame_rate = enc->framerate;
      FExtraSize += enc->extradata_size;
      // The decoder of a container that cannot record the sound encoder's start padding
      // plays it as sound: the samples it stands for are left out, so that the sound after
      // it keeps its place.
      if (ost.Setup->Type == AVMEDIA_TYPE_AUDIO && enc->initial_padding > 0 &&
          LosesStartPadding(OutputContext(ost.FileIndex)->oformat))
        ost.NextFrameIndex = enc->initial_padding;
      MakeAudioFifo(ost, enc);
    }
    for (auto& ost : run.OutputStreams) {
      if (!ost.EncodingNeeded || !FJoin || ost.FileIndex == 0) continue;
      MakeAudioFifo(ost, run.Encoder(ost));
    }
    for (auto& ist : run.InputStreams) {
      if (!ist.DecodingNeeded) continue;
      const TInputFile& input = Input(ist.FileIndex);
      const AVCodec* codec = input.Decoders[size_t(ist.StreamIndex)];
      if (!codec) codec = avcodec_find_decoder(ist.Stream->codecpar->codec_id);
      if (!codec) {
        const std::string text =
            FormatText("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                       int(ist.Stream->codecpar->codec_id), ist.FileIndex, ist.StreamIndex,
                       MediaTypeText(ist.Stream->codecpar->codec_type));
        GlobalLogger().Log(this, llError, text);
        throw FFmpegException(text);
      }
      AVCodecContextPtr decoder(avcodec_alloc_context3(codec));
      if (!decoder || avcodec_parameters_to_context(decoder.get(), ist.Stream->codecpar) < 0)
        throw FFmpegException("avcodec_alloc_context failed");
      decoder->pkt_timebase = ist.Stream->time_base;
      decoder->thread_count = 0;
      AVDictionaryPtr options = CopyDictionary(input.DecoderOptions[size_t(ist.StreamIndex)].get());
      int opened;
      {
        std::lock_guard lock(CodecLock());
        opened = avcodec_open2(decoder.get(), codec, DictionaryArg(options));
      }
      if (opened < 0) {
        const std::string text =
            FormatText("Error while opening decoder for input stream #%d.%d (%s)", ist.FileIndex,
                       ist.StreamIndex, MediaTypeText(ist.Stream->codecpar->codec_type));
        GlobalLogger().Log(this, llError, text);
        throw FFmpegException(text);
      }
      ist.Decoder = std::move(decoder);
    }
  } catch (...) {
    DescribeOutputs();
    LogStreamMapping();
    throw;
  }
}

// Where each input stream's clock starts.
void TCustomTranscoder::SetInputTimes() {
  TRunState& run = *FRun;
  for (auto& ist : run.InputStreams) {
    const AVRational rate = ist.Stream->avg_frame_rate;
    const int delay = ist.Stream->codecpar->video_delay;
    ist.Pts = rate.num ? -int64_t(delay) * AV_TIME_BASE * rate.den / rate.num : 0;
    ist.NextPts = AV_NOPTS_VALUE;
    ist.IsStart = true;
  }
}

// Bitstream filters, before the header so that what they change reaches it.
void TCustomTranscoder::MakeBitstreamFilters() {
  TRunState& run = *FRun;
  for (auto& ost : run.OutputStreams) {
    if (FJoin && ost.FileIndex != 0) continue;
    for (const auto& name : ost.Setup->BitstreamFilters) {
      const AVBitStreamFilter* filter = av_bsf_get_by_name(name.c_str());
      AVBSFContext* raw = nullptr;
      if (!filter || av_bsf_alloc(filter, &raw) < 0)
        RaiseFFmpeg("Unknown bitstream filter %s", name.c_str());
      AVBSFContextPtr context(raw);
      const AVCodecParameters* par =
          ost.Filters.empty() ? ost.Stream->codecpar : ost.Filters.back()->par_out;
      avcodec_parameters_copy(context->par_in, par);
      context->time_base_in = ost.Stream->time_base;
      if (av_bsf_init(context.get()) < 0) RaiseFFmpeg("Unknown bitstream filter %s", name.c_str());
      ost.Filters.push_back(std::move(context));
    }
    if (!ost.Filters.empty())
      avcodec_parameters_copy(ost.Stream->codecpar, ost.Filters.back()->par_out);
  }
}

// Metadata maps, chapters, then the headers.
void TCustomTranscoder::WriteHeaders() {
  auto& s = FSettings;
  TRunState& run = *FRun;
  try {
    // Metadata maps.
    for (const auto& map : s.MetaDataMaps) {
      if (map.OutFile < 0 || map.OutFile >= OutputCount())
        RaiseFFmpeg("Invalid output file index %d map_meta_data(%d,%d)", map.OutFile, map.OutFile,
                    map.InFile);
      if (map.InFile < 0 || map.InFile >= InputCount())
        RaiseFFmpeg("Invalid input file index %d map_meta_data(%d,%d)", map.InFile, map.OutFile,
                    map.InFile);
      AVFormatContext* oc = OutputContext(map.OutFile);
      for (const AVDictionaryEntry* e = nullptr;
           (e = av_dict_get(InputContext(map.InFile)->metadata, "", e, AV_DICT_IGNORE_SUFFIX));)
        av_dict_set(&oc->metadata, e->key, e->value, AV_DICT_DONT_OVERWRITE);
    }

    // Chapters.
    for (int f = 0; f < InputCount(); ++f) {
      AVFormatContext* ic = InputContext(f);
      if (ic->nb_chapters == 0) continue;
      for (int o = 0; o < OutputCount(); ++o) {
        if (FJoin && o > 0) break;
        AVFormatContext* oc = OutputContext(o);
        if (FJoin && f > 0) break;  // the joined file takes the first input's chapters
        for (unsigned c = 0; c < ic->nb_chapters; ++c) {
          const AVChapter* in = ic->chapters[c];
          const int64_t offset =
              av_rescale_q(s.StartTime - Input(f).TimestampOffset, AV_TIME_BASE_Q, in->time_base);
          const int64_t limit = s.RecordingTime == INT64_MAX
                                    ? INT64_MAX
                                    : av_rescale_q(s.RecordingTime, AV_TIME_BASE_Q, in->time_base);
          if (in->end < offset || (limit != INT64_MAX && in->start > offset + limit)) continue;
          AVChapter** grown = static_cast<AVChapter**>(
              av_realloc_array(oc->chapters, oc->nb_chapters + 1, sizeof(AVChapter*)));
          if (!grown) throw FFmpegException("av_realloc fail");
          oc->chapters = grown;
          auto* out = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
          if (!out) throw FFmpegException("av_mallocz fail");
          out->id = in->id;
          out->time_base = in->time_base;
          out->start = std::max<int64_t>(0, in->start - offset);
          out->end = in->end - offset;
          if (limit != INT64_MAX) out->end = std::min(out->end, limit);
          av_dict_copy(&out->metadata, in->metadata, 0);
          oc->chapters[oc->nb_chapters++] = out;
        }
      }
    }

    // Headers.
    for (int o = 0; o < OutputCount(); ++o) {
      if (FJoin && o > 0) break;
      TOutputFile& file = *FOutputs[size_t(o)];
      AVDictionaryPtr options = CopyDictionary(file.FormatOptions.get());
      const int written = avformat_write_header(file.Context.get(), DictionaryArg(options));
      for (const AVDictionaryEntry* e = nullptr;
           (e = av_dict_get(options.get(), "", e, AV_DICT_IGNORE_SUFFIX));)
        GlobalLogger().LogFmt(this, llWarning, "Option \"%s\" (%s) not used by muxer %s", e->key,
                              e->value, file.Context->oformat->name);
      if (written < 0) {
        av_dump_format(file.Context.get(), o, file.FileName.c_str(), 1);
        const std::string text = FormatText(
            "Could not write header for output file #%d (incorrect codec parameters ?)", o);
        GlobalLogger().Log(this, llError, text);
        throw FFmpegException(text);
      }
    }
    run.HeadersWritten = true;
  } catch (...) {
    DescribeOutputs();
    LogStreamMapping();
    throw;
  }
}

// The stream mapping in the log, and the report's view of the streams (first entry order,
// or all streams without join).
void TCustomTranscoder::DescribeRun() {
  auto& s = FSettings;
  TRunState& run = *FRun;
  if (s.Verbose >= 0) DescribeOutputs();
  LogStreamMapping();

  // The report's view of the streams (first entry order, or all streams without join).
  for (const auto& ost : run.OutputStreams) {
    if (FJoin && ost.FileIndex != 0) continue;
    TOutputStreamReport report;
    report.Type = ost.Setup->Type;
    report.StreamCopy = ost.Setup->StreamCopy;
    FRunReport.push_back(report);
  }
}
