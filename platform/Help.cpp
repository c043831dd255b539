#include "platform/Help.h"

#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "core/UrlOpener.h"
#include "platform/ChmFile.h"
#include "platform/qt/HelpWindow.h"

#include <QDir>
#include <QFileInfo>

namespace {
const QString kHelpFileName = QStringLiteral("MirelImp.chm");
const QString kProductWebSite = QStringLiteral("https://www.contactmirel.com/");
} // namespace

void OpenHelpContents(Services &services)
{
    const QString helpFile = services.appPath + QLatin1Char('/') + kHelpFileName;
    const QString shown = QDir::toNativeSeparators(helpFile);
    if (!QFileInfo::exists(helpFile)) {
        services.boxes().show(QStringLiteral("The help file %1 could not be found.").arg(shown));
        return;
    }
    if (RaiseHelpWindow())
        return;
    QString reason;
    std::unique_ptr<ChmFile> file = ChmFile::open(helpFile, reason);
    const QList<HelpTopic> contents = file ? file->contents() : QList<HelpTopic>();
    if (file && std::none_of(contents.begin(), contents.end(), [](const HelpTopic &t) { return !t.local.isEmpty(); }))
        reason = QStringLiteral("it has no table of contents");
    if (!reason.isEmpty()) {
        services.boxes().show(QStringLiteral("The help file %1 cannot be opened: %2.").arg(shown, reason));
        return;
    }
    ShowHelpWindow(*services.urls, std::move(file), contents);
}

void OpenProductWebSite(Services &services)
{
    services.urls->openUrl(QUrl(kProductWebSite));
}
