#include "platform/DataFolder.h"

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

// Whether a file can be made in the folder: a real try, as permission bits say nothing for root
// and nothing about a file system mounted read-only.
bool canWriteIn(const QString &folder)
{
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".mirel-write-XXXXXX")));
    return probe.open();
}

} // namespace

QString DataFolderFor(const QString &appPath, const QString &dataHome)
{
    if (canWriteIn(appPath))
        return appPath;
    const QString folder = QDir(dataHome).filePath(QStringLiteral("mirelimport"));
    QDir().mkpath(folder); // a failure shows when the database is made there
    return folder;
}

QString UserDataHome()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}
