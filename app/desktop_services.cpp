#include "app/desktop_services.h"

#include <QDesktopServices>
#include <QSettings>

namespace {
UrlOpener& installedOpener()
{
    static UrlOpener opener;
    return opener;
}
}

bool openDesktopUrl(const QUrl& url)
{
    if (const UrlOpener& opener = installedOpener())
        return opener(url);
    return QDesktopServices::openUrl(url);
}

UrlOpener setUrlOpener(UrlOpener opener)
{
    return std::exchange(installedOpener(), std::move(opener));
}

QUrl portalNewTourUrl()
{
    QString base = QSettings().value(kPortalUrlKey, QString::fromLatin1(kDefaultPortalUrl)).toString().trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return QUrl(base + QStringLiteral("/ambrels/new"));
}
