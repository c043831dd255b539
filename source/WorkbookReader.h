#pragma once

#include "source/SourceTable.h"

#include <memory>

// Reading Excel 97-2003 workbooks in this process, with the reader library. The helper program
// runs these; the program itself reads through WorkbookHelper.h.

// One worksheet as a table, or nullptr when the workbook or the sheet cannot be read. Sheet names
// compare without regard to case.
std::unique_ptr<SourceTable> ReadWorksheetHere(const QString &path, const QString &sheetName, bool header);
// The worksheet names in workbook order; the reader library's status (0 when read).
int WorkbookSheetsHere(const QString &path, QStringList &names);
