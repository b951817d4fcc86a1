#include "app/gui/app_style.h"

#include <QFile>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>

// The pictures are built into the static library; its resources must be registered by hand.
static void InitAppResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(resources);
    return true;
  }();
  (void)done;
}

namespace {

QString Rgb(const QColor& c) {
  return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

}  // namespace

QIcon AppIcon(const QString& name) {
  InitAppResources();
  const QString path = QStringLiteral(":/dvdswf/icons/") + name + QStringLiteral(".svg");
  if (!QFile::exists(path)) return QIcon();
  return QIcon(path);
}

QIcon ProgramIcon() {
  InitAppResources();
  return QIcon(QStringLiteral(":/dvdswf/dvdswf.svg"));
}

QSize PictureSize(const QString& file) {
  InitAppResources();
  QSvgRenderer renderer(QStringLiteral(":/dvdswf/") + file);
  return renderer.isValid() ? renderer.defaultSize() : QSize();
}

QPixmap RenderPicture(const QString& file, QSize size, qreal devicePixelRatio) {
  InitAppResources();
  QSvgRenderer renderer(QStringLiteral(":/dvdswf/") + file);
  if (!renderer.isValid() || size.isEmpty()) return QPixmap();
  QPixmap pixmap(size * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  return pixmap;
}

QString AppStyleSheet() {
  using namespace app_colors;
  InitAppResources();
  QFile file(QStringLiteral(":/dvdswf/dvdswf.qss"));
  if (!file.open(QIODevice::ReadOnly)) return QString();
  QString sheet = QString::fromUtf8(file.readAll());
  // The sheet names its colours; the values live in one place (app_style.h).
  const std::pair<const char*, QColor> colours[] = {
      {"@box", kBoxBackground},         {"@oddrow", kOddRow},
      {"@selfill", kSelectedFill},      {"@selframe", kSelectedFrame},
      {"@inactivefill", kInactiveFill}, {"@inactiveframe", kInactiveFrame},
      {"@formattext", kFormatText},     {"@window", kWindow},
      {"@accentlight", kAccentLight},   {"@accent", kAccent},
      {"@mutedtext", kMutedText},       {"@text", kText},
  };
  for (const auto& [name, colour] : colours) sheet.replace(QLatin1String(name), Rgb(colour));
  return sheet;
}

TDialogButtons MakeDialogButtons(QWidget* dialog) {
  const auto button = [dialog](const char* name, const char* text) {
    auto* b = new QPushButton(QLatin1String(text), dialog);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
  };
  TDialogButtons buttons{button("btnDefault", "&Default"), button("btnOk", "&Ok"),
                         button("btnCancel", "&Cancel"), new QHBoxLayout};
  buttons.Ok->setDefault(true);
  buttons.Row->addWidget(buttons.Default);
  buttons.Row->addStretch(1);
  buttons.Row->addWidget(buttons.Ok);
  buttons.Row->addWidget(buttons.Cancel);
  return buttons;
}
