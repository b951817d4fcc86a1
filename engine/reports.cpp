// Two-pass logs, video statistics and the progress report.
#include <cstdint>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/time.h>
}

#include <cmath>
#include <fstream>
#include <sstream>

#include "engine/run_state.h"
#include "engine/transcoder.h"
#include "media/logger.h"

namespace {
// Process-wide quantiser histogram of the status line; never reset.
std::mutex gHistogramMutex;
int gQpHistogram[52];

double Psnr(double error) {
  return -10.0 * std::log10(error);
}
}  // namespace

void TCustomTranscoder::OpenPassLog(int streamNumber, TOutputStreamRun& ost) {
  const auto& s = FSettings;
  const std::string prefix = s.PassLogFileName.empty() ? "ffmpeg2pass" : s.PassLogFileName;
  std::string name = FormatText("%s-%d.log", prefix.c_str(), streamNumber);
  if (name.size() > 1023) name.resize(1023);
  ost.PassLogName = name;
  const AVCodec* codec = ost.Setup->Encoder;
  const AVClass* cls = codec ? codec->priv_class : nullptr;
  // Encoders with their own statistics file (x264) write and read it themselves.
  const bool ownFile = cls && av_opt_find(&cls, "stats", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
  const int flags = ost.Setup->Codec->flags;
  if (flags & AV_CODEC_FLAG_PASS1) {
    if (ownFile) return;
    ost.PassLog.reset(std::fopen(name.c_str(), "wb"));
    if (!ost.PassLog) RaiseFFmpeg("Cannot write log file %s for pass-1 encoding", name.c_str());
  } else if (flags & AV_CODEC_FLAG_PASS2) {
    std::ifstream file(name, std::ios::binary);
    if (!file)
      RaiseFFmpeg("Cannot read file: Error reading log file \"%s\" for pass-2 encoding",
                  name.c_str());
    std::ostringstream text;
    try {
      text << file.rdbuf();
    } catch (const std::bad_alloc&) {
      RaiseFFmpeg(
          "Could not allocate file buffer: Error reading log file \"%s\" for pass-2 "
          "encoding",
          name.c_str());
    }
    if (!ownFile) ost.PassStats = text.str();
  }
}

void TCustomTranscoder::DoVideoStats(TOutputStreamRun& ost, int64_t frameSize) {
  TRunState& run = *FRun;
  if (!FVStatsFile) {
    FVStatsFile.reset(std::fopen(FSettings.VStatsFileName.c_str(), "w"));
    if (!FVStatsFile) throw FFmpegException("fopen fail: " + FSettings.VStatsFileName);
  }
  AVCodecContext* enc = run.Encoder(ost);
  if (ost.Setup->Type != AVMEDIA_TYPE_VIDEO || !enc) return;
  FILE* file = FVStatsFile.get();
  std::fprintf(file, "frame= %5d q= %2.1f ", int(ost.FramesWritten),
               double(ost.Quality) / FF_QP2LAMBDA);
  if (enc->flags & AV_CODEC_FLAG_PSNR)
    std::fprintf(file, "PSNR= %6.2f ",
                 Psnr(double(ost.Error[0]) / (double(enc->width) * enc->height * 255.0 * 255.0)));
  std::fprintf(file, "f_size= %6d ", int(frameSize));
  double time = double(ost.NextFrameIndex) * av_q2d(enc->time_base);
  if (time < 0.01) time = 0.01;
  const double bitrate = double(frameSize) * 8 / av_q2d(enc->time_base) / 1000.0;
  const double average = double(FVideoSize) * 8 / time / 1000.0;
  std::fprintf(file, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
               double(FVideoSize) / 1024, time, bitrate, average);
  std::fprintf(file, "type= %c\n", av_get_picture_type_char(AVPictureType(ost.PictType)));
}

void TCustomTranscoder::Report(bool isLast, int inputIndex) {
  SyncStage();  // sizes, qualities and times as written so far
  auto& s = FSettings;
  TRunState& run = *FRun;
  auto& logger = GlobalLogger();
  AVFormatContext* oc = OutputContext(0);
  int64_t size = 0;
  if (oc->pb) {
    size = avio_size(oc->pb);
    if (size < 0) size = avio_tell(oc->pb);
  }

  std::string line;
  bool videoSeen = false;
  int frames = -1, fps = -1;
  float quality = -1.0f;
  for (const auto& ost : run.OutputStreams) {
    if (ost.Setup->Type != AVMEDIA_TYPE_VIDEO) continue;
    AVCodecContext* enc = run.Encoder(ost);
    const double q = ost.Setup->StreamCopy ? -1.0 : double(ost.Quality) / FF_QP2LAMBDA;
    if (!videoSeen && ost.Reportable) {
      videoSeen = true;
      if (ost.FramesWritten == 0) return;  // no report before the first encoded picture
      const double elapsed = double(av_gettime_relative() - run.StartTime) / 1e6;
      frames = int(ost.FramesWritten);
      fps = elapsed > 1 ? int(frames / elapsed + 0.5) : 0;
      quality = float(q);
      line += FormatText("frame=%5d fps=%3d q=%3.1f ", frames, fps, q);
      if (isLast) line += "L";
      if (s.QpHist) {
        std::lock_guard lock(gHistogramMutex);
        const long bin = std::lround(q);
        if (bin >= 0 && bin < 52) ++gQpHistogram[bin];
        for (int i = 0; i < 32; ++i)
          line += FormatText("%X", int(std::lround(std::log2(gQpHistogram[i] + 1))));
      }
      if (enc && (enc->flags & AV_CODEC_FLAG_PSNR)) {
        line += "PSNR=";
        double total = 0, totalScale = 0;
        const char planes[3] = {'Y', 'U', 'V'};
        for (int j = 0; j < 3; ++j) {
          double error = isLast ? double(enc->error[j]) : double(ost.Error[j]);
          double scale = double(enc->width) * enc->height * 255.0 * 255.0;
          if (isLast) scale *= double(ost.FramesWritten);
          if (j) scale /= 4;
          total += error;
          totalScale += scale;
          line += FormatText("%c:%2.2f ", planes[j], Psnr(error / scale));
        }
        line += FormatText("*:%2.2f ", Psnr(total / totalScale));
      }
    } else if (videoSeen) {
      line += FormatText("q=%2.1f ", q);
    }
  }

  double time = 1e10;
  for (const auto& ost : run.OutputStreams)
    if (ost.OutputTime > 0 && ost.OutputTime < time) time = ost.OutputTime;
  if (time < 0.01) time = 0.01;
  const double bitrate = double(size) * 8 / time / 1000.0;

  if (OnProgress || s.Verbose > 0 || isLast) {
    line += FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", double(size) / 1024, time,
                       bitrate);
    if (FDupFrames || FDropFrames) line += FormatText(" dup=%d drop=%d", FDupFrames, FDropFrames);
    if (FCountsChanged && s.Verbose >= 0 && OnProgress) {
      FCountsChanged = false;
      logger.Log(this, llVerbose, line);
    }
  }
  if (OnProgress) {
    TProgressInfo info;
    info.InputIndex = inputIndex;
    info.FrameNumber = frames;
    info.FPS = fps;
    info.Quality = quality;
    info.BitRate = float(bitrate);
    info.OutputSize = size;
    info.OutputTime = int64_t(time * 1e6);
    info.ExpectedDuration = FExpectedDuration;
    OnProgress(info);
  } else if (s.Verbose >= 0) {
    logger.Log(this, llVerbose, line);
  }
  if (isLast && s.Verbose >= 0) {
    const double sum = double(FVideoSize + FAudioSize + FExtraSize);
    logger.LogFmt(this, llVerbose,
                  "video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                  double(FVideoSize) / 1024, double(FAudioSize) / 1024, double(FExtraSize) / 1024,
                  sum > 0 ? 100.0 * (double(size) - sum) / sum : 0.0);
  }
}
