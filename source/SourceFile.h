#pragma once

#include <QtGlobal>

class AppError;
class QFile;
class QString;

// The largest source file read: 256 MiB hold a million contacts of 250 bytes, more than a contact
// folder takes; anything larger is a wrong file or a device, and reading it would only fill memory.
constexpr qint64 kMaxSourceFileBytes = qint64(256) << 20;

// Jet's number for a file that is not in the expected format.
constexpr qint32 kErrBadFormat = 3274;

// Opens a source file for reading. Only a regular file within the size limit is read: a device,
// a pipe or a socket can block a read or never end. The open itself does not wait on a pipe.
// Throws AppError, FileNotFound for a missing file, a folder or one that cannot be read.
void openSourceFile(QFile &file, const QString &path);

// The error for a source file past kMaxSourceFileBytes.
AppError sourceFileTooLarge(const QString &path);
