// Reads one source file into a SourceTable and prints rows, seconds, rows per second and the
// process's peak memory. With "generate" it writes the CSV the benchmark reads.
#include "source/CReadFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

long peakKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

int generate(const QString &path, int rows, int columns)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    QByteArray line;
    for (int c = 0; c < columns; ++c)
        line += (c ? "," : "") + QByteArray("Colonne été ") + QByteArray::number(c + 1);
    file.write(line + "\r\n");
    for (int r = 0; r < rows; ++r) {
        line.clear();
        for (int c = 0; c < columns; ++c) {
            if (c)
                line += ',';
            switch (c % 4) {
            case 0:
                line += "\"Müller, Jürgen " + QByteArray::number(r) + "\"";
                break;
            case 1:
                line += "\"said \"\"hello\"\" " + QByteArray::number(c) + "\"";
                break;
            case 2:
                line += QByteArray::number(r * 7 + c);
                break;
            default:
                line += "plain text " + QByteArray::number(r % 97);
            }
        }
        file.write(line + "\r\n");
    }
    return 0;
}

// The floor of an import that makes each card last on its own: the same number of files of the
// same size, each written beside its place, flushed to disk and renamed into it, the folder
// flushed so that the name lasts, and the source's bytes read once.
int floorOf(const QString &directory, int count, qint64 bytesEach, const QString &source)
{
    QElapsedTimer timer;
    timer.start();
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return 1;
    const qint64 read = in.readAll().size();
    const QByteArray content(bytesEach, 'x');
    const int folder = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY);
    if (folder < 0)
        return 1;
    for (int i = 0; i < count; ++i) {
        const QByteArray name = QFile::encodeName(directory) + "/f" + QByteArray::number(i);
        const int fd = ::open((name + ".tmp").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, content.constData(), size_t(content.size())) != content.size() ||
            ::fdatasync(fd) != 0 || ::close(fd) != 0 || ::rename((name + ".tmp").constData(), name.constData()) != 0 ||
            ::fsync(folder) != 0)
            return 1;
    }
    ::close(folder);
    std::printf("%.3f\n", timer.nsecsElapsed() / 1e9);
    return read >= 0 ? 0 : 1;
}

// The floor of an import made to last in batches: the same files each written to a temporary
// name, and every `batch` files (and at the end) the file system synced ("syncfs") or each file
// synced ("fdatasync"), the files renamed into their places and the folder synced: the steps the
// store takes. A batch of the whole count with "once" only syncs the file system after the
// renames: the least any import that ends on the disk can do.
int batchedFloorOf(const QString &directory, int count, qint64 bytesEach, const QString &source, int batch,
                   const QString &mode)
{
    QElapsedTimer timer;
    timer.start();
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly) || in.readAll().isEmpty())
        return 1;
    const QByteArray content(bytesEach, 'x');
    const int folder = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY);
    if (folder < 0)
        return 1;
    QList<int> files;
    QList<QByteArray> names;
    const auto commit = [&] {
        bool ok = mode == QLatin1String("fdatasync") || mode == QLatin1String("once") || ::syncfs(folder) == 0;
        for (const int fd : std::as_const(files))
            ok = ::fdatasync(fd) == 0 && ::close(fd) == 0 && ok;
        for (const QByteArray &name : std::as_const(names))
            ok = ::rename((name + ".tmp").constData(), name.constData()) == 0 && ok;
        ok = (mode == QLatin1String("once") ? ::syncfs(folder) : ::fsync(folder)) == 0 && ok;
        files.clear();
        names.clear();
        return ok;
    };
    for (int i = 0; i < count; ++i) {
        const QByteArray name = QFile::encodeName(directory) + "/f" + QByteArray::number(i);
        const int fd = ::open((name + ".tmp").constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || ::write(fd, content.constData(), size_t(content.size())) != content.size())
            return 1;
        if (mode == QLatin1String("fdatasync"))
            files << fd;
        else if (::close(fd) != 0)
            return 1;
        names << name;
        if (names.size() >= batch && !commit())
            return 1;
    }
    if (!commit())
        return 1;
    ::close(folder);
    std::printf("%.3f\n", timer.nsecsElapsed() / 1e9);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 6 && args[1] == QLatin1String("once"))
        return batchedFloorOf(args[2], args[3].toInt(), args[4].toLongLong(), args[5], args[3].toInt(),
                              QStringLiteral("once"));
    if (args.size() >= 8 && args[1] == QLatin1String("batched"))
        return batchedFloorOf(args[2], args[3].toInt(), args[4].toLongLong(), args[5], args[6].toInt(), args[7]);
    if (args.size() >= 6 && args[1] == QLatin1String("floor"))
        return floorOf(args[2], args[3].toInt(), args[4].toLongLong(), args[5]);
    if (args.size() >= 5 && args[1] == QLatin1String("generate"))
        return generate(args[2], args[3].toInt(), args[4].toInt());
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: read_source csv FILE | xls FILE SHEET | generate FILE ROWS COLUMNS\n"
                             "       read_source floor|once DIR COUNT BYTES SOURCE\n"
                             "       read_source batched DIR COUNT BYTES SOURCE BATCH syncfs|fdatasync\n");
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<SourceTable> table;
    try {
        if (args[1] == QLatin1String("csv"))
            table = CReadFile().Read_TextFile(args[2], QString(), QStringLiteral("CSH"));
        else
            table = CReadFile().Read_Excel(args[2], args.value(3), QStringLiteral("XLH"));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (!table)
        return 1;
    const double seconds = timer.nsecsElapsed() / 1e9;
    const qint64 bytes = QFile(args[2]).size();
    std::printf("%-4s %10d rows %4d cols %8.1f MB %8.3f s %12.0f rows/s  peak %7.1f MB (%.1fx file)\n",
                qPrintable(args[1]), table->recordCount(), table->fieldCount(), bytes / 1e6, seconds,
                table->recordCount() / seconds, peakKilobytes() / 1024.0, peakKilobytes() * 1024.0 / bytes);
    return 0;
}
