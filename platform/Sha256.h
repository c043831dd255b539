#pragma once

#include <QByteArrayView>
#include <QString>

// SHA-256 checksums as lower-case hex, by the crypto library the database engine links already:
// several times faster than QCryptographicHash, and one is taken of every card saved.
QString Sha256Hex(QByteArrayView bytes);
// Of a file's content, read in pieces; empty when the file cannot be read.
QString FileSha256Hex(const QString &path);
