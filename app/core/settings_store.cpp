#include "app/core/settings_store.h"

#include "app/core/global_object.h"

int TSettingsStore::FormatCode() const {
  return FIni.ReadInteger(kSettingsSection, kKeyFormatCode, kDefaultFormatCode);
}
std::string TSettingsStore::FormatCodeText() const {
  return FIni.ReadString(kSettingsSection, kKeyFormatCode, std::to_string(kDefaultFormatCode));
}
void TSettingsStore::SetFormatCode(int code) {
  FIni.WriteInteger(kSettingsSection, kKeyFormatCode, code);
}
std::string TSettingsStore::FormatName() const {
  return FIni.ReadString(kSettingsSection, kKeyFormatName, kDefaultFormatName);
}
void TSettingsStore::SetFormatName(const std::string& name) {
  FIni.WriteString(kSettingsSection, kKeyFormatName, name);
}

std::string TSettingsStore::ReadFolder(const char* key) const {
  return FIni.ReadString(kSettingsSection, key, DefaultVideoFolder());
}
void TSettingsStore::SetOutPutDir(const std::string& dir) {
  FIni.WriteString(kSettingsSection, kKeyOutPutDir, dir);
}
void TSettingsStore::SetSnapOutPutDir(const std::string& dir) {
  FIni.WriteString(kSettingsSection, kKeySnapOutPutDir, dir);
}

int TSettingsStore::Volume() const {
  return FIni.ReadInteger(kSettingsSection, kKeyVolume, kDefaultPreviewVolume);
}
int TSettingsStore::PreviewVolume() const {
  const int volume = Volume();
  return volume < 0 || volume > 128 ? kFallbackPreviewVolume : volume;
}
void TSettingsStore::SetVolume(int volume) {
  FIni.WriteInteger(kSettingsSection, kKeyVolume, volume);
}
bool TSettingsStore::Mute() const {
  return FIni.ReadBool(kSettingsSection, kKeyMute, false);
}
void TSettingsStore::SetMute(bool mute) {
  FIni.WriteBool(kSettingsSection, kKeyMute, mute);
}

bool TSettingsStore::SnapFullSize() const {
  return FIni.ReadBool(kSettingsSection, kKeySnapFullSize, true);
}
bool TSettingsStore::SnapSmallSize() const {
  return FIni.ReadBool(kSettingsSection, kKeySnapSmallSize, true);
}
bool TSettingsStore::SnapBmp() const {
  return FIni.ReadBool(kSettingsSection, kKeySnapBmp, true);
}
bool TSettingsStore::SnapJpg() const {
  return FIni.ReadBool(kSettingsSection, kKeySnapJpg, true);
}
void TSettingsStore::SetSnapFullSize(bool value) {
  FIni.WriteBool(kSettingsSection, kKeySnapFullSize, value);
}
void TSettingsStore::SetSnapSmallSize(bool value) {
  FIni.WriteBool(kSettingsSection, kKeySnapSmallSize, value);
}
void TSettingsStore::SetSnapBmp(bool value) {
  FIni.WriteBool(kSettingsSection, kKeySnapBmp, value);
}
void TSettingsStore::SetSnapJpg(bool value) {
  FIni.WriteBool(kSettingsSection, kKeySnapJpg, value);
}

int TSettingsStore::JpgCmp() const {
  return FIni.ReadInteger(kSettingsSection, kKeyJpgCmp, 30);
}
void TSettingsStore::SetJpgCmp(int quality) {
  if (quality > 0) FIni.WriteInteger(kSettingsSection, kKeyJpgCmp, quality);
}
int TSettingsStore::Priority() const {
  return FIni.ReadInteger(kSettingsSection, kKeyPriority, psNormal);
}
void TSettingsStore::SetPriority(int priority) {
  FIni.WriteInteger(kSettingsSection, kKeyPriority, priority);
}

bool TSettingsStore::GroupCollapsed(int group) const {
  return FIni.ReadBool(kGroupStateSection, std::to_string(group), true);
}
void TSettingsStore::SetGroupCollapsed(int group, bool collapsed) {
  FIni.WriteBool(kGroupStateSection, std::to_string(group), collapsed);
}
