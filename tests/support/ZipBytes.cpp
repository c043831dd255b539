#include "ZipBytes.h"

#include <QtEndian>
#include <zlib.h>

namespace {

QByteArray u16(int v)
{
    QByteArray out(2, Qt::Uninitialized);
    qToLittleEndian(quint16(v), out.data());
    return out;
}

QByteArray u32(quint32 v)
{
    QByteArray out(4, Qt::Uninitialized);
    qToLittleEndian(v, out.data());
    return out;
}

QByteArray rawDeflate(const QByteArray &data)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

} // namespace

QByteArray ZipBytes::zip(const QList<Member> &members, bool overlap)
{
    QByteArray file;
    QByteArray directory;
    quint32 firstOffset = 0;
    for (int i = 0; i < members.size(); ++i) {
        const Member &m = members[i];
        const QByteArray name = m.name.toUtf8();
        const QByteArray stored = m.deflate ? rawDeflate(m.data) : m.data;
        const quint32 crc =
            quint32(crc32(0, reinterpret_cast<const Bytef *>(m.data.constData()), uInt(m.data.size()))) ^ m.crcXor;
        const QByteArray sizes = u32(crc) + u32(quint32(stored.size())) + u32(quint32(m.data.size() + m.sizeDelta));
        const QByteArray common = u16(20) + u16(0x800) + u16(m.deflate ? 8 : 0) + u16(0) + u16(0x21) + sizes;
        quint32 offset = quint32(file.size());
        if (i == 0)
            firstOffset = offset;
        if (overlap && i == members.size() - 1)
            offset = firstOffset;
        else
            file += u32(0x04034b50) + common + u16(int(name.size())) + u16(0) + name + stored;
        directory += u32(0x02014b50) + u16(20) + common + u16(int(name.size())) + u16(0) + u16(0) + u16(0) + u16(0) +
                     u32(0) + u32(offset) + name;
    }
    const quint32 directoryOffset = quint32(file.size());
    return file + directory + u32(0x06054b50) + u16(0) + u16(0) + u16(int(members.size())) +
           u16(int(members.size())) + u32(quint32(directory.size())) + u32(directoryOffset) + u16(0);
}
