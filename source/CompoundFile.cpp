#include "source/CompoundFile.h"

#include "core/AppError.h"
#include "source/SourceFile.h"

#include <QtEndian>
#include <vector>

namespace {

constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kFreeSector = 0xFFFFFFFF;
constexpr quint32 kMaxRegularSector = 0xFFFFFFFA;
constexpr quint32 kNoEntry = 0xFFFFFFFF;
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

} // namespace

bool CompoundFile::hasSignature(QByteArrayView bytes)
{
    return bytes.size() >= 8 && QByteArrayView(bytes.data(), 8) == QByteArrayView(kSignature, 8);
}

CompoundFile::CompoundFile(QByteArray bytes) : m_bytes(std::move(bytes))
{
    if (m_bytes.size() < 512 || !hasSignature(m_bytes))
        damaged("it is not a compound document");
    const QByteArrayView header(m_bytes.constData(), 512);
    m_sectorShift = u16(header, 0x1E);
    m_miniShift = u16(header, 0x20);
    if ((m_sectorShift != 9 && m_sectorShift != 12) || m_miniShift != 6)
        damaged("its sector size is unknown");
    m_miniCutoff = u32(header, 0x38);
    readAllocationTable();
    readDirectory();
}

quint32 CompoundFile::sectorCount() const
{
    // The header takes the place of sector -1; a short last sector counts as none.
    const quint64 whole = quint64(m_bytes.size()) >> m_sectorShift;
    return whole == 0 ? 0 : quint32(std::min<quint64>(whole - 1, kMaxRegularSector));
}

QByteArrayView CompoundFile::sector(quint32 number) const
{
    if (number >= sectorCount())
        damaged("a sector lies past the end of the file");
    const qsizetype size = qsizetype(1) << m_sectorShift;
    return QByteArrayView(m_bytes.constData() + (qsizetype(number) + 1) * size, size);
}

void CompoundFile::readAllocationTable()
{
    const QByteArrayView header(m_bytes.constData(), 512);
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
        if (next > kMaxRegularSector || hops > sectorCount())
            damaged("its allocation table is incomplete");
        const QByteArrayView list = sector(next);
        for (quint32 i = 0; i + 1 < perSector && fatList.size() < fatSectors; ++i)
            fatList.push_back(u32(list, i * 4));
        next = u32(list, (perSector - 1) * 4);
    }
    m_fat.reserve(size_t(fatSectors) * perSector);
    for (const quint32 number : fatList) {
        const QByteArrayView part = sector(number);
        for (quint32 i = 0; i < perSector; ++i)
            m_fat.push_back(u32(part, i * 4));
    }
    const quint32 miniFatStart = u32(header, 0x3C);
    if (miniFatStart != kEndOfChain && miniFatStart != kFreeSector) {
        const QByteArray table = chain(miniFatStart, quint64(u32(header, 0x40)) << m_sectorShift, false);
        for (qsizetype at = 0; at + 4 <= table.size(); at += 4)
            m_miniFat.push_back(u32(table, at));
    }
}

QByteArray CompoundFile::chain(quint32 start, quint64 size, bool mini) const
{
    const std::vector<quint32> &table = mini ? m_miniFat : m_fat;
    const quint32 shift = mini ? m_miniShift : m_sectorShift;
    const QByteArrayView store = mini ? QByteArrayView(m_miniStream) : QByteArrayView(m_bytes);
    if (size > quint64(store.size()))
        damaged("a stream is longer than the file");
    QByteArray out;
    out.reserve(qsizetype(size));
    quint32 number = start;
    // A chain has at most as many links as the table has entries: more is a loop.
    for (size_t hops = 0; quint64(out.size()) < size; ++hops) {
        if (number >= table.size() || hops >= table.size())
            damaged("a chain of sectors is broken");
        const qsizetype length = qsizetype(1) << shift;
        const qsizetype at = mini ? qsizetype(number) * length : (qsizetype(number) + 1) * length;
        if (at + length > store.size())
            damaged("a sector lies past the end of the file");
        out.append(store.data() + at, qsizetype(std::min<quint64>(quint64(length), size - quint64(out.size()))));
        number = table[number];
    }
    return out;
}

void CompoundFile::readDirectory()
{
    const QByteArrayView header(m_bytes.constData(), 512);
    // The directory's length is not stored: its chain is read to the end, within the table.
    QByteArray directory;
    quint32 number = u32(header, 0x30);
    for (size_t hops = 0; number != kEndOfChain; ++hops) {
        if (number >= m_fat.size() || hops >= m_fat.size())
            damaged("the directory's chain is broken");
        directory.append(sector(number));
        number = m_fat[number];
    }
    for (qsizetype at = 0; at + 128 <= directory.size(); at += 128) {
        const QByteArrayView raw(directory.constData() + at, 128);
        Entry entry;
        const int nameBytes = std::min<int>(u16(raw, 0x40), 64);
        entry.name = QString::fromUtf16(reinterpret_cast<const char16_t *>(raw.data()), std::max(0, nameBytes / 2 - 1));
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
        m_miniStream = chain(m_entries[0].start, m_entries[0].size, false);
}

std::optional<QByteArray> CompoundFile::rootStream(const QString &name) const
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
        if (entry.type == 2 && entry.name.compare(name, Qt::CaseInsensitive) == 0)
            return chain(entry.start, entry.size, entry.size < m_miniCutoff);
        pending.push_back(entry.left);
        pending.push_back(entry.right);
    }
    return std::nullopt;
}
