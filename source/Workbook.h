#pragma once

#include "source/SourceTable.h"

#include <QStringList>
#include <memory>

// A workbook of one of the formats read (.xls, .xlsx, .ods): its worksheets, and one of them as a
// table. Damage raises AppError (kErrBadFormat), a workbook protected by a password AppError
// (kErrEncrypted).
class Workbook {
public:
    virtual ~Workbook() = default;

    // The worksheet names in workbook order, hidden ones included; chart sheets are left out.
    virtual QStringList worksheetNames() const = 0;

    // The worksheet at index in worksheetNames() as a table, from its first row and column to the
    // last that holds a value (Null where no value stands). With a header, the first row names the
    // columns.
    virtual std::unique_ptr<SourceTable> readSheet(int index, bool header) const = 0;
};
