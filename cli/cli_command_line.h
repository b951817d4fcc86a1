// dvdswf-cli's command line: the sub-commands and their options as typed, and the numbers
// read from them. Kept out of main() so that the tests and the fuzz target parse exactly
// what the program parses.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_options.h"

inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 130;

// A reason the user has to fix on the command line (or in the settings).
struct TUsageError {
  std::string Text;
};

// The options of "convert" as typed; numbers are read by ReadChoices, so that every
// refusal has the same form.
struct TConvertArgs {
  std::string Source;
  std::vector<std::string> Titles;
  std::string Format, Audio, Subtitle, Brightness, Contrast, Saturation, Exposure;
  std::string Chapters, Start, Length, Crop, Zoom, Out;
  std::vector<std::string> TextMarks, ImageMarks, Settings;
  bool Verbose = false;
};

enum class TCliCommand { Titles, Formats, Convert };

struct TCommandLine {
  TCliCommand Command = TCliCommand::Formats;
  std::string Source;  // of "titles"
  bool Json = false;   // "titles" and "formats"
  TConvertArgs Convert;
};

// Parses the program's arguments into `line`. Returns the exit status when the command line
// ends the program here: 0 after the help (written to `out`), kExitUsage after a refusal
// (one line "dvdswf-cli: ..." on `err`); nullopt when `line` holds a command to run.
std::optional<int> ParseCommandLine(int argc, const char* const* argv, TCommandLine& line,
                                    std::ostream& out, std::ostream& err);

// The numbers of a "convert" command line.
struct TChoices {
  std::vector<int> Titles;
  std::optional<int> Format, Audio, Subtitle, Brightness, Contrast, Saturation, Exposure;
  std::optional<std::pair<int, int>> Chapters;
  std::optional<TCliCrop> Crop;
  int64_t Start = 0, Length = 0;
};

// Throws TUsageError or TCliError for a value out of its syntax or range.
TChoices ReadChoices(const TConvertArgs& args);

// A whole decimal number (an optional sign, then digits; no hexadecimal, no blanks).
// More digits than any range here needs read as the largest (or smallest) number, so that
// they are refused as out of range.
std::optional<long long> DecimalNumber(const std::string& text);
