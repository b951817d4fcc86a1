// The disc and tape targets ("target" option): what each sets up, for the transcoder that
// applies them and for the job assembly that chooses them from a catalogue format. Header
// only (constant data), so the application's core can read it without linking the engine.
#pragma once

#include <string_view>

// TOutputOptions::Target values.
enum TTargetNumber { ktnNone = 0, ktnVCD = 1, ktnSVCD = 2, ktnDVD = 3 };
// TOutputOptions::TargetNorm values (anything else: detect).
enum TTargetNormNumber { ktnDetect = 0, ktnPAL = 1, ktnNTSC = 2 };

struct TTargetPreset {
  const char* Kind = nullptr;  // the "target" option's kind
  int Number = ktnNone;  // TTargetNumber; ktnNone for the targets the options have no field for
  const char* VideoCodec = nullptr;
  const char* AudioCodec = nullptr;
  const char* Format = nullptr;
  const char* PalSize = nullptr;
  const char* NtscSize = nullptr;
  const char* PalPixFmt = nullptr;   // null: the encoder's choice
  const char* NtscPixFmt = nullptr;  // null: the encoder's choice
  // Library options, given in this order; null: not set.
  const char* Bitrate = nullptr;
  const char* MaxRate = nullptr;
  const char* MinRate = nullptr;
  const char* BufSize = nullptr;
  bool ScanOffset = false;  // the MPEG-2 encoder's private "scan_offset"
  const char* AudioBitrate = nullptr;
  const char* PacketSize = nullptr;
  const char* MuxRate = nullptr;
  bool SetsGop = false;  // "g" 15 (PAL) or 18 (NTSC)
  int SampleRate = 0;
  bool ForceStereo = false;  // two channels whatever was set; otherwise only mono becomes stereo
  float MuxPreload = 0;      // 0: unchanged
  // The shape assumed when none is set; null: none. Where it is "16:9", the job assembly
  // takes the target's own full size for 16:9 and any other for 4:3.
  const char* Aspect = nullptr;
};

inline constexpr TTargetPreset kTargetPresets[] = {
    {.Kind = "vcd",
     .Number = ktnVCD,
     .VideoCodec = "mpeg1video",
     .AudioCodec = "mp2",
     .Format = "vcd",
     .PalSize = "352x288",
     .NtscSize = "352x240",
     .Bitrate = "1150000",
     .MaxRate = "1150000",
     .MinRate = "1150000",
     .BufSize = "327680",
     .AudioBitrate = "224000",
     .PacketSize = "2324",
     .MuxRate = "1411200",
     .SetsGop = true,
     .SampleRate = 44100,
     .ForceStereo = true,
     .MuxPreload = 0.44f,
     .Aspect = "4:3"},
    {.Kind = "svcd",
     .Number = ktnSVCD,
     .VideoCodec = "mpeg2video",
     .AudioCodec = "mp2",
     .Format = "svcd",
     .PalSize = "480x576",
     .NtscSize = "480x480",
     .Bitrate = "2040000",
     .MaxRate = "2516000",
     .MinRate = "0",
     .BufSize = "1835008",
     .ScanOffset = true,
     .AudioBitrate = "224000",
     .PacketSize = "2324",
     .SetsGop = true,
     .SampleRate = 44100,
     .Aspect = "4:3"},
    {.Kind = "dvd",
     .Number = ktnDVD,
     .VideoCodec = "mpeg2video",
     .AudioCodec = "ac3",
     .Format = "dvd",
     .PalSize = "720x576",
     .NtscSize = "720x480",
     .Bitrate = "6000000",
     .MaxRate = "9000000",
     .MinRate = "0",
     .BufSize = "1835008",
     .AudioBitrate = "448000",
     .PacketSize = "2048",
     .MuxRate = "10080000",
     .SetsGop = true,
     .SampleRate = 48000,
     .Aspect = "16:9"},
    {.Kind = "dv",
     .Number = ktnNone,
     .Format = "dv",
     .PalSize = "720x576",
     .NtscSize = "720x480",
     .PalPixFmt = "yuv420p",
     .NtscPixFmt = "yuv411p",
     .SampleRate = 48000,
     .ForceStereo = true},
    {.Kind = "dv50",
     .Number = ktnNone,
     .Format = "dv",
     .PalSize = "720x576",
     .NtscSize = "720x480",
     .PalPixFmt = "yuv422p",
     .NtscPixFmt = "yuv422p",
     .SampleRate = 48000,
     .ForceStereo = true},
};

// The preset of a kind, or null.
constexpr const TTargetPreset* FindTargetPreset(std::string_view kind) {
  for (const auto& preset : kTargetPresets)
    if (kind == preset.Kind) return &preset;
  return nullptr;
}

// The preset of a TOutputOptions::Target number, or null.
constexpr const TTargetPreset* TargetPresetOfNumber(int number) {
  if (number == ktnNone) return nullptr;
  for (const auto& preset : kTargetPresets)
    if (preset.Number == number) return &preset;
  return nullptr;
}
