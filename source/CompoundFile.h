#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The container of Excel 97-2003 workbooks (and other OLE documents): a small file system of
// sectors, chained through an allocation table, with a directory of named streams. Every sector
// number, chain and length is checked against the file: damage raises AppError (kErrBadFormat),
// never reads outside the bytes or loops.
class CompoundFile {
public:
    // Reads the header, the allocation tables and the directory.
    explicit CompoundFile(QByteArray bytes);

    // True when the bytes start with the container's signature.
    static bool hasSignature(QByteArrayView bytes);

    // The whole stream of this name in the root storage (letter case ignored), or none.
    std::optional<QByteArray> rootStream(const QString &name) const;

private:
    struct Entry {
        QString name;
        quint8 type = 0; // 1 storage, 2 stream, 5 root
        quint32 left = 0, right = 0, child = 0;
        quint32 start = 0;
        quint64 size = 0;
    };

    quint32 sectorCount() const;
    QByteArrayView sector(quint32 number) const;
    QByteArray chain(quint32 start, quint64 size, bool mini) const;
    void readAllocationTable();
    void readDirectory();

    QByteArray m_bytes;
    quint32 m_sectorShift = 9;
    quint32 m_miniShift = 6;
    quint32 m_miniCutoff = 4096;
    std::vector<quint32> m_fat;
    std::vector<quint32> m_miniFat;
    std::vector<Entry> m_entries;
    QByteArray m_miniStream;
};
