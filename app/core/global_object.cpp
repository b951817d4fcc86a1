#include "app/core/global_object.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/core/format_catalogue.h"

namespace fs = std::filesystem;

void TGlobalObject::SetSettingsIniPath(const std::string& value) {
  if (value.size() > 3) FSettingsIniPath = value;
}
void TGlobalObject::SetFormatIniPath(const std::string& value) {
  if (value.size() > 3) FFormatIniPath = value;
}
void TGlobalObject::SetAppTitle(const std::string& value) {
  if (!value.empty()) FAppTitle = value;
}
void TGlobalObject::SetVersionText(const std::string& value) {
  if (!value.empty()) FVersionText = value;
}
void TGlobalObject::SetWebSiteUrl(const std::string& value) {
  if (!value.empty()) FWebSiteUrl = value;
}
void TGlobalObject::SetHelpUrl(const std::string& value) {
  if (!value.empty()) FHelpUrl = value;
}

std::unique_ptr<TGlobalObject> CreateGlobalObject(bool installCatalogue) {
  auto global = std::make_unique<TGlobalObject>();
  const std::string dir = GetSpecialFolder(CSIDL_COMMON_APPDATA);
  global->SetSettingsIniPath(dir + kSettingsIniName);
  global->SetFormatIniPath(dir + kFormatIniName);
  global->SetAppTitle(kAppTitle);
  global->SetVersionText(kBuiltInVersionText);
  global->SetWebSiteUrl(kWebSiteUrl);
  global->SetHelpUrl(kHelpUrl);
  if (installCatalogue) InstallFormatCatalogue(global->FormatIniPath());
  return global;
}

std::string RightStr(const std::string& s, size_t n) {
  return s.size() <= n ? s : s.substr(s.size() - n);
}

std::string FormatFileVersion(unsigned major, unsigned minor, unsigned release, unsigned build) {
  return " " + std::to_string(major) + "." + std::to_string(minor) + std::to_string(release) +
         std::to_string(build) + " ";
}

std::string GetFileVersionText() {
  return FormatFileVersion(DVDSWF_VERSION_MAJOR, DVDSWF_VERSION_MINOR, DVDSWF_VERSION_PATCH,
                           DVDSWF_VERSION_TWEAK);
}

bool CanWriteToFolder(const std::string& dir) {
  if (dir.empty()) return false;
  std::string name = (fs::path(dir) / "DAXXXXXX").string();
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  close(fd);
  return unlink(name.c_str()) == 0;
}

std::string GetLoginName() {
  std::string name;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
      result->pw_name)
    name = result->pw_name;
  if (name.empty()) {
    for (const char* variable : {"USER", "LOGNAME"}) {
      const char* value = std::getenv(variable);
      if (value && *value) {
        name = value;
        break;
      }
    }
  }
  if (name.size() > 252) name.resize(252);
  return name;
}

static std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

static std::string HomeFolder() {
  std::string home = Environment("HOME");
  if (home.empty()) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir)
      home = result->pw_dir;
  }
  return home;
}

static std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

std::string GetSpecialFolder(int id) {
  if (id != CSIDL_COMMON_APPDATA) return "";
  if (std::string dir = Environment("DVDSWF_CONFIG_DIR"); !dir.empty()) return WithSlash(dir);
  if (std::string dir = Environment("XDG_CONFIG_HOME"); !dir.empty())
    return WithSlash(WithSlash(dir) + "dvdswf");
  if (std::string home = HomeFolder(); !home.empty())
    return WithSlash(WithSlash(home) + ".config/dvdswf");
  return "";
}

std::string DefaultVideoFolder() {
  return WithSlash(HomeFolder()) + "videoconverter";
}

std::string CheckFolderSetting(const TGlobalObject& global, const char* key) {
  TSettingsStore settings = global.Settings();
  std::string dir = settings.ReadFolder(key);
  if (!CanWriteToFolder(dir)) {
    dir = DefaultVideoFolder();
    settings.Ini().WriteString(kSettingsSection, key, dir);
  }
  return dir;
}
