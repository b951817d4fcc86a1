#include "media/picture_scaler.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

SwsContextPtr MakeResizeScaler(int srcWidth, int srcHeight, AVPixelFormat srcFormat, int dstWidth,
                               int dstHeight, AVPixelFormat dstFormat, int flags) {
  SwsContextPtr scaler(sws_alloc_context());
  if (!scaler) return nullptr;
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(srcFormat);
  const bool rgb = !desc || (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
  SwsContext* c = scaler.get();
  if (av_opt_set_int(c, "srcw", srcWidth, 0) < 0 || av_opt_set_int(c, "srch", srcHeight, 0) < 0 ||
      av_opt_set_int(c, "src_format", srcFormat, 0) < 0 ||
      av_opt_set_int(c, "dstw", dstWidth, 0) < 0 || av_opt_set_int(c, "dsth", dstHeight, 0) < 0 ||
      av_opt_set_int(c, "dst_format", dstFormat, 0) < 0 ||
      av_opt_set_int(c, "sws_flags", flags, 0) < 0 ||
      av_opt_set_int(c, "threads", rgb ? 1 : 0, 0) < 0)  // 0: one per core
    return nullptr;
  if (sws_init_context(c, nullptr, nullptr) < 0) return nullptr;
  return scaler;
}

void ScalePicture(SwsContext* scaler, const AVFrame* src, AVFrame* dst) {
  if (src->buf[0] && dst->buf[0] && sws_scale_frame(scaler, dst, src) >= 0) return;
  sws_scale(scaler, src->data, src->linesize, 0, src->height, dst->data, dst->linesize);
}
