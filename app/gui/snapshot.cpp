#include "app/gui/snapshot.h"

#include <QString>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "app/core/global_object.h"
#include "app/gui/user_dialogs.h"

namespace fs = std::filesystem;

QImage ImageOf(const TBitmap& bitmap) {
  if (bitmap.Empty()) return QImage();
  std::lock_guard lock(bitmap.Canvas());
  return QImage(bitmap.Bits(), bitmap.Width(), bitmap.Height(), bitmap.Stride(),
                QImage::Format_BGR888)
      .copy();
}

namespace {

bool SaveBmp(const QImage& image, const std::string& path) {
  const QImage rgb = image.convertToFormat(QImage::Format_BGR888);
  TBitmap bitmap(rgb.width(), rgb.height());
  for (int y = 0; y < rgb.height(); ++y)
    std::memcpy(bitmap.ScanLine(y), rgb.constScanLine(y), size_t(rgb.width()) * 3);
  return bitmap.SaveToFile(path);
}

bool SaveJpg(const QImage& image, const std::string& path, int quality) {
  return image.save(QString::fromStdString(path), "JPG", std::clamp(quality, 1, 100));
}

std::string SnapshotFolder(const TGlobalObject& global, TUserDialogs& dialogs, QWidget* parent) {
  TSettingsStore settings = global.Settings();
  std::string dir = settings.SnapOutPutDir();
  std::error_code error;
  fs::create_directories(dir, error);
  if (!fs::is_directory(dir, error) || !CanWriteToFolder(dir)) {
    const std::string fallback = DefaultVideoFolder();
    dialogs.ShowMessage(
        parent,
        QString::fromStdString("Cannot create output directory:" + dir +
                               ".It will create default directory " + fallback + "!"),
        QStringLiteral("Warning"), miWarn);
    fs::create_directories(fallback, error);
    settings.SetSnapOutPutDir(fallback);
    dir = fallback;
  }
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace

TSnapshotResult SaveSnapshot(const TGlobalObject& global, const QImage& full, const QImage& small,
                             TUserDialogs& dialogs, QWidget* parent) {
  TSnapshotResult result;
  result.Folder = SnapshotFolder(global, dialogs, parent);
  const TSettingsStore settings = global.Settings();
  const bool wantFull = settings.SnapFullSize(), wantSmall = settings.SnapSmallSize();
  const bool bmp = settings.SnapBmp(), jpg = settings.SnapJpg();
  const int quality = settings.JpgCmp();
  const auto write = [&result](bool wanted, const QImage& image, const char* name, auto save) {
    if (!wanted || image.isNull()) return;
    const std::string path = result.Folder + name;
    (save(image, path) ? result.Written : result.Failed).push_back(path);
  };
  const auto saveJpg = [quality](const QImage& image, const std::string& path) {
    return SaveJpg(image, path, quality);
  };
  write(wantFull && bmp, full, "Snapshot_full.bmp", SaveBmp);
  write(wantSmall && bmp, small, "Snapshot_small.bmp", SaveBmp);
  write(wantFull && jpg, full, "Snapshot_full.jpg", saveJpg);
  write(wantSmall && jpg, small, "Snapshot_small.jpg", saveJpg);
  if (!result.Failed.empty()) {
    QString files;
    for (const std::string& path : result.Failed) files += QString::fromStdString(path) + "\n";
    dialogs.ShowMessage(parent, QStringLiteral("Cannot write the snapshot:"),
                        QStringLiteral("Warning"), miWarn, mbOk, files.trimmed());
  }
  return result;
}
