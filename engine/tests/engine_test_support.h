// Helpers shared by the engine's suites: library loading, log capture, fixture paths, and
// probing outputs with Debian's ffprobe.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "media/logger.h"

// Loads the converter's libraries once; the suites' SetUp calls it.
void LoadEngineLibraries();

// Collects the logger's messages while alive (any thread); the previous handler and level
// are restored on destruction.
class TLogCapture {
 public:
  explicit TLogCapture(TLogLevel level = llDebug);
  ~TLogCapture();
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;

  bool Contains(const std::string& text) const;
  bool Contains(TLogLevel level, const std::string& text) const;
  int Count(const std::string& text) const;
  std::vector<std::string> Lines() const;
  void Clear();

 private:
  struct TLine {
    TLogLevel Level;
    std::string Text;
  };
  mutable std::mutex FMutex;
  std::vector<TLine> FLines;
  TLogEvent FPrevious;
  TLogLevel FPreviousLevel;
  bool FPreviousTrigger;
};

// A VOB of the fixture disc A: title 1 (12 s), 2 (7 s) or 3 (3 s).
std::string DiscAVob(int title);
std::string DiscBVob();

// Runs Debian's ffmpeg with `arguments` (quiet, overwriting); fails the test on error.
void MakeMedia(const std::string& arguments);

struct TProbedStream {
  std::string CodecType;
  std::string CodecName;
  int Width = 0;
  int Height = 0;
  int SampleRate = 0;
  int Channels = 0;
  long long DecodedFrames = 0;  // counted by decoding every frame
  double Duration = 0;          // from the decoded frames' times
};

// Decodes the whole file (ffprobe -count_frames and the frames' times). Empty when ffprobe
// cannot read the file.
std::vector<TProbedStream> ProbeStreams(const std::string& path);
// The first stream of that type, or null.
const TProbedStream* FindStream(const std::vector<TProbedStream>& streams, const std::string& type);
// True when "ffmpeg -i path -f null -" decodes the file without an error.
bool DecodesCleanly(const std::string& path);
// The decoded audio of the first audio stream as interleaved 16-bit samples.
std::vector<int16_t> DecodeAudio(const std::string& path, int rate, int channels);
// The first video frame at or after `seconds`, as packed 24-bit RGB of width x height.
std::vector<uint8_t> DecodePicture(const std::string& path, double seconds, int width, int height);
