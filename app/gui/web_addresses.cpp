#include "app/gui/web_addresses.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

QString SupportUrl(const QString& webSiteUrl) {
  QString base = webSiteUrl;
  if (!base.endsWith(QLatin1Char('/'))) base += QLatin1Char('/');
  return base + QStringLiteral("support/");
}

QString HelpReadmeUrl(const QString& fallbackUrl) {
  QStringList candidates;
  const QString programDir = QCoreApplication::applicationDirPath();
  if (!programDir.isEmpty())
    candidates << QDir(programDir).filePath(QStringLiteral("../share/doc/dvdswf/README.md"));
#ifdef DVDSWF_SOURCE_README
  candidates << QStringLiteral(DVDSWF_SOURCE_README);
#endif
  for (const QString& path : candidates) {
    const QFileInfo info(path);
    if (info.isFile()) return QUrl::fromLocalFile(info.canonicalFilePath()).toString();
  }
  return fallbackUrl;
}

const std::array<TShareService, 7>& ShareServices() {
  static const std::array<TShareService, 7> services = {{
      {"Facebook", "share_facebook",
       "https://www.facebook.com/sharer/sharer.php?u={url}&t={title}"},
      {"Google", "share_google",
       "https://www.google.com/bookmarks/mark?op=edit&bkmk={url}&title={title}"},
      {"Twitter", "share_twitter", "https://twitter.com/intent/tweet?url={url}&text={title}"},
      {"Delicious", "share_delicious", "https://del.icio.us/post?url={url}&title={title}"},
      {"Digg", "share_digg", "https://digg.com/submit?url={url}&title={title}"},
      {"Stumbleupon", "share_stumbleupon",
       "https://www.stumbleupon.com/submit?url={url}&title={title}"},
      {"Reddit", "share_reddit", "https://www.reddit.com/submit?url={url}&title={title}"},
  }};
  return services;
}

QString ShareUrl(const TShareService& service, const QString& url, const QString& title) {
  QString page = QString::fromLatin1(service.Template);
  page.replace(QStringLiteral("{url}"), QString::fromLatin1(QUrl::toPercentEncoding(url)));
  page.replace(QStringLiteral("{title}"), QString::fromLatin1(QUrl::toPercentEncoding(title)));
  return page;
}
