// The records through which the application hands a job its input and output settings, and
// the procedures that turn them into options of the job's transcoder.
//
// Threads: the records are plain values. The apply procedures are set-up calls of the job
// (see engine/transcoder.h): application thread, while the job is not running.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/avutil.h>
}

class TTranscoder;

// One input of a job (AddTask).
struct TInputOptions {
  std::string FileName;                // empty: AddTask's file name
  std::string FileFormat;              // "f"; empty: probe the format
  int64_t StartTime = AV_NOPTS_VALUE;  // "ss", microseconds; AV_NOPTS_VALUE: none
  int32_t ProgramNumber = -1;          // "programid" when 0 or greater
  std::string OptionLines;             // name=value per line
  int32_t Reserved1 = 0;
  int32_t Reserved2 = 0;
};

// Time stamp and metadata texts of an output.
struct TStreamInfo {
  // Calendar date-time (days since 1899-12-30, local time); 0: now; negative: no stamp.
  double Timestamp = -1.0;
  int32_t Year = -1;                                            // written when greater than 0
  int32_t Track = -1;                                           // written when greater than 0
  std::string Title, Author, Copyright, Comment, Album, Genre;  // written when not empty
};

// One output of a job (SetOutputFile). Fields holding their default are not applied.
struct TOutputOptions {
  std::string FileName;  // empty: SetOutputFile's file name
  std::string Reserved;
  std::string FileFormat;              // "f"
  int32_t PacketSize = -1;             // "packetsize" when > 0
  int32_t MuxRate = -1;                // "muxrate" when > 0
  float MuxDelay = -1.0f;              // "muxdelay" (seconds) when > 0
  float MuxPreload = -1.0f;            // "muxpreload" (seconds) when > 0
  std::string AudioCodec;              // "acodec"; "copy" for stream copy
  std::string AudioPreset;             // "apre"
  bool DisableAudio = false;           // "an" when true
  int32_t AudioVolume = -1;            // "vol" (256 = unchanged) when >= 0
  int32_t AudioChannels = -1;          // "ac" when > 0
  int32_t AudioSampleRate = -1;        // "ar" when > 0
  int32_t AudioBitrate = -1;           // "ab" when > 0
  int32_t AudioBitrateTolerance = -1;  // "abt" when > 0
  std::string AudioLanguage;           // "alang", always
  int32_t AudioSync = 0;               // "async", always
  std::string AudioTag;                // "atag" when not empty
  std::string VideoCodec;              // "vcodec"; "copy" for stream copy
  std::string VideoPreset;             // "vpre"
  bool DisableVideo = false;           // "vn" when true
  std::string FrameRate;               // "r"
  std::string FrameSize;               // "s"
  std::string AspectRatio;             // "aspect"
  int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;  // when > 0
  int32_t GopSize = -1;                                                  // "g" when > 0
  int32_t VideoBitrate = -1;                                             // "vb" when > 0
  int32_t MaxRate = -1;                                                  // "maxrate" when > 0
  int32_t MinRate = -1;                                                  // "minrate" when > 0
  int32_t BitrateTolerance = -1;                                         // "bt" when > 0
  int32_t BufferSize = -1;                                               // "bufsize" when > 0
  int32_t VideoSync = -1;                                                // "vsync", always
  std::string VideoTag;                                                  // "vtag"
  std::string VideoFilters;                                              // "vf"
  std::string VideoLanguage;                                             // "vlang"
  std::string SubtitleCodec;                                             // "scodec"
  std::string SubtitlePreset;                                            // "spre"
  bool DisableSubtitle = false;                                          // "sn" when true
  std::string SubtitleLanguage;                                          // "slang"
  bool InputSync = false;                                                // "isync", always
  bool CopyTimestamps = false;                                           // "copyts" when true
  int64_t StartTime = AV_NOPTS_VALUE;                                    // "ss", microseconds
  int64_t Duration = AV_NOPTS_VALUE;                                     // "t", microseconds
  TStreamInfo Metadata;
  int32_t Target = 0;        // 0 none, 1 "vcd", 2 "svcd", 3 "dvd"
  int32_t TargetNorm = 0;    // 0 (or other) detect, 1 "pal", 2 "ntsc"
  int32_t FallbackNorm = 1;  // 1 "pal", other "ntsc"
  bool CustomHook = false;   // the job calls OnCustomHook for every video picture
  bool Join = false;         // all inputs of the job go one after another into this output
  std::string OptionLines;   // name=value per line
  int32_t Reserved1 = 0;
  int32_t Reserved2 = 0;
};

void InitInputOptions(TInputOptions& options);
void InitOutputOptions(TOutputOptions& options);

// An option text as name/value pairs: trimmed, line breaks of every form and the literal
// "<CRLF>" separate lines; the name (lower-cased) is the part before the first "=", the
// value the rest. Lines with an empty name are dropped.
std::vector<std::pair<std::string, std::string>> SplitOptionLines(const std::string& text);

// Before the input is opened: fills an empty FileName with `fileName`, stores a copy in the
// job's next input slot and gives the options to the job. Raises as ParseOption does.
void ApplyInputOptions(TTranscoder& job, TInputOptions& options, const std::string& fileName);
// Before the output is opened: fills an empty FileName, stores a copy in the job's next output
// slot and gives the options to the job. Returns the join flag. Raises as ParseOption does.
bool ApplyOutputOptions(TTranscoder& job, TOutputOptions& options, const std::string& fileName);
// After the output was opened: the extra streams its option lines ask for ("newaudio",
// "newvideo", "newsubtitle"), each with its own codec, preset, size and filter lines.
void CreateAdditionalStreams(TTranscoder& job, const TOutputOptions& options);

// The date-time of TStreamInfo::Timestamp as whole seconds since 1970-01-01 00:00 UTC, using
// the time zone's standard (not daylight-saving) offset.
int64_t TimestampToUnixSeconds(double timestamp);
