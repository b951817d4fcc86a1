// libFuzzer target: dvdswf-cli's arguments, parsed as the program parses them, and the
// values of a "convert" command line read as RunConvert reads them (numbers, times, crop,
// chapters, watermarks, --set pairs). Nothing is run: no disc is opened, no file written.
//
// Input: the arguments after the program's name, each ended by a NUL byte (at most 32).
//
//   bin/cli_args_fuzz -max_total_time=60 corpus/ tests/fuzz/cli_args_fuzz/
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_command_line.h"
#include "cli/cli_options.h"

namespace {

// A broken property: says which, then ends the run as a finding.
#define Require(condition)                                                               \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: %s does not hold\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words = {"dvdswf-cli"};
  std::string word;
  for (size_t i = 0; i < size && words.size() < 33; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += char(data[i]);
    }
  }
  if (!word.empty() && words.size() < 33) words.push_back(word);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  argv.push_back(nullptr);

  TCommandLine line;
  std::ostringstream out, err;
  const auto status = ParseCommandLine(int(words.size()), argv.data(), line, out, err);
  if (status) {
    // The help, or one refusal line: never both, never a silent refusal.
    Require(*status == 0 || *status == kExitUsage);
    if (*status == kExitUsage) Require(!err.str().empty() && out.str().empty());
    return 0;
  }
  if (line.Command != TCliCommand::Convert) return 0;
  const TConvertArgs& args = line.Convert;
  try {
    const TChoices choices = ReadChoices(args);
    for (int title : choices.Titles) Require(title >= 1 && title <= 99);
    if (choices.Chapters)
      Require(choices.Chapters->first >= 1 && choices.Chapters->first <= choices.Chapters->second);
    if (!args.Length.empty()) Require(choices.Length > 0);
  } catch (const TUsageError& e) {
    Require(!e.Text.empty());
  } catch (const TCliError&) {
  }
  for (const auto* marks : {&args.TextMarks, &args.ImageMarks})
    for (const std::string& mark : *marks) try {
        const TCliWatermark w = ParseCliWatermark(mark);
        Require(w.Alpha >= 0 && w.Alpha <= 255 && w.Start <= w.End);
      } catch (const TCliError&) {
      }
  for (const std::string& setting : args.Settings) try {
      ParseCliSetting(setting);
    } catch (const TCliError&) {
    }
  return 0;
}
