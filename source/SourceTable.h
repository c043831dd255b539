#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

// A read-only, rewindable table of named columns and rows, as a reader returns it. The row
// count is known before the first row is read. Values are Null, text, numbers, dates or
// Booleans; a row shorter than the columns reads Null in the missing places.
//
// Cells are kept compactly (text in one buffer, numbers, Booleans and dates in eight bytes,
// eight bytes of bookkeeping per cell), so a large file costs about twice its text in memory.
class SourceTable {
public:
    // --- filling, used by the readers ---
    void setColumnNames(const QStringList &names) { m_columns = names; }
    void beginRow();
    void addNull();
    // Adds a text cell; returns where its text starts in the buffer.
    qsizetype addText(QStringView text);
    // Appends text that the caller writes straight into the buffer; returns where it starts.
    QString &textBuffer() { return m_text; }
    void addTextFrom(qsizetype start); // the text from start to the buffer's end is one cell
    // A cell with the same text as an earlier one, which the buffer holds once.
    void addTextAgain(qsizetype start, qsizetype length);
    void addNumber(double number);
    void addInteger(int number);
    void addValue(const QVariant &value);
    void reserveCells(qsizetype cells) { m_cells.reserve(size_t(cells)); }
    // The first row leaves the table (a reader that took it for the column names).
    void dropFirstRow() { m_rowStart.erase(m_rowStart.begin()); }
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
    enum Kind : quint32 { Null = 0, Text = 1, Typed = 2, Scalar = 3 };
    // What a scalar's eight bytes hold.
    enum ScalarKind : quint32 { Double, Integer, Boolean, Date, DateTime, Time };
    struct Cell {
        quint32 start;       // text: where it starts in m_text; typed: index in m_typed; scalar: in m_scalars
        quint32 length : 30; // text length; scalar: its ScalarKind
        quint32 kind : 2;
    };
    void push(Cell cell);
    void addScalar(ScalarKind kind, double value);

    QStringList m_columns;
    QString m_text;
    std::vector<Cell> m_cells;
    std::vector<quint32> m_rowStart; // index of each row's first cell
    std::vector<QVariant> m_typed;
    std::vector<double> m_scalars;
    int m_position = 0;
};

// The names of a table's columns from its header row, at least width of them: a column without a
// name of its own is named after its place: F1, F2, ...
QStringList namedColumns(const QStringList &header, int width);
// A header cell's value as a column name: a number with up to 15 digits, a date in ISO form.
QString headerText(const QVariant &value);
