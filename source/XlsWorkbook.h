#pragma once

#include "source/SourceTable.h"

#include <QString>
#include <memory>
#include <vector>

class QIODevice;

// Jet's number for a file protected by a password.
constexpr qint32 kErrEncrypted = 3031;

// An Excel 97-2003 workbook (BIFF8, and the BIFF5 of Excel 5.0/95): its worksheets and their
// cells, read from the device as they are needed. Damage raises AppError (kErrBadFormat), a
// workbook protected by a password AppError (kErrEncrypted); nothing reads outside the file.
class XlsWorkbook {
public:
    struct Sheet {
        QString name;
        quint32 offset = 0; // where its records start in the workbook stream
        bool hidden = false;
    };

    // Reads the workbook's global records. The device must outlive the workbook.
    explicit XlsWorkbook(QIODevice &device);
    ~XlsWorkbook();

    // The worksheets in workbook order, hidden ones included; chart and macro sheets are left out.
    const std::vector<Sheet> &worksheets() const { return m_sheets; }

    // One worksheet as a table, from its first row and column to the last that holds a cell
    // (Null where no value stands). With a header, the first row names the columns.
    std::unique_ptr<SourceTable> readSheet(const Sheet &sheet, bool header) const;

private:
    struct Globals;
    struct Cell;
    class SheetBuilder;
    void readGlobals();
    // Reads the sheet's cells in file order; stops early when visit returns false.
    template <typename Visit>
    void walkCells(const Sheet &sheet, Visit &&visit) const;

    std::unique_ptr<Globals> m_globals;
    std::vector<Sheet> m_sheets;
};
