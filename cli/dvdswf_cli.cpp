// dvdswf-cli: the DVD source, the format catalogue and the conversion run from a terminal.
//
// Exit status: 0 done; 1 a conversion (or the set-up of one) failed; 2 a bad source,
// title, format code or option (nothing written); 130 stopped with Ctrl-C.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <QFontMetrics>
#include <QGuiApplication>
#include <nlohmann/json.hpp>

#include "app/core/conversion_run.h"
#include "app/core/format_catalogue.h"
#include "app/core/global_object.h"
#include "app/core/watermark_draw.h"
#include "app/core/wm_rec.h"
#include "cli/cli_options.h"
#include "dvd/disc_opener.h"
#include "dvd/dvd_plugin_loader.h"
#include "media/logger.h"
#include "media/main_thread.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;

std::atomic<int> gInterrupts{0};

void OnInterrupt(int) {
  // The first Ctrl-C asks the run to stop cleanly; a second one gives up at once.
  if (gInterrupts.fetch_add(1) >= 1) _exit(kExitStopped);
}

void InstallInterruptHandler() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// A reason the user has to fix on the command line.
struct TUsageError {
  std::string Text;
};

std::string Language(const char* text) {
  return std::string(text, strnlen(text, 64));
}

std::string FormatClock(int64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", (long long)(seconds / 3600),
                (long long)(seconds / 60 % 60), (long long)(seconds % 60));
  return text;
}

// Prints the messages of opening a disc; keeps the first for a disc that cannot be used.
class TCliDiscReport : public TDiscOpenerReport {
 public:
  void ShowMessage(const TDiscMessage& message) override {
    std::string line = message.Text;
    if (!message.Detail.empty()) line += " (" + message.Detail + ")";
    if (message.Kind == dmInvalidTitle)
      std::cerr << "dvdswf-cli: warning: " << line << "\n";
    else if (First.empty())
      First = line;
  }
  std::string First;
};

TDiscOpenResult OpenSource(const std::string& source) {
  if (!LoadDVDPlugInOnDemand())
    throw std::runtime_error("cannot load the DVD plug-in: " + DVDPlugInError());
  TCliDiscReport report;
  TDiscOpenResult result = OpenDisc(source, report);
  if (result.Rows.empty())
    throw TUsageError{source + ": " + (report.First.empty() ? "no DVD titles" : report.First)};
  return result;
}

// ---- titles ----------------------------------------------------------------------------

int RunTitles(const std::string& source, bool json) {
  const TDiscOpenResult disc = OpenSource(source);
  nlohmann::json list = nlohmann::json::array();
  for (const TDVDTitleRow& row : disc.Rows) {
    const TDVDTitleInfo& info = row.Record.TitleInfo;
    nlohmann::json audio = nlohmann::json::array(), subtitles = nlohmann::json::array();
    std::string audioText, subtitleText;
    for (int i = 0; i < std::clamp(info.AudioCount, 0, 8); ++i) {
      const auto& a = info.Audio[i];
      audio.push_back({{"id", a.StreamId}, {"lang", Language(a.Language)}});
      audioText +=
          (audioText.empty() ? "" : ", ") + std::to_string(a.StreamId) + " " + Language(a.Language);
    }
    for (int i = 0; i < std::clamp(info.SubtitleCount, 0, 32); ++i) {
      const auto& s = info.Subtitle[i];
      subtitles.push_back({{"id", s.StreamId}, {"lang", Language(s.Language)}});
      subtitleText += (subtitleText.empty() ? "" : ", ") + std::to_string(s.StreamId) + " " +
                      Language(s.Language);
    }
    const int number = row.Record.TitleNumber + 1;
    if (json) {
      list.push_back({{"title", number},
                      {"duration", info.Duration},
                      {"chapters", info.ChapterCount},
                      {"width", info.Width},
                      {"height", info.Height},
                      {"aspect", DisplayAspectText(info)},
                      {"video_format", DVDFormatName(info.VideoFormat)},
                      {"audio", audio},
                      {"subtitles", subtitles}});
    } else {
      std::cout << number << "  " << FormatTitleSeconds(info.Duration) << "  " << info.ChapterCount
                << (info.ChapterCount == 1 ? " chapter  " : " chapters  ") << info.Width << "x"
                << info.Height << " (" << DisplayAspectText(info) << ")  "
                << DVDFormatName(info.VideoFormat)
                << "  audio: " << (audioText.empty() ? "none" : audioText)
                << "  subtitles: " << (subtitleText.empty() ? "none" : subtitleText) << "\n";
    }
  }
  if (json) std::cout << list.dump(2) << "\n";
  return 0;
}

// ---- formats ---------------------------------------------------------------------------

int RunFormats(bool json) {
  const auto global = CreateGlobalObject();
  const TFormatCatalogue catalogue(global->FormatIniPath());
  nlohmann::json list = nlohmann::json::array();
  for (const TBuiltInFormat& format : BuiltInFormats()) {
    const std::string group = FormatGroupHeader(FormatGroupOf(format.Code));
    const std::string ext = catalogue.FileExt(format.Code);
    if (json) {
      list.push_back(
          {{"code", format.Code}, {"group", group}, {"name", format.Name}, {"ext", ext}});
    } else {
      char line[256];
      std::snprintf(line, sizeof line, "%4d  %-24s  %-42s  %s", format.Code, group.c_str(),
                    format.Name, ext.c_str());
      std::cout << line << "\n";
    }
  }
  if (json) std::cout << list.dump(2) << "\n";
  return 0;
}

// ---- convert ---------------------------------------------------------------------------

struct TConvertArgs {
  std::string Source;
  std::vector<int> Titles;
  std::optional<int> Format;
  std::string Chapters, Start, Length, Crop, Zoom, Out;
  std::optional<int> Audio, Subtitle;
  std::optional<int> Brightness, Contrast, Saturation, Exposure;
  std::vector<std::string> TextMarks, ImageMarks, Settings;
};

// The progress window of the command line: a bar on a terminal, plain lines otherwise.
class TCliHost : public TConversionHost {
 public:
  TCliHost() : FTerminal(isatty(STDERR_FILENO)) {}

  void ShowWarning(const std::string& text, const std::string& caption) override {
    EndBar();
    std::cerr << "dvdswf-cli: " << LowerFirst(caption) << ": " << text << "\n";
  }
  bool AskYesNo(const std::string& text, const std::string&) override {
    EndBar();
    std::cerr << "dvdswf-cli: " << text << " Yes\n";
    return true;
  }

  void RunProgressModal(TConversionRun& run) override {
    FRun = &run;
    FClosed = false;
    run.StartTasks();
    bool stopping = false;
    while (!FClosed) {
      WaitForMainThreadCalls(std::chrono::milliseconds(100));
      if (gInterrupts.load() > 0 && !stopping) {
        stopping = true;
        Stopped = true;
        EndBar();
        std::cerr << "dvdswf-cli: stopping (Ctrl-C again to abort)\n";
        run.Stop();
      }
    }
    EndBar();
  }
  void CloseProgress() override { FClosed = true; }

  void ShowProgress(const TJobProgress& p) override {
    const auto now = std::chrono::steady_clock::now();
    TJobClock& clock = FClocks[p.JobIndex];
    if (!clock.Started) {
      clock.Started = true;
      clock.Begin = now;
    }
    Started.insert(p.JobIndex);
    const double wall = std::chrono::duration<double>(now - clock.Begin).count();
    const double speed = wall > 0.2 ? double(p.OutputTime) / 1e6 / wall : 0;
    std::string eta = "--:--";
    if (speed > 0 && p.ExpectedDuration > 0)
      eta = FormatClock(
          int64_t(std::max<double>(0, double(p.ExpectedDuration - p.OutputTime) / 1e6 / speed)));
    char speedText[32];
    std::snprintf(speedText, sizeof speedText, "%.1fx", speed);
    const std::string percent = p.Percent >= 0 ? std::to_string(p.Percent) + "%" : "?%";
    if (FTerminal) {
      constexpr int kWidth = 30;
      const int filled = p.Percent >= 0 ? p.Percent * kWidth / 100 : 0;
      std::string bar(size_t(filled), '#');
      bar.resize(kWidth, '-');
      std::cerr << "\r" << p.ProgressText << " " << p.FileText << " [" << bar << "] " << percent
                << "  " << speedText << "  ETA " << eta << "\033[K" << std::flush;
      FBarShown = true;
    } else if (now - FLastLine >= std::chrono::seconds(1) || p.Percent == 100) {
      FLastLine = now;
      std::cerr << p.ProgressText << " " << p.FileText << ": " << percent << " " << speedText
                << " ETA " << eta << "\n";
    }
  }

  void JobEnded(const TTerminateInfo& info, int) override { Ends[info.JobIndex] = info; }

  bool Stopped = false;
  std::set<int> Started;
  std::map<int, TTerminateInfo> Ends;

 private:
  struct TJobClock {
    bool Started = false;
    std::chrono::steady_clock::time_point Begin;
  };
  static std::string LowerFirst(std::string text) {
    if (!text.empty()) text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
  }
  void EndBar() {
    if (FBarShown) std::cerr << "\n";
    FBarShown = false;
  }

  bool FTerminal;
  bool FBarShown = false;
  bool FClosed = false;
  TConversionRun* FRun = nullptr;
  std::map<int, TJobClock> FClocks;
  std::chrono::steady_clock::time_point FLastLine{};
};

TWmRec TextWatermark(const TCliWatermark& spec) {
  TWmRec mark;
  mark.Kind = 0;
  mark.Text = spec.What;
  mark.TextLeft = spec.X;
  mark.TextTop = spec.Y;
  mark.TextAlpha = spec.Alpha;
  mark.StartTime = spec.Start;
  mark.EndTime = spec.End;
  // The box the text needs in its font, as the watermark editor measures it.
  const QFontMetrics metrics(WatermarkQFont(mark.Font));
  const QRect box =
      metrics.boundingRect(QRect(0, 0, 100000, 100000), 0, QString::fromStdString(mark.Text));
  mark.TextWidth = std::max(1, box.width());
  mark.TextHeight = std::max(1, box.height());
  return mark;
}

TWmRec PictureWatermark(const TCliWatermark& spec) {
  TWmRec mark;
  mark.Kind = 1;
  mark.ImageFile = std::filesystem::absolute(spec.What).string();
  mark.ImageLeft = spec.X;
  mark.ImageTop = spec.Y;
  mark.ImageAlpha = spec.Alpha;
  mark.StartTime = spec.Start;
  mark.EndTime = spec.End;
  return mark;
}

void ValidateTitleChoices(const TConvertArgs& args, const TDVDTitleRow& row,
                          const std::optional<std::pair<int, int>>& chapters,
                          const std::optional<TCliCrop>& crop, int64_t start) {
  const TDVDTitleInfo& info = row.Record.TitleInfo;
  const std::string title = "title " + std::to_string(row.Record.TitleNumber + 1);
  if (chapters && chapters->second > info.ChapterCount)
    throw TUsageError{title + " has chapters 1-" + std::to_string(info.ChapterCount)};
  if (args.Audio) {
    bool found = false;
    for (int i = 0; i < std::clamp(info.AudioCount, 0, 8); ++i)
      found = found || info.Audio[i].StreamId == *args.Audio;
    if (!found) throw TUsageError{title + " has no audio track " + std::to_string(*args.Audio)};
  }
  if (args.Subtitle && *args.Subtitle != 0) {
    bool found = false;
    for (int i = 0; i < std::clamp(info.SubtitleCount, 0, 32); ++i)
      found = found || info.Subtitle[i].StreamId == *args.Subtitle;
    if (!found) throw TUsageError{title + " has no subtitle " + std::to_string(*args.Subtitle)};
  }
  if (crop && (crop->Top + crop->Bottom >= info.Height || crop->Left + crop->Right >= info.Width))
    throw TUsageError{"the crop leaves nothing of " + title + "'s " + std::to_string(info.Width) +
                      "x" + std::to_string(info.Height) + " picture"};
  if (start > 0 && double(start) / 1e6 >= info.Duration)
    throw TUsageError{"--start is past the end of " + title};
}

void ApplyTitleChoices(const TConvertArgs& args, TlvFilesRecord& record,
                       const std::optional<std::pair<int, int>>& chapters,
                       const std::optional<TCliCrop>& crop, int64_t start, int64_t length,
                       const std::vector<std::shared_ptr<TWmRec>>& marks) {
  const TDVDTitleInfo& info = record.TitleInfo;
  if (chapters) {
    record.ChapterFrom = chapters->first;
    record.ChapterTo = chapters->second;
  }
  if (args.Audio) {
    record.AudioStreamId = *args.Audio;
    for (int i = 0; i < std::clamp(info.AudioCount, 0, 8); ++i)
      if (info.Audio[i].StreamId == *args.Audio) record.AudioIndex = i;
  }
  if (args.Subtitle) {
    record.SubtitleStreamId = *args.Subtitle == 0 ? -1 : *args.Subtitle;
    record.SubtitleIndex = -1;
    for (int i = 0; i < std::clamp(info.SubtitleCount, 0, 32); ++i)
      if (info.Subtitle[i].StreamId == *args.Subtitle) record.SubtitleIndex = i;
  }
  if (crop) {
    record.CropTop = crop->Top;
    record.CropBottom = crop->Bottom;
    record.CropLeft = crop->Left;
    record.CropRight = crop->Right;
  }
  record.TrimStart = start;
  record.TrimLength = length;
  if (args.Brightness) record.Brightness = *args.Brightness;
  if (args.Contrast) record.Contrast = *args.Contrast;
  if (args.Saturation) record.Saturation = *args.Saturation;
  if (args.Exposure) record.Exposure = *args.Exposure;
  record.WaterMarks = marks;
}

int RunConvert(const TConvertArgs& args) {
  // Everything the command line says is checked before anything is written.
  std::optional<std::pair<int, int>> chapters;
  if (!args.Chapters.empty()) chapters = ParseCliChapters(args.Chapters);
  std::optional<TCliCrop> crop;
  if (!args.Crop.empty()) crop = ParseCliCrop(args.Crop);
  const int64_t start = args.Start.empty() ? 0 : ParseCliTime(args.Start);
  const int64_t length = args.Length.empty() ? 0 : ParseCliTime(args.Length);
  if (!args.Length.empty() && length <= 0) throw TCliError("--length must be more than 0");
  std::vector<TCliWatermark> textSpecs, imageSpecs;
  for (const auto& text : args.TextMarks) textSpecs.push_back(ParseCliWatermark(text));
  for (const auto& text : args.ImageMarks) imageSpecs.push_back(ParseCliWatermark(text));
  std::map<std::string, std::string> overrides;
  for (const auto& text : args.Settings) {
    auto [key, value] = ParseCliSetting(text);
    overrides[key] = value;
  }
  if (!args.Zoom.empty()) overrides[kParaZoom] = args.Zoom;
  if (args.Format && FormatDisplayName(*args.Format).empty())
    throw TUsageError{"unknown format code " + std::to_string(*args.Format) +
                      " (see dvdswf-cli formats)"};

  // The engine opens "opendvd:" + this path from its own threads; make it independent of
  // the working folder.
  const std::string drivePath = std::filesystem::absolute(args.Source).lexically_normal().string();
  TDiscOpenResult disc = OpenSource(drivePath);
  std::vector<TDVDTitleRow>& rows = disc.Rows;
  for (int title : args.Titles) {
    bool found = false;
    for (const auto& row : rows) found = found || row.Record.TitleNumber + 1 == title;
    if (!found)
      throw TUsageError{"title " + std::to_string(title) + " does not exist on " + args.Source +
                        " (" + std::to_string(rows.size()) + " titles)"};
  }
  for (auto& row : rows) {
    row.Checked = args.Titles.empty() || std::find(args.Titles.begin(), args.Titles.end(),
                                                   row.Record.TitleNumber + 1) != args.Titles.end();
    if (row.Checked) ValidateTitleChoices(args, row, chapters, crop, start);
  }

  // Text watermarks are drawn with Qt's fonts.
  if (!EnsureGuiApplication()) throw std::runtime_error("cannot set up text drawing");
  std::vector<std::shared_ptr<TWmRec>> marks;
  for (const auto& spec : textSpecs) marks.push_back(std::make_shared<TWmRec>(TextWatermark(spec)));
  for (const auto& spec : imageSpecs)
    marks.push_back(std::make_shared<TWmRec>(PictureWatermark(spec)));
  for (auto& row : rows)
    if (row.Checked) ApplyTitleChoices(args, row.Record, chapters, crop, start, length, marks);

  const auto global = CreateGlobalObject();
  // As the main window does when it is shown: a stored output folder that takes no files
  // is replaced by the default one.
  if (args.Out.empty()) CheckFolderSetting(*global, kKeyOutPutDir);

  // Engine errors (and the effects' per-frame errors, once each) go to stderr.
  std::set<std::string> logged;
  GlobalLogger().OnLog = [&logged](const void*, uint32_t, TLogLevel level, const std::string& msg) {
    if (level > llError || !logged.insert(msg).second) return;
    std::cerr << "\ndvdswf-cli: " << msg << (msg.empty() || msg.back() != '\n' ? "\n" : "");
  };

  TCliHost host;
  TConversionRun run(*global, host);
  run.FormatCodeOverride = args.Format;
  run.ParamOverrides = overrides;
  run.OutputDirOverride = args.Out;
  InstallInterruptHandler();
  const TStartResult result = run.StartConversion(drivePath, rows);
  GlobalLogger().OnLog = nullptr;
  switch (result) {
    case srRan:
      break;
    case srNoLibraries:
      std::cerr << "dvdswf-cli: cannot load the conversion libraries: "
                << run.Converter().LastError() << "\n";
      return kExitFailed;
    case srNoPlugIn:
      std::cerr << "dvdswf-cli: cannot load the DVD plug-in: " << DVDPlugInError() << "\n";
      return kExitFailed;
    case srNoRows:
      return kExitUsage;
    case srAbandoned:
      std::cerr << "dvdswf-cli: cannot set up the conversion: " << run.LastError() << "\n";
      return kExitFailed;
  }

  int status = 0;
  const auto& files = run.OutputFiles();
  for (size_t job = 0; job < files.size(); ++job) {
    const auto end = host.Ends.find(int(job));
    const std::string caption = rows[size_t(run.JobRows()[job])].Caption;
    if (end == host.Ends.end()) {
      std::cerr << "dvdswf-cli: " << caption << ": no result\n";
      status = std::max(status, kExitFailed);
    } else if (end->second.Failed) {
      std::cerr << "dvdswf-cli: " << caption << " failed: " << end->second.ErrorMessage << "\n";
      status = std::max(status, kExitFailed);
    } else if (!end->second.Finished) {
      // Stopped: what was written so far is a playable file.
      if (host.Started.count(int(job)) && std::filesystem::exists(files[job]))
        std::cout << files[job] << std::endl;
      std::cerr << "dvdswf-cli: " << caption << " stopped\n";
      status = status == kExitFailed ? status : kExitStopped;
    } else {
      std::cout << files[job] << std::endl;
    }
  }
  if (host.Stopped && status == 0) status = kExitStopped;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Text watermarks need a QGuiApplication, which needs no display this way.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Qt's notes about the session (no runtime folder, fonts) are no concern of a converter.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
      std::cerr << "dvdswf-cli: " << text.toStdString() << "\n";
  });

  CLI::App app{"dvdswf-cli: list a DVD's titles, list the output formats, convert titles.",
               "dvdswf-cli"};
  app.require_subcommand(1);
  app.footer(
      "SOURCE is a DVD device (/dev/sr0), an ISO image or a folder holding VIDEO_TS.\n"
      "Settings and the format catalogue live in $DVDSWF_CONFIG_DIR, else\n"
      "$XDG_CONFIG_HOME/dvdswf, else ~/.config/dvdswf.\n"
      "Exit status: 0 done, 1 a conversion failed, 2 bad source, title, format or option,\n"
      "130 stopped with Ctrl-C.");

  std::string source;
  bool json = false;
  auto* titles = app.add_subcommand("titles", "List the titles of a DVD.");
  titles->add_option("SOURCE", source, "DVD device, ISO image or VIDEO_TS folder")->required();
  titles->add_flag("--json", json,
                   "Print a JSON array of {title, duration, chapters, width, height, aspect, "
                   "video_format, audio, subtitles}");

  auto* formats = app.add_subcommand("formats", "List the output formats.");
  formats->add_flag("--json", json, "Print a JSON array of {code, group, name, ext}");

  TConvertArgs args;
  auto* convert = app.add_subcommand(
      "convert",
      "Convert titles of a DVD with the chosen output format, one after another. Prints "
      "each output file's path when done.");
  convert->add_option("SOURCE", args.Source, "DVD device, ISO image or VIDEO_TS folder")
      ->required();
  convert->add_option("--title", args.Titles, "Title number(s) from 1 (default: every title)")
      ->check(CLI::PositiveNumber);
  convert->add_option("--format", args.Format,
                      "Format code (see 'formats'; default: the stored \"FormatCode\")");
  convert->add_option("--chapters", args.Chapters, "Chapter range A-B (default: all)");
  convert->add_option("--audio", args.Audio, "Audio track id, as 'titles' lists it (128, ...)");
  convert->add_option("--subtitle", args.Subtitle,
                      "Subtitle id, as 'titles' lists it (32, ...); 0 for none");
  convert->add_option("--start", args.Start, "Trim start T (seconds or H:MM:SS)");
  convert->add_option("--length", args.Length, "Trim length T (seconds or H:MM:SS)");
  convert->add_option("--crop", args.Crop, "Crop TOP,BOTTOM,LEFT,RIGHT in source pixels");
  convert->add_option("--zoom", args.Zoom, "Fit into the format's size (this run only)")
      ->check(CLI::IsMember({"full", "lbox", "pan", "center"}));
  convert->add_option("--brightness", args.Brightness, "Brightness 0..512 (256 neutral)")
      ->check(CLI::Range(0, 512));
  convert->add_option("--contrast", args.Contrast, "Contrast -100..100 (0 neutral)")
      ->check(CLI::Range(-100, 100));
  convert->add_option("--saturation", args.Saturation, "Saturation 0..512 (256 neutral)")
      ->check(CLI::Range(0, 512));
  convert->add_option("--exposure", args.Exposure, "Exposure -255..512 (0 neutral)")
      ->check(CLI::Range(-255, 512));
  convert->add_option("--text-watermark", args.TextMarks,
                      "\"TEXT@X,Y[,ALPHA[,START-END]]\": text at X,Y (source pixels), opacity "
                      "0..255, shown from START to END second");
  convert->add_option("--image-watermark", args.ImageMarks,
                      "\"FILE.bmp@X,Y[,ALPHA[,START-END]]\": a BMP picture, likewise");
  convert->add_option("--set", args.Settings,
                      "KEY=VALUE: the format's user key for this run only (paraVideoSize, "
                      "paraVideoBitRate, paraFrameRate, paraZoom, paraVideoEncoder, "
                      "paraSampleRate, paraAudioBitRate, paraChannel, paraVolume, "
                      "paraAudioEncoder)");
  convert->add_option("--out", args.Out,
                      "Output folder for this run (default: the stored \"OutPutDir\")");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string text = e.what();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::cerr << "dvdswf-cli: " << text << "\n";
    return kExitUsage;
  }

  try {
    if (*titles) return RunTitles(source, json);
    if (*formats) return RunFormats(json);
    return RunConvert(args);
  } catch (const TUsageError& e) {
    std::cerr << "dvdswf-cli: " << e.Text << "\n";
    return kExitUsage;
  } catch (const TCliError& e) {
    std::cerr << "dvdswf-cli: " << e.what() << "\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "dvdswf-cli: " << e.what() << "\n";
    return kExitFailed;
  }
}
