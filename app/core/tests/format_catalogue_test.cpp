#include "app/core/format_catalogue.h"

#include <filesystem>
#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "app/core/format_params.h"
#include "app/core/global_object.h"
#include "app/core/tests/config_env.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

TEST(FormatTable, BuiltInContent) {
  const auto formats = BuiltInFormats();
  ASSERT_EQ(formats.size(), 19u);
  TFormatTable table;
  table[50][50] = "left over";
  FillFormatTable(table);
  EXPECT_EQ(table[50][50], "");
  size_t names = 0;
  for (const auto& group : table)
    for (const auto& name : group) names += !name.empty();
  EXPECT_EQ(names, 19u);
  EXPECT_EQ(table[0][1], "Flash SWF Format (*.swf)");
  EXPECT_EQ(table[1][9], "DV - PAL -Digital Video Format (*.dv)");
  EXPECT_EQ(table[2][6], "AC-3 Audio Codec (*.ac3)");
  for (const auto& format : formats)
    EXPECT_EQ(table[size_t(FormatGroupOf(format.Code))][size_t(FormatItemOf(format.Code))],
              format.Name);
  EXPECT_EQ(MakeFormatCode(2, 5), 205);
  EXPECT_EQ(FormatSectionName(205), "formatInfo205");
  EXPECT_EQ(FormatSectionName(0), "formatInfo0");
  EXPECT_EQ(FormatDisplayName(103), "H.264/MPEG-4 AVC Video (*.mp4)");
  EXPECT_EQ(FormatDisplayName(110), "");
  EXPECT_STREQ(FormatGroupHeader(0), "Flash Video");
  EXPECT_STREQ(FormatGroupHeader(1), "General Video formates");
  EXPECT_STREQ(FormatGroupHeader(2), "General Audio formates");
}

struct ListCase {
  std::string value;
  std::vector<std::string> rows;
};

void PrintTo(const ListCase& c, std::ostream* os) {
  *os << '"' << c.value << '"';
}

class ParseFormatListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(ParseFormatListTest, Rows) {
  EXPECT_EQ(ParseFormatList(GetParam().value), GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseFormatListTest,
                         ::testing::Values(ListCase{"320x240,640x480", {"320x240", "640x480"}},
                                           ListCase{"320x240,640x480,", {"320x240", "640x480", ""}},
                                           ListCase{"320x240,,640x480", {"320x240", "", "640x480"}},
                                           ListCase{"null", {}}, ListCase{"", {}},
                                           ListCase{",", {"", ""}}, ListCase{"one", {"one"}},
                                           ListCase{" as source , 25", {" as source ", " 25"}},
                                           ListCase{"NULL", {"NULL"}}));

TEST(FormatCatalogue, CodeNobodyKnowsGivesTheDefaults) {
  const TFormatCatalogue catalogue(TestFolder() + "/none.ini");
  EXPECT_FALSE(catalogue.Knows(7));
  EXPECT_EQ(catalogue.Format(7), "null");
  EXPECT_EQ(catalogue.FileExt(7), "mp4");
  EXPECT_TRUE(catalogue.List(7, kCatVideoSize).empty());
  EXPECT_EQ(catalogue.DefaultRow(7, kCatVideoSize), 0);
}

// A catalogue file that is missing, empty, junk or lacks sections: each format it lacks
// comes from the shipped catalogue; a section the user wrote is read as written; a repair
// adds what is missing and keeps the rest.
struct TDamagedCatalogue {
  const char* Name;
  const char* Text;  // null: no file
};

class DamagedCatalogueTest : public ::testing::TestWithParam<TDamagedCatalogue> {};

TEST_P(DamagedCatalogueTest, ShippedSectionsFillTheGaps) {
  const std::string path = TestFolder() + "/korvelswfformat.ini";
  if (GetParam().Text) std::ofstream(path, std::ios::binary) << GetParam().Text;
  const TFormatCatalogue catalogue(path);
  EXPECT_TRUE(catalogue.Knows(1));
  EXPECT_EQ(catalogue.Format(1), "swf");
  EXPECT_EQ(catalogue.FileExt(1), "swf");
  EXPECT_EQ(catalogue.List(1, kCatVideoEncoder), std::vector<std::string>{"swf"});
  EXPECT_EQ(catalogue.DefaultRow(1, kCatVideoSize), 3);
  EXPECT_EQ(catalogue.FileExt(204), "wav");
  EXPECT_FALSE(catalogue.Knows(7));

  const auto missing = MissingCatalogueSections(path);
  EXPECT_FALSE(missing.empty());
  RepairFormatCatalogue(path);
  EXPECT_TRUE(MissingCatalogueSections(path).empty());
  EXPECT_EQ(TFormatCatalogue(path).FileExt(1), "swf");
  if (GetParam().Text) {
    // What was there is still there, in front.
    const std::string repaired = ReadFile(path);
    EXPECT_EQ(repaired.rfind(GetParam().Text, 0), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedCatalogueTest,
    ::testing::Values(TDamagedCatalogue{"Missing", nullptr}, TDamagedCatalogue{"Empty", ""},
                      TDamagedCatalogue{"Junk", "\x01\x02 junk ]]][[ = =\n\xff\xfe"},
                      TDamagedCatalogue{"OtherSectionsOnly",
                                        "[formatInfo0]\nFormat=flv\nFileExt=flv\n"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(FormatCatalogue, UsersOwnSectionIsReadAsWritten) {
  const std::string path = TestFolder() + "/korvelswfformat.ini";
  std::ofstream(path) << "[formatInfo1]\nFormat=flv\n[formatInfo110]\nFormat=avi\nFileExt=avi\n";
  const TFormatCatalogue catalogue(path);
  EXPECT_EQ(catalogue.Format(1), "flv");
  EXPECT_EQ(catalogue.FileExt(1), "mp4");  // the section is the user's, its gaps the defaults
  EXPECT_TRUE(catalogue.Knows(110));
  EXPECT_EQ(catalogue.FileExt(110), "avi");
}

TEST(FormatCatalogue, InstallLeavesAnythingAtTheNameAlone) {
  const std::string folder = TestFolder();
  fs::create_symlink(folder + "/nowhere.ini", folder + "/link.ini");
  EXPECT_FALSE(InstallFormatCatalogue(folder + "/link.ini"));
  EXPECT_TRUE(fs::is_symlink(folder + "/link.ini"));
  EXPECT_FALSE(fs::exists(folder + "/nowhere.ini"));
  EXPECT_TRUE(InstallFormatCatalogue(folder + "/new.ini"));
  EXPECT_TRUE(MissingCatalogueSections(folder + "/new.ini").empty());
}

// The shipped catalogue, read from where the program installs it.
class ShippedCatalogueTest : public ConfigEnvTest,
                             public ::testing::WithParamInterface<TBuiltInFormat> {};

TEST_P(ShippedCatalogueTest, SectionIsComplete) {
  const auto global = CreateGlobalObject();
  const TFormatCatalogue catalogue(global->FormatIniPath());
  const int code = GetParam().Code;
  const std::string section = FormatSectionName(code);
  const std::string name = GetParam().Name;
  const bool video = FormatGroupOf(code) < 2;

  ASSERT_TRUE(catalogue.Ini().SectionExists(section));
  ASSERT_TRUE(catalogue.Ini().ValueExists(section, kCatFormat));
  ASSERT_TRUE(catalogue.Ini().ValueExists(section, kCatFileExt));
  // The extension is the one the display name promises.
  EXPECT_NE(name.find("(*." + catalogue.FileExt(code) + ")"), std::string::npos) << name;
  EXPECT_NE(catalogue.Format(code), "null");

  for (int i = 0; i < plCount; ++i) {
    const auto list = TParamList(i);
    const TParamListInfo& info = ParamListInfo(list);
    const auto rows = catalogue.List(code, info.CatalogueKey);
    const bool videoList = list <= plVideoEncoder;
    if (videoList && !video) {
      EXPECT_TRUE(rows.empty()) << info.CatalogueKey;
      continue;
    }
    if (list == plAudioBitRate && rows.empty()) continue;  // uncompressed audio has none
    ASSERT_FALSE(rows.empty()) << info.CatalogueKey;
    const int row = catalogue.DefaultRow(code, info.CatalogueKey);
    EXPECT_TRUE(catalogue.Ini().ValueExists(section, info.IndexKey)) << info.IndexKey;
    EXPECT_GE(row, 0) << info.IndexKey;
    EXPECT_LT(row, int(rows.size())) << info.IndexKey;
    // Every row is something the settings dialog can store.
    for (const auto& text : rows) {
      EXPECT_FALSE(text.empty()) << info.CatalogueKey;
      EXPECT_TRUE(StoredListValue(list, text).has_value()) << info.CatalogueKey << ": " << text;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCode, ShippedCatalogueTest, ::testing::ValuesIn(BuiltInFormats()),
                         [](const auto& info) { return "code" + std::to_string(info.param.Code); });

TEST(ShippedCatalogue, HoldsOnlyTheBuiltInCodes) {
  const std::string text(BuiltInCatalogueText());
  EXPECT_EQ(text, ReadFile(DVDSWF_CATALOGUE_SOURCE));
  std::set<std::string> sections;
  size_t at = 0;
  while ((at = text.find("\n[", at)) != std::string::npos) {
    const size_t end = text.find(']', at);
    sections.insert(text.substr(at + 2, end - at - 2));
    at = end;
  }
  std::set<std::string> expected;
  for (const auto& format : BuiltInFormats()) expected.insert(FormatSectionName(format.Code));
  EXPECT_EQ(sections, expected);
}

class FormatPickerTest : public ConfigEnvTest {
 protected:
  std::vector<std::string> Texts(const TFormatPicker& picker) {
    std::vector<std::string> texts;
    for (const auto& row : picker.Rows()) texts.push_back(row.Text);
    return texts;
  }
};

TEST_F(FormatPickerTest, FreshSettingsListCollapsedGroups) {
  TSettingsStore settings(SettingsPath());
  TFormatPicker picker;
  picker.BuildFormatList(settings);
  ASSERT_EQ(picker.Rows().size(), 3u);
  for (int group = 0; group < 3; ++group) {
    const TItemInfo& info = picker.Rows()[size_t(group)].Info;
    EXPECT_TRUE(info.IsGroup);
    EXPECT_FALSE(info.IsFormat);
    EXPECT_TRUE(info.Collapsed);
    EXPECT_EQ(info.Code, group);
    EXPECT_EQ(picker.Rows()[size_t(group)].Text, FormatGroupHeader(group));
  }
  EXPECT_EQ(picker.ShownName(), "Flash SWF Format (*.swf)");
  EXPECT_EQ(picker.Selected(), -1);  // the chosen format's group is collapsed
  EXPECT_EQ(picker.Table()[0][1], "Flash SWF Format (*.swf)");
}

TEST_F(FormatPickerTest, ExpandedGroupAndSelectionByTrimmedName) {
  TSettingsStore settings(SettingsPath());
  settings.SetGroupCollapsed(1, false);
  settings.SetFormatName("  MPEG-2 Video (*.mpg) ");
  TFormatPicker picker;
  picker.BuildFormatList(settings);
  ASSERT_EQ(picker.Rows().size(), 13u);
  EXPECT_EQ(picker.Rows()[1].Text, "General Video formates");
  EXPECT_FALSE(picker.Rows()[1].Info.Collapsed);
  for (int item = 0; item < 10; ++item) {
    const TPickerRow& row = picker.Rows()[size_t(2 + item)];
    EXPECT_TRUE(row.Info.IsFormat);
    EXPECT_FALSE(row.Info.IsGroup);
    EXPECT_EQ(row.Info.Code, 100 + item);
    EXPECT_EQ(row.Text, FormatDisplayName(100 + item));
  }
  EXPECT_EQ(picker.Rows()[12].Text, "General Audio formates");
  EXPECT_EQ(picker.Selected(), 3);
  EXPECT_EQ(picker.ShownName(), "MPEG-2 Video (*.mpg)");  // the file keeps no outer blanks
  EXPECT_EQ(picker.FindRow(" MPEG-2 Video (*.mpg)  "), 3);
  EXPECT_EQ(picker.FindRow("mpeg-2 video (*.mpg)"), -1);

  // Expanding the first group moves the selection with its row.
  ASSERT_TRUE(picker.ToggleGroup(0));
  EXPECT_EQ(picker.Rows()[1].Text, "Flash Video Format (*.flv)");
  EXPECT_EQ(picker.Rows()[2].Text, "Flash SWF Format (*.swf)");
  EXPECT_EQ(picker.Selected(), 5);
  EXPECT_EQ(picker.Rows()[5].Text, "MPEG-2 Video (*.mpg)");
  // Collapsing the selected row's group leaves no selection.
  ASSERT_TRUE(picker.ToggleGroup(3));
  EXPECT_EQ(picker.Selected(), -1);
  EXPECT_EQ(picker.Rows().size(), 5u);
  EXPECT_FALSE(picker.ToggleGroup(1));  // a format row
  EXPECT_FALSE(picker.ToggleGroup(99));
}

TEST_F(FormatPickerTest, UnknownStoredNameSelectsNothing) {
  TSettingsStore settings(SettingsPath());
  for (int group = 0; group < 3; ++group) settings.SetGroupCollapsed(group, false);
  settings.SetFormatName("Apple iPod Video MPEG-4 Movie (*.mp4)");
  TFormatPicker picker;
  picker.BuildFormatList(settings);
  EXPECT_EQ(picker.Rows().size(), 22u);
  EXPECT_EQ(picker.Selected(), -1);
  EXPECT_EQ(picker.ShownName(), "Apple iPod Video MPEG-4 Movie (*.mp4)");
}

TEST_F(FormatPickerTest, GroupStatesAreSaved) {
  TSettingsStore settings(SettingsPath());
  settings.Ini().WriteString("LSTFORMAT", "2", "0");
  TFormatPicker picker;
  picker.BuildFormatList(settings);
  ASSERT_EQ(picker.Rows().size(), 10u);
  EXPECT_FALSE(picker.Rows()[2].Info.Collapsed);
  ASSERT_TRUE(picker.ToggleGroup(2));  // collapse the audio group
  ASSERT_TRUE(picker.ToggleGroup(0));  // expand the flash group
  picker.SaveGroupStates(settings);
  const TIniFile ini(SettingsPath());
  EXPECT_EQ(ini.ReadString("lstformat", "0", ""), "0");
  EXPECT_EQ(ini.ReadString("lstformat", "1", ""), "1");
  EXPECT_EQ(ini.ReadString("lstformat", "2", ""), "1");
  EXPECT_EQ(ini.ReadSection("lstformat").size(), 3u);  // "2" was rewritten, not added
  TFormatPicker again;
  again.BuildFormatList(settings);
  EXPECT_EQ(Texts(again), Texts(picker));
}

TEST_F(FormatPickerTest, ChoosingARow) {
  TSettingsStore settings(SettingsPath());
  settings.SetGroupCollapsed(2, false);
  TFormatPicker picker;
  picker.BuildFormatList(settings);
  EXPECT_FALSE(picker.ChooseRow(0).has_value());
  EXPECT_FALSE(picker.ChooseRow(-1).has_value());
  EXPECT_EQ(picker.ShownName(), "Flash SWF Format (*.swf)");
  const auto code = picker.ChooseRow(3 + 5);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 205);
  EXPECT_EQ(picker.ShownName(), "OGG Vorbis Audio Codec (*.ogg)");
  EXPECT_EQ(picker.Selected(), 8);
}
