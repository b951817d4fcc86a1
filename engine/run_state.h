// The stream tables of one run (between run preparation and the end of the run). Private to
// the engine's run files; everything here belongs to the run's thread.
#pragma once

extern "C" {
#include <libavfilter/avfilter.h>
}

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/encode_stage.h"
#include "engine/hook_lookahead.h"
#include "engine/transcoder.h"
#include "media/ffmpeg_ptr.h"

using FilePtr = std::unique_ptr<FILE, FileClose>;

struct TInputFileRun {
  int FirstStream = 0;
  int StreamCount = 0;  // at preparation; streams that appear later are ignored
  bool Eof = false;
  bool NoPacket = false;
  // Where the file's pictures end (microseconds, the file's timestamps after its offset),
  // also when no output takes them: a cut of a title lasts as long as its pictures.
  int64_t PictureEnd = AV_NOPTS_VALUE;
};

struct TInputStreamRun {
  int FileIndex = 0;
  int StreamIndex = 0;
  AVStream* Stream = nullptr;
  bool Discard = true;  // no output uses it (yet)
  bool DecodingNeeded = false;
  AVCodecContextPtr Decoder;
  int64_t NextPts = AV_NOPTS_VALUE;  // expected time of the next decoded data, microseconds
  int64_t Pts = 0;                   // time of the data being processed, microseconds
  // The decoding-time side of the same bookkeeping: a decoder may hold pictures back, so
  // the discontinuity rule compares packet with packet.
  int64_t Dts = 0;
  int64_t NextDts = AV_NOPTS_VALUE;
  bool IsStart = true;        // no audio block handled yet
  int64_t StartRealTime = 0;  // rate emulation
  bool Closed = false;        // join mode: converted and flushed
  bool PastRecordingTime = false;
  bool MultipleFramesWarned = false;
  int Quality = 0;
  // Filter graph of the video path, when video filters are used.
  AVFilterGraphPtr Graph;
  AVFilterContext* BufferSource = nullptr;
  AVFilterContext* BufferSink = nullptr;
};

struct TOutputStreamRun {
  int FileIndex = 0;  // output entry
  int Index = 0;      // stream index in the file
  int SourceIndex = 0;
  int SyncIndex = 0;
  TOutputStreamSetup* Setup = nullptr;
  AVStream* Stream = nullptr;
  bool EncodingNeeded = false;
  // The encoder; in join mode the streams of later entries use the first entry's.
  AVCodecContextPtr OwnedEncoder;
  int EncoderOwner = -1;       // index of the stream owning the encoder
  int64_t NextFrameIndex = 0;  // next output frame (video) or sample (audio), encoder units
  int64_t FramesWritten = 0;
  bool Reportable = true;

  // Video
  bool VideoCrop = false;
  bool VideoResample = false;
  int TopBand = 0, BottomBand = 0, LeftBand = 0, RightBand = 0;
  int OriginalWidth = 0, OriginalHeight = 0;  // input size before cropping, at set-up
  int ResampleWidth = 0, ResampleHeight = 0;  // cropped input size the scaler was made for
  AVPixelFormat ResamplePixFmt = AV_PIX_FMT_NONE;
  SwsContextPtr Scaler;
  // Scaled pictures. An encoder may keep a reference to the pictures it was given (delay,
  // B-frames), so the pictures are taken in turn from a small set and a new one is made
  // only when all of them are still held.
  std::vector<AVFramePtr> TempPictures;
  bool UsesFilters = false;
  // The pixel shape last asked of the encoder (on the stream owning it), so that only a
  // change goes to the encoding stage.
  AVRational AskedAspect{0, 0};

  // Audio
  AVAudioFifoPtr Fifo;
  SwrContextPtr Resampler;
  bool AudioResample = false;
  bool ResamplerMade = false;
  AVSampleFormat ResamplerInFormat = AV_SAMPLE_FMT_NONE;
  int ResamplerInRate = 0;
  int ResamplerInChannels = 0;
  AVFramePtr AudioWork;  // converted samples before they enter the FIFO

  FilePtr PassLog;
  std::string PassLogName;
  std::string PassStats;  // pass-2 statistics given to the encoder
  std::vector<AVBSFContextPtr> Filters;

  // Written by the encoding stage; the loop reads them after SyncStage.
  // Muxing position: end of the last written packet, seconds.
  double OutputTime = 0;
  int Quality = 0;  // of the last coded picture (lambda units)
  int PictType = 0;
  uint64_t Error[4] = {};
  int64_t Packets = 0;
};

struct TRunState {
  std::vector<TInputFileRun> Files;
  std::vector<TInputStreamRun> InputStreams;
  std::vector<TOutputStreamRun> OutputStreams;
  int CurrentInput = -1;
  int NoPacketCount = 0;
  int64_t StartTime = 0;  // av_gettime at the loop's start
  int64_t LastReportTime = 0;
  int StreamsPerEntry = 0;        // join mode
  bool EncodersContinue = false;  // join mode: flushing an input that is not the last
  bool HeadersWritten = false;

  std::vector<uint8_t> SubtitleBuffer;  // 1 MiB, made at the first subtitle
  AVPacketPtr Packet = MakePacket();
  AVFramePtr Decoded = MakeFrame();
  AVFramePtr Filtered = MakeFrame();
  AVFramePtr EncodeFrame = MakeFrame();
  // The custom hook's converters and the picture converted ahead. Last, so that a
  // conversion still underway ends before anything else of the run goes.
  THookLookahead Hook;
  // The encoder's receiving packet, used by the encoding stage alone.
  AVPacketPtr StagePacket = MakePacket();
  // Encoding and muxing on their own thread (null: on the run's thread). Last of all: the
  // thread ends, discarding what still waits, before the encoders and muxers go.
  std::unique_ptr<TEncodeStage> Stage;

  // The index in InputStreams of stream `stream` of input file `file`, or -1.
  int InputStreamIndex(int file, int stream) const {
    if (file < 0 || file >= int(Files.size()) || stream < 0 ||
        stream >= Files[size_t(file)].StreamCount)
      return -1;
    return Files[size_t(file)].FirstStream + stream;
  }

  AVCodecContext* Encoder(const TOutputStreamRun& ost) {
    return ost.EncoderOwner < 0 ? nullptr
                                : OutputStreams[size_t(ost.EncoderOwner)].OwnedEncoder.get();
  }
};
