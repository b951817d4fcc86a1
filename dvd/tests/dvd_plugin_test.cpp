// The plug-in through its wrapper, against the fixture discs and what lsdvd reports.
#include <gtest/gtest.h>

#include <tuple>

#include <filesystem>
#include <fstream>
#include <map>

#include "dvd/dvd_plugin_loader.h"
#include "dvd/tests/dvd_test_support.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

// The names the plug-in gives the fixtures' languages.
std::string NameOf(const std::string& code) {
  static const std::map<std::string, std::string> names = {
      {"en", "English"}, {"fr", "French"}, {"de", "German"}, {"ja", "Japanese"}};
  auto it = names.find(code);
  return it == names.end() ? code : it->second;
}

struct TDiscCase {
  const char* Name;
  const char* Disc;
  const char* Suffix;  // appended to the disc's folder path ("/VIDEO_TS") or ".iso"
};

std::string CasePath(const TDiscCase& c) {
  return FixturesDir() + "/" + c.Disc + c.Suffix;
}

class DVDTitleScan : public ::testing::TestWithParam<TDiscCase> {
 protected:
  void SetUp() override { LoadPlugInForTests(); }
};

TEST_P(DVDTitleScan, AgreesWithLsdvdAndTheManifest) {
  const std::string path = CasePath(GetParam());
  // lsdvd takes the disc's root; it has no notion of being handed VIDEO_TS itself.
  const std::string root =
      fs::path(path).filename() == "VIDEO_TS" ? fs::path(path).parent_path().string() : path;
  const std::vector<TLsdvdTitle> expected = RunLsdvd(root);
  ASSERT_FALSE(expected.empty()) << "lsdvd read nothing from " << root;
  const auto manifest = ReadManifest(std::string(GetParam().Disc).substr(5));
  ASSERT_FALSE(manifest.empty());

  ASSERT_EQ(EnumDVDTitles(path), int(expected.size())) << DVDLastErrorText();
  for (size_t t = 0; t < expected.size(); ++t) {
    SCOPED_TRACE("title " + std::to_string(t + 1));
    TDVDTitleInfo info;
    ASSERT_TRUE(GetDVDTitle(int(t), info)) << DVDLastErrorText();
    EXPECT_NEAR(info.Duration, expected[t].Length, 0.1);
    EXPECT_EQ(info.ChapterCount, expected[t].Chapters);
    ASSERT_EQ(info.AudioCount, int(expected[t].Audio.size()));
    for (size_t a = 0; a < expected[t].Audio.size(); ++a) {
      EXPECT_EQ(info.Audio[a].StreamId, expected[t].Audio[a].Id);
      EXPECT_EQ(std::string(info.Audio[a].Language), NameOf(expected[t].Audio[a].Code));
    }
    ASSERT_EQ(info.SubtitleCount, int(expected[t].Subtitles.size()));
    for (size_t s = 0; s < expected[t].Subtitles.size(); ++s) {
      EXPECT_EQ(info.Subtitle[s].StreamId, expected[t].Subtitles[s].Id);
      EXPECT_EQ(std::string(info.Subtitle[s].Language), NameOf(expected[t].Subtitles[s].Code));
    }
    const auto title = ManifestRecords(manifest, "title", int(t + 1));
    ASSERT_EQ(title.size(), 1u);
    EXPECT_EQ(info.Width, title[0].Int("width"));
    EXPECT_EQ(info.Height, title[0].Int("height"));
    EXPECT_EQ(std::to_string(info.DisplayAspectX) + ":" + std::to_string(info.DisplayAspectY),
              title[0].Get("aspect"));
    EXPECT_EQ(DVDFormatName(info.VideoFormat), "MPEG-2");
  }
  TDVDTitleInfo beyond;
  EXPECT_FALSE(GetDVDTitle(int(expected.size()), beyond));
}

INSTANTIATE_TEST_SUITE_P(FixtureDiscs, DVDTitleScan,
                         ::testing::Values(TDiscCase{"DiscAFolder", "disc_a", ""},
                                           TDiscCase{"DiscAIso", "disc_a", ".iso"},
                                           TDiscCase{"DiscAVideoTs", "disc_a", "/VIDEO_TS"},
                                           TDiscCase{"DiscBFolder", "disc_b", ""},
                                           TDiscCase{"DiscBIso", "disc_b", ".iso"},
                                           TDiscCase{"DiscDFolder", "disc_d", ""},
                                           TDiscCase{"DiscDIso", "disc_d", ".iso"}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(DVDTitleScanMany, ListsEveryOfNinetyNineTitles) {
  LoadPlugInForTests();
  const std::string disc = AuthorManyTitles(TestFolder(), 99);
  ASSERT_EQ(EnumDVDTitles(disc), 99) << DVDLastErrorText();
  for (int t = 0; t < 99; ++t) {
    TDVDTitleInfo info;
    ASSERT_TRUE(GetDVDTitle(t, info)) << t;
    EXPECT_NEAR(info.Duration, 0.4, 0.05);
    EXPECT_EQ(info.ChapterCount, 1);
    EXPECT_EQ(info.AudioCount, 1);
  }
}

// Bad input: the plug-in says what is wrong in plain words and lists nothing.
struct TBadDiscCase {
  const char* Name;
  // Makes the bad disc inside `folder`; returns the path to open.
  std::string (*Make)(const std::string& folder);
  const char* Words;  // part of the plug-in's explanation
};

void CopyDisc(const std::string& disc, const std::string& target) {
  fs::copy(FixturesDir() + "/" + disc, target, fs::copy_options::recursive);
}

void Overwrite(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Garbage(size_t size) {
  std::string bytes(size, '\0');
  uint32_t state = 12345;
  for (char& c : bytes) c = char((state = state * 1103515245 + 12345) >> 16);
  return bytes;
}

// Sets the PES scrambling bits of every elementary-stream pack, as a CSS disc read
// without the key looks.
void Scramble(const std::string& vob) {
  std::fstream file(vob, std::ios::binary | std::ios::in | std::ios::out);
  std::vector<char> sector(2048);
  for (std::streamoff at = 0; file.seekg(at), file.read(sector.data(), 2048); at += 2048) {
    auto* p = reinterpret_cast<uint8_t*>(sector.data());
    const int id = p[17];
    if (p[14] == 0 && p[15] == 0 && p[16] == 1 && (id == 0xBD || (id >= 0xC0 && id <= 0xEF))) {
      p[20] |= 0x10;
      file.seekp(at);
      file.write(sector.data(), 2048);
    }
  }
}

uint32_t GetBE32(const std::string& path, std::streamoff at) {
  std::ifstream in(path, std::ios::binary);
  unsigned char b[4] = {};
  in.seekg(at);
  in.read(reinterpret_cast<char*>(b), 4);
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

void PutBE32(const std::string& path, std::streamoff at, uint32_t value) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  const char b[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
  file.seekp(at);
  file.write(b, 4);
}

// Damages the title table's header the way the fuzz target found hurting libdvdread, in
// both the IFO and its backup. `field` 0: the table's sector in the manager's header;
// 1: the table's length.
std::string DamageTitleTable(const std::string& folder, int field, uint32_t value) {
  CopyDisc("disc_a", folder + "/disc");
  for (const char* name : {"VIDEO_TS.IFO", "VIDEO_TS.BUP"}) {
    const std::string path = folder + "/disc/VIDEO_TS/" + name;
    constexpr std::streamoff kTitleTableSector = 0xC4;
    if (field == 0)
      PutBE32(path, kTitleTableSector, value);
    else
      PutBE32(path, std::streamoff(GetBE32(path, kTitleTableSector)) * 2048 + 4, value);
  }
  return folder + "/disc";
}

const TBadDiscCase kBadDiscs[] = {
    {"TitleTableBeyondTheFile",
     [](const std::string& f) { return DamageTitleTable(f, 0, 0x00FFFFFF); },
     "title table (VIDEO_TS.IFO) is missing or damaged"},
    {"TitleTableLengthShorterThanItsHeader",
     [](const std::string& f) { return DamageTitleTable(f, 1, 1); },
     "title table (VIDEO_TS.IFO) is missing or damaged"},
    {"TitleTableLengthOfGigabytes",
     [](const std::string& f) { return DamageTitleTable(f, 1, 0xFFFFFFF0); },
     "title table (VIDEO_TS.IFO) is missing or damaged"},
    {"MissingPath", [](const std::string& f) { return f + "/nothing-here"; }, "does not exist"},
    {"FolderWithoutVideoTs",
     [](const std::string& f) {
       fs::create_directories(f + "/photos");
       return f + "/photos";
     },
     "holds no VIDEO_TS folder"},
    {"EmptyFile",
     [](const std::string& f) {
       Overwrite(f + "/empty.iso", "");
       return f + "/empty.iso";
     },
     "too small"},
    {"TruncatedIso",
     [](const std::string& f) {
       fs::copy_file(DiscPath("disc_a", true), f + "/cut.iso");
       fs::resize_file(f + "/cut.iso", 96 * 1024);
       return f + "/cut.iso";
     },
     "is not a readable DVD-Video disc"},
    {"GarbageVideoManager",
     [](const std::string& f) {
       CopyDisc("disc_a", f + "/disc");
       Overwrite(f + "/disc/VIDEO_TS/VIDEO_TS.IFO", Garbage(8192));
       Overwrite(f + "/disc/VIDEO_TS/VIDEO_TS.BUP", Garbage(8192));
       return f + "/disc";
     },
     "title table (VIDEO_TS.IFO) is missing or damaged"},
    {"EncryptedWithoutLibdvdcss",
     [](const std::string& f) {
       CopyDisc("disc_a", f + "/disc");
       Scramble(f + "/disc/VIDEO_TS/VTS_01_1.VOB");
       return f + "/disc";
     },
     "encrypted (CSS) and libdvdcss is not installed"},
};

class DVDBadDisc : public ::testing::TestWithParam<TBadDiscCase> {
 protected:
  void SetUp() override { LoadPlugInForTests(); }
};

TEST_P(DVDBadDisc, ListsNothingAndSaysWhy) {
  const std::string path = GetParam().Make(TestFolder());
  EXPECT_EQ(EnumDVDTitles(path), 0);
  EXPECT_NE(DVDLastErrorText().find(GetParam().Words), std::string::npos) << DVDLastErrorText();
  TDVDTitleInfo info;
  EXPECT_FALSE(GetDVDTitle(0, info));
}

INSTANTIATE_TEST_SUITE_P(BadInput, DVDBadDisc, ::testing::ValuesIn(kBadDiscs),
                         [](const auto& info) { return std::string(info.param.Name); });

// An image cut inside the video data still has its tables: its titles are invalid, each
// with a reason, and nothing crashes.
TEST(DVDBadTitle, ImageCutInsideTheVideoDataMakesTitlesInvalid) {
  LoadPlugInForTests();
  const std::string iso = TestFolder() + "/cut.iso";
  fs::copy_file(DiscPath("disc_a", true), iso);
  fs::resize_file(iso, fs::file_size(iso) / 2);
  const int count = EnumDVDTitles(iso);
  ASSERT_GT(count, 0) << DVDLastErrorText();
  int invalid = 0;
  for (int t = 0; t < count; ++t) {
    TDVDTitleInfo info;
    if (!GetDVDTitle(t, info)) {
      ++invalid;
      EXPECT_NE(DVDLastErrorText().find("damaged"), std::string::npos) << DVDLastErrorText();
    }
  }
  EXPECT_GT(invalid, 0);
}

TEST(DVDBadTitle, GarbageTitleSetTablesMakeOnlyThatTitleInvalid) {
  LoadPlugInForTests();
  const std::string disc = TestFolder() + "/disc";
  CopyDisc("disc_a", disc);
  Overwrite(disc + "/VIDEO_TS/VTS_02_0.IFO", Garbage(12288));
  Overwrite(disc + "/VIDEO_TS/VTS_02_0.BUP", Garbage(12288));
  ASSERT_EQ(EnumDVDTitles(disc), 3);
  TDVDTitleInfo info;
  EXPECT_TRUE(GetDVDTitle(0, info));
  EXPECT_FALSE(GetDVDTitle(1, info));
  EXPECT_NE(DVDLastErrorText().find("VTS_02_0.IFO"), std::string::npos) << DVDLastErrorText();
  EXPECT_TRUE(GetDVDTitle(2, info));
}

TEST(DVDChapterSeconds, RangesOfDiscATitleOne) {
  LoadPlugInForTests();
  ASSERT_EQ(EnumDVDTitles(FixturesDir() + "/disc_a.iso"), 3) << DVDLastErrorText();
  // Chapters start at 0, 4 and 8 s of the 12 s title; 0 and 99 read as first and last.
  const std::tuple<int, int, double> ranges[] = {{1, 1, 4}, {2, 3, 8},   {1, 3, 12},
                                                 {3, 3, 4}, {0, 99, 12}, {2, 99, 8}};
  for (const auto& [from, to, seconds] : ranges) {
    const auto got = GetDVDChapterSeconds(0, from, to);
    ASSERT_TRUE(got.has_value()) << from << "-" << to << ": " << DVDLastErrorText();
    EXPECT_NEAR(*got, seconds, 0.1) << from << "-" << to;
  }
  EXPECT_FALSE(GetDVDChapterSeconds(7, 1, 1).has_value());
}

TEST(DVDFormatName, NamesEachCode) {
  const std::pair<int, const char*> cases[] = {
      {1, "MPEG-1"}, {2, "MPEG-2"},  {3, "MPA"},     {4, "AC3"},     {5, "DTS"},     {6, "LPCM"},
      {7, "SUB"},    {0, "Unknown"}, {8, "Unknown"}, {9, "Unknown"}, {-1, "Unknown"}};
  for (const auto& [code, name] : cases) EXPECT_EQ(DVDFormatName(code), name) << code;
}

// Loading: every failure leaves the plug-in unloaded with a reason; the calls that need it
// then fail loudly instead of calling through a null entry.
TEST(DVDPlugInLoading, FailuresLeaveItUnloadedWithAReason) {
  UnloadDVDPlugIn();
  const std::string folder = TestFolder();
  // Not a library at all. (A folder without the file would not do: the loader then
  // searches the system, and finds the copy beside this program.)
  Overwrite(folder + "/libdvddec.so", "not a library");
  EXPECT_FALSE(LoadDVDPlugIn(folder, "x"));
  EXPECT_FALSE(DVDPlugInLoaded());
  EXPECT_EQ(DVDPlugInError().rfind("Load library " + folder + "/libdvddec.so error: ", 0), 0u)
      << DVDPlugInError();
  TDVDTitleInfo info;
  try {
    EnumDVDTitles(DiscPath("disc_a", false));
    ADD_FAILURE() << "no assertion failure";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "DVD plug-in library is not loaded.");
  }
  EXPECT_THROW(GetDVDTitle(0, info), EAssertionFailed);
  EXPECT_THROW(SetDVDParam(TDVDParam{}), EAssertionFailed);

  // A library without the entry points.
  fs::copy_file(TINY_MODULE_FILE, folder + "/libdvddec.so", fs::copy_options::overwrite_existing);
  EXPECT_FALSE(LoadDVDPlugIn(folder, "x"));
  EXPECT_FALSE(DVDPlugInLoaded());
  EXPECT_EQ(DVDPlugInError().rfind("Load function DVDInitialize@" + folder + "/libdvddec.so", 0),
            0u)
      << DVDPlugInError();

  EXPECT_TRUE(LoadDVDPlugIn(DVDSWF_LIBAV_DIR, "x")) << DVDPlugInError();
  EXPECT_TRUE(DVDPlugInLoaded());
  EXPECT_TRUE(LoadDVDPlugIn(folder, "x"));  // already loaded: true at once
}

}  // namespace
