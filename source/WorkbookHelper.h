#pragma once

#include "source/SourceTable.h"

#include <memory>

class QIODevice;

// Workbooks are read by the helper program mirel-xls-reader when it stands beside the program (or
// MIREL_XLS_READER names it), else in this process: a damaged file that upsets the reader library
// then costs a failed read, not the program.

// One worksheet as a table, or nullptr. Throws AppError for what is not a regular file or is too large.
std::unique_ptr<SourceTable> ReadWorksheet(const QString &path, const QString &sheetName, bool header);
// The worksheet names in workbook order; the reader library's status (0 when read).
int WorkbookSheets(const QString &path, QStringList &names);

// How long the helper program may take (a base, and more for each MiB of the workbook) and how
// much it may answer; past either it is killed and the workbook counts as unreadable. A debug
// build on a busy machine reads about a MiB a second, a tenth of the time allowed; a worksheet
// filled to its 65,536 rows of 256 short texts answers in less than the answer limit.
struct WorkbookHelperLimits {
    qint64 baseMs = 5000;
    qint64 msPerMiB = 10000;
    qint64 answerBytes = qint64(512) << 20;
};
// The limits in force; tests shorten them.
WorkbookHelperLimits &workbookHelperLimits();

// What the helper writes for the two requests.
void WriteWorksheet(QIODevice &out, const SourceTable &table);
void WriteWorkbookSheets(QIODevice &out, int status, const QStringList &names);
