// The exception of the transcoder's configuration and conversion failures, and the printf-style
// helper that builds its texts.
#pragma once

#include "media/assertion.h"
#include "media/strings.h"

#include <stdexcept>
#include <string>

// Raised by option parsing, stream creation, run preparation and the conversion loop. The
// message is the user-facing text as it stands; nothing is appended.
class FFmpegException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void RaiseFFmpeg(const char* format, ...) __attribute__((format(printf, 1, 2)));
