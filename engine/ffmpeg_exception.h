// The exception of the transcoder's configuration and conversion failures, and the printf-style
// helper that builds its texts.
#pragma once

#include <stdexcept>
#include <string>

// Raised by option parsing, stream creation, run preparation and the conversion loop. The
// message is the user-facing text as it stands; nothing is appended.
class FFmpegException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised where an internal consistency check fails (a contract broken by the caller, such as a
// codec tag of the wrong length). Recorded like any other run failure.
class EAssertionFailed : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

[[noreturn]] void RaiseFFmpeg(const char* format, ...) __attribute__((format(printf, 1, 2)));
