/* The frame-hook library contract: a shared library named on the "vhook" option exports
 * "Process" and optionally "Configure" and "Release" with these C signatures. The transcoder
 * calls them on its conversion thread for every decoded video picture. */
#ifndef DVDSWF_ENGINE_FRAME_HOOK_H
#define DVDSWF_ENGINE_FRAME_HOOK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The picture's planes and line sizes (bytes); the hook may change the pixels in place. */
typedef struct TFrameHookPicture {
  uint8_t* data[4];
  int linesize[4];
} TFrameHookPicture;

/* Non-zero means failure. argv[0] is the library's file name. */
typedef int (*TFrameHookConfigure)(void** context, int argc, char* argv[]);
/* pix_fmt is an FFmpeg AVPixelFormat value; pts in microseconds. */
typedef void (*TFrameHookProcess)(void* context, TFrameHookPicture* picture, int pix_fmt, int width,
                                  int height, int64_t pts);
typedef void (*TFrameHookRelease)(void* context);

#ifdef __cplusplus
}
#endif

#endif
