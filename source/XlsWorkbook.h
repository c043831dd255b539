#pragma once

#include "source/SourceTable.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

// Jet's number for a file protected by a password.
constexpr qint32 kErrEncrypted = 3031;

// An Excel 97-2003 workbook (BIFF8, and the BIFF5 of Excel 5.0/95) read from its bytes: its
// worksheets and their cells. Damage raises AppError (kErrBadFormat), a workbook protected by a
// password AppError (kErrEncrypted); nothing reads outside the bytes.
class XlsWorkbook {
public:
    struct Sheet {
        QString name;
        quint32 offset = 0; // where its records start in the workbook stream
        bool hidden = false;
    };

    explicit XlsWorkbook(QByteArray fileBytes);

    // The worksheets in workbook order, hidden ones included; chart and macro sheets are left out.
    const std::vector<Sheet> &worksheets() const { return m_sheets; }

    // One worksheet as a table: its used range, Null where no value stands. With a header, the
    // first row names the columns.
    std::unique_ptr<SourceTable> readSheet(const Sheet &sheet, bool header) const;

    ~XlsWorkbook();

private:
    struct Globals;
    void readGlobals();

    QByteArray m_stream;
    bool m_biff8 = true;
    std::vector<Sheet> m_sheets;
    std::unique_ptr<Globals> m_globals;
};
