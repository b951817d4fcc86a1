// What an editor works on: one row of the title list, the disc it comes from and the
// settings, plus opening that row's title in an editor's own player.
//
// Threads: main thread.
#pragma once

#include <QString>
#include <string>

#include "app/core/settings_store.h"

class QWidget;
class TMediaPlayer;
class TUserDialogs;
class TTitleListModel;
class TVideoOutput;
struct TlvFilesRecord;

struct TEditorTitle {
  TTitleListModel* Model = nullptr;
  int Row = -1;
  std::string DrivePath;  // the disc: device, image or folder holding VIDEO_TS
  std::string SettingsPath;
  TUserDialogs* Dialogs = nullptr;  // refusals and file choices go through it

  TlvFilesRecord& Record() const;
  TSettingsStore Settings() const { return TSettingsStore(SettingsPath); }
};

// Loads the player's libraries when needed, selects the row's title in the DVD plug-in and
// opens it in `player`, drawing into `output` (may be null). A row that is a file (its
// SourceName set) opens as that file. False with `error` set when nothing could be opened.
bool OpenEditorTitle(TMediaPlayer& player, const TEditorTitle& title, TVideoOutput* output,
                     std::string& error);

// Tells the user why an input was refused (a warning box, parented to the editor).
void ShowEditorRefusal(const TEditorTitle& title, QWidget* parent, const QString& text);
