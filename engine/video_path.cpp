// The video path: picture pre-processing (deinterlace, custom hook, frame-hook libraries),
// the filter graph, frame-rate handling (dup/drop), crop, scale, encode and preview.
#include <cstdint>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/time.h>
}

#include <cmath>
#include <cstring>

#include "engine/run_state.h"
#include "engine/transcoder.h"
#include "media/logger.h"
#include "media/picture_scaler.h"

namespace {

// Whether `frame` can be written in place; when not, it gets fresh buffers of `format` and
// size (the old contents are not kept). False when no buffer can be had.
bool MakeWritableFrame(AVFramePtr& frame, AVPixelFormat format, int width, int height) {
  if (!frame) frame = MakeFrame();
  AVFrame* f = frame.get();
  if (f->data[0] && f->format == format && f->width == width && f->height == height &&
      av_frame_is_writable(f))
    return true;
  av_frame_unref(f);
  f->format = format;
  f->width = width;
  f->height = height;
  return av_frame_get_buffer(f, 0) >= 0;
}

// A writable picture of that format and size from `pool`: one no one else holds, else a new
// one added to the pool. Null when no buffer can be had.
AVFrame* PooledFrame(std::vector<AVFramePtr>& pool, AVPixelFormat format, int width, int height) {
  for (auto& frame : pool) {
    AVFrame* f = frame.get();
    if (f->format == format && f->width == width && f->height == height && av_frame_is_writable(f))
      return f;
  }
  constexpr size_t kMostPictures = 32;
  if (pool.size() >= kMostPictures) pool.erase(pool.begin());
  pool.push_back(MakeFrame());
  AVFrame* f = pool.back().get();
  f->format = format;
  f->width = width;
  f->height = height;
  if (av_frame_get_buffer(f, 0) < 0) {
    pool.pop_back();
    return nullptr;
  }
  return f;
}

// The properties of a picture the rest of the path reads. Work pictures are reused from one
// picture to the next, so side data and metadata are not carried over (copying them would
// pile them up on the reused picture).
void CopyPictureProps(AVFrame* dst, const AVFrame* src) {
  dst->pts = src->pts;
  dst->pkt_dts = src->pkt_dts;
  dst->best_effort_timestamp = src->best_effort_timestamp;
  dst->interlaced_frame = src->interlaced_frame;
  dst->top_field_first = src->top_field_first;
  dst->repeat_pict = src->repeat_pict;
  dst->sample_aspect_ratio = src->sample_aspect_ratio;
  dst->quality = src->quality;
  dst->pict_type = src->pict_type;
  dst->key_frame = src->key_frame;
  dst->color_range = src->color_range;
  dst->colorspace = src->colorspace;
  dst->color_primaries = src->color_primaries;
  dst->color_trc = src->color_trc;
  dst->chroma_location = src->chroma_location;
}

// Deinterlacing keeps the top field and rebuilds each bottom-field line from the lines around
// it with the taps (-1, 4, 2, 4, -1) / 8 (edge lines repeated), so the two fields' motion no
// longer combs. 8-bit planar formats only.
bool DeinterlacePicture(const AVFrame* src, AVFrame* dst) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(src->format));
  if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) ||
      !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) || desc->comp[0].depth != 8 || src->height < 4)
    return false;
  const int planes = av_pix_fmt_count_planes(AVPixelFormat(src->format));
  for (int p = 0; p < planes; ++p) {
    const bool chroma = p == 1 || p == 2;
    const int width = chroma ? AV_CEIL_RSHIFT(src->width, desc->log2_chroma_w) : src->width;
    const int height = chroma ? AV_CEIL_RSHIFT(src->height, desc->log2_chroma_h) : src->height;
    auto line = [&](int row) {
      return src->data[p] + size_t(std::clamp(row, 0, height - 1)) * src->linesize[p];
    };
    for (int y = 0; y < height; ++y) {
      uint8_t* out = dst->data[p] + size_t(y) * dst->linesize[p];
      if (y % 2 == 0) {
        std::memcpy(out, line(y), size_t(width));
        continue;
      }
      const uint8_t *m2 = line(y - 2), *m1 = line(y - 1), *c = line(y), *p1 = line(y + 1),
                    *p2 = line(y + 2);
      for (int x = 0; x < width; ++x) {
        const int value = (-m2[x] + 4 * m1[x] + 2 * c[x] + 4 * p1[x] - p2[x] + 4) >> 3;
        out[x] = uint8_t(std::clamp(value, 0, 255));
      }
    }
  }
  return true;
}

// Crops `src` by moving its plane pointers (no copy). False for formats it cannot cut.
bool CropPicture(const AVFrame* src, AVFrame* dst, int top, int left) {
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(src->format));
  if (!desc || (desc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL))) return false;
  if (av_frame_ref(dst, src) < 0) return false;
  if (!(desc->flags & AV_PIX_FMT_FLAG_PLANAR)) {
    const int step = desc->comp[0].step;
    dst->data[0] += size_t(top) * src->linesize[0] + size_t(left) * step;
    return true;
  }
  if ((top & ((1 << desc->log2_chroma_h) - 1)) || (left & ((1 << desc->log2_chroma_w) - 1)))
    return false;
  const int planes = av_pix_fmt_count_planes(AVPixelFormat(src->format));
  for (int p = 0; p < planes; ++p) {
    const bool chroma = p == 1 || p == 2;
    const int y = chroma ? top >> desc->log2_chroma_h : top;
    const int x = chroma ? left >> desc->log2_chroma_w : left;
    const int bytes = (desc->comp[p < desc->nb_components ? p : 0].depth + 7) / 8;
    dst->data[p] += size_t(y) * src->linesize[p] + size_t(x) * bytes;
  }
  return true;
}

}  // namespace

// ---- Pre-processing ----

AVFrame* TCustomTranscoder::PreProcess(TInputStreamRun& ist, AVFrame* frame,
                                       THookPicture hookPicture) {
  ++FFrameNumber;
  const int64_t time = ist.Pts;
  const bool hook = OnCustomHook && !FHookDisabled;
  const bool libraries = FFramesHooked && !FHookDisabled && !FHooks.empty();
  if (!FSettings.DoDeinterlace && !hook && !libraries) return frame;
  const auto format = AVPixelFormat(frame->format);
  AVFrame* picture = frame;

  auto workBuffer = [&]() -> AVFrame* {
    if (!MakeWritableFrame(FPreBuffer, format, frame->width, frame->height)) {
      GlobalLogger().Log(this, llError, "hook buf malloc error.");
      return nullptr;
    }
    return FPreBuffer.get();
  };

  if (FSettings.DoDeinterlace) {
    AVFrame* work = workBuffer();
    if (!work) return frame;
    if (DeinterlacePicture(frame, work)) {
      CopyPictureProps(work, frame);
      picture = work;
    } else {
      GlobalLogger().Log(this, llError, "Deinterlacing failed.");
    }
  }

  if (hook) {
    picture = CustomHook(picture, format, time, hookPicture);
  } else if (libraries) {
    if (picture == frame) {
      AVFrame* work = workBuffer();
      if (!work) return frame;
      av_frame_copy(work, frame);
      CopyPictureProps(work, frame);
      picture = work;
    }
    TFrameHookPicture hooked{};
    for (int i = 0; i < 4; ++i) {
      hooked.data[i] = picture->data[i];
      hooked.linesize[i] = picture->linesize[i];
    }
    RunHookLibraries(FHooks, &hooked, format, picture->width, picture->height, time);
  }
  return picture;
}

AVFrame* TCustomTranscoder::CustomHook(AVFrame* picture, AVPixelFormat format, int64_t time,
                                       THookPicture hookPicture) {
  FrameConverter& converter = FRun->Hook.Current();
  const bool converted =
      hookPicture == THookPicture::Converted ||
      (hookPicture == THookPicture::Convert &&
       converter.ToRGB(picture->data, picture->linesize, format, picture->height, picture->width));
  if (!converted) {
    GlobalLogger().Log(this, llError, "Cannot initialize the toRGB conversion context");
    FHookDisabled = true;
    return picture;
  }
  THookInfo info;
  info.Bitmap = converter.Bitmap();
  info.FrameNumber = FFrameNumber;
  info.PTS = time;
  info.Update = true;
  info.DisableHook = false;
  try {
    OnCustomHook(info);
  } catch (const std::exception& e) {
    GlobalLogger().Log(this, llError, std::string("Error occurs OnCustomHook: ") + e.what());
    info.Update = false;
  } catch (...) {
    GlobalLogger().Log(this, llError, "Error occurs OnCustomHook: unknown exception");
    info.Update = false;
  }
  AVFrame* result = picture;
  // A handler that left the bitmap as it was changes nothing: the picture stays as decoded
  // (and spares the conversion back, which also cannot round-trip colours exactly).
  if (info.Update && !converter.Unchanged()) {
    // The picture may be the decoder's (a reference picture for the next ones), so the
    // drawing goes into the work picture; a picture that already is the work picture is
    // written in place.
    if (picture != FPreBuffer.get() &&
        !MakeWritableFrame(FPreBuffer, format, picture->width, picture->height)) {
      GlobalLogger().Log(this, llError, "hook buf malloc error.");
      return picture;
    }
    AVFrame* work = FPreBuffer.get();
    if (picture != work) CopyPictureProps(work, picture);
    if (converter.FromRGB(work->data, work->linesize, format, picture->height, picture->width)) {
      result = work;
    } else {
      GlobalLogger().Log(this, llError, "Cannot initialize the fromRGB conversion context");
      info.DisableHook = true;
    }
  }
  if (info.DisableHook) FHookDisabled = true;
  return result;
}

// ---- Preview ----

void TCustomTranscoder::Preview(const AVFrame* picture, int64_t time) {
  std::unique_lock lock(PreviewLock());
  const int flags = FPreviewFlagsValue;
  if (flags == 0) return;
  const int64_t now = av_gettime_relative();
  if (now - FLastPreviewTime <= FPreviewInterval) return;
  FLastPreviewTime = now;
  const auto format = AVPixelFormat(picture->format);
  if ((flags & kPreviewBitmapBit) && OnPreviewBitmap) {
    if (!FPreviewConverter.ToRGB(picture->data, picture->linesize, format, picture->height,
                                 picture->width)) {
      GlobalLogger().Log(this, llError, "Cannot initialize the toRGB conversion context");
      FPreviewFlagsValue &= ~kPreviewBitmapBit;
      return;
    }
    TPreviewInfo info;
    info.Bitmap = FPreviewConverter.Bitmap();
    info.FrameNumber = FFrameNumber;
    info.PTS = time;
    // The delivery may wait for the main thread, whose flag setters take this lock.
    lock.unlock();
    OnPreviewBitmap(info);
    return;
  }
  if (flags & kPreviewWindowBit) {
    if (!FPreviewConverter.ToRGB(picture->data, picture->linesize, format, picture->height,
                                 picture->width)) {
      GlobalLogger().Log(this, llError, "Cannot initialize the toRGB conversion context");
      FPreviewFlagsValue &= ~kPreviewWindowBit;
      auto discarded = std::move(FPreviewWindow);
      lock.unlock();
      return;
    }
    if (!FPreviewWindow && PreviewWindowFactory) FPreviewWindow = PreviewWindowFactory();
    if (!FPreviewWindow) {  // no window can be shown: window previews are refused
      FPreviewFlagsValue &= ~kPreviewWindowBit;
      return;
    }
    TPreviewWindow* window = FPreviewWindow.get();
    lock.unlock();
    const bool shown = window->ShowPreview(*FPreviewConverter.Bitmap(), FFrameNumber, time);
    lock.lock();
    if (!shown) {
      FPreviewFlagsValue &= ~kPreviewWindowBit;
      auto discarded = std::move(FPreviewWindow);
      lock.unlock();
    }
  }
}

// ---- Filter graph ----

int TCustomTranscoder::ConfigureFilters(TInputStreamRun& ist, TOutputStreamRun& ost) {
  FFilterError.clear();
  const AVCodecParameters* in = ist.Stream->codecpar;
  AVCodecContext* model = ost.Setup->Codec.get();
  ist.Graph.reset(avfilter_graph_alloc());
  AVFilterGraph* graph = ist.Graph.get();
  if (!graph) return -1;
  auto fail = [this](int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    FFilterError = text;
    return -1;
  };
  AVRational sar = ist.Stream->sample_aspect_ratio.num ? ist.Stream->sample_aspect_ratio
                                                       : in->sample_aspect_ratio;
  if (!sar.num) sar = AVRational{0, 1};
  const std::string sourceArgs =
      FormatText("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", in->width,
                 in->height, in->format, AV_TIME_BASE, sar.num, sar.den);
  int ret = avfilter_graph_create_filter(&ist.BufferSource, avfilter_get_by_name("buffer"), "src",
                                         sourceArgs.c_str(), nullptr, graph);
  if (ret < 0) return fail(ret);
  ret = avfilter_graph_create_filter(&ist.BufferSink, avfilter_get_by_name("buffersink"), "out",
                                     nullptr, nullptr, graph);
  if (ret < 0) return fail(ret);
  const enum AVPixelFormat formats[] = {model->pix_fmt, AV_PIX_FMT_NONE};
  ret = av_opt_set_int_list(ist.BufferSink, "pix_fmts", formats, AV_PIX_FMT_NONE,
                            AV_OPT_SEARCH_CHILDREN);
  if (ret < 0) return fail(ret);

  AVFilterContext* last = ist.BufferSource;
  const int croppedWidth = in->width - ost.LeftBand - ost.RightBand;
  const int croppedHeight = in->height - ost.TopBand - ost.BottomBand;
  if (ost.VideoCrop) {
    // The crop keeps the picture inside the bands; scaling to the encoder's size follows.
    AVFilterContext* crop = nullptr;
    const std::string args =
        FormatText("w=%d:h=%d:x=%d:y=%d", croppedWidth, croppedHeight, ost.LeftBand, ost.TopBand);
    ret = avfilter_graph_create_filter(&crop, avfilter_get_by_name("crop"), "crop", args.c_str(),
                                       nullptr, graph);
    if (ret < 0 || (ret = avfilter_link(last, 0, crop, 0)) < 0) return fail(ret);
    last = crop;
  }
  if (model->width != croppedWidth || model->height != croppedHeight) {
    AVFilterContext* scale = nullptr;
    const std::string args =
        FormatText("w=%d:h=%d:flags=0x%X", model->width, model->height, ScalerFlags());
    ret = avfilter_graph_create_filter(&scale, avfilter_get_by_name("scale"), "scale", args.c_str(),
                                       nullptr, graph);
    if (ret < 0 || (ret = avfilter_link(last, 0, scale, 0)) < 0) return fail(ret);
    last = scale;
  }
  graph->scale_sws_opts = av_strdup(FormatText("flags=0x%X", ScalerFlags()).c_str());

  if (!FSettings.VideoFilters.empty()) {
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    if (!outputs || !inputs) {
      avfilter_inout_free(&outputs);
      avfilter_inout_free(&inputs);
      return fail(AVERROR(ENOMEM));
    }
    outputs->name = av_strdup("in");
    outputs->filter_ctx = last;
    outputs->pad_idx = 0;
    outputs->next = nullptr;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = ist.BufferSink;
    inputs->pad_idx = 0;
    inputs->next = nullptr;
    ret =
        avfilter_graph_parse_ptr(graph, FSettings.VideoFilters.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&outputs);
    avfilter_inout_free(&inputs);
    if (ret < 0) return fail(ret);
  } else {
    ret = avfilter_link(last, 0, ist.BufferSink, 0);
    if (ret < 0) return fail(ret);
  }
  ret = avfilter_graph_config(graph, nullptr);
  if (ret < 0) return fail(ret);
  model->width = av_buffersink_get_w(ist.BufferSink);
  model->height = av_buffersink_get_h(ist.BufferSink);
  // The pixel shape belongs to the size the filters deliver, not to the size the output was
  // opened with: an asked-for aspect spreads over the final picture; otherwise the filters'
  // own shape holds (a scale or a pad keeps what it is given as it is shown).
  if (FSettings.FrameAspectRatioGiven && model->width > 0 && model->height > 0)
    model->sample_aspect_ratio =
        av_d2q(double(FSettings.FrameAspectRatio) * model->height / model->width, 255);
  else if (const AVRational sar = av_buffersink_get_sample_aspect_ratio(ist.BufferSink); sar.num)
    model->sample_aspect_ratio = sar;
  return 0;
}

// ---- Video output ----

int64_t TCustomTranscoder::DoVideoOut(TOutputStreamRun& ost, TInputStreamRun& ist,
                                      AVFrame* picture) {
  auto& s = FSettings;
  TRunState& run = *FRun;
  AVCodecContext* enc = run.Encoder(ost);
  const TInputStreamRun& sync = run.InputStreams[size_t(ost.SyncIndex)];
  const double ideal = double(sync.Pts - s.StartTime) / AV_TIME_BASE / av_q2d(enc->time_base);
  int64_t copies = 1;
  if (s.VideoSyncMethod != 0) {
    const double difference = ideal - double(ost.NextFrameIndex);
    const AVFormatContext* oc = OutputContext(ost.FileIndex);
    if (difference < -1.1) {
      copies = 0;
    } else if (s.VideoSyncMethod == 2 ||
               (s.VideoSyncMethod < 0 && (oc->oformat->flags & AVFMT_VARIABLE_FPS))) {
      if (difference <= -0.6)
        copies = 0;
      else if (difference > 0.6)
        ost.NextFrameIndex = std::llround(ideal);
    } else if (difference > 1.1) {
      copies = std::llround(difference);
    }
    // With the automatic method, fewer output frames than pictures (29.97 to 25): each
    // frame takes the picture nearest to it. The rule above keeps any picture up to 1.1
    // frames late, which leaves the pictures 0.7 frames late on average, and so the picture
    // behind its sound. A method asked for by number keeps to its rule.
    const double step = double(sync.NextPts - sync.Pts) / AV_TIME_BASE / av_q2d(enc->time_base);
    if (s.VideoSyncMethod < 0 && copies == 1 && sync.NextPts != AV_NOPTS_VALUE && step > 0 &&
        step < 1 && difference < -step / 2)
      copies = 0;
    if (copies == 0) {
      ++FDropFrames;
      if (s.Verbose > 2) GlobalLogger().Log(this, llVerbose, "*** drop!");
      FCountsChanged = true;
    } else if (copies > 1) {
      FDupFrames += int(copies - 1);
      if (s.Verbose > 2) GlobalLogger().LogFmt(this, llVerbose, "*** %d dup!", int(copies - 1));
      FCountsChanged = true;
    }
  } else {
    ost.NextFrameIndex = std::llround(ideal);
  }
  copies = std::min<int64_t>(copies, s.MaxFrames[0] - ost.FramesWritten);
  if (copies <= 0) return 0;

  AVFrame* toEncode = picture;
  AVFramePtr cropped;
  if (!ost.UsesFilters) {
    if (ost.VideoCrop) {
      cropped = MakeFrame();
      if (!CropPicture(picture, cropped.get(), ost.TopBand, ost.LeftBand)) {
        if (s.ExitOnError) throw FFmpegException("error cropping picture");
        GlobalLogger().Log(this, llError, "error cropping picture");
        return 0;
      }
      cropped->width = picture->width - ost.LeftBand - ost.RightBand;
      cropped->height = picture->height - ost.TopBand - ost.BottomBand;
      toEncode = cropped.get();
    }
    // A picture of another size or format than the scaler was made for.
    const int width = picture->width - ost.LeftBand - ost.RightBand;
    const int height = picture->height - ost.TopBand - ost.BottomBand;
    const auto format = AVPixelFormat(picture->format);
    if (width != ost.ResampleWidth || height != ost.ResampleHeight ||
        format != ost.ResamplePixFmt) {
      GlobalLogger().LogFmt(this, llQuiet, "Input Stream #%d.%d frame size changed to %dx%d, %s",
                            ist.FileIndex, ist.StreamIndex, width, height,
                            av_get_pix_fmt_name(format));
      if (!ost.VideoResample &&
          (width != enc->width || height != enc->height || format != enc->pix_fmt)) {
        ost.VideoResample = true;  // the encoder's size no longer matches: scale from here on
      }
      if (ost.VideoResample) {
        // The bands keep their share of the new size, rounded down to even numbers.
        auto band = [](int value, int now, int before) {
          return before ? (value * now / before) & ~1 : value;
        };
        ost.TopBand = band(ost.TopBand, picture->height, ost.OriginalHeight);
        ost.BottomBand = band(ost.BottomBand, picture->height, ost.OriginalHeight);
        ost.LeftBand = band(ost.LeftBand, picture->width, ost.OriginalWidth);
        ost.RightBand = band(ost.RightBand, picture->width, ost.OriginalWidth);
        ost.OriginalWidth = picture->width;
        ost.OriginalHeight = picture->height;
        ost.ResampleWidth = picture->width - ost.LeftBand - ost.RightBand;
        ost.ResampleHeight = picture->height - ost.TopBand - ost.BottomBand;
        ost.ResamplePixFmt = format;
        ost.Scaler = MakeResizeScaler(ost.ResampleWidth, ost.ResampleHeight, format, enc->width,
                                      enc->height, enc->pix_fmt, ScalerFlags());
        if (!ost.Scaler) throw FFmpegException("Cannot get resampling context");
        if (ost.VideoCrop) {
          cropped = MakeFrame();
          if (!CropPicture(picture, cropped.get(), ost.TopBand, ost.LeftBand))
            throw FFmpegException("error cropping picture");
          cropped->width = ost.ResampleWidth;
          cropped->height = ost.ResampleHeight;
          toEncode = cropped.get();
        }
      }
    }
    if (ost.VideoResample) {
      AVFrame* temp = PooledFrame(ost.TempPictures, enc->pix_fmt, enc->width, enc->height);
      if (!temp) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
      ScalePicture(ost.Scaler.get(), toEncode, temp);
      CopyPictureProps(temp, picture);
      toEncode = temp;
    }
  }

  int64_t written = 0;
  for (int64_t i = 0; i < copies; ++i) {
    if (i > 0 && FStopRequested) break;
    AVFrame* frame = run.EncodeFrame.get();
    av_frame_unref(frame);
    if (av_frame_ref(frame, toEncode) < 0) throw FFmpegException("Video encoding failed");
    frame->width = enc->width;
    frame->height = enc->height;
    frame->interlaced_frame = picture->interlaced_frame;
    if (enc->flags & (AV_CODEC_FLAG_INTERLACED_ME | AV_CODEC_FLAG_INTERLACED_DCT))
      frame->top_field_first = s.TopFieldFirst == -1 ? picture->top_field_first : s.TopFieldFirst;
    frame->quality = s.SameQuality && ist.Quality > 0 ? ist.Quality : enc->global_quality;
    if (!s.MeThreshold) frame->pict_type = AV_PICTURE_TYPE_NONE;
    frame->pts = ost.NextFrameIndex;
    const int64_t bytes = Encode(ost, frame);
    av_frame_unref(frame);
    if (PreviewFlags() != 0)
      Preview(toEncode, av_rescale_q(ost.NextFrameIndex, enc->time_base, AV_TIME_BASE_Q));
    written += bytes;
    ++ost.NextFrameIndex;
    ++ost.FramesWritten;
    CountFrame(ost);
  }
  return written;
}
