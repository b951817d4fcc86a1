// The video path's resize scaler. It runs on slice threads, one per core, as FFmpeg's own
// scale filter does: at DVD sizes the resize is a large share of a conversion's time and the
// rest of the loop is mostly one thread. Sources in RGB get one thread: FFmpeg 5.1's sliced
// 1:1 conversion of RGB into 4:2:0 leaves a chroma seam between slices.
#pragma once

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "media/ffmpeg_ptr.h"

// Null when no scaler can be made for the sizes and formats.
SwsContextPtr MakeResizeScaler(int srcWidth, int srcHeight, AVPixelFormat srcFormat, int dstWidth,
                               int dstHeight, AVPixelFormat dstFormat, int flags);

// Scales src (its width and height the scaler's source size) into dst (the scaler's
// destination size and format). Pictures with reference-counted buffers go through the slice
// threads; others through one thread.
void ScalePicture(SwsContext* scaler, const AVFrame* src, AVFrame* dst);
