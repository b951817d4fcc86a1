// Opening a disc: from a drive path to the rows of the title list, with the three messages
// the user sees reported through TDiscOpenerReport. Shared by the main window and the
// command line; nothing here touches a widget.
//
// Threads: main thread (it calls the plug-in's enumeration).
#pragma once

#include <string>
#include <vector>

#include "dvd/dvd_records.h"
#include "dvd/tlv_files_record.h"

enum TDiscMessageKind { dmNoDisc, dmNoTitles, dmInvalidTitle };

// How a message is shown: "Warning" with an OK button, or "Message" with an information
// icon.
enum TDiscMessageIcon { miWarning, miInformation };

struct TDiscMessage {
  TDiscMessageKind Kind;
  std::string Text;     // "Can't find a DVD Disk!", ...
  std::string Caption;  // "Warning" or "Message"
  TDiscMessageIcon Icon;
  std::string Detail;  // the plug-in's reason in plain words; may be empty
};

class TDiscOpenerReport {
 public:
  virtual ~TDiscOpenerReport() = default;
  // Called on the opening thread, in order; a modal box may be shown before returning.
  virtual void ShowMessage(const TDiscMessage& message) = 0;
};

struct TDVDTitleRow {
  std::string Caption;          // "DVD Title 3"
  std::string DurationText;     // "   1:23:45"
  std::string TrimLengthText;   // same as the duration for a new row
  std::string FrameSizeText;    // "   720 x 576 (4:3)": stored size and display aspect
  std::string VideoFormatText;  // "   MPEG-2"
  std::string ProgressText;     // empty
  bool Checked = true;
  TlvFilesRecord Record;
};

struct TDiscOpenResult {
  bool PlugInLoaded = false;  // false: nothing else was tried and nothing was shown
  std::vector<TDVDTitleRow> Rows;
  // The tracks of the last title listed, which the combos show until a row is clicked.
  std::vector<std::string> AudioItems;
  bool AudioEnabled = false;
  std::vector<std::string> SubtitleItems;
};

// Loads the plug-in on demand, checks that `drivePath` holds a disc, enumerates and
// describes its titles. The caller clears its list first and sets DrivePath.
TDiscOpenResult OpenDisc(const std::string& drivePath, TDiscOpenerReport& report);

// The title's display aspect as the user knows it: "4:3", "16:9".
std::string DisplayAspectText(const TDVDTitleInfo& info);

// Whole seconds as H:MM:SS, hours not padded ("1:23:45"); fractions are cut off.
std::string FormatTitleSeconds(double seconds);
// Combo items of a title: "128  English" per audio entry; per subtitle entry the same and
// a last item "Default".
std::vector<std::string> AudioComboItems(const TDVDTitleInfo& info);
std::vector<std::string> SubtitleComboItems(const TDVDTitleInfo& info);

// The selections handed to SetDVDParam right before "opendvd:" + drive is opened.
TDVDParam DVDParamForConversion(const TlvFilesRecord& record);
// `record` null: no row selected.
TDVDParam DVDParamForPreview(const TlvFilesRecord* record);
TDVDParam DVDParamForEditor(const TlvFilesRecord& record);
