#include "app/gui/tests/media_checks.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tests/support/test_support.h"

std::string DiscAImage() {
  return FixturesDir() + "/disc_a.iso";
}

std::string DiscAFolder() {
  return FixturesDir() + "/disc_a";
}

std::string DiscFImage() {
  return FixturesDir() + "/disc_f.iso";
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

double ToneFrequency(const std::string& file, double from) {
  const std::string pcm =
      RunCommand("ffmpeg -nostdin -v error -ss " + std::to_string(from) + " -i " +
                 ShellQuote(file) + " -t 2 -vn -ac 1 -ar 48000 -f s16le -");
  const size_t samples = pcm.size() / 2;
  if (samples < 4800) return -1;
  int crossings = 0;
  int16_t previous = 0;
  for (size_t i = 0; i < samples; ++i) {
    int16_t value;
    std::memcpy(&value, pcm.data() + 2 * i, 2);
    if (i > 0 && ((previous < 0) != (value < 0))) ++crossings;
    previous = value;
  }
  return crossings / 2.0 / (double(samples) / 48000);
}

double MediaDuration(const std::string& file) {
  // Decoded, since containers such as SWF carry no duration.
  const std::string report = RunCommand("ffmpeg -nostdin -i " + ShellQuote(file) +
                                        " -f null - 2>&1 | tr '\\r' '\\n' | "
                                        "grep -o 'time=[0-9:.]*' | tail -n 1");
  int h = 0, m = 0;
  double s = 0;
  if (std::sscanf(report.c_str(), "time=%d:%d:%lf", &h, &m, &s) != 3) return -1;
  return h * 3600 + m * 60 + s;
}

TRgbPicture DecodeRgbPicture(const std::string& file, double seconds) {
  TRgbPicture picture;
  const std::string size = RunCommand(
      "ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
      "-of csv=p=0:s=x " +
      ShellQuote(file));
  if (std::sscanf(size.c_str(), "%dx%d", &picture.Width, &picture.Height) != 2 ||
      picture.Width <= 0 || picture.Height <= 0)
    return TRgbPicture();
  picture.Pixels =
      RunCommand("ffmpeg -nostdin -v error -i " + ShellQuote(file) + " -ss " +
                 std::to_string(seconds) + " -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
  if (picture.Pixels.size() != size_t(picture.Width) * picture.Height * 3) return TRgbPicture();
  return picture;
}
