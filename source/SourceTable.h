#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

// A read-only, rewindable table of named columns and rows, as a reader returns it. The row
// count is known before the first row is read. Values are Null, text, numbers, dates or
// Booleans; a row shorter than the columns reads Null in the missing places.
//
// Cells are kept compactly (text in one buffer, eight bytes of bookkeeping per cell), so a
// large file costs about twice its text in memory.
class SourceTable {
public:
    // --- filling, used by the readers ---
    void setColumnNames(const QStringList &names) { m_columns = names; }
    void beginRow();
    void addNull();
    void addText(QStringView text);
    // Appends text that the caller writes straight into the buffer; returns where it starts.
    QString &textBuffer() { return m_text; }
    void addTextFrom(qsizetype start); // the text from start to the buffer's end is one cell
    void addValue(const QVariant &value);
    int cellsInCurrentRow() const;

    // --- reading ---
    int fieldCount() const { return int(m_columns.size()); }
    QString fieldName(int index) const { return m_columns.value(index); }
    const QStringList &columnNames() const { return m_columns; }
    int recordCount() const { return int(m_rowStart.size()); }

    bool eof() const { return m_position >= recordCount(); }
    bool bof() const { return recordCount() == 0 || m_position < 0; }
    void moveFirst() { m_position = 0; }
    void moveNext()
    {
        if (m_position < recordCount())
            ++m_position;
    }
    int position() const { return m_position; }
    // The value of a column in the current row.
    QVariant value(int column) const { return cell(m_position, column); }
    QVariant cell(int row, int column) const;

private:
    enum Kind : quint32 { Null = 0, Text = 1, Typed = 2 };
    struct Cell {
        quint32 start;       // text: where it starts in m_text; typed: index in m_typed
        quint32 length : 30; // text length
        quint32 kind : 2;
    };
    void push(Cell cell);

    QStringList m_columns;
    QString m_text;
    std::vector<Cell> m_cells;
    std::vector<quint32> m_rowStart; // index of each row's first cell
    std::vector<QVariant> m_typed;
    int m_position = 0;
};

// The names of a table's columns from its header row, at least width of them: a column without a
// name of its own is named after its place: F1, F2, ...
QStringList namedColumns(const QStringList &header, int width);
