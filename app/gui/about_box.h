// The About box: the application title and version text and a link to the product page.
//
// Threads: main thread (a widget).
#pragma once

#include <QDialog>

class TDesktopActions;

class TfrmAbout : public QDialog {
 public:
  TfrmAbout(const QString& title, const QString& version, const QString& webSiteUrl,
            TDesktopActions& desktop, QWidget* parent);
};
