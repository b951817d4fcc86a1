// dvdswf-cli's command line; see cli_command_line.h.
#include "cli/cli_command_line.h"

#include <climits>
#include <ostream>
#include <set>
#include <string>

#include <CLI/CLI.hpp>

namespace {

int WholeNumberOption(const std::string& option, const std::string& text, long long low,
                      long long high) {
  const auto value = DecimalNumber(text);
  if (!value) throw TUsageError{option + " \"" + text + "\" is not a whole number"};
  if (*value < low || *value > high)
    throw TUsageError{option + " " + text + " is out of range " + std::to_string(low) + ".." +
                      std::to_string(high)};
  return int(*value);
}

// Options that take a value must not be given an empty one ("--start ''" is a mistake,
// not "no start").
void RefuseEmptyValues(const CLI::App& command) {
  for (const CLI::Option* option : command.get_options()) {
    if (option->count() == 0 || option->get_expected_min() == 0) continue;
    for (const std::string& value : option->results())
      if (value.empty()) {
        const std::string name = option->get_name();
        throw TUsageError{(name.empty() ? std::string("a value") : name) + " is empty"};
      }
  }
}

}  // namespace

std::optional<long long> DecimalNumber(const std::string& text) {
  const bool negative = !text.empty() && text[0] == '-';
  const size_t i = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  for (size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return std::nullopt;
  if (text.size() - i > 18) return negative ? LLONG_MIN : LLONG_MAX;
  return std::stoll(text);
}

TChoices ReadChoices(const TConvertArgs& args) {
  TChoices c;
  for (const std::string& text : args.Titles) {
    const auto value = DecimalNumber(text);
    if (!value) throw TUsageError{"--title \"" + text + "\" is not a whole number"};
    if (*value < 1) throw TUsageError{"--title " + text + ": titles are numbered from 1"};
    if (*value > 99) throw TUsageError{"--title " + text + ": a DVD has at most 99 titles"};
    c.Titles.push_back(int(*value));
  }
  const auto number = [](const std::string& option, const std::string& text, long long low,
                         long long high) -> std::optional<int> {
    if (text.empty()) return std::nullopt;
    return WholeNumberOption(option, text, low, high);
  };
  c.Format = number("--format", args.Format, 0, 99999);
  c.Audio = number("--audio", args.Audio, 0, 65535);
  c.Subtitle = number("--subtitle", args.Subtitle, 0, 65535);
  c.Brightness = number("--brightness", args.Brightness, 0, 512);
  c.Contrast = number("--contrast", args.Contrast, -100, 100);
  c.Saturation = number("--saturation", args.Saturation, 0, 512);
  c.Exposure = number("--exposure", args.Exposure, -255, 512);
  if (!args.Chapters.empty()) c.Chapters = ParseCliChapters(args.Chapters);
  if (!args.Crop.empty()) c.Crop = ParseCliCrop(args.Crop);
  c.Start = args.Start.empty() ? 0 : ParseCliTime(args.Start);
  c.Length = args.Length.empty() ? 0 : ParseCliTime(args.Length);
  if (!args.Length.empty() && c.Length <= 0) throw TCliError("--length must be more than 0");
  return c;
}

std::optional<int> ParseCommandLine(int argc, const char* const* argv, TCommandLine& line,
                                    std::ostream& out, std::ostream& err) {
  static const std::set<std::string> kCommands = {"titles", "formats", "convert"};
  if (argc < 2) {
    err << "dvdswf-cli: a sub-command is needed: titles, formats or convert (see --help)\n";
    return kExitUsage;
  }
  if (argv[1][0] != '-' && !kCommands.count(argv[1])) {
    err << "dvdswf-cli: unknown sub-command \"" << argv[1]
        << "\" (titles, formats or convert; see --help)\n";
    return kExitUsage;
  }

  CLI::App app{"dvdswf-cli: list a DVD's titles, list the output formats, convert titles.",
               "dvdswf-cli"};
  app.require_subcommand(1);
  app.footer(
      "SOURCE is a DVD device (/dev/sr0), an ISO image or a folder holding VIDEO_TS.\n"
      "Settings and the format catalogue live in $DVDSWF_CONFIG_DIR, else\n"
      "$XDG_CONFIG_HOME/dvdswf, else ~/.config/dvdswf.\n"
      "Exit status: 0 done, 1 a conversion failed, 2 bad source, title, format, option or\n"
      "setting (nothing written), 130 stopped by Ctrl-C or a signal.");

  auto* titles = app.add_subcommand("titles", "List the titles of a DVD.");
  titles->add_option("SOURCE", line.Source, "DVD device, ISO image or VIDEO_TS folder")->required();
  titles->add_flag("--json", line.Json,
                   "Print a JSON array of {title, duration, chapters, width, height, aspect, "
                   "video_format, audio, subtitles}");

  auto* formats = app.add_subcommand("formats", "List the output formats.");
  formats->add_flag("--json", line.Json, "Print a JSON array of {code, group, name, ext}");

  TConvertArgs& args = line.Convert;
  auto* convert = app.add_subcommand(
      "convert",
      "Convert titles of a DVD with the chosen output format, one after another. Prints "
      "each output file's path when done.");
  convert->add_option("SOURCE", args.Source, "DVD device, ISO image or VIDEO_TS folder")
      ->required();
  convert->add_option("--title", args.Titles, "Title number(s) from 1 (default: every title)");
  convert->add_option("--format", args.Format,
                      "Format code (see 'formats'; default: the stored \"FormatCode\")");
  convert->add_option("--chapters", args.Chapters, "Chapter range A-B (default: all)");
  convert->add_option("--audio", args.Audio, "Audio track id, as 'titles' lists it (128, ...)");
  convert->add_option("--subtitle", args.Subtitle,
                      "Subtitle id, as 'titles' lists it (32, ...); 0 for none");
  convert->add_option("--start", args.Start, "Trim start T (seconds or H:MM:SS)");
  convert->add_option("--length", args.Length, "Trim length T (seconds or H:MM:SS)");
  convert->add_option("--crop", args.Crop, "Crop TOP,BOTTOM,LEFT,RIGHT in source pixels");
  convert->add_option("--zoom", args.Zoom,
                      "Fit into the format's size: full, lbox, pan or center (this run only)");
  convert->add_option("--brightness", args.Brightness, "Brightness 0..512 (256 neutral)");
  convert->add_option("--contrast", args.Contrast, "Contrast -100..100 (0 neutral)");
  convert->add_option("--saturation", args.Saturation, "Saturation 0..512 (256 neutral)");
  convert->add_option("--exposure", args.Exposure, "Exposure -255..512 (0 neutral)");
  convert->add_option("--text-watermark", args.TextMarks,
                      "\"TEXT@X,Y[,ALPHA[,START-END]]\": text at X,Y (source pixels), opacity "
                      "0..255, shown from START to END second");
  convert->add_option("--image-watermark", args.ImageMarks,
                      "\"FILE@X,Y[,ALPHA[,START-END]]\": a BMP, PNG or JPEG picture, likewise");
  convert->add_option("--set", args.Settings,
                      "KEY=VALUE: the format's user key for this run only (paraVideoSize, "
                      "paraVideoBitRate, paraFrameRate, paraZoom, paraVideoEncoder, "
                      "paraSampleRate, paraAudioBitRate, paraChannel, paraVolume, "
                      "paraAudioEncoder)");
  convert->add_option("--out", args.Out,
                      "Output folder for this run (default: the stored \"OutPutDir\")");
  convert->add_flag("--verbose", args.Verbose,
                    "Show the libraries' messages (decoder and muxer notes) as they come");

  try {
    app.parse(argc, argv);
    if (*titles) {
      line.Command = TCliCommand::Titles;
      RefuseEmptyValues(*titles);
    } else if (*formats) {
      line.Command = TCliCommand::Formats;
    } else {
      line.Command = TCliCommand::Convert;
      RefuseEmptyValues(*convert);
    }
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    std::string text = e.what();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    err << "dvdswf-cli: " << text << "\n";
    return kExitUsage;
  } catch (const TUsageError& e) {
    err << "dvdswf-cli: " << e.Text << "\n";
    return kExitUsage;
  }
  return std::nullopt;
}
