#include "source/SourceTable.h"

#include "core/AppError.h"

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

void SourceTable::addText(QStringView text)
{
    const qsizetype start = m_text.size();
    m_text.append(text);
    addTextFrom(start);
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
    m_typed.push_back(value);
    push(Cell{quint32(m_typed.size() - 1), 0, Typed});
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
