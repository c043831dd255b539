#include "source/SourceTable.h"

#include "core/AppError.h"

#include <QDateTime>

void SourceTable::beginRow()
{
    m_rowStart.push_back(quint32(m_cells.size()));
}

int SourceTable::cellsInCurrentRow() const
{
    return m_rowStart.empty() ? 0 : int(m_cells.size() - m_rowStart.back());
}

void SourceTable::push(Cell cell)
{
    if (m_cells.size() >= 0xFFFFFFFFu)
        throw AppError(ErrorCode::Internal, QStringLiteral("The file holds more cells than can be read."));
    m_cells.push_back(cell);
}

void SourceTable::addNull()
{
    push(Cell{0, 0, Null});
}

qsizetype SourceTable::addText(QStringView text)
{
    const qsizetype start = m_text.size();
    m_text.append(text);
    addTextFrom(start);
    return start;
}

void SourceTable::addTextAgain(qsizetype start, qsizetype length)
{
    if (start < 0 || length < 0 || start + length > m_text.size())
        throw AppError(ErrorCode::Internal, QStringLiteral("A cell refers to text that was never read."));
    push(Cell{quint32(start), quint32(length), length == 0 ? quint32(Null) : quint32(Text)});
}

void SourceTable::addScalar(ScalarKind kind, double value)
{
    m_scalars.push_back(value);
    push(Cell{quint32(m_scalars.size() - 1), kind, Scalar});
}

void SourceTable::addNumber(double number)
{
    addScalar(Double, number);
}

void SourceTable::addInteger(int number)
{
    addScalar(Integer, number);
}

void SourceTable::addTextFrom(qsizetype start)
{
    const qsizetype length = m_text.size() - start;
    if (m_text.size() > 0xFFFFFFFFll || length >= (1 << 30))
        throw AppError(ErrorCode::Internal, QStringLiteral("The file holds more text than can be read."));
    push(Cell{quint32(start), quint32(length), length == 0 ? quint32(Null) : quint32(Text)});
}

void SourceTable::addValue(const QVariant &value)
{
    if (value.isNull()) {
        addNull();
        return;
    }
    if (value.typeId() == QMetaType::QString) {
        addText(value.toString());
        return;
    }
    // Dates keep their day and time exactly, with no time zone.
    switch (value.typeId()) {
    case QMetaType::Double:
        return addScalar(Double, value.toDouble());
    case QMetaType::Int:
        return addScalar(Integer, value.toInt());
    case QMetaType::Bool:
        return addScalar(Boolean, value.toBool());
    case QMetaType::QDate:
        return addScalar(Date, double(value.toDate().toJulianDay()));
    case QMetaType::QDateTime: {
        const QDateTime when = value.toDateTime();
        return addScalar(DateTime, double(when.date().toJulianDay()) * 86400000.0 + when.time().msecsSinceStartOfDay());
    }
    case QMetaType::QTime:
        return addScalar(Time, value.toTime().msecsSinceStartOfDay());
    default:
        m_typed.push_back(value);
        push(Cell{quint32(m_typed.size() - 1), 0, Typed});
    }
}

QVariant SourceTable::cell(int row, int column) const
{
    if (row < 0 || row >= recordCount() || column < 0 || column >= fieldCount())
        throw AppError(3021, QStringLiteral("Either BOF or EOF is True, or the current record has been deleted. "
                                            "Requested operation requires a current record."));
    const quint32 first = m_rowStart[row];
    const quint32 end = row + 1 < recordCount() ? m_rowStart[row + 1] : quint32(m_cells.size());
    if (first + quint32(column) >= end)
        return QVariant();
    const Cell &c = m_cells[first + column];
    switch (c.kind) {
    case Text:
        return QString(m_text.constData() + c.start, c.length);
    case Typed:
        return m_typed[c.start];
    case Scalar: {
        const double v = m_scalars[c.start];
        switch (c.length) {
        case Integer:
            return int(v);
        case Boolean:
            return v != 0;
        case Date:
            return QDate::fromJulianDay(qint64(v));
        case DateTime: {
            const qint64 ms = qint64(v);
            return QDateTime(QDate::fromJulianDay(ms / 86400000), QTime::fromMSecsSinceStartOfDay(int(ms % 86400000)));
        }
        case Time:
            return QTime::fromMSecsSinceStartOfDay(int(v));
        default:
            return v;
        }
    }
    default:
        return QVariant();
    }
}

QStringList namedColumns(const QStringList &header, int width)
{
    QStringList names;
    for (int i = 0; i < std::max(int(header.size()), width); ++i) {
        const QString name = header.value(i);
        names << (name.isEmpty() ? QStringLiteral("F%1").arg(i + 1) : name);
    }
    return names;
}

QString headerName(const QVariant &value)
{
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 15);
    if (value.typeId() == QMetaType::QDate)
        return value.toDate().toString(Qt::ISODate);
    return value.toString();
}
