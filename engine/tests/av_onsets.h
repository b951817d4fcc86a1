// Where the flashes and beeps of fixture disc E lie in a media file, by the file's own
// timestamps: every picture and every sample is decoded with FFmpeg's libraries (the
// decoders apply the file's own start padding and edit lists), a picture is white when its
// mean luma is above the middle, a sample is loud above a quarter of the beep's level.
#pragma once

#include <string>
#include <vector>

struct TAvOnsets {
  std::string Error;            // why the file could not be read; empty when it could
  bool DecodeErrors = false;    // a packet the decoders refused
  std::vector<double> Flashes;  // seconds: the first white picture after a dark one
  std::vector<double> Beeps;    // seconds: the first loud sample after 50 ms of quiet
  // The decoded streams' extent, seconds (NaN for a stream the file lacks).
  double VideoStart, VideoEnd, AudioStart, AudioEnd;
  long long Pictures = 0;
  long long Samples = 0;  // per channel
  int SampleRate = 0;
  int Channels = 0;
  double Peak = 0;               // largest sample magnitude, full scale 1
  double ContainerDuration = 0;  // seconds, as the container states it (0: unknown)
  bool HasVideo() const { return Pictures > 0; }
  bool HasAudio() const { return Samples > 0; }
};

TAvOnsets MeasureOnsets(const std::string& path);

// Beep minus flash, for every flash with a beep within half a second of it.
struct TLipSync {
  int Pairs = 0;
  int Unpaired = 0;                   // flashes without a beep near them
  double Mean = 0, Min = 0, Max = 0;  // seconds
};
TLipSync MeasureLipSync(const TAvOnsets& onsets);

// Each onset's distance from where it should be: `expected` are the times from the start of
// the cut, `start` the file's time of that start. The onsets are paired in order with the
// expected times they lie nearest to (within 0.25 s); Unpaired counts expected times without.
TLipSync MeasureAgainst(const std::vector<double>& onsets, const std::vector<double>& expected,
                        double start);
