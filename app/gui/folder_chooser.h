// TfrmBrowse: the folder chooser of the output folder and the snapshot folder. A tree of the
// file system's folders under three kinds of roots (the home folder, the mounted volumes, the
// file system's root), a box that shows the chosen folder and takes a typed one, "Ok" and
// "Cancel". "Ok" is enabled while the box names an existing folder; a folder on an optical
// disc is refused with a message and the chooser stays open.
//
// BrowseWritableFolder holds the rules the main window's "Browse" and the preferences'
// "Brows" share for what comes back from the chooser.
//
// Threads: main thread.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <string>

#include "app/gui/mount_table.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TUserDialogs;

class TfrmBrowse : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kWidth = 322;
  static constexpr int kHeight = 351;
  // Roles of the tree's items: the folder's absolute path.
  static constexpr int kPathRole = Qt::UserRole;

  // `mountInfoPath`: the kernel's mount table, or a file in its format.
  TfrmBrowse(TUserDialogs& dialogs, QWidget* parent,
             const std::string& mountInfoPath = "/proc/self/mountinfo");

  // Shows the chooser modally on `start` (the nearest existing folder above it, else the
  // home folder); the chosen folder, empty when the user cancelled.
  QString Choose(const QString& start);

  // Selects `path` in the tree, expanding the folders above it (the root that holds it most
  // closely: a volume, the home folder, else the file system's root). False, and the
  // selection stays, when the folder does not exist.
  bool PositionOn(const QString& path);
  // The folder the box names, as an absolute clean path ("~" is the home folder); empty
  // when the box is empty.
  QString BoxPath() const;
  // The result of the last "Ok" ("" after Cancel, a refusal or a close).
  const QString& Result() const { return FResult; }

  // "Ok": the box's folder is taken unless it lies on an optical disc.
  void Ok();

  QTreeWidget* Tree() const { return FTree; }
  QLineEdit* FolderBox() const { return FFolder; }
  QPushButton* OkButton() const { return FOk; }
  QPushButton* CancelButton() const { return FCancel; }

 public slots:
  void reject() override;

 private:
  QTreeWidgetItem* AddFolder(QTreeWidgetItem* parent, const QString& path, const QString& text);
  void Populate(QTreeWidgetItem* item);
  QTreeWidgetItem* ChildFor(QTreeWidgetItem* item, const QString& path);
  void UpdateOk();

  TUserDialogs& FDialogs;
  TMountTable FMounts;
  QString FResult;
  QTreeWidget* FTree = nullptr;
  QLineEdit* FFolder = nullptr;
  QPushButton *FOk = nullptr, *FCancel = nullptr;
};

// What the chooser's answer becomes: nothing when the user cancelled or chose the folder
// `current` already names; a path shorter than 4 characters is refused ("The path ... is not a
// valid directory.", nothing changes); a folder CanWriteToFolder refuses is replaced, after
// the message "You login as ...", by DefaultVideoFolder(). The caller stores the result.
std::optional<QString> BrowseWritableFolder(TUserDialogs& dialogs, QWidget* parent,
                                            const QString& current);
