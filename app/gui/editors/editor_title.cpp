#include "app/gui/editors/editor_title.h"

#include "app/gui/title_list_model.h"
#include "app/gui/user_dialogs.h"
#include "dvd/disc_opener.h"
#include "dvd/dvd_plugin_loader.h"
#include "player/player.h"

TlvFilesRecord& TEditorTitle::Record() const {
  return Model->Record(Row);
}

bool OpenEditorTitle(TMediaPlayer& player, const TEditorTitle& title, TVideoOutput* output,
                     std::string& error) {
  if (!player.LibrariesReady() && !player.LoadLibrariesFrom("")) {
    error = player.LastError();
    return false;
  }
  const TlvFilesRecord& record = title.Record();
  std::string input;
  if (!record.SourceName.empty()) {
    input = record.SourceName;
  } else {
    if (!LoadDVDPlugInOnDemand()) {
      error = DVDPlugInError();
      return false;
    }
    SetDVDParam(DVDParamForEditor(record));
    input = std::string(kDVDInputScheme) + ":" + title.DrivePath;
  }
  if (!player.Open(input, output, false)) {
    error = player.LastError();
    return false;
  }
  return true;
}

void ShowEditorRefusal(const TEditorTitle& title, QWidget* parent, const QString& text) {
  if (title.Dialogs) title.Dialogs->ShowMessage(parent, text, QStringLiteral("Message"), miWarn);
}
