#include "engine/hook_lookahead.h"

#include <cassert>

THookLookahead::~THookLookahead() {
  try {
    FTask.Wait();
  } catch (...) {
    // The run already ended; what the last conversion threw no longer matters.
  }
}

THookLookahead::TPicture& THookLookahead::Take() {
  assert(FWaiting);
  FWaiting = false;
  FCurrent = 1 - FCurrent;
  FTask.Wait();
  return FSlots[FCurrent].Picture;
}

bool THookLookahead::Begin(const AVFrame* frame, int stream, int64_t pts, int64_t nextPts) {
  assert(!FWaiting);
  TSlot& slot = FSlots[1 - FCurrent];
  TPicture& picture = slot.Picture;
  av_frame_unref(picture.Frame.get());
  if (av_frame_ref(picture.Frame.get(), frame) < 0) return false;
  picture.Stream = stream;
  picture.Pts = pts;
  picture.NextPts = nextPts;
  picture.Converted = false;
  FWaiting = true;
  FTask.Start([&slot] {
    const AVFrame* f = slot.Picture.Frame.get();
    slot.Picture.Converted =
        slot.Converter.ToRGB(f->data, f->linesize, AVPixelFormat(f->format), f->height, f->width);
  });
  return true;
}
