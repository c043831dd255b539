#include "XlsBytes.h"

namespace XlsBytes {

QByteArray workbookStream(const QList<QByteArray> &globals, const QList<Sheet> &sheets, bool biff8)
{
    const int version = biff8 ? 0x0600 : 0x0500;
    QByteArray head = record(0x0809, u16(version) + u16(0x0005) + QByteArray(biff8 ? 12 : 4, '\0'));
    for (const QByteArray &r : globals)
        head += r;
    const auto sheetRecord = [&](const Sheet &s, quint32 offset) {
        const QByteArray name = biff8 ? QByteArray(1, char(s.name.size())) + '\0' + s.name
                                      : QByteArray(1, char(s.name.size())) + s.name;
        return record(0x0085, u32(offset) + '\0' + char(s.type) + name);
    };
    qsizetype offset = head.size() + 4; // the sheet list and the globals' end
    for (const Sheet &s : sheets)
        offset += sheetRecord(s, 0).size();
    QByteArray list, bodies;
    for (const Sheet &s : sheets) {
        list += sheetRecord(s, quint32(offset + bodies.size()));
        bodies += record(0x0809, u16(version) + u16(s.type == 2 ? 0x0020 : 0x0010) + QByteArray(biff8 ? 12 : 4, '\0'));
        for (const QByteArray &r : s.cells)
            bodies += r;
        bodies += record(0x000A, {});
    }
    return head + list + record(0x000A, {}) + bodies;
}

QByteArray compoundFile(const QByteArray &stream, const QString &name)
{
    const QByteArray data = stream.size() < 4096 ? stream + QByteArray(4096 - stream.size(), '\0') : stream;
    const int sectors = int((data.size() + 511) / 512);
    QByteArray header = QByteArray::fromHex("d0cf11e0a1b11ae1") + QByteArray(16, '\0') + u16(0x3E) + u16(3) +
                        u16(0xFFFE) + u16(9) + u16(6) + QByteArray(10, '\0') + u32(1) + u32(1) + u32(0) +
                        u32(4096) + u32(0xFFFFFFFE) + u32(0) + u32(0xFFFFFFFE) + u32(0) + u32(0);
    header += QByteArray(512 - header.size(), '\xFF');
    QByteArray fat = u32(0xFFFFFFFD) + u32(0xFFFFFFFE);
    for (int i = 0; i < sectors; ++i)
        fat += u32(i + 1 < sectors ? quint32(i + 3) : 0xFFFFFFFE);
    fat += QByteArray(512 - fat.size(), '\xFF');
    const auto entry = [](const QString &entryName, int type, quint32 child, quint32 start, quint32 size) {
        QByteArray e(reinterpret_cast<const char *>(entryName.utf16()), entryName.size() * 2);
        e += QByteArray(64 - e.size(), '\0') + u16(int(entryName.size() + 1) * 2) + char(type) + '\1' +
             u32(0xFFFFFFFF) + u32(0xFFFFFFFF) + u32(child) + QByteArray(36, '\0') + u32(start) + u32(size) + u32(0);
        return e;
    };
    QByteArray directory = entry(QStringLiteral("Root Entry"), 5, 1, 0xFFFFFFFE, 0) +
                           entry(name, 2, 0xFFFFFFFF, 2, quint32(stream.size() < 4096 ? 4096 : stream.size()));
    directory += QByteArray(512 - directory.size(), '\0');
    return header + fat + directory + data + QByteArray(sectors * 512 - data.size(), '\0');
}

} // namespace XlsBytes
