// The drive menu ("Add DVD Driver"): one item per optical drive (caption "sr0:" + the disc's
// volume label), then "Open DVD image…" and "Open DVD folder…", so that a disc on the file
// system opens the same way a drive does.
//
// Threads: main thread (a widget).
#pragma once

#include <QMenu>
#include <string>
#include <vector>

#include "dvd/dvd_drives.h"

class TDriveMenu : public QMenu {
  Q_OBJECT
 public:
  explicit TDriveMenu(QWidget* parent = nullptr);
  // Lists the drives (`drives` as EnumOpticalDrives gives them) followed by the two items.
  void Build(const std::vector<TDVDDrive>& drives);

  QAction* OpenImageAction() const { return FOpenImage; }
  QAction* OpenFolderAction() const { return FOpenFolder; }

 signals:
  // A drive was chosen: its device.
  void DriveChosen(const QString& device);
  void OpenImageChosen();
  void OpenFolderChosen();

 private:
  QAction* FOpenImage = nullptr;
  QAction* FOpenFolder = nullptr;
};
