// The application's side of the DVD plug-in (libdvddec.so in the LibAV folder): loading it
// with its entry points, the calls the title list and the runs make, and the "opendvd"
// input scheme that turns "opendvd:" + drive path into the selected title's stream.
//
// Threads: load, enumerate, describe and select on the main thread. Inputs opened through
// the "opendvd" scheme may be opened, read and closed on any thread.
#pragma once

#include "media/assertion.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "dvd/dvd_records.h"

inline constexpr char kDVDPlugInFileName[] = "libdvddec.so";
inline constexpr char kDVDInputScheme[] = "opendvd";

// The sender of the "opendvd" input's reports that a user must see even where library
// messages are hidden: a title's damage, logged as a warning when its input closes.
const void* DVDInputLogSender();
// "the disc is damaged: ..." for a title's damaged sectors (see DVDStreamDamage); empty
// when there are none.
std::string DVDDamageText(int64_t unreadable, int64_t garbled, int64_t total);

// Loads libdvddec.so from `folder` (a slash is added when missing; an empty folder loads by
// name through the system's search), initialises it with `initText` and resolves every
// entry point; registers the "opendvd" input scheme. True at once when already loaded.
// On failure nothing stays loaded and DVDPlugInError() says why.
bool LoadDVDPlugIn(const std::string& folder, const std::string& initText);
bool DVDPlugInLoaded();
// Unregisters the scheme and frees the library. Inputs opened through it must be closed.
void UnloadDVDPlugIn();
// The text of the last loading failure ("Load library %s error: %s", ...).
std::string DVDPlugInError();

// The folder the programs look in: the running program's folder followed by "LibAV".
std::string DefaultDVDPlugInFolder();
// Loads from DefaultDVDPlugInFolder() unless loaded; what every operation needing the
// plug-in calls first.
bool LoadDVDPlugInOnDemand();

int EnumDVDTitles(const std::string& drivePath);
// Zeroes `info`, then asks the plug-in; true when the title is valid.
bool GetDVDTitle(int number, TDVDTitleInfo& info);
void SetDVDParam(const TDVDParam& param);
// The playing time of a title's chapter range (numbers as in TDVDParam), for the disc last
// enumerated; nullopt when the plug-in cannot say.
std::optional<double> GetDVDChapterSeconds(int title, int chapterFrom, int chapterTo);
// The plug-in's plain-words reason for its last failure (no disc, encrypted disc, damaged
// title...); empty when it has none or is not loaded.
std::string DVDLastErrorText();

// 1 "MPEG-1", 2 "MPEG-2", 3 "MPA", 4 "AC3", 5 "DTS", 6 "LPCM", 7 "SUB", else "Unknown".
std::string DVDFormatName(int code);
