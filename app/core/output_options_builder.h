// Turning one title of the list and the chosen output format into a job's output options,
// and naming the output file. Shared by the main window's Start and the command line.
//
// Threads: main thread (they read the settings files and may ask the user).
#pragma once

#include <optional>
#include <string>

#include "app/core/format_params.h"
#include "app/core/global_object.h"
#include "dvd/dvd_records.h"
#include "dvd/tlv_files_record.h"
#include "engine/component/option_records.h"

// What job assembly asks of the user: a message box with an OK button, and a question with
// Yes and No buttons. The GUI shows modal boxes; the command line prints and answers itself.
class TJobDialogs {
 public:
  virtual ~TJobDialogs() = default;
  virtual void ShowWarning(const std::string& text, const std::string& caption) = 0;
  // True for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
};

// The encoder name the transcoder gets for a stored audio encoder: names Debian's FFmpeg
// lacks or offers only as an experimental encoder become the encoder that does the job
// ("libfaac" -> "aac", "ogg" and "vorbis" -> "libvorbis", "libamr_nb" ->
// "libopencore_amrnb"); anything else is returned as it stands.
std::string ConversionAudioEncoder(const std::string& stored);

// Completes `out` for one title: target presets, codecs, bit rates, frame rate, container,
// frame size with the record's zoom mode (letterbox filter, pan and scan crops), audio.
// `params` are the format's parameters as a conversion reads them (ReadFormatParams, with
// any per-run changes), `catalogueFormat` the catalogue's "Format" of the format. Crops of
// `out` still at -1 become 0. A "paraVideoSize" that is no size asks whether to use
// 320x240; No converts at the title's own size.
// Throws std::invalid_argument when "paraVolume" holds no integer.
void BuildOutputOptions(const TlvFilesRecord& record, const TFormatParams& params,
                        const std::string& catalogueFormat, TOutputOptions& out,
                        const TDVDTitleInfo& info, TJobDialogs& dialogs);

// A format parameter that cannot make a working job: the user key ("paraSampleRate") and
// why, in words ("0 is not a sample rate libmp3lame takes (8000, 11025, ...)").
struct TParamProblem {
  std::string Key;
  std::string Text;
};
// Checks the parameters a job would be built from, before anything is written: sample
// rates the audio encoder does not take, channel counts outside 1..8, bit rates and frame
// rates that are no positive numbers or beyond reason (frame rates above 240), sizes below
// 16x16, odd or beyond 8192, sizes a DV format cannot hold, a volume that is no whole
// number, encoders this build lacks. "as source" and empty values (no choice) pass; so do
// sizes that are no size at all, which the start answers with the 320x240 question.
// nullopt when everything can work.
std::optional<TParamProblem> FindUnworkableParam(const TFormatParams& params,
                                                 const std::string& catalogueFormat);

// The letterbox filter text for a picture of dw x dh output pixels (its shape as shown, in
// the output's pixels) shown in W x H: "scale=...,pad=...".
std::string LetterboxFilter(double dw, double dh, int W, int H);

// The output file for a row caption and an extension with its dot: in `dir` (empty: the
// settings' "OutPutDir"), base name the caption without folder and extension, followed by
// "_(new)" or, when that name is taken, "_(new_" + n + ")" for the smallest free n >= 1.
// A name is taken by anything there, a symbolic link to nothing included. The chosen name
// is claimed at once: the file is created empty and exclusively, and belongs to the caller
// (who removes it when the job never writes it). When it cannot be created for another
// reason than being taken, the name is returned unclaimed.
// A folder that cannot be created, or exists but cannot be written to, is replaced by
// DefaultVideoFolder() after a warning; when the folder came from the settings the
// replacement is written back to "OutPutDir".
std::string MakeOutputFileName(const TGlobalObject& global, const std::string& caption,
                               const std::string& ext, TJobDialogs& dialogs,
                               const std::string& dir = {});
