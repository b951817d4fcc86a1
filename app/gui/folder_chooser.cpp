#include "app/gui/folder_chooser.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/core/global_object.h"
#include "app/gui/app_style.h"
#include "app/gui/error_handler.h"
#include "app/gui/user_dialogs.h"

namespace {

// `path` is `dir` or lies below it (both clean and absolute).
bool Inside(const QString& path, const QString& dir) {
  if (dir == QLatin1String("/")) return path.startsWith(QLatin1Char('/'));
  return path == dir || path.startsWith(dir + QLatin1Char('/'));
}

QString CleanAbsolute(const QString& path) {
  return QDir::cleanPath(QDir(QDir::homePath()).absoluteFilePath(path));
}

}  // namespace

TfrmBrowse::TfrmBrowse(TUserDialogs& dialogs, QWidget* parent, const std::string& mountInfoPath)
    : QDialog(parent), FDialogs(dialogs), FMounts(TMountTable::Read(mountInfoPath)) {
  setObjectName(QStringLiteral("frmBrowse"));
  setWindowTitle(QStringLiteral("Browse"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);
  setWindowModality(Qt::ApplicationModal);

  auto* prompt = new QLabel(QStringLiteral("Please select an output directory:"), this);
  FTree = new QTreeWidget(this);
  FTree->setObjectName(QStringLiteral("folderTree"));
  FTree->setHeaderHidden(true);
  FTree->setColumnCount(1);
  FTree->setUniformRowHeights(true);
  FTree->setIconSize(QSize(16, 16));
  FTree->setSelectionMode(QAbstractItemView::SingleSelection);
  FTree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  FTree->header()->setStretchLastSection(false);
  prompt->setBuddy(FTree);

  FFolder = new QLineEdit(this);
  FFolder->setObjectName(QStringLiteral("edtFolder"));
  auto* folderCaption = new QLabel(QStringLiteral("&Folder:"), this);
  folderCaption->setBuddy(FFolder);

  FOk = new QPushButton(QStringLiteral("&Ok"), this);
  FOk->setObjectName(QStringLiteral("btnOk"));
  FOk->setDefault(true);
  FCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  FCancel->setObjectName(QStringLiteral("btnCancel"));
  FCancel->setAutoDefault(false);

  // Roots: the home folder, the mounted volumes, the file system's root.
  const QString home = QDir::cleanPath(QDir::homePath());
  AddFolder(nullptr, home, QStringLiteral("Home"))->setIcon(0, AppIcon(QStringLiteral("home")));
  for (const std::string& volume : FMounts.Volumes()) {
    const QString path = QString::fromStdString(volume);
    const TMountEntry* mount = FMounts.MountOf(volume);
    QTreeWidgetItem* item = AddFolder(nullptr, path, QFileInfo(path).fileName());
    item->setIcon(0, AppIcon(mount && IsOpticalMount(*mount) ? QStringLiteral("disc")
                                                             : QStringLiteral("drive")));
  }
  AddFolder(nullptr, QStringLiteral("/"), QStringLiteral("File System"))
      ->setIcon(0, AppIcon(QStringLiteral("drive")));

  auto* folderRow = new QHBoxLayout;
  folderRow->setSpacing(6);
  folderRow->addWidget(folderCaption);
  folderRow->addWidget(FFolder, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(FOk);
  buttons->addWidget(FCancel);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 12, 12, 12);
  layout->setSpacing(8);
  layout->addWidget(prompt);
  layout->addWidget(FTree, 1);
  layout->addLayout(folderRow);
  layout->addLayout(buttons);
  setFixedSize(QSize(kWidth, kHeight).expandedTo(layout->totalMinimumSize()));

  connect(FTree, &QTreeWidget::itemExpanded, this, &TfrmBrowse::Populate);
  connect(FTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (!item) return;
    FFolder->setText(item->data(0, kPathRole).toString());
    FFolder->setCursorPosition(FFolder->text().size());
  });
  connect(FFolder, &QLineEdit::textChanged, this, &TfrmBrowse::UpdateOk);
  connect(FOk, &QPushButton::clicked, this, &TfrmBrowse::Ok);
  connect(FCancel, &QPushButton::clicked, this, &TfrmBrowse::reject);
  UpdateOk();
}

QTreeWidgetItem* TfrmBrowse::AddFolder(QTreeWidgetItem* parent, const QString& path,
                                       const QString& text) {
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(FTree);
  item->setText(0, text.isEmpty() ? path : text);
  item->setToolTip(0, path);
  item->setData(0, kPathRole, path);
  item->setIcon(0, AppIcon(QStringLiteral("folder")));
  // Whether it has subfolders is found out when it is first expanded.
  item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  return item;
}

void TfrmBrowse::Populate(QTreeWidgetItem* item) {
  if (item->childIndicatorPolicy() != QTreeWidgetItem::ShowIndicator) return;  // done before
  const QString path = item->data(0, kPathRole).toString();
  const QFileInfoList folders =
      QDir(path).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
  for (const QFileInfo& folder : folders)
    if (!ChildFor(item, folder.absoluteFilePath()))
      AddFolder(item, QDir::cleanPath(folder.absoluteFilePath()), folder.fileName());
  item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  FTree->resizeColumnToContents(0);
}

QTreeWidgetItem* TfrmBrowse::ChildFor(QTreeWidgetItem* item, const QString& path) {
  for (int i = 0; i < item->childCount(); ++i)
    if (item->child(i)->data(0, kPathRole).toString() == path) return item->child(i);
  return nullptr;
}

bool TfrmBrowse::PositionOn(const QString& wanted) {
  const QString path = CleanAbsolute(wanted);
  if (!QFileInfo(path).isDir()) return false;
  // The root that holds the folder most closely.
  QTreeWidgetItem* item = nullptr;
  QString rootPath;
  for (int i = 0; i < FTree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* root = FTree->topLevelItem(i);
    const QString candidate = root->data(0, kPathRole).toString();
    if (Inside(path, candidate) && candidate.size() > rootPath.size()) {
      item = root;
      rootPath = candidate;
    }
  }
  if (!item) return false;
  // Down from the root one folder at a time; a hidden folder on the way gets its item too.
  const QString rest = path.mid(rootPath.size());
  QString current = rootPath;
  for (const QString& name : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    Populate(item);
    item->setExpanded(true);
    current = current == QLatin1String("/") ? current + name : current + QLatin1Char('/') + name;
    QTreeWidgetItem* child = ChildFor(item, current);
    if (!child) child = AddFolder(item, current, name);
    item = child;
  }
  FTree->setCurrentItem(item);
  FTree->resizeColumnToContents(0);
  FTree->scrollToItem(item, QAbstractItemView::PositionAtCenter);
  // Deep folders scroll the view sideways; the tree's branches stay in sight.
  FTree->horizontalScrollBar()->setValue(0);
  FFolder->setText(path);
  return true;
}

QString TfrmBrowse::BoxPath() const {
  QString text = FFolder->text().trimmed();
  if (text.isEmpty()) return QString();
  if (text == QLatin1String("~") || text.startsWith(QLatin1String("~/")))
    text = QDir::homePath() + text.mid(1);
  return CleanAbsolute(text);
}

void TfrmBrowse::UpdateOk() {
  const QString path = BoxPath();
  FOk->setEnabled(!path.isEmpty() && QFileInfo(path).isDir());
}

QString TfrmBrowse::Choose(const QString& start) {
  FResult.clear();
  QString place = start.isEmpty() ? QDir::homePath() : CleanAbsolute(start);
  while (!QFileInfo(place).isDir() && place != QLatin1String("/") && !place.isEmpty())
    place = QFileInfo(place).absolutePath();
  if (!PositionOn(place)) PositionOn(QDir::homePath());
  FTree->setFocus(Qt::OtherFocusReason);
  exec();
  return FResult;
}

void TfrmBrowse::Ok() {
  const QString path = BoxPath();
  if (path.isEmpty() || !QFileInfo(path).isDir()) {
    QApplication::beep();
    return;
  }
  if (FMounts.OnOpticalDisc(path.toStdString())) {
    FResult.clear();
    FDialogs.ShowMessage(
        this,
        QStringLiteral("Output folder cannot be located in CD-ROM.Please select another folder."),
        TApplication::Title(), miInfo);
    return;
  }
  FResult = path;
  accept();
}

void TfrmBrowse::reject() {
  // Cancel and the title-bar close: no folder, whatever an earlier "Ok" attempt left.
  FResult.clear();
  QDialog::reject();
}

std::optional<QString> BrowseWritableFolder(TUserDialogs& dialogs, QWidget* parent,
                                            const QString& current) {
  QString path = dialogs.ChooseOutputFolder(parent, current);
  if (path.isEmpty() || path == current) return std::nullopt;
  if (path.size() < 4) {
    dialogs.ShowMessage(
        parent, QStringLiteral("The path ") + path + QStringLiteral(" is not a valid directory."),
        QStringLiteral("Warning"), miWarn);
    return std::nullopt;
  }
  if (CanWriteToFolder(path.toStdString())) return path;
  dialogs.ShowMessage(
      parent,
      QStringLiteral("You login as ") + QString::fromStdString(GetLoginName()).trimmed() +
          QStringLiteral(" .You don't have permission to write to directory:") + path,
      QStringLiteral("Warning"), miWarn);
  return QString::fromStdString(DefaultVideoFolder());
}
