// A damaged title through the "opendvd" input: fixture disc G (garbage over 32 sectors in
// the middle of its title) and copies of it cut off half-way, as a disc whose reads fail
// from some point on. The stream keeps its size, delivers every sector (the damaged ones
// as padding), ends, and its close reports how many sectors were lost.
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "dvd/dvd_plugin_loader.h"
#include "dvd/tests/dvd_test_support.h"
#include "media/ffmpeg_ptr.h"
#include "media/io_scheme.h"
#include "media/logger.h"
#include "tests/support/test_support.h"

namespace {

// The DVD input's reports, delivered on the thread that logs them.
class TInputReports {
 public:
  TInputReports() : FTrigger(GlobalLogger().TriggerEventInMainThread) {
    GlobalLogger().TriggerEventInMainThread = false;
    GlobalLogger().OnLog = [this](const void* sender, uint32_t, TLogLevel level,
                                  const std::string& text) {
      if (sender != DVDInputLogSender()) return;
      std::lock_guard lock(FMutex);
      FLines.push_back({level, text});
    };
  }
  ~TInputReports() {
    GlobalLogger().OnLog = nullptr;
    GlobalLogger().TriggerEventInMainThread = FTrigger;
  }
  std::vector<std::pair<TLogLevel, std::string>> Lines() const {
    std::lock_guard lock(FMutex);
    return FLines;
  }

 private:
  bool FTrigger;
  mutable std::mutex FMutex;
  std::vector<std::pair<TLogLevel, std::string>> FLines;
};

struct TDamage {
  long long Damaged = -1, Total = -1, Unreadable = -1, Garbled = -1;
};

TDamage ParseReport(const std::string& text) {
  static const std::regex kReport(
      R"(opendvd: the disc is damaged: (\d+) of (\d+) sectors of the title \([0-9.]+ %, \d+ KiB\) were skipped \((\d+) unreadable, (\d+) holding no MPEG data\); the output lacks what they held)");
  std::smatch m;
  if (!std::regex_match(text, m, kReport)) return {};
  return {std::stoll(m[1]), std::stoll(m[2]), std::stoll(m[3]), std::stoll(m[4])};
}

struct TDamageCase {
  const char* Name;
  bool Iso;
  double Keep;  // the share of the image or VOB left; 1: the disc as authored
};

const TDamageCase kCases[] = {
    {"GarbageIso", true, 1.0},
    {"GarbageFolder", false, 1.0},
    {"ImageCutOffHalfWay", true, 0.55},
};

class DamagedTitle : public ::testing::TestWithParam<TDamageCase> {};

TEST_P(DamagedTitle, StreamsToItsEndAndReportsTheSectorsLost) {
  const TDamageCase& c = GetParam();
  LoadPlugInForTests();
  const auto manifest = ReadManifest("g");
  const auto damage = ManifestRecords(manifest, "damage", 1);
  ASSERT_EQ(damage.size(), 1u) << "fixture disc G is missing";
  const int garbage = damage[0].Int("sectors");
  const int vobSectors = damage[0].Int("vob_sectors");
  const int firstGarbage = damage[0].Int("first_sector");

  const std::string disc =
      c.Keep < 1 ? CutDiscCopy("disc_g", c.Iso, c.Keep, TestFolder()) : DiscPath("disc_g", c.Iso);
  ASSERT_EQ(EnumDVDTitles(disc), 1);
  SetDVDParam({0, 0, 99, 0x80, 0, 2, 0});
  const std::string url = std::string(kDVDInputScheme) + ":" + disc;

  TInputReports reports;
  {
    AVFormatContext* raw = nullptr;
    ASSERT_EQ(OpenMediaInput(&raw, url, nullptr, nullptr), 0);
    MediaInputPtr input(raw);
    const int64_t size = avio_size(input->pb);
    EXPECT_EQ(size, int64_t(vobSectors) * 2048) << "the stream keeps the title's size";
    std::vector<unsigned char> buffer(65536);
    int64_t total = 0;
    for (int got; (got = avio_read(input->pb, buffer.data(), int(buffer.size()))) > 0;)
      total += got;
    EXPECT_EQ(total, size) << "every sector is delivered, the damaged ones as padding";
  }
  const auto lines = reports.Lines();
  ASSERT_EQ(lines.size(), 1u) << "one report when the input closes";
  EXPECT_EQ(lines[0].first, llWarning);
  const TDamage got = ParseReport(lines[0].second);
  ASSERT_GE(got.Damaged, 0) << lines[0].second;
  EXPECT_EQ(got.Total, vobSectors);
  EXPECT_EQ(got.Damaged, got.Unreadable + got.Garbled);
  if (c.Keep == 1) {
    EXPECT_EQ(got.Unreadable, 0);
    EXPECT_EQ(got.Garbled, garbage);
  } else {
    // Most of the title is beyond the image's end.
    EXPECT_GT(got.Unreadable, vobSectors / 3);
  }

  // What could be read decodes: the pictures before the damage at least.
  const TDecodedInput decoded = DecodeInput(url);
  EXPECT_EQ(decoded.OpenError, 0);
  const int framesBefore =
      250 * (c.Keep == 1 ? firstGarbage : int(vobSectors * c.Keep) / 2) / vobSectors;
  EXPECT_GE(decoded.VideoFrames, framesBefore);
  EXPECT_LE(decoded.VideoFrames, 250);
  if (c.Keep == 1) {
    EXPECT_GE(decoded.VideoFrames, 250 - 40) << "only the garbage is lost";
  }
}

INSTANTIATE_TEST_SUITE_P(DiscG, DamagedTitle, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// A folder whose VOB is shorter than the title's cells (a copy cut off) is refused when the
// title is opened, with the reason: its size is known before anything is read.
TEST(DamagedTitleReport, FolderWithAShortVobIsRefusedWithItsReason) {
  LoadPlugInForTests();
  const std::string disc = CutDiscCopy("disc_g", false, 0.4, TestFolder());
  ASSERT_EQ(EnumDVDTitles(disc), 1);
  SetDVDParam({0, 0, 99, 0x80, 0, 2, 0});
  AVFormatContext* raw = nullptr;
  EXPECT_LT(OpenMediaInput(&raw, std::string(kDVDInputScheme) + ":" + disc, nullptr, nullptr), 0);
  EXPECT_NE(DVDLastErrorText().find("lies outside the title's video files"), std::string::npos)
      << DVDLastErrorText();
}

// An undamaged title says nothing.
TEST(DamagedTitleReport, WholeDiscReportsNothing) {
  LoadPlugInForTests();
  const std::string disc = DiscPath("disc_a", true);
  ASSERT_EQ(EnumDVDTitles(disc), 3);
  SetDVDParam({1, 0, 99, 0x80, 0, 2, 0});
  TInputReports reports;
  EXPECT_GT(DecodeInput(std::string(kDVDInputScheme) + ":" + disc).VideoFrames, 0);
  EXPECT_TRUE(reports.Lines().empty());
  EXPECT_EQ(DVDDamageText(0, 0, 100), "");
}

}  // namespace
