#include "media/file_names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "media/ffmpeg_ptr.h"
#include "media/io_scheme.h"
#include "media/loader.h"
#include "tests/support/test_support.h"

namespace {

class FileNamesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(GlobalLoader().LoadLibraries(ConverterLibraries)); }
};

}  // namespace

TEST_F(FileNamesTest, WhichNamesTravelAsUnicodeUrls) {
  struct {
    const char* name;
    bool needs;
  } cases[] = {
      {"/home/me/films/title.vob", false},
      {"relative/title.vob", false},
      {"/media/disc/take:1.vob", false},  // a colon after the first slash is harmless
      {"Überfilm ü.vob", false},          // UTF-8 bytes are fine as they are
      {"take:1.vob", true},               // would be read as protocol "take"
      {"http://host/a.flv", false},
      {"udp://1.2.3.4:5", false},
      {"pipe:0", false},
      {"HTTP://host/a.flv", true},  // the pass-through words are matched exactly
      {"unicode:utf8:/x", false},
  };
  for (auto c : cases) EXPECT_EQ(NeedsUnicodeName(c.name), c.needs) << c.name;
  EXPECT_EQ(LibraryFileNameOf("/tmp/a.vob"), "/tmp/a.vob");
  EXPECT_EQ(LibraryFileNameOf("take:1.vob"), "unicode:utf8:take:1.vob");
  EXPECT_EQ(LibraryOutputNameOf("take:1.flv"), "file:take:1.flv");
}

TEST_F(FileNamesTest, RegisteredSchemesPassUnchanged) {
  RegisterInputScheme("testscheme", [](const std::string&, int& error) {
    error = AVERROR(ENOENT);
    return std::unique_ptr<TSchemeStream>();
  });
  EXPECT_FALSE(NeedsUnicodeName("testscheme:/dev/sr0"));
  UnregisterInputScheme("testscheme");
  EXPECT_TRUE(NeedsUnicodeName("testscheme:/dev/sr0"));
}

TEST_F(FileNamesTest, WideFileNameOfDropsOnlyARealPrefix) {
  EXPECT_EQ(WideFileNameOf("unicode:utf8:/a/b.vob"), "/a/b.vob");
  EXPECT_EQ(WideFileNameOf("unicode:utf8:x"), "x");
  EXPECT_EQ(WideFileNameOf("unicode:utf8:"), "unicode:utf8:");
  EXPECT_EQ(WideFileNameOf("/plain.vob"), "/plain.vob");
}

TEST_F(FileNamesTest, ColonNameOpensReadsAndSeeksThroughTheScheme) {
  const std::string dir = TestFolder();
  WriteToneWav(dir + "/take:1.wav", 1.0);
  const auto size = std::filesystem::file_size(dir + "/take:1.wav");
  std::filesystem::current_path(dir);

  AVFormatContext* raw = nullptr;
  ASSERT_NE(OpenMediaInput(&raw, "take:1.wav", nullptr, nullptr), 0)
      << "FFmpeg took the name as a file; the test no longer shows the problem";
  ASSERT_EQ(OpenMediaInput(&raw, LibraryFileNameOf("take:1.wav"), nullptr, nullptr), 0);
  MediaInputPtr input(raw);
  ASSERT_EQ(avformat_find_stream_info(input.get(), nullptr), 0);
  EXPECT_EQ(avio_size(input->pb), int64_t(size));
  EXPECT_STREQ(input->iformat->name, "wav");
  AVPacketPtr packet = MakePacket();
  int64_t bytes = 0;
  while (av_read_frame(input.get(), packet.get()) >= 0) {
    bytes += packet->size;
    av_packet_unref(packet.get());
  }
  EXPECT_EQ(bytes, 16000);
  ASSERT_GE(av_seek_frame(input.get(), 0, 0, AVSEEK_FLAG_BACKWARD), 0);
  ASSERT_EQ(av_read_frame(input.get(), packet.get()), 0);
  EXPECT_EQ(packet->pts, 0);
  std::filesystem::current_path(DVDSWF_BINARY_DIR);
}

TEST_F(FileNamesTest, SchemeOpenFailureCarriesItsCode) {
  AVFormatContext* raw = nullptr;
  EXPECT_EQ(OpenMediaInput(&raw, "unicode:utf8:/no/such/file.wav", nullptr, nullptr),
            AVERROR(ENOENT));
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(OpenMediaInput(&raw, "nosuchscheme:x", nullptr, nullptr), AVERROR_PROTOCOL_NOT_FOUND);
}

TEST_F(FileNamesTest, GarbageThroughASchemeFailsCleanly) {
  const std::string dir = TestFolder();
  {
    std::ofstream out(dir + "/junk.bin", std::ios::binary);
    for (int i = 0; i < 4096; ++i) out.put(char((i * 7919) & 0xFF));
  }
  AVFormatContext* raw = nullptr;
  const int ret = OpenMediaInput(&raw, "unicode:utf8:" + dir + "/junk.bin", nullptr, nullptr);
  if (ret == 0) CloseMediaInput(&raw);  // something may claim it; either way nothing leaks
  EXPECT_EQ(raw, nullptr);
}

TEST(FixtureDiscs, FolderVobsOpenAsPlainInputs) {
  const auto manifest = ReadManifest("a");
  ASSERT_FALSE(manifest.empty()) << "fixture disc A was not authored";
  ASSERT_TRUE(GlobalLoader().LoadLibraries(ConverterLibraries));
  AVFormatContext* raw = nullptr;
  ASSERT_EQ(OpenMediaInput(&raw, FixturesDir() + "/disc_a/VIDEO_TS/VTS_01_1.VOB", nullptr, nullptr),
            0);
  MediaInputPtr input(raw);
  EXPECT_STREQ(input->iformat->name, "mpeg");
  EXPECT_EQ(ManifestRecords(manifest, "title").size(), 3u);
  EXPECT_EQ(ManifestRecords(manifest, "audio", 1).size(), 2u);
}
