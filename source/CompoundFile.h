#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;

// One stream of a compound file, read piece by piece from the device, so that a large stream is
// never held whole in memory.
class CompoundStream {
public:
    qint64 size() const { return m_size; }
    // n bytes from offset (n no more than a record); valid until the next call. Past the end of
    // the stream raises AppError (kErrBadFormat).
    QByteArrayView read(qint64 offset, qint64 n);

private:
    friend class CompoundFile;
    QIODevice *m_device = nullptr;
    std::vector<quint32> m_sectors; // the chain, in stream order; empty for a stream held in m_window
    int m_shift = 9;
    qint64 m_size = 0;
    QByteArray m_window; // the bytes read last, from m_windowStart
    qint64 m_windowStart = 0;
    bool m_whole = false; // m_window holds the whole stream
};

// The container of Excel 97-2003 workbooks (and other OLE documents): a small file system of
// sectors, chained through an allocation table, with a directory of named streams. Every sector
// number, chain and length is checked against the file: damage raises AppError (kErrBadFormat),
// never reads outside the file or loops.
class CompoundFile {
public:
    // Reads the header, the allocation tables and the directory. The device stays in use for
    // the streams and must outlive them.
    explicit CompoundFile(QIODevice &device);

    // True when the bytes start with the container's signature.
    static bool hasSignature(QByteArrayView bytes);

    // The stream of this name in the root storage (letter case ignored), or none.
    std::optional<CompoundStream> rootStream(const QString &name) const;

private:
    struct Entry {
        QString name;
        quint8 type = 0; // 1 storage, 2 stream, 5 root
        quint32 left = 0, right = 0, child = 0;
        quint32 start = 0;
        quint64 size = 0;
    };

    quint32 sectorCount() const;
    QByteArray readSectors(const std::vector<quint32> &sectors, qint64 size) const;
    std::vector<quint32> chain(quint32 start, quint64 size) const;
    QByteArray miniChain(quint32 start, quint64 size) const;
    void readAllocationTable(QByteArrayView header);
    void readDirectory(QByteArrayView header);

    QIODevice &m_device;
    qint64 m_fileSize = 0;
    int m_sectorShift = 9;
    int m_miniShift = 6;
    quint32 m_miniCutoff = 4096;
    std::vector<quint32> m_fat;
    std::vector<quint32> m_miniFat;
    std::vector<Entry> m_entries;
    QByteArray m_miniStream;
};
