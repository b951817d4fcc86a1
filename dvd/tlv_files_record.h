// One row of the main window's title list: what the user chose for one DVD title (trim,
// crop, zoom, picture adjustments, watermarks, tracks, chapters) and the plug-in's
// description of it. Plain data shared by the main window, the editors, job assembly and
// the command line.
//
// Threads: owned by the main thread; a run reads a row's record before its job starts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dvd/dvd_records.h"

class TWmRec;  // one stored watermark, defined with the watermark editor

struct TlvFilesRecord {
  std::string SourceName;  // empty for disc titles
  int32_t Duration = 0;    // whole seconds of the title
  int64_t TrimStart = 0;   // microseconds
  int64_t TrimLength = 0;  // microseconds; 0 = to the end
  std::string ZoomMode;    // "full", "lbox", "pan", "center" or empty
  int32_t CropTop = 0, CropLeft = 0, CropBottom = 0, CropRight = 0;  // source pixels
  int32_t CropUpValue = 0, CropLeftValue = 0, CropDownValue = 0, CropRightValue = 0;
  std::vector<std::shared_ptr<TWmRec>> WaterMarks;
  TDVDTitleInfo TitleInfo{};
  // -1 when the title has no audio (or no subtitles): a negative index selects the first
  // combo row, a negative id goes to the plug-in as 0.
  int32_t AudioIndex = -1;
  int32_t SubtitleIndex = -1;
  int32_t AudioStreamId = -1;
  int32_t SubtitleStreamId = -1;
  int32_t ChapterFrom = 1;
  int32_t ChapterTo = 1;
  int32_t Brightness = 255;  // 255 = unchanged
  int32_t Contrast = 0;      // 0 = unchanged
  int32_t Saturation = 255;  // 255 = unchanged
  int32_t Exposure = 0;      // 0 = unchanged
  // The plug-in's 0-based title number. Rows of a disc with an invalid title are not
  // numbered like their titles, so selections use this rather than the row index.
  int32_t TitleNumber = 0;
};

// The record a freshly listed title starts with.
TlvFilesRecord NewTitleRecord(int titleNumber, const TDVDTitleInfo& info);
