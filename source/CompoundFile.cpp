#include "source/CompoundFile.h"

#include "core/AppError.h"
#include "source/SourceFile.h"

#include <QIODevice>
#include <QtEndian>

namespace {

constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kFreeSector = 0xFFFFFFFF;
constexpr quint32 kMaxRegularSector = 0xFFFFFFFA;
constexpr quint32 kNoEntry = 0xFFFFFFFF;
constexpr qint64 kWindowBytes = 64 * 1024;
const char kSignature[8] = {'\xD0', '\xCF', '\x11', '\xE0', '\xA1', '\xB1', '\x1A', '\xE1'};

[[noreturn]] void damaged(const char *what)
{
    throw AppError(kErrBadFormat, QStringLiteral("The workbook is damaged: %1.").arg(QLatin1String(what)));
}

quint16 u16(QByteArrayView b, qsizetype at)
{
    return qFromLittleEndian<quint16>(b.data() + at);
}

quint32 u32(QByteArrayView b, qsizetype at)
{
    return qFromLittleEndian<quint32>(b.data() + at);
}

// Reads n bytes at a place of the device, all of them or none.
void readAt(QIODevice &device, qint64 at, char *to, qint64 n)
{
    if (!device.seek(at) || device.read(to, n) != n)
        damaged("the file cannot be read whole");
}

} // namespace

QByteArrayView CompoundStream::read(qint64 offset, qint64 n)
{
    if (offset < 0 || n < 0 || offset + n > m_size)
        damaged("a record lies past the end of its stream");
    if (offset < m_windowStart || offset + n > m_windowStart + m_window.size()) {
        if (m_whole)
            damaged("a record lies past the end of its stream");
        // The next window: from offset on, through as many whole sectors as it takes, each run
        // of neighbouring sectors in one read.
        const qint64 sectorSize = qint64(1) << m_shift;
        const qint64 end = std::min(m_size, offset + std::max(n, kWindowBytes));
        m_window.resize(end - offset);
        qint64 at = offset;
        while (at < end) {
            const size_t index = size_t(at >> m_shift);
            size_t last = index;
            while (last + 1 < m_sectors.size() && qint64(last + 1) << m_shift < end &&
                   m_sectors[last + 1] == m_sectors[last] + 1)
                ++last;
            const qint64 inner = at & (sectorSize - 1);
            const qint64 length = std::min(end, qint64(last + 1) << m_shift) - at;
            readAt(*m_device, (qint64(m_sectors[index]) + 1) * sectorSize + inner, m_window.data() + (at - offset),
                   length);
            at += length;
        }
        m_windowStart = offset;
    }
    return QByteArrayView(m_window.constData() + (offset - m_windowStart), n);
}

bool CompoundFile::hasSignature(QByteArrayView bytes)
{
    return bytes.size() >= 8 && QByteArrayView(bytes.data(), 8) == QByteArrayView(kSignature, 8);
}

CompoundFile::CompoundFile(QIODevice &device) : m_device(device), m_fileSize(device.size())
{
    QByteArray header(512, Qt::Uninitialized);
    if (m_fileSize < 512 || !device.seek(0) || device.read(header.data(), 512) != 512 || !hasSignature(header))
        damaged("it is not a compound document");
    m_sectorShift = u16(header, 0x1E);
    m_miniShift = u16(header, 0x20);
    if ((m_sectorShift != 9 && m_sectorShift != 12) || m_miniShift != 6)
        damaged("its sector size is unknown");
    m_miniCutoff = u32(header, 0x38);
    readAllocationTable(header);
    readDirectory(header);
}

quint32 CompoundFile::sectorCount() const
{
    // The header takes the place of sector -1; a short last sector counts as none.
    const quint64 whole = quint64(m_fileSize) >> m_sectorShift;
    return whole == 0 ? 0 : quint32(std::min<quint64>(whole - 1, kMaxRegularSector));
}

QByteArray CompoundFile::readSectors(const std::vector<quint32> &sectors, qint64 size) const
{
    QByteArray out(size, Qt::Uninitialized);
    const qint64 sectorSize = qint64(1) << m_sectorShift;
    for (size_t i = 0; i < sectors.size() && qint64(i) * sectorSize < size; ++i)
        readAt(m_device, (qint64(sectors[i]) + 1) * sectorSize, out.data() + qint64(i) * sectorSize,
               std::min(sectorSize, size - qint64(i) * sectorSize));
    return out;
}

std::vector<quint32> CompoundFile::chain(quint32 start, quint64 size) const
{
    // A chain has at most as many links as the table has entries: more is a loop.
    const quint64 needed = (size + (quint64(1) << m_sectorShift) - 1) >> m_sectorShift;
    if (needed > sectorCount())
        damaged("a stream is longer than the file");
    std::vector<quint32> sectors;
    sectors.reserve(size_t(needed));
    std::vector<bool> seen(m_fat.size());
    for (quint32 number = start; sectors.size() < needed; number = m_fat[number]) {
        if (number >= m_fat.size() || number >= sectorCount() || seen[number])
            damaged("a chain of sectors is broken");
        seen[number] = true;
        sectors.push_back(number);
    }
    return sectors;
}

QByteArray CompoundFile::miniChain(quint32 start, quint64 size) const
{
    if (size > quint64(m_miniStream.size()))
        damaged("a stream is longer than the file");
    const qsizetype length = qsizetype(1) << m_miniShift;
    QByteArray out;
    out.reserve(qsizetype(size));
    std::vector<bool> seen(m_miniFat.size());
    for (quint32 number = start; quint64(out.size()) < size; number = m_miniFat[number]) {
        const qsizetype at = qsizetype(number) * length;
        if (number >= m_miniFat.size() || at + length > m_miniStream.size() || seen[number])
            damaged("a chain of sectors is broken");
        seen[number] = true;
        out.append(m_miniStream.constData() + at, qsizetype(std::min<quint64>(quint64(length), size - quint64(out.size()))));
    }
    return out;
}

void CompoundFile::readAllocationTable(QByteArrayView header)
{
    const quint32 perSector = (1u << m_sectorShift) / 4;
    const quint32 fatSectors = u32(header, 0x2C);
    if (fatSectors > sectorCount())
        damaged("its allocation table is larger than the file");
    // The sectors of the allocation table: 109 listed in the header, the rest in a chain of
    // sectors that each end with the number of the next.
    std::vector<quint32> fatList;
    for (int i = 0; i < 109 && fatList.size() < fatSectors; ++i)
        fatList.push_back(u32(header, 0x4C + i * 4));
    quint32 next = u32(header, 0x44);
    for (quint32 hops = 0; fatList.size() < fatSectors; ++hops) {
        if (next >= sectorCount() || hops > sectorCount())
            damaged("its allocation table is incomplete");
        const QByteArray list = readSectors({next}, qint64(perSector) * 4);
        for (quint32 i = 0; i + 1 < perSector && fatList.size() < fatSectors; ++i)
            fatList.push_back(u32(list, i * 4));
        next = u32(list, (perSector - 1) * 4);
    }
    for (const quint32 number : fatList)
        if (number >= sectorCount())
            damaged("its allocation table lies past the end of the file");
    const QByteArray table = readSectors(fatList, qint64(fatList.size()) * perSector * 4);
    m_fat.resize(size_t(table.size() / 4));
    for (size_t i = 0; i < m_fat.size(); ++i)
        m_fat[i] = u32(table, qsizetype(i) * 4);

    const quint32 miniFatStart = u32(header, 0x3C);
    if (miniFatStart != kEndOfChain && miniFatStart != kFreeSector) {
        const quint64 bytes = quint64(u32(header, 0x40)) << m_sectorShift;
        const QByteArray mini = readSectors(chain(miniFatStart, bytes), qint64(bytes));
        m_miniFat.resize(size_t(mini.size() / 4));
        for (size_t i = 0; i < m_miniFat.size(); ++i)
            m_miniFat[i] = u32(mini, qsizetype(i) * 4);
    }
}

void CompoundFile::readDirectory(QByteArrayView header)
{
    // The directory's length is not stored: its chain is read to the end, within the table.
    std::vector<quint32> sectors;
    std::vector<bool> seen(m_fat.size());
    for (quint32 number = u32(header, 0x30); number != kEndOfChain; number = m_fat[number]) {
        if (number >= m_fat.size() || number >= sectorCount() || seen[number])
            damaged("the directory's chain is broken");
        seen[number] = true;
        sectors.push_back(number);
    }
    const QByteArray directory = readSectors(sectors, qint64(sectors.size()) << m_sectorShift);
    for (qsizetype at = 0; at + 128 <= directory.size(); at += 128) {
        const QByteArrayView raw(directory.constData() + at, 128);
        Entry entry;
        const int nameBytes = std::min<int>(u16(raw, 0x40), 64);
        for (int i = 0; i + 1 < nameBytes / 2; ++i)
            entry.name += QChar(u16(raw, i * 2));
        entry.type = quint8(raw[0x42]);
        entry.left = u32(raw, 0x44);
        entry.right = u32(raw, 0x48);
        entry.child = u32(raw, 0x4C);
        entry.start = u32(raw, 0x74);
        // Version 3 files keep only the low half of the size.
        entry.size = m_sectorShift == 9 ? u32(raw, 0x78) : qFromLittleEndian<quint64>(raw.data() + 0x78);
        m_entries.push_back(entry);
    }
    if (m_entries.empty() || m_entries[0].type != 5)
        damaged("it has no root entry");
    if (m_entries[0].size > 0)
        m_miniStream = readSectors(chain(m_entries[0].start, m_entries[0].size), qint64(m_entries[0].size));
}

std::optional<CompoundStream> CompoundFile::rootStream(const QString &name) const
{
    // The root's children form a tree through their left and right links; each entry is visited once.
    std::vector<bool> seen(m_entries.size());
    std::vector<quint32> pending{m_entries[0].child};
    while (!pending.empty()) {
        const quint32 index = pending.back();
        pending.pop_back();
        if (index == kNoEntry)
            continue;
        if (index >= m_entries.size() || seen[index])
            damaged("the directory is not a tree");
        seen[index] = true;
        const Entry &entry = m_entries[index];
        if (entry.type == 2 && entry.name.compare(name, Qt::CaseInsensitive) == 0) {
            CompoundStream stream;
            stream.m_device = &m_device;
            stream.m_shift = m_sectorShift;
            stream.m_size = qint64(entry.size);
            if (entry.size < m_miniCutoff) { // small streams live in the mini stream
                stream.m_window = miniChain(entry.start, entry.size);
                stream.m_whole = true;
            } else {
                stream.m_sectors = chain(entry.start, entry.size);
            }
            return stream;
        }
        pending.push_back(entry.left);
        pending.push_back(entry.right);
    }
    return std::nullopt;
}
