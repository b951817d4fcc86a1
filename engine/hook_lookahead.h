// THookLookahead keeps the custom hook's RGB conversion one picture ahead: while the
// transcoder hands one picture through the hook, the scaler and the encoder (and decodes and
// encodes the sound between pictures), the next decoded picture is converted on a background
// thread. Two converters take turns: the current one holds the picture being handed on, the
// spare one receives the next. A picture waits here, referenced, until it is handed on.
//
// Threads: one owner (the conversion loop). The background thread only touches the spare
// converter and the waiting picture.
#pragma once

extern "C" {
#include <libavutil/frame.h>
}

#include <cstdint>

#include "media/frame_converter.h"
#include "media/background_task.h"
#include "media/ffmpeg_ptr.h"

class THookLookahead {
 public:
  // A picture converted ahead, with what its input stream's clock read when it was decoded.
  struct TPicture {
    AVFramePtr Frame = MakeFrame();
    int Stream = -1;
    int64_t Pts = 0, NextPts = 0;
    bool Converted = false;  // ToRGB succeeded (else the hook reports it, as on the spot)
  };

  THookLookahead() = default;
  ~THookLookahead();  // waits for a conversion underway
  THookLookahead(const THookLookahead&) = delete;
  THookLookahead& operator=(const THookLookahead&) = delete;

  // The converter of the picture handed on now, also the one pictures converted on the
  // spot use.
  FrameConverter& Current() { return FSlots[FCurrent].Converter; }

  // Whether a picture waits to be handed on.
  bool Waiting() const { return FWaiting; }

  // Takes the waiting picture: waits for its conversion and makes its converter Current().
  // The picture stays valid until the next Begin; Release frees it sooner.
  TPicture& Take();
  void Release(TPicture& picture) { av_frame_unref(picture.Frame.get()); }

  // References `frame` and starts converting it into the spare converter. False when the
  // frame cannot be referenced (nothing waits then). Nothing may be waiting.
  bool Begin(const AVFrame* frame, int stream, int64_t pts, int64_t nextPts);

 private:
  struct TSlot {
    FrameConverter Converter;
    TPicture Picture;
  };
  TSlot FSlots[2];
  int FCurrent = 0;
  bool FWaiting = false;
  TBackgroundTask FTask;  // last: ends (waiting for its job) before the slots go
};
