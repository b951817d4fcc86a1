// Snapshots of a preview picture: "Snapshot_full.bmp", "Snapshot_small.bmp",
// "Snapshot_full.jpg" and "Snapshot_small.jpg" in the snapshot folder ("SnapOutPutDir"), as the
// settings choose ("snapFullSize", "snapSmallSize", "snapBmp", "snapJpg", "jpgCmp"). Used by
// the main window's and the progress window's Snapshot buttons.
//
// Threads: main thread (it may show a message).
#pragma once

#include <QImage>
#include <string>
#include <vector>

#include "media/bitmap.h"

class QWidget;
class TGlobalObject;
class TUserDialogs;

struct TSnapshotResult {
  std::string Folder;                // with a trailing "/"; empty when nothing was tried
  std::vector<std::string> Written;  // the files written, in the order above
  std::vector<std::string> Failed;   // files that could not be written
};

// A TBitmap as a QImage of its own (a deep copy).
QImage ImageOf(const TBitmap& bitmap);

// Writes the chosen files, each replacing the one before. A snapshot folder that cannot be
// created or written to is replaced (after the warning "Cannot create output directory:...")
// by DefaultVideoFolder(), which is written back to "SnapOutPutDir". A file that cannot be
// written is reported in one warning after the others have been tried.
TSnapshotResult SaveSnapshot(const TGlobalObject& global, const QImage& full, const QImage& small,
                             TUserDialogs& dialogs, QWidget* parent);
