// The built-in encoder presets: names kept from the classic x264 preset files, texts written
// in the option names today's libx264 wrapper accepts.
#pragma once

#include <string>

struct TOptionsPreset {
  const char* Name;
  const char* Text;  // lines "name=value", separated by line feeds
};

constexpr int kBuiltinPresetCount = 40;
extern const TOptionsPreset kBuiltinPresets[kBuiltinPresetCount];

// The text of the preset named `name` (letter case ignored), or null.
const char* FindBuiltinPreset(const std::string& name);
