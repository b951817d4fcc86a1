#include "app/core/settings_store.h"

#include <functional>

#include <gtest/gtest.h>

#include "app/core/global_object.h"
#include "app/core/tests/config_env.h"

// Every key of the settings file read from a fresh settings folder.
struct DefaultCase {
  const char* key;
  std::function<std::string(const TSettingsStore&)> read;
  std::function<std::string(const ConfigEnvTest&)> expected;
};

void PrintTo(const DefaultCase& c, std::ostream* os) {
  *os << c.key;
}

static std::string Text(int v) {
  return std::to_string(v);
}
static auto Fixed(std::string value) {
  return [value](const ConfigEnvTest&) { return value; };
}

const DefaultCase kDefaultCases[] = {
    {"FormatCode", [](const TSettingsStore& s) { return Text(s.FormatCode()); }, Fixed("1")},
    {"FormatCode as text", [](const TSettingsStore& s) { return s.FormatCodeText(); }, Fixed("1")},
    {"FormatName", [](const TSettingsStore& s) { return s.FormatName(); },
     Fixed("Flash SWF Format (*.swf)")},
    {"OutPutDir", [](const TSettingsStore& s) { return s.OutPutDir(); },
     [](const ConfigEnvTest& t) { return t.HomeDir + "/videoconverter"; }},
    {"SnapOutPutDir", [](const TSettingsStore& s) { return s.SnapOutPutDir(); },
     [](const ConfigEnvTest& t) { return t.HomeDir + "/videoconverter"; }},
    {"volume", [](const TSettingsStore& s) { return Text(s.Volume()); }, Fixed("96")},
    {"volume for the preview", [](const TSettingsStore& s) { return Text(s.PreviewVolume()); },
     Fixed("96")},
    {"mute", [](const TSettingsStore& s) { return Text(s.Mute()); }, Fixed("0")},
    {"snapFullSize", [](const TSettingsStore& s) { return Text(s.SnapFullSize()); }, Fixed("1")},
    {"snapSmallSize", [](const TSettingsStore& s) { return Text(s.SnapSmallSize()); }, Fixed("1")},
    {"snapBmp", [](const TSettingsStore& s) { return Text(s.SnapBmp()); }, Fixed("1")},
    {"snapJpg", [](const TSettingsStore& s) { return Text(s.SnapJpg()); }, Fixed("1")},
    {"jpgCmp", [](const TSettingsStore& s) { return Text(s.JpgCmp()); }, Fixed("30")},
    {"priority", [](const TSettingsStore& s) { return Text(s.Priority()); }, Fixed("1")},
    {"lstformat 0", [](const TSettingsStore& s) { return Text(s.GroupCollapsed(0)); }, Fixed("1")},
    {"lstformat 1", [](const TSettingsStore& s) { return Text(s.GroupCollapsed(1)); }, Fixed("1")},
    {"lstformat 2", [](const TSettingsStore& s) { return Text(s.GroupCollapsed(2)); }, Fixed("1")},
};

class SettingsDefaultTest : public ConfigEnvTest,
                            public ::testing::WithParamInterface<DefaultCase> {};

TEST_P(SettingsDefaultTest, FreshFolder) {
  const auto global = CreateGlobalObject();
  const TSettingsStore settings = global->Settings();
  EXPECT_EQ(GetParam().read(settings), GetParam().expected(*this));
  // Reading never creates the settings file.
  EXPECT_FALSE(std::filesystem::exists(SettingsPath()));
}

INSTANTIATE_TEST_SUITE_P(EveryKey, SettingsDefaultTest, ::testing::ValuesIn(kDefaultCases));

class SettingsStoreTest : public ConfigEnvTest {};

TEST_F(SettingsStoreTest, ValuesRoundTripThroughTheFile) {
  TSettingsStore settings(SettingsPath());
  settings.SetFormatCode(205);
  settings.SetFormatName("OGG Vorbis Audio Codec (*.ogg)");
  settings.SetOutPutDir("/srv/out");
  settings.SetSnapOutPutDir("/srv/snap");
  settings.SetVolume(100);
  settings.SetMute(true);
  settings.SetSnapFullSize(false);
  settings.SetSnapSmallSize(false);
  settings.SetSnapBmp(false);
  settings.SetSnapJpg(false);
  settings.SetJpgCmp(85);
  settings.SetPriority(psLowest);
  settings.SetGroupCollapsed(1, false);

  const TSettingsStore other(SettingsPath());
  EXPECT_EQ(other.FormatCode(), 205);
  EXPECT_EQ(other.FormatCodeText(), "205");
  EXPECT_EQ(other.FormatName(), "OGG Vorbis Audio Codec (*.ogg)");
  EXPECT_EQ(other.OutPutDir(), "/srv/out");
  EXPECT_EQ(other.SnapOutPutDir(), "/srv/snap");
  EXPECT_EQ(other.Volume(), 100);
  EXPECT_TRUE(other.Mute());
  EXPECT_FALSE(other.SnapFullSize());
  EXPECT_FALSE(other.SnapSmallSize());
  EXPECT_FALSE(other.SnapBmp());
  EXPECT_FALSE(other.SnapJpg());
  EXPECT_EQ(other.JpgCmp(), 85);
  EXPECT_EQ(other.Priority(), psLowest);
  EXPECT_FALSE(other.GroupCollapsed(1));
  EXPECT_TRUE(other.GroupCollapsed(0));
}

TEST_F(SettingsStoreTest, JpegQualityOfZeroIsNotWritten) {
  TSettingsStore settings(SettingsPath());
  settings.SetJpgCmp(55);
  settings.SetJpgCmp(0);
  settings.SetJpgCmp(-4);
  EXPECT_EQ(settings.JpgCmp(), 55);
}

TEST_F(SettingsStoreTest, PreviewVolumeOutsideRangeBecomes64) {
  TSettingsStore settings(SettingsPath());
  for (const auto& [stored, shown] :
       {std::pair{200, 64}, {129, 64}, {-1, 64}, {128, 128}, {0, 0}}) {
    settings.SetVolume(stored);
    EXPECT_EQ(settings.Volume(), stored);
    EXPECT_EQ(settings.PreviewVolume(), shown) << stored;
  }
}

TEST_F(SettingsStoreTest, HandWrittenUpperCaseKeysAreRead) {
  WriteText(SettingsPath(), "[SETTINGS]\nPRIORITY=2\nSNAPOUTPUTDIR=/data/snaps\nFORMATCODE=abc\n");
  const TSettingsStore settings(SettingsPath());
  EXPECT_EQ(settings.Priority(), 2);
  EXPECT_EQ(settings.SnapOutPutDir(), "/data/snaps");
  // A malformed integer reads as the default; the dialog still sees the text.
  EXPECT_EQ(settings.FormatCode(), 1);
  EXPECT_EQ(settings.FormatCodeText(), "abc");
}

TEST_F(SettingsStoreTest, PreferencesWriteSeenUnderOtherSpelling) {
  TSettingsStore settings(SettingsPath());
  settings.Ini().WriteString(kSettingsSection, "snapOutPutDir", "/x/snap");
  EXPECT_EQ(settings.SnapOutPutDir(), "/x/snap");
  settings.Ini().WriteString("formatInfo101", "paraZoom", "pan");
  EXPECT_EQ(settings.Ini().ReadString("formatinfo101", "parazoom", "lbox"), "pan");
}
