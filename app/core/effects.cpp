#include "app/core/effects.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "media/logger.h"

namespace {

bool WouldDraw(const TWmRec* mark) {
  if (!mark) return false;
  return (mark->Kind == kWatermarkText && !mark->Text.empty()) ||
         (mark->Kind == kWatermarkPicture && !mark->ImageFile.empty());
}

}  // namespace

bool NeedsColorAdjust(const TlvFilesRecord& record) {
  return !(record.Brightness == kUntouchedBrightness && record.Contrast == kUntouchedContrast &&
           record.Saturation == kUntouchedSaturation);
}

bool NeedsCustomHook(const TlvFilesRecord& record) {
  if (NeedsColorAdjust(record) || record.Exposure != kUntouchedExposure) return true;
  // Every watermark counts, not only the first: an empty first row must not hide the
  // watermarks after it.
  for (const auto& mark : record.WaterMarks)
    if (WouldDraw(mark.get())) return true;
  return false;
}

bool WatermarkShowsAt(const TWmRec& mark, int64_t pts) {
  const int64_t t = pts / 1000000;  // truncates toward zero
  return int64_t(mark.StartTime) <= t && t <= int64_t(mark.EndTime);
}

void ApplyTitleEffects(TBitmap& frame, int64_t pts, const TlvFilesRecord& record,
                       TConversionHookCache& cache) {
  std::lock_guard lock(cache.Lock());
  if (frame.Empty()) return;

  // Everything that can fail (reading pictures, rendering text) comes before the first
  // pixel changes, so a failure leaves the frame as it came.
  struct TVisible {
    const TWmRec* Mark;
    std::shared_ptr<const TBitmap> Picture;
    std::shared_ptr<const std::vector<uint8_t>> Coverage;
    std::shared_ptr<const TWatermarkCache::TTextLayer> Text;
  };
  std::vector<TVisible> visible;
  for (const auto& item : record.WaterMarks) {
    const TWmRec* mark = item.get();
    if (!WouldDraw(mark) || !WatermarkShowsAt(*mark, pts)) continue;
    TVisible entry{mark, nullptr, nullptr, nullptr};
    if (mark->Kind == kWatermarkPicture)
      entry.Picture = cache.Watermarks().Picture(mark->ImageFile, &entry.Coverage);
    else
      entry.Text = cache.Watermarks().TextLayer(*mark, frame.Width(), frame.Height());
    visible.push_back(std::move(entry));
  }

  cache.Adjust().Set(NeedsColorAdjust(record), record.Brightness, record.Contrast,
                     record.Saturation, record.Exposure != kUntouchedExposure, record.Exposure);
  cache.Adjust().Apply(frame, &cache.Workers());

  // Array order: later watermarks lie over earlier ones.
  for (const TVisible& v : visible) {
    if (v.Text)
      BlendTextLayer(frame, *v.Text, v.Mark->TextAlpha);
    else
      BlendPicture(frame, *v.Picture, v.Coverage.get(), v.Mark->ImageLeft, v.Mark->ImageTop,
                   v.Mark->ImageAlpha);
  }
}

void ConversionHook(THookInfo& AHookInfo, const TlvFilesRecord& ARecord,
                    TConversionHookCache& ACache) {
  if (!AHookInfo.Bitmap) return;
  try {
    // The hook's times count from the trim's start (where the input was opened); the
    // watermarks' windows are in the title's seconds, as the watermark editor shows them.
    const int64_t titleTime = AHookInfo.PTS + std::max<int64_t>(0, ARecord.TrimStart);
    ApplyTitleEffects(*AHookInfo.Bitmap, titleTime, ARecord, ACache);
  } catch (const std::exception& e) {
    GlobalLogger().Log(&ACache, llError, std::string("Error occurs OnCustomHook: ") + e.what());
    AHookInfo.Update = false;
  } catch (...) {
    GlobalLogger().Log(&ACache, llError, "Error occurs OnCustomHook: unknown exception");
    AHookInfo.Update = false;
  }
}
