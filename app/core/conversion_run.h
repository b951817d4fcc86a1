// A conversion run: every checked title of the list becomes one job of the conversion
// component, the jobs run one after another, and their progress, preview pictures and
// ends are turned into what the progress window (or the command line) shows.
//
// The window side is a TConversionHost: the GUI's progress window and the command line each
// implement it. Nothing here touches a widget.
//
// Threads:
// - StartConversion, Stop and the accessors: main thread.
// - The host's calls all come on the main thread: progress and preview pictures are
//   delivered there by the component; job ends, which the component reports on its own
//   delivery thread, are handed to the main thread (CallInMainThread) in the order they
//   arrive, so the host's modal wait must keep serving main-thread calls.
// - The per-frame effects run on the job's worker thread and read the title rows and
//   JobRows, which nobody changes while a run is in progress.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/core/effects.h"
#include "app/core/global_object.h"
#include "app/core/output_options_builder.h"
#include "dvd/disc_opener.h"
#include "engine/component/converter.h"
#include "media/bitmap.h"

class TConversionRun;

// What the progress window shows for one progress report.
struct TJobProgress {
  int JobIndex = -1;
  int Row = -1;  // the list row of the job
  int TaskCount = 0;
  // 0..100; -1 when the title's length is unknown (the engine reports no expected
  // duration), in which case the bar cannot show a share.
  int Percent = -1;
  int64_t OutputTime = 0;         // microseconds written
  int64_t ExpectedDuration = -1;  // microseconds; 0 or less: unknown
  int64_t OutputSize = 0;         // bytes
  std::string CellText;           // the row's "Progress" cell: "45%", empty when unknown
  std::string CurrentTimeText;    // "12 Second"
  std::string LengthText;         // "60 Second", "unknown" when unknown
  std::string FileSizeText;       // "345 kb"
  std::string ProgressText;       // "[1/3]"
  std::string FileText;           // the row's caption, shortened past 50 characters
};

// The progress window's side of a run, and the user's answers during the start.
class TConversionHost : public TJobDialogs {
 public:
  // Shows the progress modally: calls run.StartTasks() and returns only after CloseProgress
  // has been called, serving main-thread calls (ProcessMessages / WaitForMainThreadCalls)
  // while it waits.
  virtual void RunProgressModal(TConversionRun& run) = 0;
  // The final event: ends the modal wait.
  virtual void CloseProgress() = 0;

  virtual void ShowProgress(const TJobProgress& /*progress*/) {}
  // A copy of the picture being converted is in run.PreviewFrame().
  virtual void ShowPreviewFrame(const TBitmap& /*frame*/) {}
  // A job ran to its end and its file plays: its row shows "100%" and the bar 100.
  virtual void JobFinished(int /*jobIndex*/, int /*row*/) {}
  // Every job's end, finished, failed or stopped, before JobFinished.
  virtual void JobEnded(const TTerminateInfo& /*info*/, int /*row*/) {}
  // The final event, before the progress closes: the main window enables its buttons.
  virtual void RunEnded() {}

  // After-run actions, asked when the run's last job has finished.
  virtual bool OpenFolderAfterRun() { return false; }
  virtual bool ShutDownAfterRun() { return false; }
  virtual void OpenOutputFolder(const std::string& /*dir*/) {}
  virtual void ShutDownComputer() {}

  // Whether each job shows the engine's floating preview window.
  virtual bool ShowsPreviewWindow() { return false; }

  // An output name was claimed (its file created empty) for the next job, and a claimed
  // file was given back (removed) because its job was never set up. Main thread.
  virtual void OutputClaimed(const std::string& /*path*/) {}
  virtual void OutputReleased(const std::string& /*path*/) {}
};

// What became of a job's output file.
enum TOutputState {
  osPending,  // the job has not ended
  osWritten,  // finished
  osStopped,  // stopped; what was written plays
  osKept,     // failed, but what was written plays
  osRemoved,  // stopped or failed with nothing playable: removed
  osNothing,  // ran to its end but wrote nothing that plays (no false success): removed
};

// The options the start sequence gives a row's job: the input's (the trim start) and the
// output's (crop, the format's options for the row, the trim length, the custom hook).
// `record.ZoomMode` must already hold the format's zoom mode. Throws what
// BuildOutputOptions throws.
TInputOptions JobInputOptions(const TlvFilesRecord& record);
TOutputOptions JobOutputOptions(const TlvFilesRecord& record, const TFormatParams& params,
                                const std::string& catalogueFormat, const TDVDTitleInfo& info,
                                TJobDialogs& dialogs);

enum TStartResult {
  srRan,          // the progress ran to the final event
  srNoLibraries,  // the converter's libraries could not be loaded (nothing shown)
  srNoPlugIn,     // the DVD plug-in could not be loaded (nothing shown)
  srNoRows,       // no checked row (the warning was shown)
  srAbandoned,    // an input did not open or an output was refused: see LastError()
};

class TConversionRun {
 public:
  TConversionRun(const TGlobalObject& global, TConversionHost& host);
  ~TConversionRun();
  TConversionRun(const TConversionRun&) = delete;
  TConversionRun& operator=(const TConversionRun&) = delete;

  // Per-run choices that are not written to the settings (the command line's --format,
  // --set and --out). Keys of ParamOverrides are the user's "para..." keys, any case.
  std::optional<int> FormatCodeOverride;
  std::map<std::string, std::string> ParamOverrides;
  std::string OutputDirOverride;

  // The Start button: one job per checked row of `rows` (titles of the disc at
  // `drivePath`), then the progress until the final event. The rows must stay unchanged
  // until it returns. Throws what BuildOutputOptions throws for a broken "paraVolume".
  // Output names are claimed as the jobs are made; when the start is abandoned (or throws)
  // the files claimed by it are removed again.
  TStartResult StartConversion(const std::string& drivePath, std::vector<TDVDTitleRow>& rows);

  // For the host: starts the queued jobs, one at a time.
  void StartTasks();
  // Stops the run without waiting (the final event follows as usual). Main thread.
  void Stop();

  // The format parameters a job of this run uses for `code`, per-run changes included.
  TFormatParams EffectiveParams(int code) const;
  int EffectiveFormatCode() const;

  TConverter& Converter() { return *FConverter; }
  // Job index -> list row of the current run.
  const std::vector<int32_t>& JobRows() const { return FJobRows; }
  // Job index -> output file of the current run (kept after the jobs are cleared).
  const std::vector<std::string>& OutputFiles() const { return FOutputFiles; }
  // Job index -> what became of its output file. A job that ends without finishing keeps
  // its file only when the file plays: a stopped job's usually does, a failed job's (a full
  // disk, an encoder that refused its settings) usually does not.
  const std::vector<TOutputState>& OutputStates() const { return FOutputStates; }
  // The component's reason when the start was abandoned.
  const std::string& LastError() const { return FLastError; }
  // The last preview picture of the running job.
  const TBitmap& PreviewFrame() const { return FPreviewFrame; }

  // Whether a written file plays: it opens, and a picture or a sound decodes from it (with
  // `needPicture`, a picture).
  static bool IsPlayableFile(const std::string& path, bool needPicture = false);

  // Whether a conversion of `record` (a title of the disc at `drivePath`) starting at its
  // TrimStart gets a picture: the start is reached the way the engine's start-time seek
  // reaches it (back to a point before it, then decoded from the next key picture on), so a
  // start inside the last group of pictures of the title or chapter range leaves none,
  // although its time lies before the end. True when the title has no picture, when the
  // start lies well before the end, or when the input cannot be read (the run reports
  // that). Sets the plug-in's selection; main thread, no run in progress.
  static bool StartLeavesAPicture(const std::string& drivePath, const TlvFilesRecord& record,
                                  double partSeconds);

  // The text of the progress labels for one report (also for tests).
  static TJobProgress DescribeProgress(const TProgressInfo& info, int row, int taskCount,
                                       const std::string& caption);

 private:
  void HandleProgress(const TProgressInfo& info);
  void HandlePreviewBitmap(const TPreviewInfo& info);
  void HandleTermination(const TTerminateInfo& info);
  std::string OutputFolder() const;

  const TGlobalObject& FGlobal;
  TConversionHost& FHost;
  std::vector<TDVDTitleRow>* FRows = nullptr;
  std::vector<int32_t> FJobRows;
  std::vector<std::string> FOutputFiles;
  std::vector<TOutputState> FOutputStates;
  std::vector<bool> FOutputHasVideo;  // job index -> the format writes pictures
  std::string FLastError;
  TBitmap FPreviewFrame;
  TConversionHookCache FHookCache;
  std::unique_ptr<TConverter> FConverter;
};
