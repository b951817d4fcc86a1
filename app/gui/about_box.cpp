#include "app/gui/about_box.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/gui/app_style.h"
#include "app/gui/desktop_actions.h"

TfrmAbout::TfrmAbout(const QString& title, const QString& version, const QString& webSiteUrl,
                     TDesktopActions& desktop, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About"));
  auto* icon = new QLabel(this);
  icon->setPixmap(ProgramIcon().pixmap(64, 64));
  auto* name = new QLabel(this);
  name->setObjectName(QStringLiteral("aboutTitle"));
  name->setTextFormat(Qt::PlainText);
  name->setText(title + version.trimmed().prepend(QLatin1Char(' ')));
  auto* link = new QLabel(this);
  link->setTextFormat(Qt::RichText);
  link->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(webSiteUrl.toHtmlEscaped()));
  link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(link, &QLabel::linkActivated, this,
          [&desktop](const QString& url) { desktop.OpenUrl(url); });
  auto* note = new QLabel(QStringLiteral("DVD titles to video and audio files."), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* text = new QVBoxLayout;
  text->addWidget(name);
  text->addWidget(note);
  text->addWidget(link);
  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addLayout(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 20, 20, 14);
  layout->addLayout(top);
  layout->addSpacing(10);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
}
