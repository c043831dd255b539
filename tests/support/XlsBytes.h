#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>

// Small Excel 97-2003 files built record by record, for what no spreadsheet program writes:
// damage, records out of order, texts split at chosen places.
namespace XlsBytes {

template <typename T>
QByteArray le(T value)
{
    QByteArray out(sizeof(T), Qt::Uninitialized);
    qToLittleEndian(value, out.data());
    return out;
}
inline QByteArray u16(int v) { return le(quint16(v)); }
inline QByteArray u32(quint32 v) { return le(v); }
inline QByteArray record(int type, const QByteArray &data) { return u16(type) + u16(int(data.size())) + data; }
// A cell record's row, column and cell format (0, general).
inline QByteArray at(int row, int column) { return u16(row) + u16(column) + u16(0); }

// A workbook stream: the global records, then each sheet's name and cell records. BIFF8, or
// BIFF5 with names in the code page. The sheet type 0 is a worksheet, 2 a chart.
struct Sheet {
    QByteArray name;
    QList<QByteArray> cells;
    int type = 0;
};
QByteArray workbookStream(const QList<QByteArray> &globals, const QList<Sheet> &sheets, bool biff8 = true);

// A compound file of 512-byte sectors holding one stream, padded to 4096 bytes: the header,
// the allocation table in sector 0, the directory in sector 1, the stream from sector 2 on.
QByteArray compoundFile(const QByteArray &stream, const QString &name = QStringLiteral("Workbook"));

} // namespace XlsBytes
