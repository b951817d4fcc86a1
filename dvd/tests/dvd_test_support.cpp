#include "dvd/tests/dvd_test_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/samplefmt.h>
}

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <sstream>

#include "dvd/dvd_plugin_loader.h"
#include "media/ffmpeg_ptr.h"
#include "media/io_scheme.h"
#include "tests/support/test_support.h"

std::string DiscPath(const std::string& disc, bool iso) {
  return FixturesDir() + "/" + disc + (iso ? ".iso" : "");
}

void LoadPlugInForTests() {
  ASSERT_TRUE(LoadDVDPlugIn(DVDSWF_LIBAV_DIR, "dvd tests")) << DVDPlugInError();
}

namespace {

double ClockSeconds(const char* text) {
  int h = 0, m = 0;
  double s = 0;
  if (sscanf(text, "%d:%d:%lf", &h, &m, &s) != 3) return -1;
  return h * 3600 + m * 60 + s;
}

}  // namespace

std::vector<TLsdvdTitle> RunLsdvd(const std::string& path) {
  int status = 0;
  const std::string out = RunCommand("lsdvd -x '" + path + "' 2>/dev/null", &status);
  std::vector<TLsdvdTitle> titles;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t start = line.find_first_not_of('\t');
    if (start == std::string::npos) continue;
    const std::string text = line.substr(start);
    char clock[32];
    int number = 0, chapters = 0, id = 0;
    char code[8];
    if (sscanf(text.c_str(), "Title: %d, Length: %31s Chapters: %d", &number, clock, &chapters) ==
        3) {
      titles.push_back({ClockSeconds(clock), chapters, {}, {}, {}});
    } else if (titles.empty()) {
      continue;
    } else if (sscanf(text.c_str(), "Chapter: %d, Length: %31[0-9:.]", &number, clock) == 2) {
      titles.back().ChapterLengths.push_back(ClockSeconds(clock));
    } else if (text.rfind("Audio: ", 0) == 0 || text.rfind("Subtitle: ", 0) == 0) {
      const size_t lang = text.find("Language: ");
      const size_t sid = text.find("Stream id: ");
      if (lang == std::string::npos || sid == std::string::npos) continue;
      if (sscanf(text.c_str() + lang, "Language: %7s", code) != 1) continue;
      if (sscanf(text.c_str() + sid, "Stream id: %x", &id) != 1) continue;
      auto& list = text[0] == 'A' ? titles.back().Audio : titles.back().Subtitles;
      list.push_back({id, code});
    }
  }
  return titles;
}

namespace {

// The first channel's sample `i` of a decoded audio frame, as a double.
double Sample(const AVFrame* frame, int i) {
  const auto format = AVSampleFormat(frame->format);
  const bool planar = av_sample_fmt_is_planar(format);
  const int channels = frame->ch_layout.nb_channels;
  const int index = planar ? i : i * channels;
  const uint8_t* data = frame->extended_data[0];
  switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8:
      return (data[index] - 128) / 128.0;
    case AV_SAMPLE_FMT_S16:
      return reinterpret_cast<const int16_t*>(data)[index] / 32768.0;
    case AV_SAMPLE_FMT_S32:
      return reinterpret_cast<const int32_t*>(data)[index] / 2147483648.0;
    case AV_SAMPLE_FMT_FLT:
      return reinterpret_cast<const float*>(data)[index];
    case AV_SAMPLE_FMT_DBL:
      return reinterpret_cast<const double*>(data)[index];
    default:
      return 0;
  }
}

}  // namespace

TDecodedInput DecodeInput(const std::string& url, int firstPicture, int lastPicture) {
  TDecodedInput result;
  AVFormatContext* raw = nullptr;
  result.OpenError = OpenMediaInput(&raw, url, nullptr, nullptr);
  if (result.OpenError < 0) return result;
  MediaInputPtr input(raw);
  if (avformat_find_stream_info(input.get(), nullptr) < 0) {
    result.OpenError = AVERROR_INVALIDDATA;
    return result;
  }
  const int video = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  int audio = -1;
  for (unsigned i = 0; i < input->nb_streams; ++i) {
    const AVStream* st = input->streams[i];
    if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      result.AudioIds.push_back(st->id);
      if (audio < 0) audio = int(i);
    } else if (st->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
      result.SubtitleIds.push_back(st->id);
    }
  }
  auto openDecoder = [&](int index) {
    AVCodecContextPtr ctx;
    if (index < 0) return ctx;
    const AVCodecParameters* par = input->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return ctx;
    ctx.reset(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(ctx.get(), par);
    ctx->pkt_timebase = input->streams[index]->time_base;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) ctx.reset();
    return ctx;
  };
  AVCodecContextPtr videoDecoder = openDecoder(video);
  AVCodecContextPtr audioDecoder = openDecoder(audio);

  int64_t firstPts = AV_NOPTS_VALUE, endPts = AV_NOPTS_VALUE;
  std::vector<double> samples;  // first channel, after skipping the first 0.1 s
  int audioRate = 0;
  int64_t skipped = 0;
  AVFramePtr frame(av_frame_alloc());
  auto drain = [&](AVCodecContext* ctx, bool isVideo) {
    while (avcodec_receive_frame(ctx, frame.get()) >= 0) {
      if (isVideo) {
        const int index = result.VideoFrames++;
        const int64_t pts = frame->best_effort_timestamp;
        if (pts != AV_NOPTS_VALUE) {
          if (firstPts == AV_NOPTS_VALUE || pts < firstPts) firstPts = pts;
          const int64_t end = pts + std::max<int64_t>(frame->pkt_duration, 0);
          if (endPts == AV_NOPTS_VALUE || end > endPts) endPts = end;
        }
        result.Width = frame->width;
        result.Height = frame->height;
        if (index >= firstPicture && index <= lastPicture) {
          std::vector<uint8_t> luma(size_t(frame->width) * frame->height);
          for (int y = 0; y < frame->height; ++y)
            memcpy(&luma[size_t(y) * frame->width], frame->data[0] + y * frame->linesize[0],
                   size_t(frame->width));
          result.Luma.push_back(std::move(luma));
        }
      } else {
        audioRate = frame->sample_rate;
        for (int i = 0; i < frame->nb_samples; ++i) {
          if (skipped++ < audioRate / 10) continue;
          if (samples.size() < size_t(audioRate)) samples.push_back(Sample(frame.get(), i));
        }
      }
      av_frame_unref(frame.get());
    }
  };
  AVPacketPtr packet(av_packet_alloc());
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    if (packet->stream_index == video && videoDecoder) {
      if (avcodec_send_packet(videoDecoder.get(), packet.get()) >= 0)
        drain(videoDecoder.get(), true);
    } else if (packet->stream_index == audio && audioDecoder) {
      if (avcodec_send_packet(audioDecoder.get(), packet.get()) >= 0)
        drain(audioDecoder.get(), false);
    }
    av_packet_unref(packet.get());
  }
  if (videoDecoder) {
    avcodec_send_packet(videoDecoder.get(), nullptr);
    drain(videoDecoder.get(), true);
  }
  if (firstPts != AV_NOPTS_VALUE && video >= 0)
    result.VideoSeconds = (endPts - firstPts) * av_q2d(input->streams[video]->time_base);
  if (samples.size() > 1 && audioRate > 0) {
    int crossings = 0;
    for (size_t i = 1; i < samples.size(); ++i)
      if (samples[i - 1] < 0 && samples[i] >= 0) ++crossings;
    result.ToneHz = crossings * double(audioRate) / double(samples.size());
  }
  return result;
}

double LumaDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return std::numeric_limits<double>::infinity();
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / double(a.size());
}

std::string AuthorManyTitles(const std::string& folder, int titles) {
  int status = 0;
  const std::string out =
      RunCommand(std::string("bash '") + DVD_TESTS_DIR + "/make_many_titles.sh' " +
                     std::to_string(titles) + " '" + folder + "' 2>&1",
                 &status);
  EXPECT_EQ(status, 0) << out;
  return folder;
}
