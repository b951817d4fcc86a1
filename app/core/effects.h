// Per-frame effects during conversion: the title's picture adjustments and watermarks drawn
// into every decoded frame before the engine crops, scales and encodes it.
//
// Job assembly switches the engine's custom hook on for a title only when NeedsCustomHook
// says so, and installs a callback that finds the job's title record (job index -> list row
// -> record) and calls ConversionHook with it and one TConversionHookCache kept for the run.
//
// Threads: ConversionHook runs on the conversion worker thread. It reads the title record,
// which nobody edits while a run is in progress. Text watermarks need a QGuiApplication
// (see EnsureGuiApplication in watermark_draw.h).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "app/core/color_adjust.h"
#include "app/core/watermark_draw.h"
#include "app/core/wm_rec.h"
#include "dvd/tlv_files_record.h"
#include "engine/transcoder_events.h"
#include "media/slice_workers.h"

// True when the title has anything to apply: an adjustment away from its untouched value,
// or a watermark that would draw (a text watermark with text, a picture watermark with a
// file).
bool NeedsCustomHook(const TlvFilesRecord& record);

// True when the colour adjustment runs for the record: it is skipped only when brightness,
// contrast and saturation all hold their untouched values.
bool NeedsColorAdjust(const TlvFilesRecord& record);

// True when a watermark shows on a frame whose presentation time is pts microseconds: from
// StartTime.000000 s up to, but not including, EndTime + 1 s (whole seconds truncated
// toward zero).
bool WatermarkShowsAt(const TWmRec& mark, int64_t pts);

// What ConversionHook keeps between frames: the adjustment tables (rebuilt when the values
// change), the rendered text boxes and the decoded watermark pictures. One per run (or per
// title); sharing one between jobs that run at once is safe but serialises them.
class TConversionHookCache {
 public:
  // The adjustment's rows run on workers (the process's pool unless another is handed in),
  // on the cores the engine leaves idle.
  TConversionHookCache() : FWorkers(TSliceWorkers::Shared()) {}
  explicit TConversionHookCache(std::shared_ptr<TSliceWorkers> workers)
      : FWorkers(workers ? std::move(workers) : TSliceWorkers::Shared()) {}

  TPictureAdjust& Adjust() { return FAdjust; }
  TWatermarkCache& Watermarks() { return FWatermarks; }
  TSliceWorkers& Workers() { return *FWorkers; }
  std::mutex& Lock() { return FLock; }

 private:
  std::mutex FLock;  // held for a whole frame
  TPictureAdjust FAdjust;
  TWatermarkCache FWatermarks;
  std::shared_ptr<TSliceWorkers> FWorkers;  // never null
};

// Applies the record's adjustments and the watermarks that show at pts to frame. Throws
// std::runtime_error when a picture watermark cannot be read; the frame is then unchanged
// (pictures are read before any pixel is touched).
void ApplyTitleEffects(TBitmap& frame, int64_t pts, const TlvFilesRecord& record,
                       TConversionHookCache& cache);

// The custom-hook handler for one frame of the record's title. The frame's PTS counts from
// where the conversion started reading, the record's TrimStart; the watermarks are placed in
// time by the title's own seconds (PTS + TrimStart). The conversion component
// holds the frame's canvas while its hook event runs, so the handler does not take it again
// (the canvas lock is not recursive). Never throws: a failure is logged as "Error occurs
// OnCustomHook: " and the reason at error level, the frame goes on unchanged (Update false), and
// the next frame is handled afresh. Otherwise Update stays true and DisableHook false.
void ConversionHook(THookInfo& AHookInfo, const TlvFilesRecord& ARecord,
                    TConversionHookCache& ACache);
