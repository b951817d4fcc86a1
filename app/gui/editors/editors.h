// The three editors joined to the main window: its Edit menu opens them for the selected row.
//
// Threads: main thread.
#pragma once

class TfrmMain;
class TUserDialogs;

// Sets the window's OpenEditor hook. The trim editor is made on first use and kept (later
// openings show the same one); the crop and watermark editors are made anew each time.
void InstallEditors(TfrmMain& window, TUserDialogs& dialogs);
