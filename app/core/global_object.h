// The application-wide object: where the settings and the format catalogue live, the
// application's title and version text, and a few small system services. Created first when
// the main window is created; used on the main thread only.
#pragma once

#include <memory>
#include <string>

#include "app/core/settings_store.h"

inline constexpr char kSettingsIniName[] = "korveldvdtoswfconverter.ini";
inline constexpr char kFormatIniName[] = "korvelswfformat.ini";
inline constexpr char kAppTitle[] = "Korvel DVD to SWF Converter";
// Shown until the main window replaces it with GetFileVersionText().
inline constexpr char kBuiltInVersionText[] = " ver 3.20 ";
inline constexpr char kWebSiteUrl[] = "https://dvdswf.example.org/";
inline constexpr char kHelpUrl[] = "https://dvdswf.example.org/help/";

// The settings folder: the all-users application-data folder of the original program.
inline constexpr int CSIDL_COMMON_APPDATA = 35;

class TGlobalObject {
 public:
  const std::string& HelpUrl() const { return FHelpUrl; }
  const std::string& SettingsIniPath() const { return FSettingsIniPath; }
  const std::string& FormatIniPath() const { return FFormatIniPath; }
  const std::string& AppTitle() const { return FAppTitle; }
  const std::string& VersionText() const { return FVersionText; }
  const std::string& WebSiteUrl() const { return FWebSiteUrl; }

  // Each setter ignores a value that fails its test and keeps the field as it was.
  void SetSettingsIniPath(const std::string& value);  // length > 3
  void SetFormatIniPath(const std::string& value);    // length > 3
  void SetAppTitle(const std::string& value);         // not empty
  void SetVersionText(const std::string& value);      // not empty
  void SetWebSiteUrl(const std::string& value);       // not empty
  void SetHelpUrl(const std::string& value);          // not empty

  // Views onto the two files; they read and write the file on every call.
  TSettingsStore Settings() const { return TSettingsStore(FSettingsIniPath); }

 private:
  std::string FHelpUrl, FSettingsIniPath, FFormatIniPath, FAppTitle, FVersionText, FWebSiteUrl;
};

// The start-up of the global object: paths in the settings folder, the title, the built-in
// version text and the two web addresses. With `installCatalogue`, installs the format
// catalogue into the settings folder when it is missing there (a failure to install leaves
// the shipped catalogue to be read from memory). A caller that must not change the folder
// yet (the command line, until the run is accepted) installs later.
std::unique_ptr<TGlobalObject> CreateGlobalObject(bool installCatalogue = true);

// The last n characters of s, or all of s when it is shorter.
std::string RightStr(const std::string& s, size_t n);

// " major.minorreleasebuild " of the program's version (the build's project version).
std::string GetFileVersionText();
// The same text for given version numbers: 4, 8, 0, 17 gives " 4.8017 ".
std::string FormatFileVersion(unsigned major, unsigned minor, unsigned release, unsigned build);

// True only when a unique file (prefix "DA") can be created in dir and deleted again.
bool CanWriteToFolder(const std::string& dir);

// The name of the user the process runs as (at most 252 characters); empty when unknown.
std::string GetLoginName();

// For CSIDL_COMMON_APPDATA: $DVDSWF_CONFIG_DIR, else $XDG_CONFIG_HOME/dvdswf, else
// $HOME/.config/dvdswf, with a trailing "/". Empty for any other id or when none is known.
std::string GetSpecialFolder(int id);

// $HOME/videoconverter: the default output and snapshot folder, and the fallback for a folder
// that cannot be written.
std::string DefaultVideoFolder();

// Reads the folder under `key` ("OutPutDir" or "SnapOutPutDir"); when CanWriteToFolder fails
// for it, writes DefaultVideoFolder() to the key. Returns the folder now stored. Nothing is
// created and nothing is shown.
std::string CheckFolderSetting(const TGlobalObject& global, const char* key);
