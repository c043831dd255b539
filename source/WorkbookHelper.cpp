#include "source/WorkbookHelper.h"

#include "core/AppError.h"
#include "source/SourceFile.h"
#include "source/WorkbookReader.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <climits>
#include <freexl.h>

namespace {

// The helper program, or an empty text to read here.
QString workbookHelper()
{
    const QString fromEnvironment = qEnvironmentVariable("MIREL_XLS_READER");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    if (!QCoreApplication::instance())
        return QString();
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/mirel-xls-reader");
    return QFileInfo(beside).isExecutable() ? beside : QString();
}

// The size of a workbook that may be read, or -1 for one that is missing, a folder or unreadable.
// What is not a regular file or is too large raises the same error as for a text file.
qint64 workbookSize(const QString &path)
{
    QFile file;
    try {
        openSourceFile(file, path);
    } catch (const AppError &e) {
        if (e.number() == ErrorCode::FileNotFound)
            return -1;
        throw;
    }
    return file.size();
}

// Runs the helper on a workbook of the given size. Past its time, or an answer past its limit,
// it is killed and the read fails.
bool runHelper(const QString &helper, const QStringList &arguments, qint64 workbookBytes, QByteArray &output)
{
    const WorkbookHelperLimits &limits = workbookHelperLimits();
    const QDeadlineTimer deadline(limits.baseMs + limits.msPerMiB * workbookBytes / (1 << 20));
    const auto remaining = [&] { return int(std::min<qint64>(deadline.remainingTime(), INT_MAX)); };
    QProcess process;
    // Its complaints go to our own standard error, not into a buffer without bound.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(helper, arguments);
    if (!process.waitForStarted(remaining()))
        return false;
    process.closeWriteChannel();
    while (process.state() != QProcess::NotRunning) {
        if (deadline.hasExpired() || output.size() > limits.answerBytes) {
            process.kill();
            process.waitForFinished();
            return false;
        }
        process.waitForReadyRead(remaining());
        output += process.readAllStandardOutput();
    }
    output += process.readAllStandardOutput();
    return output.size() <= limits.answerBytes && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

WorkbookHelperLimits &workbookHelperLimits()
{
    static WorkbookHelperLimits limits;
    return limits;
}

std::unique_ptr<SourceTable> ReadWorksheet(const QString &path, const QString &sheetName, bool header)
{
    const qint64 size = workbookSize(path);
    if (size < 0)
        return nullptr;
    const QString helper = workbookHelper();
    if (helper.isEmpty())
        return ReadWorksheetHere(path, sheetName, header);
    QByteArray output;
    if (!runHelper(helper,
                   {QStringLiteral("sheet"), path, sheetName, header ? QStringLiteral("1") : QStringLiteral("0")}, size,
                   output))
        return nullptr;
    QDataStream in(output);
    in.setVersion(QDataStream::Qt_6_4);
    QStringList columns;
    qint64 rows = 0;
    in >> columns >> rows;
    auto table = std::make_unique<SourceTable>();
    for (qint64 r = 0; r < rows && in.status() == QDataStream::Ok; ++r) {
        QVariantList row;
        in >> row;
        table->beginRow();
        for (const QVariant &value : std::as_const(row))
            table->addValue(value);
    }
    if (in.status() != QDataStream::Ok)
        return nullptr;
    table->setColumnNames(columns);
    table->moveFirst();
    return table;
}

int WorkbookSheets(const QString &path, QStringList &names)
{
    names.clear();
    qint64 size = -1;
    try {
        size = workbookSize(path);
    } catch (const AppError &) {
    }
    if (size < 0)
        return FREEXL_FILE_NOT_FOUND;
    const QString helper = workbookHelper();
    if (helper.isEmpty())
        return WorkbookSheetsHere(path, names);
    QByteArray output;
    if (!runHelper(helper, {QStringLiteral("list"), path}, size, output))
        return FREEXL_CRAFTED_FILE;
    QDataStream in(output);
    in.setVersion(QDataStream::Qt_6_4);
    qint32 status = FREEXL_CRAFTED_FILE;
    in >> status >> names;
    return in.status() == QDataStream::Ok ? status : FREEXL_CRAFTED_FILE;
}

void WriteWorksheet(QIODevice &out, const SourceTable &table)
{
    QDataStream stream(&out);
    stream.setVersion(QDataStream::Qt_6_4);
    stream << table.columnNames() << qint64(table.recordCount());
    for (int r = 0; r < table.recordCount(); ++r) {
        QVariantList row;
        for (int c = 0; c < table.fieldCount(); ++c)
            row << table.cell(r, c);
        stream << row;
    }
}

void WriteWorkbookSheets(QIODevice &out, int status, const QStringList &names)
{
    QDataStream stream(&out);
    stream.setVersion(QDataStream::Qt_6_4);
    stream << qint32(status) << names;
}
