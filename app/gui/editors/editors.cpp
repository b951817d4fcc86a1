#include "app/gui/editors/editors.h"

#include <QPointer>

#include "app/gui/editors/crop_editor.h"
#include "app/gui/editors/trim_editor.h"
#include "app/gui/editors/watermark_editor.h"
#include "app/gui/main_window.h"

void InstallEditors(TfrmMain& window, TUserDialogs& dialogs) {
  auto trim = std::make_shared<QPointer<TfrmTrim>>();
  window.OpenEditor = [&window, &dialogs, trim](TfrmMain::TEditorKind kind, int row) {
    TEditorTitle title;
    title.Model = &window.Model();
    title.Row = row;
    title.DrivePath = window.DrivePath();
    title.SettingsPath = window.Global().SettingsIniPath();
    title.Dialogs = &dialogs;
    switch (kind) {
      case TfrmMain::ekTrim:
        if (!*trim) *trim = new TfrmTrim(&window);
        (*trim)->Edit(title);
        break;
      case TfrmMain::ekCrop: {
        TfrmCrop crop(&window);
        crop.Edit(title);
        break;
      }
      case TfrmMain::ekEffects: {
        TfrmWaterMark marks(&window);
        marks.Edit(title);
        break;
      }
    }
  };
}
