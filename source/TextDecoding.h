#pragma once

#include <QByteArrayView>
#include <QStringDecoder>
#include <optional>

class QIODevice;
class QString;

// Reads a byte-order mark at the start of a text and skips it: it says how the text is written
// and is no part of the first column's name. Gives a decoder for UTF-16; none for UTF-8 after its
// mark or for text without one.
std::optional<QStringDecoder> skipByteOrderMark(QIODevice &in);

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isValidUtf8(QByteArrayView bytes);

// The bytes of one record, decoded on their own: as UTF-8 when they are all valid UTF-8, else as
// Windows-1252, so that one line never changes how another reads.
class RecordText {
public:
    explicit RecordText(QByteArrayView bytes) : m_bytes(bytes), m_utf8(isValidUtf8(bytes)) {}
    // Appends the bytes from `from` to `to` as text: ASCII as it stands, else in the record's encoding.
    void append(qsizetype from, qsizetype to, QString &out) const;

private:
    QByteArrayView m_bytes;
    bool m_utf8;
};
