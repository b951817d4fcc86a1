// dvdswf-cli: the DVD source, the format catalogue and the conversion run from a terminal.
//
// Exit status: 0 done; 1 a conversion (or the set-up of one) failed; 2 a bad source,
// title, format code, option or setting (one line on standard error, nothing written, the
// settings folder unchanged); 130 stopped by a signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT).
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
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
#include "app/core/format_params.h"
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

// A reason the user has to fix on the command line (or in the settings).
struct TUsageError {
  std::string Text;
};

// ---- signals ---------------------------------------------------------------------------
//
// SIGINT, SIGTERM, SIGHUP and SIGQUIT all stop the program; what a stop does depends on
// how far the conversion got:
// - during the set-up (options, disc, settings, naming the outputs) it ends at once, and
//   the output files claimed so far are removed;
// - while jobs run, the first signal asks the run to stop cleanly (what the running job
//   wrote stays playable, titles not started are not converted); a second one, or
//   SIGQUIT, aborts at once and removes every output that is not complete;
// - once the run has ended, signals change nothing.
// The handler uses only async-signal-safe calls; the claimed names it removes are published
// by the main thread (pointer first, then the count) and never freed.

enum TPhase : int { phSetUp, phRun, phDone };
std::atomic<int> gPhase{phSetUp};
std::atomic<int> gSignals{0};

constexpr int kMaxClaims = 4096;
std::atomic<const char*> gClaimPath[kMaxClaims];
std::atomic<bool> gClaimLive[kMaxClaims];
std::atomic<int> gClaimCount{0};

void WriteStderr(const char* text) {
  const ssize_t ignored = write(STDERR_FILENO, text, strlen(text));
  (void)ignored;
}

void OnSignal(int signal) {
  const int phase = gPhase.load();
  if (phase == phDone) return;
  const int count = gSignals.fetch_add(1) + 1;
  if (phase == phRun && signal != SIGQUIT && count == 1) return;  // the run loop stops it
  const int claims = std::min(gClaimCount.load(), kMaxClaims);
  for (int i = 0; i < claims; ++i)
    if (const char* path = gClaimPath[i].load(); path && gClaimLive[i].load()) unlink(path);
  WriteStderr(phase == phSetUp ? "dvdswf-cli: stopped before the conversion began\n"
                               : "dvdswf-cli: aborted; unfinished output files were removed\n");
  _exit(kExitStopped);
}

void InstallSignalHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal, &action, nullptr);
}

// Holds the stop signals back while a settings file is rewritten, so that a stop never
// leaves a temporary file behind; a signal that came meanwhile is handled at the end.
class TSignalsHeld {
 public:
  TSignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, &FOld);
  }
  ~TSignalsHeld() { pthread_sigmask(SIG_SETMASK, &FOld, nullptr); }
  TSignalsHeld(const TSignalsHeld&) = delete;
  TSignalsHeld& operator=(const TSignalsHeld&) = delete;

 private:
  sigset_t FOld;
};

// The output names this process claimed, for the signal handler. Main thread.
class TClaims {
 public:
  void Add(const std::string& path) {
    const int index = gClaimCount.load();
    if (index >= kMaxClaims) return;
    FPaths.push_back(path);  // a deque: earlier strings stay where they are
    gClaimLive[index].store(true);
    gClaimPath[index].store(FPaths.back().c_str());
    gClaimCount.store(index + 1);
  }
  // The file's fate is settled (written, kept, or removed by the run).
  void Settle(const std::string& path) {
    for (size_t i = 0; i < FPaths.size(); ++i)
      if (FPaths[i] == path) gClaimLive[i].store(false);
  }

 private:
  std::deque<std::string> FPaths;
};

// ---- numbers and texts -----------------------------------------------------------------

// A whole decimal number (an optional sign, then digits; no hexadecimal, no blanks).
// More digits than any range here needs read as the largest (or smallest) number, so that
// they are refused as out of range.
std::optional<long long> DecimalNumber(const std::string& text) {
  const bool negative = !text.empty() && text[0] == '-';
  const size_t i = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  for (size_t j = i; j < text.size(); ++j)
    if (text[j] < '0' || text[j] > '9') return std::nullopt;
  if (text.size() - i > 18) return negative ? LLONG_MIN : LLONG_MAX;
  return std::stoll(text);
}

int WholeNumberOption(const std::string& option, const std::string& text, long long low,
                      long long high) {
  const auto value = DecimalNumber(text);
  if (!value) throw TUsageError{option + " \"" + text + "\" is not a whole number"};
  if (*value < low || *value > high)
    throw TUsageError{option + " " + text + " is out of range " + std::to_string(low) + ".." +
                      std::to_string(high)};
  return int(*value);
}

std::string Language(const char* text) {
  return std::string(text, strnlen(text, 64));
}

std::string FormatClock(int64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", (long long)(seconds / 3600),
                (long long)(seconds / 60 % 60), (long long)(seconds % 60));
  return text;
}

std::string FormatSecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

// Standard output could not take the listing (a full disk, a closed pipe).
int ListingWritten() {
  std::cout.flush();
  if (std::cout) return 0;
  const int error = errno;
  std::cerr << "dvdswf-cli: cannot write to standard output"
            << (error ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
  return kExitFailed;
}

// ---- the disc --------------------------------------------------------------------------

// Keeps the messages of opening a disc: the reason a disc cannot be used, and each
// unreadable title's.
class TCliDiscReport : public TDiscOpenerReport {
 public:
  void ShowMessage(const TDiscMessage& message) override {
    std::string line = message.Text;
    if (!message.Detail.empty()) line += " (" + message.Detail + ")";
    if (message.Kind == dmInvalidTitle)
      Invalid.push_back(line);
    else if (First.empty())
      First = line;
  }
  std::string First;
  std::vector<std::string> Invalid;  // "Title #2 is invalid (why)"
};

struct TSource {
  TDiscOpenResult Disc;
  std::vector<std::string> Invalid;
};

TSource OpenSource(const std::string& source) {
  if (source.empty()) throw TUsageError{"SOURCE is empty"};
  struct stat st {};
  if (stat(source.c_str(), &st) != 0) throw TUsageError{source + ": " + std::strerror(errno)};
  if (!LoadDVDPlugInOnDemand())
    throw std::runtime_error("cannot load the DVD plug-in: " + DVDPlugInError());
  TCliDiscReport report;
  TSource result{OpenDisc(source, report), report.Invalid};
  if (result.Disc.Rows.empty()) {
    // One line: why the disc gives nothing (the first unreadable title says it best).
    std::string why = report.First;
    if (why.empty() && !report.Invalid.empty())
      why = "no readable DVD titles: " + report.Invalid.front();
    throw TUsageError{source + ": " + (why.empty() ? "no DVD titles" : why)};
  }
  return result;
}

// ---- titles ----------------------------------------------------------------------------

int RunTitles(const std::string& source, bool json) {
  const TSource opened = OpenSource(source);
  for (const std::string& line : opened.Invalid)
    std::cerr << "dvdswf-cli: warning: " << line << "\n";
  nlohmann::json list = nlohmann::json::array();
  for (const TDVDTitleRow& row : opened.Disc.Rows) {
    const TDVDTitleInfo& info = row.Record.TitleInfo;
    nlohmann::json audio = nlohmann::json::array(), subtitles = nlohmann::json::array();
    std::string audioText, subtitleText;
    for (int i = 0; i < std::clamp(info.AudioCount, 0, kDVDMaxAudio); ++i) {
      const auto& a = info.Audio[i];
      audio.push_back({{"id", a.StreamId}, {"lang", Language(a.Language)}});
      audioText +=
          (audioText.empty() ? "" : ", ") + std::to_string(a.StreamId) + " " + Language(a.Language);
    }
    for (int i = 0; i < std::clamp(info.SubtitleCount, 0, kDVDMaxSubtitles); ++i) {
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
  return ListingWritten();
}

// ---- formats ---------------------------------------------------------------------------

int RunFormats(bool json) {
  const auto global = CreateGlobalObject(false);
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
  return ListingWritten();
}

// ---- convert ---------------------------------------------------------------------------

// The options as typed; numbers are read by RunConvert, so that every refusal has the same
// form.
struct TConvertArgs {
  std::string Source;
  std::vector<std::string> Titles;
  std::string Format, Audio, Subtitle, Brightness, Contrast, Saturation, Exposure;
  std::string Chapters, Start, Length, Crop, Zoom, Out;
  std::vector<std::string> TextMarks, ImageMarks, Settings;
  bool Verbose = false;
};

// The values RunConvert read from TConvertArgs.
struct TChoices {
  std::vector<int> Titles;
  std::optional<int> Format, Audio, Subtitle, Brightness, Contrast, Saturation, Exposure;
  std::optional<std::pair<int, int>> Chapters;
  std::optional<TCliCrop> Crop;
  int64_t Start = 0, Length = 0;
};

// The progress window of the command line: a bar on a terminal, plain lines otherwise; the
// library's and the engine's messages; the names the run claims.
class TCliHost : public TConversionHost {
 public:
  explicit TCliHost(bool verbose) : FTerminal(isatty(STDERR_FILENO)), FVerbose(verbose) {}

  void ShowWarning(const std::string& text, const std::string& caption) override {
    EndBar();
    std::cerr << "dvdswf-cli: " << LowerFirst(caption) << ": " << text << "\n";
  }
  bool AskYesNo(const std::string& text, const std::string&) override {
    EndBar();
    std::cerr << "dvdswf-cli: " << text << " Yes\n";
    return true;
  }

  void OutputClaimed(const std::string& path) override { Claims.Add(path); }
  void OutputReleased(const std::string& path) override { Claims.Settle(path); }

  void RunProgressModal(TConversionRun& run) override {
    FRun = &run;
    FClosed = false;
    gPhase.store(phRun);
    run.StartTasks();
    bool stopping = false;
    while (!FClosed) {
      WaitForMainThreadCalls(std::chrono::milliseconds(100));
      if (gSignals.load() > 0 && !stopping) {
        stopping = true;
        Stopped = true;
        EndBar();
        std::cerr << "dvdswf-cli: stopping (press Ctrl-C again to abort)\n";
        run.Stop();
      }
    }
    gPhase.store(phDone);
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
    FLast = p;
    const double wall = std::chrono::duration<double>(now - clock.Begin).count();
    // Until a second has passed the speed is a guess; none is shown.
    clock.Speed = wall >= 1 && p.OutputTime > 0 ? double(p.OutputTime) / 1e6 / wall : 0;
    if (FTerminal || now - FLastLine >= std::chrono::seconds(1) || p.Percent == 100) {
      FLastLine = now;
      Draw(p, clock.Speed);
    }
  }

  void JobEnded(const TTerminateInfo& info, int) override {
    Ends[info.JobIndex] = info;
    if (FRun && info.JobIndex < int(FRun->OutputFiles().size()))
      Claims.Settle(FRun->OutputFiles()[size_t(info.JobIndex)]);
    // A finished job's progress ends at 100 %, whatever the last report said.
    const bool nothing = FRun && info.JobIndex < int(FRun->OutputStates().size()) &&
                         FRun->OutputStates()[size_t(info.JobIndex)] == osNothing;
    if (info.Finished && !nothing && FLast.JobIndex == info.JobIndex && FLast.Percent != 100) {
      TJobProgress done = FLast;
      done.Percent = 100;
      Draw(done, FClocks[info.JobIndex].Speed);
    }
    EndBar();
  }

  // The logger's handler. Library lines are the decoders' and muxers' chatter: shown with
  // --verbose; otherwise the errors the jobs' threads reported are kept and shown only when
  // a job fails. The engine's own errors are shown once each; a job's fatal error is
  // reported with its end instead.
  void Log(const void* sender, uint32_t thread, TLogLevel level, const std::string& message) {
    std::string text = message;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty()) return;
    const bool library = sender == &GlobalLogger();
    if (FVerbose) {
      if (level <= llWarning) Print(text);
      return;
    }
    if (library) {
      if (level <= llError && thread != CurrentThreadId() && Chatter.size() < 20 &&
          std::find(Chatter.begin(), Chatter.end(), text) == Chatter.end())
        Chatter.push_back(text);
      return;
    }
    if (level == llQuiet || level > llError || !FPrinted.insert(text).second) return;
    Print(text);
  }

  void Print(const std::string& text) {
    EndBar();
    std::cerr << "dvdswf-cli: " << text << "\n";
  }

  bool Stopped = false;
  std::map<int, TTerminateInfo> Ends;
  std::vector<std::string> Chatter;
  TClaims Claims;

 private:
  struct TJobClock {
    bool Started = false;
    std::chrono::steady_clock::time_point Begin;
    double Speed = 0;  // 0: not known yet
  };
  static std::string LowerFirst(std::string text) {
    if (!text.empty()) text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
  }
  void Draw(const TJobProgress& p, double speed) {
    std::string speedText = "--x";
    std::string eta = "--:--";
    if (speed > 0) {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%.1fx", speed);
      speedText = buffer;
      if (p.ExpectedDuration > 0)
        eta = FormatClock(
            int64_t(std::max<double>(0, double(p.ExpectedDuration - p.OutputTime) / 1e6 / speed)));
    }
    if (p.Percent == 100) eta = "0:00:00";
    const std::string percent = p.Percent >= 0 ? std::to_string(p.Percent) + "%" : "?%";
    if (FTerminal) {
      constexpr int kWidth = 30;
      const int filled = p.Percent >= 0 ? p.Percent * kWidth / 100 : 0;
      std::string bar(size_t(filled), '#');
      bar.resize(kWidth, '-');
      std::cerr << "\r" << p.ProgressText << " " << p.FileText << " [" << bar << "] " << percent
                << "  " << speedText << "  ETA " << eta << "\033[K" << std::flush;
      FBarShown = true;
    } else {
      std::cerr << p.ProgressText << " " << p.FileText << ": " << percent << " " << speedText
                << " ETA " << eta << "\n";
    }
  }
  void EndBar() {
    if (FBarShown) std::cerr << "\n";
    FBarShown = false;
  }

  bool FTerminal;
  bool FVerbose;
  bool FBarShown = false;
  bool FClosed = false;
  TConversionRun* FRun = nullptr;
  TJobProgress FLast;
  std::map<int, TJobClock> FClocks;
  std::set<std::string> FPrinted;
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

// The playing time of the part of a title a job converts (its chapters), in seconds.
double PartSeconds(const TDVDTitleRow& row, const std::optional<std::pair<int, int>>& chapters) {
  const TDVDTitleInfo& info = row.Record.TitleInfo;
  const int from = chapters ? chapters->first : 1;
  const int to = chapters ? chapters->second : info.ChapterCount;
  return GetDVDChapterSeconds(row.Record.TitleNumber, from, to).value_or(info.Duration);
}

// "title 2", "title 2, chapter 3", "title 2, chapters 1-3".
std::string PartName(const TDVDTitleRow& row, const std::optional<std::pair<int, int>>& chapters) {
  std::string what = "title " + std::to_string(row.Record.TitleNumber + 1);
  if (chapters)
    what += chapters->first == chapters->second ? ", chapter " + std::to_string(chapters->first)
                                                : ", chapters " + std::to_string(chapters->first) +
                                                      "-" + std::to_string(chapters->second);
  return what;
}

void ValidateTitleChoices(const TConvertArgs& args, const TChoices& choices,
                          const TDVDTitleRow& row) {
  const TDVDTitleInfo& info = row.Record.TitleInfo;
  const std::string title = "title " + std::to_string(row.Record.TitleNumber + 1);
  if (choices.Chapters && choices.Chapters->second > info.ChapterCount)
    throw TUsageError{title + " has chapters 1-" + std::to_string(info.ChapterCount)};
  if (choices.Audio) {
    bool found = false;
    for (int i = 0; i < std::clamp(info.AudioCount, 0, kDVDMaxAudio); ++i)
      found = found || info.Audio[i].StreamId == *choices.Audio;
    if (!found) throw TUsageError{title + " has no audio track " + std::to_string(*choices.Audio)};
  }
  if (choices.Subtitle && *choices.Subtitle != 0) {
    bool found = false;
    for (int i = 0; i < std::clamp(info.SubtitleCount, 0, kDVDMaxSubtitles); ++i)
      found = found || info.Subtitle[i].StreamId == *choices.Subtitle;
    if (!found) throw TUsageError{title + " has no subtitle " + std::to_string(*choices.Subtitle)};
  }
  const auto& crop = choices.Crop;
  if (crop && (crop->Top + crop->Bottom >= info.Height || crop->Left + crop->Right >= info.Width))
    throw TUsageError{"the crop leaves nothing of " + title + "'s " + std::to_string(info.Width) +
                      "x" + std::to_string(info.Height) + " picture"};
  // At least one picture must remain after the start.
  if (choices.Start > 0) {
    const double part = PartSeconds(row, choices.Chapters);
    const double picture = info.Height == 576 ? 0.04 : 1001.0 / 30000;
    if (double(choices.Start) / 1e6 + picture > part + 1e-6)
      throw TUsageError{"--start " + args.Start + " leaves no picture of " +
                        PartName(row, choices.Chapters) + " (" + FormatSecondsText(part) +
                        " long)"};
  }
}

void ApplyTitleChoices(const TChoices& choices, TDVDTitleRow& row,
                       const std::vector<std::shared_ptr<TWmRec>>& marks) {
  TlvFilesRecord& record = row.Record;
  const TDVDTitleInfo& info = record.TitleInfo;
  if (choices.Chapters) {
    record.ChapterFrom = choices.Chapters->first;
    record.ChapterTo = choices.Chapters->second;
  }
  if (choices.Audio) {
    record.AudioStreamId = *choices.Audio;
    for (int i = 0; i < std::clamp(info.AudioCount, 0, kDVDMaxAudio); ++i)
      if (info.Audio[i].StreamId == *choices.Audio) record.AudioIndex = i;
  }
  if (choices.Subtitle) {
    record.SubtitleStreamId = *choices.Subtitle == 0 ? -1 : *choices.Subtitle;
    record.SubtitleIndex = -1;
    for (int i = 0; i < std::clamp(info.SubtitleCount, 0, kDVDMaxSubtitles); ++i)
      if (info.Subtitle[i].StreamId == *choices.Subtitle) record.SubtitleIndex = i;
  }
  if (choices.Crop) {
    record.CropTop = choices.Crop->Top;
    record.CropBottom = choices.Crop->Bottom;
    record.CropLeft = choices.Crop->Left;
    record.CropRight = choices.Crop->Right;
  }
  record.TrimStart = choices.Start;
  // A length beyond the part's end converts to the end; the progress then knows the end.
  int64_t length = choices.Length;
  if (length > 0) {
    const int64_t rest = int64_t(PartSeconds(row, choices.Chapters) * 1e6) - choices.Start;
    if (rest > 0 && rest < length) length = rest;
  }
  record.TrimLength = length;
  if (choices.Brightness) record.Brightness = *choices.Brightness;
  if (choices.Contrast) record.Contrast = *choices.Contrast;
  if (choices.Saturation) record.Saturation = *choices.Saturation;
  if (choices.Exposure) record.Exposure = *choices.Exposure;
  record.WaterMarks = marks;
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

// Where a format parameter's value came from, for a refusal that names it.
std::string ParamOrigin(const TGlobalObject& global, const std::map<std::string, std::string>& set,
                        int code, const std::string& key) {
  if (auto it = set.find(key); it != set.end()) return "--set " + key + "=" + it->second;
  const std::string section = FormatSectionName(code);
  if (global.Settings().Ini().ValueExists(section, key))
    return "\"" + key + "\" in [" + section + "] of " + global.SettingsIniPath();
  const TFormatCatalogue catalogue(global.FormatIniPath());
  return "the default \"" + key + "\" of format " + std::to_string(code) + " in " +
         (catalogue.FileHasNoSection(code) ? std::string("the shipped catalogue")
                                           : global.FormatIniPath());
}

// Every check that needs the settings, before anything is written.
void ValidateSettings(const TGlobalObject& global, const TConversionRun& run,
                      const std::map<std::string, std::string>& set) {
  // A file of the wrong kind (a folder, a FIFO, a link to a device) is the user's to fix. A
  // folder that cannot hold the files (a plain file in its place) reads as empty and takes no
  // writes: the run goes on with the defaults and says so once it is accepted.
  for (const std::string& path : {global.SettingsIniPath(), global.FormatIniPath()}) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) continue;
    if (const std::string problem = IniFileProblem(path); !problem.empty())
      throw TUsageError{path + ": " + problem};
  }
  const TFormatCatalogue catalogue(global.FormatIniPath());
  const int code = run.EffectiveFormatCode();
  if (!catalogue.Knows(code)) {
    if (run.FormatCodeOverride)
      throw TUsageError{"unknown format code " + std::to_string(code) +
                        " (see dvdswf-cli formats)"};
    throw TUsageError{"\"" + std::string(kKeyFormatCode) + "\" is " + std::to_string(code) +
                      " in " + global.SettingsIniPath() +
                      ", a format the catalogue does not have (see dvdswf-cli formats)"};
  }
  if (const auto problem = FindUnworkableParam(run.EffectiveParams(code), catalogue.Format(code)))
    throw TUsageError{ParamOrigin(global, set, code, problem->Key) + ": " + problem->Text};
}

// Once the run is accepted: the catalogue installed or repaired, a stored output folder that
// takes no files replaced (as the main window does when it opens). A folder that cannot
// be written to is no reason to refuse the run; it is said once.
void PrepareSettingsFolder(const TGlobalObject& global, bool outputDirGiven, TCliHost& host) {
  const TSignalsHeld held;
  std::string unsaved;
  try {
    InstallFormatCatalogue(global.FormatIniPath());
    RepairFormatCatalogue(global.FormatIniPath());
  } catch (const EIniFileException& e) {
    unsaved = e.what();
  }
  if (!outputDirGiven) {
    try {
      CheckFolderSetting(global, kKeyOutPutDir);
    } catch (const EIniFileException& e) {
      if (unsaved.empty()) unsaved = e.what();
    }
  }
  if (!unsaved.empty())
    host.Print(
        "warning: the settings folder takes no changes; the shipped catalogue and "
        "the defaults are used (" +
        unsaved + ")");
}

std::string Describe(const TTerminateInfo& end, TOutputState state, const std::string& caption) {
  if (end.Failed) {
    std::string line = caption + " failed: " + end.ErrorMessage;
    if (state == osKept) return line + " (what was written up to then plays)";
    if (state == osRemoved) return line + " (the unfinished output was removed)";
    return line;
  }
  if (state == osRemoved) return caption + " stopped before anything playable was written";
  return caption + " stopped";
}

int RunConvert(const TConvertArgs& args) {
  // Signals end the set-up at once from here on; nothing has been written yet.
  InstallSignalHandlers();

  // Everything the command line says is checked before anything is written.
  const TChoices choices = ReadChoices(args);
  std::vector<TCliWatermark> textSpecs, imageSpecs;
  for (const auto& text : args.TextMarks) textSpecs.push_back(ParseCliWatermark(text));
  for (const auto& text : args.ImageMarks) {
    TCliWatermark spec = ParseCliWatermark(text);
    if (const std::string problem = WatermarkPictureProblem(spec.What); !problem.empty())
      throw TUsageError{"--image-watermark " + spec.What + ": " + problem};
    imageSpecs.push_back(std::move(spec));
  }
  std::map<std::string, std::string> overrides;
  for (const auto& text : args.Settings) {
    auto [key, value] = ParseCliSetting(text);
    overrides[key] = value;
  }
  if (!args.Zoom.empty()) {
    if (std::find(std::begin(kZoomValues), std::end(kZoomValues), args.Zoom) ==
        std::end(kZoomValues))
      throw TUsageError{"--zoom \"" + args.Zoom + "\" is not one of full, lbox, pan, center"};
    overrides[kParaZoom] = args.Zoom;
  }

  // The engine opens "opendvd:" + this path from its own threads; make it independent of
  // the working folder.
  if (args.Source.empty()) throw TUsageError{"SOURCE is empty"};
  const std::string drivePath = std::filesystem::absolute(args.Source).lexically_normal().string();
  TSource opened = OpenSource(drivePath);
  std::vector<TDVDTitleRow>& rows = opened.Disc.Rows;
  for (int title : choices.Titles) {
    bool found = false;
    for (const auto& row : rows) found = found || row.Record.TitleNumber + 1 == title;
    if (found) continue;
    const std::string prefix = "Title #" + std::to_string(title) + " ";
    for (const std::string& line : opened.Invalid)
      if (line.rfind(prefix, 0) == 0)
        throw TUsageError{"title " + std::to_string(title) + " cannot be read: " + line};
    throw TUsageError{"title " + std::to_string(title) + " does not exist on " + args.Source +
                      " (" + std::to_string(rows.size() + opened.Invalid.size()) + " titles)"};
  }
  for (auto& row : rows) {
    row.Checked =
        choices.Titles.empty() || std::find(choices.Titles.begin(), choices.Titles.end(),
                                            row.Record.TitleNumber + 1) != choices.Titles.end();
    if (row.Checked) ValidateTitleChoices(args, choices, row);
  }

  const auto global = CreateGlobalObject(false);
  TCliHost host(args.Verbose);
  TConversionRun run(*global, host);
  run.FormatCodeOverride = choices.Format;
  run.ParamOverrides = overrides;
  run.OutputDirOverride = args.Out;
  ValidateSettings(*global, run, overrides);

  // Text watermarks are drawn with Qt's fonts.
  if (!EnsureGuiApplication()) throw std::runtime_error("cannot set up text drawing");
  std::vector<std::shared_ptr<TWmRec>> marks;
  for (const auto& spec : textSpecs) marks.push_back(std::make_shared<TWmRec>(TextWatermark(spec)));
  for (const auto& spec : imageSpecs)
    marks.push_back(std::make_shared<TWmRec>(PictureWatermark(spec)));
  for (auto& row : rows)
    if (row.Checked) ApplyTitleChoices(choices, row, marks);
  // A start inside the last group of pictures leaves none to decode, although its time lies
  // before the end.
  const bool pictures =
      run.EffectiveParams(run.EffectiveFormatCode()).VideoEncoder.find_first_not_of(" \t") !=
      std::string::npos;
  if (choices.Start > 0 && pictures)
    for (const auto& row : rows)
      if (row.Checked && !TConversionRun::StartLeavesAPicture(drivePath, row.Record,
                                                              PartSeconds(row, choices.Chapters)))
        throw TUsageError{"--start " + args.Start + " leaves no picture of " +
                          PartName(row, choices.Chapters) +
                          ": none decodes from there to its end (" +
                          FormatSecondsText(PartSeconds(row, choices.Chapters)) + ")"};

  // The run is accepted: from here on the settings folder may change.
  if (choices.Titles.empty())
    for (const std::string& line : opened.Invalid) host.Print("warning: " + line);
  PrepareSettingsFolder(*global, !args.Out.empty(), host);

  // The logger's handler refers to the host; it goes when this function leaves, however.
  GlobalLogger().OnLog = [&host](const void* sender, uint32_t thread, TLogLevel level,
                                 const std::string& message) {
    host.Log(sender, thread, level, message);
  };
  struct TLogHandlerGuard {
    ~TLogHandlerGuard() { GlobalLogger().OnLog = nullptr; }
  } logHandlerGuard;

  const TStartResult result = run.StartConversion(drivePath, rows);
  gPhase.store(phDone);
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
  const auto& states = run.OutputStates();
  bool failed = false;
  for (const auto& [job, end] : host.Ends)
    failed =
        failed || end.Failed || (size_t(job) < states.size() && states[size_t(job)] == osNothing);
  if (failed)
    for (const std::string& line : host.Chatter) host.Print(line);
  for (size_t job = 0; job < files.size(); ++job) {
    const auto end = host.Ends.find(int(job));
    const std::string caption = rows[size_t(run.JobRows()[job])].Caption;
    const TOutputState state = job < states.size() ? states[job] : osPending;
    if (state == osWritten || state == osStopped || state == osKept)
      std::cout << files[job] << std::endl;
    if (end == host.Ends.end()) {
      std::cerr << "dvdswf-cli: " << caption << ": no result\n";
      status = kExitFailed;
    } else if (state == osNothing) {
      std::cerr << "dvdswf-cli: " << caption
                << " wrote nothing that plays (a start inside the last second or so of a "
                   "title can leave no picture to decode); the file was removed\n";
      status = kExitFailed;
    } else if (end->second.Failed) {
      std::cerr << "dvdswf-cli: " << Describe(end->second, state, caption) << "\n";
      status = kExitFailed;
    } else if (!end->second.Finished) {
      std::cerr << "dvdswf-cli: " << Describe(end->second, state, caption) << "\n";
      if (status != kExitFailed) status = kExitStopped;
    }
  }
  if (host.Stopped && status == 0) status = kExitStopped;
  return status;
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

int main(int argc, char** argv) {
  // Text watermarks need a QGuiApplication, which needs no display this way.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Qt's notes about the session (no runtime folder, fonts) are no concern of a converter.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
      std::cerr << "dvdswf-cli: " << text.toStdString() << "\n";
  });

  // A closed pipe on standard output is a failure to report (exit 1), not a silent death.
  signal(SIGPIPE, SIG_IGN);
  // Nothing on the command line's path initialises SDL; should anything do so, SDL must not
  // take over the stop signals this program handles itself.
  setenv("SDL_NO_SIGNAL_HANDLERS", "1", 1);

  static const std::set<std::string> kCommands = {"titles", "formats", "convert"};
  if (argc < 2) {
    std::cerr << "dvdswf-cli: a sub-command is needed: titles, formats or convert (see --help)\n";
    return kExitUsage;
  }
  if (argv[1][0] != '-' && !kCommands.count(argv[1])) {
    std::cerr << "dvdswf-cli: unknown sub-command \"" << argv[1]
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
    if (*titles) {
      RefuseEmptyValues(*titles);
      return RunTitles(source, json);
    }
    if (*formats) return RunFormats(json);
    RefuseEmptyValues(*convert);
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
