#include "source/SourceFile.h"

#include "core/AppError.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

AppError sourceFileTooLarge(const QString &path)
{
    return AppError(kErrBadFormat, QStringLiteral("The file '%1' is larger than %2 MB, too large for a source file.")
                                       .arg(path, QString::number(kMaxSourceFileBytes >> 20)));
}

void openSourceFile(QFile &file, const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw AppError(ErrorCode::FileNotFound, QStringLiteral("Could not find file '%1'.").arg(path));
        throw AppError(ErrorCode::FileNotFound,
                       QStringLiteral("The file '%1' could not be read: %2").arg(path, qt_error_string(errno)));
    }
    struct stat status {};
    std::optional<AppError> refusal;
    if (fstat(fd, &status) != 0)
        refusal.emplace(ErrorCode::FileNotFound,
                        QStringLiteral("The file '%1' could not be read: %2").arg(path, qt_error_string(errno)));
    else if (S_ISDIR(status.st_mode))
        refusal.emplace(ErrorCode::FileNotFound, QStringLiteral("'%1' is a folder, not a file.").arg(path));
    else if (!S_ISREG(status.st_mode))
        refusal.emplace(
            kErrBadFormat,
            QStringLiteral("'%1' is not a regular file (a device, a pipe or a socket) and cannot be read.").arg(path));
    else if (status.st_size > kMaxSourceFileBytes)
        refusal = sourceFileTooLarge(path);
    if (refusal) {
        ::close(fd);
        throw *refusal;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw AppError(ErrorCode::FileNotFound,
                       QStringLiteral("The file '%1' could not be read: %2").arg(path, file.errorString()));
    }
}
