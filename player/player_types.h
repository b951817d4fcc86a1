// The player's enumerations and the times it uses, shared by its public and internal
// headers.
#pragma once

#include <cstdint>
#include <limits>

enum TPlayState : uint8_t {
  psPlay = 0,
  psPause = 1,
  psResume = 2,
  psStep = 3,
  psStop = 4,
  psEnd = 5,
};

// SDL audio driver names "" (SDL's choice), "dsound", "waveout". Linux has neither Windows
// driver: every value leaves the choice to SDL_AUDIODRIVER or SDL (see docs/player.md).
enum TAudioDriver : uint8_t { adDefault = 0, adDirectSound = 1, adWaveOut = 2 };
// Kept for settings compatibility; the player draws through a TVideoOutput.
enum TVideoDriver : uint8_t { vdDefault = 0, vdDirectDraw = 1, vdGDI = 2 };

using TAudioVolume = int;  // 0..128
constexpr TAudioVolume kMaxAudioVolume = 128;

// The library's missing-timestamp value (AV_NOPTS_VALUE).
constexpr int64_t kNoPTS = std::numeric_limits<int64_t>::min();

// Seek flags (the low four bits are passed on to the demuxer).
constexpr uint8_t kSeekBackward = 1;
constexpr uint8_t kSeekByte = 2;
constexpr uint8_t kSeekAny = 4;
constexpr uint8_t kSeekFrame = 8;
