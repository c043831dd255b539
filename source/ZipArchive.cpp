#include "source/ZipArchive.h"

#include "core/AppError.h"
#include "source/SourceFile.h"

#include <QHash>
#include <algorithm>
#include <zlib.h>

struct ZipMember::Entry {
    QString name;
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    qint64 compressedSize = 0;
    qint64 size = 0;
    qint64 headerOffset = 0;
    qint64 dataOffset = 0; // found from the member's own header when it is opened
};

struct ZipMember::Inflater {
    z_stream stream{};
    QByteArray input = QByteArray(64 * 1024, Qt::Uninitialized);
    Inflater() { inflateInit2(&stream, -MAX_WBITS); } // raw deflate, as zip stores it
    ~Inflater() { inflateEnd(&stream); }
};

namespace {

constexpr quint32 kLocalHeader = 0x04034b50;
constexpr quint32 kCentralHeader = 0x02014b50;
constexpr quint32 kEndOfDirectory = 0x06054b50;
constexpr qint64 kEndRecordSize = 22;
constexpr qint64 kMaxMemberBytes = qint64(1) << 30;
constexpr qint64 kMaxInflation = 1100; // deflate itself cannot pass about 1032 to 1

quint16 u16(const char *p)
{
    return quint16(uchar(p[0]) | uchar(p[1]) << 8);
}

quint32 u32(const char *p)
{
    return quint32(u16(p)) | quint32(u16(p + 2)) << 16;
}

[[noreturn]] void damaged(const QString &what)
{
    throw AppError(kErrBadFormat, QStringLiteral("The zip container is damaged: %1.").arg(what));
}

QByteArray readAt(QIODevice &file, qint64 offset, qint64 length)
{
    if (offset < 0 || length < 0 || offset + length > file.size() || !file.seek(offset))
        damaged(QStringLiteral("a part lies outside the file"));
    QByteArray bytes = file.read(length);
    if (bytes.size() != length)
        damaged(QStringLiteral("the file could not be read"));
    return bytes;
}

} // namespace

ZipMember::ZipMember(QIODevice &file, const Entry &entry) : m_file(file), m_entry(entry)
{
    m_filePos = entry.dataOffset;
    m_compressedLeft = entry.compressedSize;
    if (entry.method == 8)
        m_inflater = std::make_unique<Inflater>();
    open(QIODevice::ReadOnly);
}

ZipMember::~ZipMember() = default;

qint64 ZipMember::fail(const QString &problem)
{
    m_problem = QStringLiteral("The zip container is damaged: %1 (%2).").arg(problem, m_entry.name);
    setErrorString(m_problem);
    m_ended = true;
    return -1;
}

qint64 ZipMember::finish()
{
    m_ended = true;
    if (m_produced != m_entry.size)
        return fail(QStringLiteral("a part is shorter than its directory says"));
    if (m_crc != m_entry.crc)
        return fail(QStringLiteral("a part does not match its checksum"));
    return 0;
}

qint64 ZipMember::readData(char *data, qint64 maxSize)
{
    if (!m_problem.isEmpty())
        return -1;
    if (m_ended || maxSize <= 0)
        return 0;
    maxSize = std::min<qint64>(maxSize, 1 << 20);
    qint64 produced = 0;
    if (!m_inflater) { // stored as it is
        const qint64 length = std::min(maxSize, m_compressedLeft);
        if (length == 0)
            return finish();
        if (!m_file.seek(m_filePos) || m_file.read(data, length) != length)
            return fail(QStringLiteral("a part is cut short"));
        m_filePos += length;
        m_compressedLeft -= length;
        produced = length;
    } else {
        z_stream &z = m_inflater->stream;
        while (produced == 0) {
            if (z.avail_in == 0 && m_compressedLeft > 0) {
                const qint64 length = std::min<qint64>(m_inflater->input.size(), m_compressedLeft);
                if (!m_file.seek(m_filePos) || m_file.read(m_inflater->input.data(), length) != length)
                    return fail(QStringLiteral("a part is cut short"));
                m_filePos += length;
                m_compressedLeft -= length;
                z.next_in = reinterpret_cast<Bytef *>(m_inflater->input.data());
                z.avail_in = uInt(length);
            }
            z.next_out = reinterpret_cast<Bytef *>(data);
            z.avail_out = uInt(maxSize);
            const int result = inflate(&z, Z_NO_FLUSH);
            produced = maxSize - z.avail_out;
            if (result == Z_STREAM_END) {
                m_produced += produced;
                m_crc = quint32(crc32(m_crc, reinterpret_cast<const Bytef *>(data), uInt(produced)));
                if (m_produced > m_entry.size)
                    return fail(QStringLiteral("a part is longer than its directory says"));
                if (produced > 0)
                    return produced; // the end is checked at the next read
                return finish();
            }
            if (result != Z_OK && result != Z_BUF_ERROR) // a buffer error only asks for more input
                return fail(QStringLiteral("a part cannot be inflated"));
            if (produced == 0 && z.avail_in == 0 && m_compressedLeft == 0)
                return fail(QStringLiteral("a part is cut short"));
        }
    }
    m_produced += produced;
    m_crc = quint32(crc32(m_crc, reinterpret_cast<const Bytef *>(data), uInt(produced)));
    if (m_produced > m_entry.size)
        return fail(QStringLiteral("a part is longer than its directory says"));
    return produced;
}

ZipArchive::ZipArchive(QIODevice &file) : m_file(file)
{
    const qint64 fileSize = file.size();
    if (fileSize < kEndRecordSize)
        damaged(QStringLiteral("the file is too short"));
    // The end record: the last one in the file, before a comment of at most 64 KiB.
    const qint64 tailStart = std::max<qint64>(0, fileSize - kEndRecordSize - 0xFFFF);
    const QByteArray tail = readAt(file, tailStart, fileSize - tailStart);
    qint64 end = -1;
    for (qint64 i = tail.size() - kEndRecordSize; i >= 0 && end < 0; --i)
        if (u32(tail.constData() + i) == kEndOfDirectory &&
            i + kEndRecordSize + u16(tail.constData() + i + 20) == tail.size())
            end = i;
    if (end < 0)
        damaged(QStringLiteral("it has no directory"));
    const char *record = tail.constData() + end;
    const qint64 endOffset = tailStart + end;
    const quint16 count = u16(record + 10);
    const qint64 directorySize = u32(record + 12);
    const qint64 directoryOffset = u32(record + 16);
    if (u16(record + 4) != 0 || u16(record + 6) != 0 || count != u16(record + 8))
        damaged(QStringLiteral("it is split over several files"));
    if (count == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF)
        damaged(QStringLiteral("it uses the zip64 format"));
    if (directoryOffset + directorySize > endOffset || qint64(count) * 46 > directorySize)
        damaged(QStringLiteral("its directory lies outside the file"));

    const QByteArray directory = readAt(file, directoryOffset, directorySize);
    const qint64 memberLimit = std::min(kMaxMemberBytes, fileSize * kMaxInflation);
    QHash<QString, bool> seen;
    qint64 at = 0;
    for (int i = 0; i < count; ++i) {
        if (at + 46 > directory.size() || u32(directory.constData() + at) != kCentralHeader)
            damaged(QStringLiteral("its directory is cut short"));
        const char *h = directory.constData() + at;
        ZipMember::Entry entry;
        entry.flags = u16(h + 8);
        entry.method = u16(h + 10);
        entry.crc = u32(h + 16);
        entry.compressedSize = u32(h + 20);
        entry.size = u32(h + 24);
        const qint64 nameLength = u16(h + 28);
        const qint64 skip = nameLength + u16(h + 30) + u16(h + 32);
        entry.headerOffset = u32(h + 42);
        if (at + 46 + skip > directory.size())
            damaged(QStringLiteral("its directory is cut short"));
        entry.name = QString::fromUtf8(h + 46, nameLength);
        at += 46 + skip;
        if (entry.flags & 0x41)
            damaged(QStringLiteral("it is encrypted"));
        if (entry.compressedSize == 0xFFFFFFFF || entry.size == 0xFFFFFFFF || entry.headerOffset == 0xFFFFFFFF)
            damaged(QStringLiteral("it uses the zip64 format"));
        if (entry.method != 0 && entry.method != 8)
            damaged(QStringLiteral("a part is compressed in a way not read here"));
        if (entry.method == 0 && entry.compressedSize != entry.size)
            damaged(QStringLiteral("a stored part has two sizes"));
        if (entry.size > memberLimit)
            damaged(QStringLiteral("a part would grow to %1 bytes").arg(entry.size));
        if (seen.contains(entry.name))
            continue; // the first of a name counts
        seen.insert(entry.name, true);
        m_entries.push_back(std::move(entry));
    }
    // Each member's data follows its own header, before the directory and before the next member.
    std::vector<ZipMember::Entry *> byOffset;
    for (ZipMember::Entry &entry : m_entries)
        byOffset.push_back(&entry);
    std::sort(byOffset.begin(), byOffset.end(),
              [](const auto *a, const auto *b) { return a->headerOffset < b->headerOffset; });
    for (size_t i = 0; i < byOffset.size(); ++i) {
        ZipMember::Entry &entry = *byOffset[i];
        const QByteArray header = readAt(file, entry.headerOffset, 30);
        if (u32(header.constData()) != kLocalHeader)
            damaged(QStringLiteral("a part has no header"));
        entry.dataOffset = entry.headerOffset + 30 + u16(header.constData() + 26) + u16(header.constData() + 28);
        const qint64 limit = i + 1 < byOffset.size() ? byOffset[i + 1]->headerOffset : directoryOffset;
        if (entry.dataOffset + entry.compressedSize > limit)
            damaged(QStringLiteral("parts overlap"));
    }
}

ZipArchive::~ZipArchive() = default;

bool ZipArchive::looksLikeZip(QIODevice &file)
{
    const QByteArray start = file.peek(4);
    return start.size() == 4 && u32(start.constData()) == kLocalHeader;
}

const ZipMember::Entry *ZipArchive::find(const QString &name) const
{
    const auto found =
        std::find_if(m_entries.begin(), m_entries.end(), [&](const ZipMember::Entry &e) { return e.name == name; });
    return found == m_entries.end() ? nullptr : &*found;
}

bool ZipArchive::contains(const QString &name) const
{
    return find(name) != nullptr;
}

std::unique_ptr<ZipMember> ZipArchive::open(const QString &name) const
{
    const ZipMember::Entry *entry = find(name);
    return entry ? std::unique_ptr<ZipMember>(new ZipMember(m_file, *entry)) : nullptr;
}

QByteArray ZipArchive::read(const QString &name, qint64 maxBytes) const
{
    const ZipMember::Entry *entry = find(name);
    if (!entry)
        damaged(QStringLiteral("%1 is missing").arg(name));
    if (entry->size > maxBytes)
        damaged(QStringLiteral("%1 is too large").arg(name));
    const std::unique_ptr<ZipMember> member = open(name);
    QByteArray bytes = member->readAll();
    if (!member->problem().isEmpty())
        throw AppError(kErrBadFormat, member->problem());
    return bytes;
}
