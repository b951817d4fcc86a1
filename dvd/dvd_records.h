// The records exchanged with the DVD plug-in (libdvddec.so). They cross a C boundary and
// are laid out byte by byte: little-endian, 32-bit signed integers, no gaps other than the
// reserved fields. Both the plug-in and the application include this header, so the
// static_asserts below guard the one layout both sides rely on.
#pragma once

#include <cstddef>
#include <cstdint>

struct TDVDAudioInfo {
  int32_t Reserved0;
  int32_t StreamId;  // DVD stream number: AC-3 0x80+n, DTS 0x88+n, LPCM 0xA0+n, MPEG 0xC0+n
  uint8_t Reserved1[12];
  char Language[64];  // zero-terminated when shorter than 64
};

struct TDVDSubtitleInfo {
  int32_t Reserved0;
  int32_t StreamId;  // 0x20+n
  int32_t Reserved1;
  char Language[64];
};

constexpr int kDVDMaxAudio = 8;
constexpr int kDVDMaxSubtitles = 32;

struct TDVDTitleInfo {
  double Duration;      // seconds
  int32_t VideoFormat;  // see DVDFormatName
  int32_t Reserved0;
  int32_t Width;  // stored picture size; DVD pixels are not square
  int32_t Height;
  // The shape the picture is shown in (4:3 or 16:9), from the title set's video attributes.
  // Both 0 when the plug-in does not say (the eight bytes were reserved and are zeroed by the
  // caller): read it through TitleDisplayAspect, which takes DVD-Video's default 4:3.
  int32_t DisplayAspectX;
  int32_t DisplayAspectY;
  int32_t AudioCount;  // 0..kDVDMaxAudio
  TDVDAudioInfo Audio[kDVDMaxAudio];
  int32_t SubtitleCount;  // 0..kDVDMaxSubtitles
  TDVDSubtitleInfo Subtitle[kDVDMaxSubtitles];
  int32_t ChapterCount;
  uint8_t Reserved2[812];
};

// The selection the next "opendvd:" input delivers.
struct TDVDParam {
  int32_t Title;        // 0-based, as counted by DVDEnumTitle
  int32_t ChapterFrom;  // 1-based; 0 means the first chapter
  int32_t ChapterTo;    // 1-based; 0, 99 or beyond the last chapter mean the last one
  int32_t AudioId;      // a TDVDAudioInfo::StreamId; no match (0, 128) takes the first track
  int32_t SubtitleId;   // a TDVDSubtitleInfo::StreamId; 0 or less: no subtitle stream
  int32_t Mode;         // always 2
  int32_t Reserved;     // always 0
};

// The display aspect of a title as a ratio of small whole numbers: the plug-in's, or 4:3
// when it gives none (or nonsense).
struct TDisplayAspect {
  int32_t X = 4, Y = 3;
};
inline TDisplayAspect TitleDisplayAspect(const TDVDTitleInfo& info) {
  if (info.DisplayAspectX > 0 && info.DisplayAspectY > 0 && info.DisplayAspectX <= 1000 &&
      info.DisplayAspectY <= 1000)
    return {info.DisplayAspectX, info.DisplayAspectY};
  return {};
}

// Video coding codes of TDVDTitleInfo::VideoFormat (and of the stream kinds).
enum TDVDFormatCode : int32_t {
  dfMPEG1 = 1,
  dfMPEG2 = 2,
  dfMPA = 3,
  dfAC3 = 4,
  dfDTS = 5,
  dfLPCM = 6,
  dfSUB = 7,
};

static_assert(sizeof(TDVDAudioInfo) == 84);
static_assert(offsetof(TDVDAudioInfo, StreamId) == 4);
static_assert(offsetof(TDVDAudioInfo, Language) == 20);
static_assert(sizeof(TDVDSubtitleInfo) == 76);
static_assert(offsetof(TDVDSubtitleInfo, StreamId) == 4);
static_assert(offsetof(TDVDSubtitleInfo, Language) == 12);
static_assert(sizeof(TDVDTitleInfo) == 3960);
static_assert(offsetof(TDVDTitleInfo, Duration) == 0);
static_assert(offsetof(TDVDTitleInfo, VideoFormat) == 8);
static_assert(offsetof(TDVDTitleInfo, Width) == 16);
static_assert(offsetof(TDVDTitleInfo, Height) == 20);
static_assert(offsetof(TDVDTitleInfo, DisplayAspectX) == 24);
static_assert(offsetof(TDVDTitleInfo, DisplayAspectY) == 28);
static_assert(offsetof(TDVDTitleInfo, AudioCount) == 32);
static_assert(offsetof(TDVDTitleInfo, Audio) == 36);
static_assert(offsetof(TDVDTitleInfo, SubtitleCount) == 708);
static_assert(offsetof(TDVDTitleInfo, Subtitle) == 712);
static_assert(offsetof(TDVDTitleInfo, ChapterCount) == 3144);
static_assert(sizeof(TDVDParam) == 28);
static_assert(offsetof(TDVDParam, ChapterTo) == 8);
static_assert(offsetof(TDVDParam, Reserved) == 24);
static_assert(sizeof(double) == 8 && sizeof(int32_t) == 4);
