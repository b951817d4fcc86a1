#include "engine/tests/disc_jobs.h"

#include <cstdlib>
#include <filesystem>

#include "app/core/format_catalogue.h"
#include "dvd/dvd_plugin_loader.h"
#include "media/main_thread.h"

namespace {

// The progress window as the command line has it, without printing: answers Yes, serves
// main-thread calls until the final event and keeps every job's end.
class TQuietHost : public TConversionHost {
 public:
  void ShowWarning(const std::string& text, const std::string& caption) override {
    ADD_FAILURE() << caption << ": " << text;
  }
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
  void RunProgressModal(TConversionRun& run) override {
    Closed = false;
    run.StartTasks();
    while (!Closed) WaitForMainThreadCalls(std::chrono::milliseconds(50));
  }
  void CloseProgress() override { Closed = true; }
  void JobEnded(const TTerminateInfo& info, int) override { Ends.push_back(info); }

  bool Closed = false;
  std::vector<TTerminateInfo> Ends;
};

class TNullReport : public TDiscOpenerReport {
 public:
  void ShowMessage(const TDiscMessage&) override {}
};

}  // namespace

bool WholeTables() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  constexpr bool kSanitized = true;
#else
  constexpr bool kSanitized = false;
#endif
#else
  constexpr bool kSanitized = false;
#endif
  const char* full = std::getenv("DVDSWF_FULL_TABLES");
  return !kSanitized || (full && std::string(full) == "1");
}

bool FFmpegDecodesCleanly(const std::string& path, std::string* errors) {
  int status = 0;
  const std::string said =
      RunCommand("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1", &status);
  if (errors) *errors = said;
  return status == 0 && said.empty();
}

void DiscJobsTest::OpenFixtureDisc(const std::string& disc) {
  Folder = TestFolder();
  const std::string home = Folder + "/home";
  std::filesystem::create_directories(home);
  setenv("DVDSWF_CONFIG_DIR", (Folder + "/config").c_str(), 1);
  setenv("HOME", home.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  DiscPath = FixturesDir() + "/disc_" + disc;
  ASSERT_TRUE(std::filesystem::is_directory(DiscPath)) << "fixture disc " << disc << " is missing";
  Manifest = ReadManifest(disc);
  ASSERT_FALSE(Manifest.empty());
  ASSERT_TRUE(LoadDVDPlugInOnDemand()) << DVDPlugInError();
  TNullReport report;
  Rows = OpenDisc(DiscPath, report).Rows;
  ASSERT_EQ(int(Rows.size()), ManifestRecords(Manifest, "disc")[0].Int("titles"));
  Global = CreateGlobalObject();
}

TDVDTitleRow& DiscJobsTest::OnlyRow(int title) {
  for (auto& row : Rows) row.Checked = row.Record.TitleNumber + 1 == title;
  for (auto& row : Rows)
    if (row.Checked) return row;
  throw std::runtime_error("no title " + std::to_string(title));
}

TDiscJobResult DiscJobsTest::ConvertRow(int code, int title) {
  TDiscJobResult result;
  for (auto& row : Rows) row.Checked = row.Record.TitleNumber + 1 == title;
  TQuietHost host;
  TConversionRun run(*Global, host);
  run.FormatCodeOverride = code;
  run.OutputDirOverride = Folder + "/out";
  const TStartResult started = run.StartConversion(DiscPath, Rows);
  if (started != srRan) {
    result.SetupError = "start result " + std::to_string(started) + ": " + run.LastError();
    return result;
  }
  if (!run.OutputFiles().empty()) result.File = run.OutputFiles()[0];
  if (!host.Ends.empty()) {
    result.Ran = true;
    result.End = host.Ends[0];
  }
  if (!std::filesystem::exists(result.File)) result.File.clear();
  return result;
}

TDiscJobResult DiscJobsTest::ConvertJob(int code, int title, int from, int to, int joinFrom,
                                        int joinTo,
                                        const std::function<void(TTranscoder&)>& prepare,
                                        const std::function<void(TTranscoder&)>& started) {
  TDiscJobResult result;
  TQuietHost host;
  TConversionRun run(*Global, host);  // for the format's parameters as a run reads them
  const TFormatParams params = run.EffectiveParams(code);
  const TFormatCatalogue catalogue(Global->FormatIniPath());
  TDVDTitleRow& row = OnlyRow(title);
  TlvFilesRecord record = row.Record;
  record.ZoomMode = params.Zoom;
  record.ChapterFrom = from;
  record.ChapterTo = to;
  TDVDTitleInfo info;
  if (!GetDVDTitle(record.TitleNumber, info)) {
    result.SetupError = "the plug-in refuses the title";
    return result;
  }

  auto job = std::make_unique<TTranscoder>();
  const std::string url = std::string(kDVDInputScheme) + ":" + DiscPath;
  try {
    job->Reset();
    job->ParseOption("v", "1");
    auto addInput = [&](const TlvFilesRecord& selection) {
      SetDVDParam(DVDParamForConversion(selection));
      TInputOptions input = JobInputOptions(selection);
      ApplyInputOptions(*job, input, url);
      if (!job->OpenInputFile(url)) throw std::runtime_error(job->LastError());
    };
    addInput(record);
    if (joinFrom > 0) {
      TlvFilesRecord second = record;
      second.ChapterFrom = joinFrom;
      second.ChapterTo = joinTo;
      addInput(second);
    }
    TOutputOptions output = JobOutputOptions(record, params, catalogue.Format(code), info, host);
    output.Join = joinFrom > 0;
    const std::string name = MakeOutputFileName(*Global, row.Caption, "." + catalogue.FileExt(code),
                                                host, Folder + "/out");
    const bool join = ApplyOutputOptions(*job, output, name);
    if (job->OpenOutputFile(name, join) < 0) throw std::runtime_error(job->LastError());
    CreateAdditionalStreams(*job, output);
    result.File = name;
  } catch (const std::exception& e) {
    result.SetupError = e.what();
    return result;
  }
  job->OnTerminate = [&result](const TTerminateInfo& info) { result.End = info; };
  if (prepare) prepare(*job);
  if (job->Start()) {
    if (started) started(*job);
    job->Run();
    result.Ran = true;
  }
  job.reset();
  if (!std::filesystem::exists(result.File)) result.File.clear();
  return result;
}
