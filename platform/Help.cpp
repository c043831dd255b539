#include "platform/Help.h"

#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "core/UrlOpener.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString kHelpFileName = QStringLiteral("MirelImp.chm");
const QString kProductWebSite = QStringLiteral("https://www.contactmirel.com/");
} // namespace

void OpenHelpContents(Services &services)
{
    const QString helpFile = services.appPath + QLatin1Char('/') + kHelpFileName;
    QString error;
    if (!QFileInfo::exists(helpFile))
        error = QStringLiteral("The help file %1 could not be found.").arg(QDir::toNativeSeparators(helpFile));
    else if (!services.urls->openUrl(QUrl::fromLocalFile(helpFile)))
        error =
            QStringLiteral("No program is set up to open the help file %1.").arg(QDir::toNativeSeparators(helpFile));
    if (!error.isEmpty())
        services.boxes().show(error);
}

void OpenProductWebSite(Services &services)
{
    services.urls->openUrl(QUrl(kProductWebSite));
}
