#include "app/gui/drive_menu.h"

#include "app/gui/app_style.h"

TDriveMenu::TDriveMenu(QWidget* parent) : QMenu(parent) {
  setObjectName(QStringLiteral("driveMenu"));
  setTitle(QStringLiteral("Add DVD Driver"));
  // The window system knows the menu by its title (the whole-program test waits for it).
  setWindowTitle(title());
  Build({});
}

void TDriveMenu::Build(const std::vector<TDVDDrive>& drives) {
  clear();
  for (const TDVDDrive& drive : drives) {
    QAction* item = addAction(AppIcon(QStringLiteral("add_dvd")),
                              QString::fromStdString(drive.Caption).replace('&', "&&"));
    const QString device = QString::fromStdString(drive.Device);
    connect(item, &QAction::triggered, this, [this, device] { emit DriveChosen(device); });
  }
  if (drives.empty()) addAction(QStringLiteral("No optical drive found"))->setEnabled(false);
  addSeparator();
  FOpenImage = addAction(AppIcon(QStringLiteral("file")), QStringLiteral("Open DVD &image…"));
  FOpenFolder = addAction(AppIcon(QStringLiteral("folder")), QStringLiteral("Open DVD &folder…"));
  connect(FOpenImage, &QAction::triggered, this, &TDriveMenu::OpenImageChosen);
  connect(FOpenFolder, &QAction::triggered, this, &TDriveMenu::OpenFolderChosen);
}
