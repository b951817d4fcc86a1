#include "app/core/global_object.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "app/core/format_catalogue.h"
#include "app/core/tests/config_env.h"

namespace fs = std::filesystem;

TEST(GlobalObject, FieldsStartEmpty) {
  const TGlobalObject global;
  EXPECT_EQ(global.HelpUrl(), "");
  EXPECT_EQ(global.SettingsIniPath(), "");
  EXPECT_EQ(global.FormatIniPath(), "");
  EXPECT_EQ(global.AppTitle(), "");
  EXPECT_EQ(global.VersionText(), "");
  EXPECT_EQ(global.WebSiteUrl(), "");
}

struct SetterCase {
  const char* name;
  void (TGlobalObject::*set)(const std::string&);
  const std::string& (TGlobalObject::*get)() const;
  std::string refused;  // the longest value the setter refuses
};

void PrintTo(const SetterCase& c, std::ostream* os) {
  *os << c.name;
}

class GlobalSetterTest : public ::testing::TestWithParam<SetterCase> {};

TEST_P(GlobalSetterTest, RefusedValueKeepsTheField) {
  const auto& c = GetParam();
  TGlobalObject global;
  (global.*c.set)("first value");
  (global.*c.set)(c.refused);
  EXPECT_EQ((global.*c.get)(), "first value");
  const std::string accepted = c.refused + "x";
  (global.*c.set)(accepted);
  EXPECT_EQ((global.*c.get)(), accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Setters, GlobalSetterTest,
    ::testing::Values(
        SetterCase{"SettingsIniPath", &TGlobalObject::SetSettingsIniPath,
                   &TGlobalObject::SettingsIniPath, "a.i"},
        SetterCase{"FormatIniPath", &TGlobalObject::SetFormatIniPath, &TGlobalObject::FormatIniPath,
                   "b.i"},
        SetterCase{"AppTitle", &TGlobalObject::SetAppTitle, &TGlobalObject::AppTitle, ""},
        SetterCase{"VersionText", &TGlobalObject::SetVersionText, &TGlobalObject::VersionText, ""},
        SetterCase{"WebSiteUrl", &TGlobalObject::SetWebSiteUrl, &TGlobalObject::WebSiteUrl, ""},
        SetterCase{"HelpUrl", &TGlobalObject::SetHelpUrl, &TGlobalObject::HelpUrl, ""}));

class GlobalObjectTest : public ConfigEnvTest {};

TEST_F(GlobalObjectTest, StartUpNamesTheSettingsFolderAndInstallsTheCatalogue) {
  const auto global = CreateGlobalObject();
  EXPECT_EQ(global->SettingsIniPath(), SettingsPath());
  EXPECT_EQ(global->FormatIniPath(), CataloguePath());
  EXPECT_EQ(global->AppTitle(), "Korvel DVD to SWF Converter");
  EXPECT_EQ(global->VersionText(), " ver 3.20 ");
  EXPECT_FALSE(global->WebSiteUrl().empty());
  EXPECT_FALSE(global->HelpUrl().empty());
  EXPECT_EQ(ReadFile(CataloguePath()), ReadFile(DVDSWF_CATALOGUE_SOURCE));
  EXPECT_FALSE(fs::exists(SettingsPath()));
}

TEST_F(GlobalObjectTest, ExistingCatalogueIsKept) {
  WriteText(CataloguePath(), "[formatInfo1]\nFormat=mine\n");
  const auto global = CreateGlobalObject();
  EXPECT_EQ(ReadFile(CataloguePath()), "[formatInfo1]\nFormat=mine\n");
}

TEST_F(GlobalObjectTest, SettingsFolderFallbacks) {
  EXPECT_EQ(GetSpecialFolder(CSIDL_COMMON_APPDATA), ConfigDir + "/");
  unsetenv("DVDSWF_CONFIG_DIR");
  setenv("XDG_CONFIG_HOME", (Folder + "/xdg").c_str(), 1);
  EXPECT_EQ(GetSpecialFolder(CSIDL_COMMON_APPDATA), Folder + "/xdg/dvdswf/");
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(GetSpecialFolder(CSIDL_COMMON_APPDATA), HomeDir + "/.config/dvdswf/");
  EXPECT_EQ(GetSpecialFolder(26), "");
  const auto global = CreateGlobalObject();
  EXPECT_EQ(global->SettingsIniPath(), HomeDir + "/.config/dvdswf/korveldvdtoswfconverter.ini");
  EXPECT_TRUE(fs::exists(HomeDir + "/.config/dvdswf/korvelswfformat.ini"));
}

TEST(GlobalObjectUtilities, RightStr) {
  EXPECT_EQ(RightStr("abcdef", 2), "ef");
  EXPECT_EQ(RightStr("abc", 3), "abc");
  EXPECT_EQ(RightStr("ab", 5), "ab");
  EXPECT_EQ(RightStr("ab", 0), "");
}

TEST(GlobalObjectUtilities, FileVersionText) {
  EXPECT_EQ(FormatFileVersion(4, 8, 0, 17), " 4.8017 ");
  EXPECT_EQ(FormatFileVersion(1, 2, 3, 4), " 1.234 ");
  EXPECT_EQ(FormatFileVersion(10, 0, 0, 0), " 10.000 ");
  EXPECT_EQ(FormatFileVersion(65535, 1, 2, 3), " 65535.123 ");
  // The project version of this build, with a missing fourth number read as 0.
  std::string version = DVDSWF_PROJECT_VERSION;
  unsigned parts[4] = {0, 0, 0, 0};
  for (int i = 0; i < 4 && !version.empty(); ++i) {
    const size_t dot = version.find('.');
    parts[i] = unsigned(std::stoul(version.substr(0, dot)));
    version = dot == std::string::npos ? "" : version.substr(dot + 1);
  }
  EXPECT_EQ(GetFileVersionText(), FormatFileVersion(parts[0], parts[1], parts[2], parts[3]));
}

TEST(GlobalObjectUtilities, CanWriteToFolder) {
  const std::string folder = TestFolder();
  EXPECT_TRUE(CanWriteToFolder(folder));
  EXPECT_TRUE(fs::is_empty(folder));  // the probe file is gone again
  EXPECT_FALSE(CanWriteToFolder(folder + "/missing"));
  WriteText(folder + "/file", "x");
  // Under a regular file nothing can be created, whoever runs the test.
  EXPECT_FALSE(CanWriteToFolder(folder + "/file/sub"));
  EXPECT_FALSE(CanWriteToFolder(""));
}

TEST(GlobalObjectUtilities, LoginNameIsTheProcessUser) {
  const passwd* entry = getpwuid(geteuid());
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(GetLoginName(), entry->pw_name);
}

TEST_F(GlobalObjectTest, FirstRunFoldersFallBackToHomeAndAreWrittenBack) {
  const auto global = CreateGlobalObject();
  // $HOME/videoconverter does not exist yet, so the test fails and the key is written.
  EXPECT_EQ(CheckFolderSetting(*global, kKeyOutPutDir), HomeDir + "/videoconverter");
  EXPECT_EQ(CheckFolderSetting(*global, kKeySnapOutPutDir), HomeDir + "/videoconverter");
  const TIniFile ini(SettingsPath());
  EXPECT_EQ(ini.ReadString("settings", "OutPutDir", ""), HomeDir + "/videoconverter");
  EXPECT_EQ(ini.ReadString("settings", "SnapOutPutDir", ""), HomeDir + "/videoconverter");
  EXPECT_FALSE(fs::exists(HomeDir + "/videoconverter"));  // created only when needed
}

TEST_F(GlobalObjectTest, UnwritableOutputFolderIsReplaced) {
  const auto global = CreateGlobalObject();
  WriteText(Folder + "/file", "x");
  TSettingsStore settings = global->Settings();
  settings.SetOutPutDir(Folder + "/file/sub");
  settings.SetSnapOutPutDir(Folder);
  EXPECT_EQ(CheckFolderSetting(*global, kKeyOutPutDir), HomeDir + "/videoconverter");
  EXPECT_EQ(settings.OutPutDir(), HomeDir + "/videoconverter");
  // A writable folder stays as it is.
  EXPECT_EQ(CheckFolderSetting(*global, kKeySnapOutPutDir), Folder);
  EXPECT_EQ(settings.SnapOutPutDir(), Folder);
}
