// Every web address the desktop program opens, in one place: the product page (the global
// object's WebSiteUrl), the support page, the help (the project's README), and the share
// pages of the seven share buttons.
//
// Threads: any (pure functions over files and texts).
#pragma once

#include <QString>
#include <array>

// The support and contact page of the product site.
QString SupportUrl(const QString& webSiteUrl);

// The project's README as a file: URL: the copy installed beside the program
// (<prefix>/share/doc/dvdswf/README.md), else the source tree's (a program run from its build
// tree), else `fallbackUrl`.
QString HelpReadmeUrl(const QString& fallbackUrl);

struct TShareService {
  const char* Hint;  // "Facebook", ... : the button's tool tip
  const char* Icon;  // picture name under resources/icons/
  // The page, with {url} and {title} for the percent-encoded address and title.
  const char* Template;
};

const std::array<TShareService, 7>& ShareServices();

// The share page of `service` for the product page `url` and the fixed title text.
QString ShareUrl(const TShareService& service, const QString& url, const QString& title);
