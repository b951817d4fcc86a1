// The records a transcoder hands to its callbacks, and the preview-window interface.
//
// Threads: every callback runs on the thread that runs the conversion (the job's worker
// thread); a callback that wants the main thread re-posts there itself (the conversion
// component does, for progress and preview bitmaps). The transcoder waits for each callback.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TBitmap;

// One decoded video picture offered to the application for drawing.
struct THookInfo {
  int JobIndex = -1;          // filled by the conversion component
  TBitmap* Bitmap = nullptr;  // the picture as 24-bit BGR, picture size; valid during the call
  int FrameNumber = 0;        // pictures pre-processed so far, this one included
  int64_t PTS = 0;            // microseconds
  bool Update = true;         // in/out: convert the bitmap back into the picture
  bool DisableHook = false;   // in/out: stop calling the hook for the rest of the run
};
using PHookInfo = THookInfo*;

struct TPreviewInfo {
  int JobIndex = -1;
  const TBitmap* Bitmap = nullptr;
  int FrameNumber = 0;
  int64_t PTS = 0;  // microseconds
};

struct TProgressInfo {
  int JobIndex = -1;
  int InputIndex = 0;      // -1 in the last report of a run
  int FrameNumber = -1;    // -1 without video
  int FPS = -1;            // -1 without video
  float Quality = -1.0f;   // -1 for stream copy or no video
  float BitRate = 0;       // kbit/s
  int64_t OutputSize = 0;  // bytes
  int64_t OutputTime = 0;  // microseconds
  int64_t ExpectedDuration = -1;
};
using PProgressInfo = TProgressInfo*;

struct TTerminateInfo {
  int JobIndex = -1;
  bool Finished = false;  // ran to its end without being stopped
  bool Failed = false;
  std::string ErrorMessage;
};

using TCustomHookCallback = std::function<void(THookInfo& info)>;
using TPreviewBitmapCallback = std::function<void(const TPreviewInfo& info)>;
using TProgressCallback = std::function<void(TProgressInfo& info)>;
using TTerminateCallback = std::function<void(const TTerminateInfo& info)>;

// A floating window that shows the picture being converted. The GUI supplies one; the
// transcoder calls ShowPreview on its conversion thread, and the implementation blocks until
// the picture is shown (typically through CallInMainThread).
class TPreviewWindow {
 public:
  virtual ~TPreviewWindow() = default;
  // False once the user closed the window: the transcoder then stops previewing.
  virtual bool ShowPreview(const TBitmap& bitmap, int index, int64_t time) = 0;
};
// Makes the preview window at the first preview. Null or returning null: no window can be
// shown, so window previews are refused and turned off.
using TPreviewWindowFactory = std::function<std::unique_ptr<TPreviewWindow>()>;
