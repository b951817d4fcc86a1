// Running a configured transcoder to its end in a test.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/transcoder.h"

using TOptionList = std::vector<std::pair<std::string, std::string>>;

inline void ApplyOptions(TCustomTranscoder& transcoder, const TOptionList& options) {
  for (const auto& [name, value] : options) transcoder.ParseOption(name, value);
}

// Start and Run on the calling thread; false when the job refused to start.
inline bool RunToEnd(TCustomTranscoder& transcoder) {
  if (!transcoder.Start()) return false;
  transcoder.Run();
  return true;
}
