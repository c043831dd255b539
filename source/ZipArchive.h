#pragma once

#include <QIODevice>
#include <QString>
#include <memory>
#include <vector>

// A member of a zip file, read as a stream: stored or inflated piece by piece, never whole. Damage
// (a wrong checksum, data cut short, more data than the directory says, a size past the limit)
// ends the stream with a read error; problem() then says what it was.
class ZipMember : public QIODevice {
public:
    ~ZipMember() override;
    bool isSequential() const override { return true; }
    // More is to come until the member's end was read (a stream knows no size ahead).
    bool atEnd() const override { return m_ended && QIODevice::bytesAvailable() == 0; }
    qint64 bytesAvailable() const override { return QIODevice::bytesAvailable() + (m_ended ? 0 : 1); }
    QString problem() const { return m_problem; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    friend class ZipArchive;
    struct Entry;
    ZipMember(QIODevice &file, const Entry &entry);
    qint64 fail(const QString &problem);
    qint64 finish();

    QIODevice &m_file;
    const Entry &m_entry;
    struct Inflater;
    std::unique_ptr<Inflater> m_inflater; // none for a stored member
    qint64 m_filePos = 0;                 // next compressed byte to read
    qint64 m_compressedLeft = 0;
    qint64 m_produced = 0;
    quint32 m_crc = 0;
    bool m_ended = false;
    QString m_problem;
};

// The container of .xlsx and .ods workbooks. The directory is read and checked when the archive
// is made: members must lie inside the file, before the directory and apart from each other (so
// one stretch of data cannot be inflated many times), without encryption or the zip64 format.
// A member inflates to at most the size the directory gives it, and no member to more than
// 1 GiB or 1,100 times the size of the file.
class ZipArchive {
public:
    // Reads the directory of the zip file open in file, which must outlive the archive. Throws
    // AppError (kErrBadFormat) for a file that is no zip or whose directory is damaged.
    explicit ZipArchive(QIODevice &file);
    ~ZipArchive();

    // Whether the file starts as a zip file does; the device is left where it was.
    static bool looksLikeZip(QIODevice &file);

    bool contains(const QString &name) const;
    // A member as a stream, or nullptr when the archive holds no member of that name.
    std::unique_ptr<ZipMember> open(const QString &name) const;
    // A whole small member; throws AppError (kErrBadFormat) when it is missing, damaged or larger
    // than maxBytes.
    QByteArray read(const QString &name, qint64 maxBytes) const;

private:
    const ZipMember::Entry *find(const QString &name) const;

    QIODevice &m_file;
    std::vector<ZipMember::Entry> m_entries;
};
