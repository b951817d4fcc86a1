/* A frame-hook library for the engine's tests: paints a square of the luma value given as its
 * first argument into the top-left corner of every picture and counts its calls. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "engine/frame_hook.h"

typedef struct {
  int Value;
} THook;

int ProcessCalls = 0;
int Released = 0;

int Configure(void** context, int argc, char* argv[]) {
  THook* hook = calloc(1, sizeof(THook));
  if (!hook) return -1;
  hook->Value = argc > 1 ? atoi(argv[1]) : 235;
  if (argc > 1 && strcmp(argv[1], "fail") == 0) {
    free(hook);
    return 1;
  }
  *context = hook;
  return 0;
}

void Process(void* context, TFrameHookPicture* picture, int pix_fmt, int width, int height,
             int64_t pts) {
  (void)pix_fmt;
  (void)pts;
  const THook* hook = context;
  ++ProcessCalls;
  for (int y = 0; y < 16 && y < height; ++y)
    memset(picture->data[0] + y * picture->linesize[0], hook->Value, width < 16 ? width : 16);
}

void Release(void* context) {
  ++Released;
  free(context);
}
