#pragma once

#include "source/SourceTable.h"

#include <memory>

// Reading workbooks from disk: Excel 97-2003 (.xls), Excel 2007+ (.xlsx) and OpenDocument (.ods),
// told apart by what the file holds, not by its name.

// One worksheet as a table, or nullptr when the workbook is missing or damaged or lacks the
// sheet (sheet names compare without regard to case). Throws AppError for what is not a regular
// file or is too large, and for a workbook protected by a password (kErrEncrypted).
std::unique_ptr<SourceTable> ReadWorksheet(const QString &path, const QString &sheetName, bool header);

// The worksheet names in workbook order. Throws AppError: FileNotFound for a missing or
// unreadable file, kErrBadFormat for one that is no workbook or is damaged, kErrEncrypted.
QStringList WorkbookSheets(const QString &path);
