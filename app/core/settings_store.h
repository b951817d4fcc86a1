// The settings file "korveldvdtoswfconverter.ini": typed access to the keys of the sections
// "settings" and "lstformat" with their defaults. Nothing is cached; see ini_file.h. The
// per-format sections ("formatInfo" + code) are read through format_params.h.
#pragma once

#include <string>

#include "app/core/ini_file.h"

inline constexpr char kSettingsSection[] = "settings";
inline constexpr char kGroupStateSection[] = "lstformat";

inline constexpr char kKeyFormatCode[] = "FormatCode";
inline constexpr char kKeyFormatName[] = "FormatName";
inline constexpr char kKeyOutPutDir[] = "OutPutDir";
inline constexpr char kKeySnapOutPutDir[] = "SnapOutPutDir";
inline constexpr char kKeyVolume[] = "volume";
inline constexpr char kKeyMute[] = "mute";
inline constexpr char kKeySnapFullSize[] = "snapFullSize";
inline constexpr char kKeySnapSmallSize[] = "snapSmallSize";
inline constexpr char kKeySnapBmp[] = "snapBmp";
inline constexpr char kKeySnapJpg[] = "snapJpg";
inline constexpr char kKeyJpgCmp[] = "jpgCmp";
inline constexpr char kKeyPriority[] = "priority";

inline constexpr int kDefaultFormatCode = 1;
// The display name of the default code, so that a fresh picker shows the format that a
// conversion will actually use.
inline constexpr char kDefaultFormatName[] = "Flash SWF Format (*.swf)";
// What the preview volume becomes when the stored value is outside 0..128.
inline constexpr int kFallbackPreviewVolume = 64;
// "volume" on a machine that has never stored one: audible (a silent preview on first use
// looks like a broken player), below full so that it does not startle.
inline constexpr int kDefaultPreviewVolume = 96;

// "priority" values.
enum TPrioritySetting { psIdle = 0, psNormal = 1, psLower = 2, psLowest = 3 };

class TSettingsStore {
 public:
  explicit TSettingsStore(std::string iniPath) : FIni(std::move(iniPath)) {}

  TIniFile& Ini() { return FIni; }
  const TIniFile& Ini() const { return FIni; }

  // "FormatCode" as an integer (default 1) and as the settings dialog reads it (default "1").
  int FormatCode() const;
  std::string FormatCodeText() const;
  void SetFormatCode(int code);
  std::string FormatName() const;
  void SetFormatName(const std::string& name);

  // "OutPutDir" / "SnapOutPutDir"; default DefaultVideoFolder().
  std::string ReadFolder(const char* key) const;
  std::string OutPutDir() const { return ReadFolder(kKeyOutPutDir); }
  std::string SnapOutPutDir() const { return ReadFolder(kKeySnapOutPutDir); }
  void SetOutPutDir(const std::string& dir);
  void SetSnapOutPutDir(const std::string& dir);

  // "volume" as stored (default kDefaultPreviewVolume), and as the preview control takes it: a
  // value outside 0..128 becomes 64.
  int Volume() const;
  int PreviewVolume() const;
  void SetVolume(int volume);
  bool Mute() const;
  void SetMute(bool mute);

  bool SnapFullSize() const;
  bool SnapSmallSize() const;
  bool SnapBmp() const;
  bool SnapJpg() const;
  void SetSnapFullSize(bool value);
  void SetSnapSmallSize(bool value);
  void SetSnapBmp(bool value);
  void SetSnapJpg(bool value);
  // JPEG quality 1..100, default 30. Only a value above 0 is written.
  int JpgCmp() const;
  void SetJpgCmp(int quality);
  // TPrioritySetting, default psNormal.
  int Priority() const;
  void SetPriority(int priority);

  // "lstformat": whether the picker's group is collapsed; default true.
  bool GroupCollapsed(int group) const;
  void SetGroupCollapsed(int group, bool collapsed);

 private:
  TIniFile FIni;
};
