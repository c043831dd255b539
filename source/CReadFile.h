#pragma once

#include "source/SourceTable.h"

#include <memory>

struct Services;

// Opens a source file as a SourceTable. Make one for each read.
class CReadFile {
public:
    // A comma-delimited text file (file type CSH or CSN, code or list text), in UTF-8 or
    // Windows-1252, or UTF-16 after its byte-order mark. Every failure (missing file, wrong type,
    // not a regular file, too large, a quote never closed) throws AppError for the caller to report.
    std::unique_ptr<SourceTable> Read_TextFile(const QString &path, const QString &fileTitle, const QString &fileType);
    // One worksheet of an Excel 97-2003 workbook (XLH or XLN). Gives no table, and says
    // nothing, when the workbook or the sheet cannot be read; throws AppError, as for a text
    // file, for what is not a regular file or is too large, and for a workbook protected by a
    // password.
    std::unique_ptr<SourceTable> Read_Excel(const QString &path, const QString &sheetName, const QString &fileType);
    // Kept for completeness; reads nothing.
    void Read_Access() {}
};

// The worksheet names of a workbook in workbook order. On failure shows why (a workbook
// protected by a password), "Could not initiate Excel" (no memory to read it) or "Could not open
// Excel spreadsheet", and returns False.
bool ListWorksheets(Services &services, const QString &path, QStringList &names);
