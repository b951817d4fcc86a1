// Converting fixture disc titles the way the application does: job assembly with the format
// catalogue and a settings folder of the test's own, through the conversion run (as
// dvdswf-cli does), or through one job of the engine where the run has no way to say it
// (two chapters joined into one output, a stop at a chosen moment).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/conversion_run.h"
#include "dvd/disc_opener.h"
#include "engine/component/transcoder_job.h"
#include "tests/support/test_support.h"

// What became of one conversion.
struct TDiscJobResult {
  std::string File;  // the output file; empty when the job wrote none
  bool Ran = false;  // the job was set up and ran to its termination
  TTerminateInfo End;
  std::string SetupError;
};

// True when Debian's ffmpeg decodes the whole file without an error message; `errors`
// receives what it said.
bool FFmpegDecodesCleanly(const std::string& path, std::string* errors = nullptr);

// Whether the big tables of disc conversions run whole. Under a sanitizer (several times
// slower) they run a subset that still takes every format and every kind of case, so the
// sanitizer suite stays within CI's time; DVDSWF_FULL_TABLES=1 in the environment of the
// test program keeps the whole tables there too.
bool WholeTables();

class DiscJobsTest : public ::testing::Test {
 protected:
  // A settings folder of the test's own, the DVD plug-in, and disc `disc` opened.
  void OpenFixtureDisc(const std::string& disc);

  // The row of title `title` (1-based) with every other row unchecked.
  TDVDTitleRow& OnlyRow(int title);

  // Converts the checked rows with format `code` through the conversion run; returns the
  // result of its one job.
  TDiscJobResult ConvertRow(int code, int title);

  // One job of the engine set up as job assembly sets up `title`'s job with format `code`,
  // reading chapters `from`..`to` of the title, plus (when `joinFrom` > 0) a second input of
  // chapters `joinFrom`..`joinTo` joined into the same output. `prepare` may change the job
  // before it runs; `started` is called after Start and before Run (on the calling thread).
  TDiscJobResult ConvertJob(int code, int title, int from, int to, int joinFrom = 0, int joinTo = 0,
                            const std::function<void(TTranscoder&)>& prepare = nullptr,
                            const std::function<void(TTranscoder&)>& started = nullptr);

  std::string Folder, DiscPath;
  std::vector<TDVDTitleRow> Rows;
  std::unique_ptr<TGlobalObject> Global;
  std::vector<ManifestRecord> Manifest;
  int Outputs = 0;
};
