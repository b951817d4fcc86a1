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
