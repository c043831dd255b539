#pragma once

#include "source/SourceTable.h"

#include <memory>

class QIODevice;

struct Services;

// The largest source file read: 256 MiB hold a million contacts of 250 bytes, more than a contact
// folder takes; anything larger is a wrong file or a device, and reading it would only fill memory.
constexpr qint64 kMaxSourceFileBytes = qint64(256) << 20;

// Opens a source file as a SourceTable. Make one for each read.
class CReadFile {
public:
    // A comma-delimited text file (file type CSH or CSN, code or list text), in UTF-8 or
    // Windows-1252, or UTF-16 after its byte-order mark. Every failure (missing file, wrong type,
    // not a regular file, too large, a quote never closed) throws AppError for the caller to report.
    std::unique_ptr<SourceTable> Read_TextFile(const QString &path, const QString &fileTitle, const QString &fileType);
    // One worksheet of an Excel 97-2003 workbook (XLH or XLN). Gives no table, and says
    // nothing, when the workbook or the sheet cannot be read; throws AppError, as for a text
    // file, for what is not a regular file or is too large.
    std::unique_ptr<SourceTable> Read_Excel(const QString &path, const QString &sheetName, const QString &fileType);
    // Kept for completeness; reads nothing.
    void Read_Access() {}
};

// The text of a comma-delimited file as a table; path names the file in messages.
std::unique_ptr<SourceTable> ReadCommaDelimited(QIODevice &in, bool header, const QString &path);
std::unique_ptr<SourceTable> ReadCommaDelimited(const QByteArray &bytes, bool header, const QString &path);

// One worksheet as a table, or nullptr. Read by the helper program mirel-xls-reader when it
// stands beside the program (or MIREL_XLS_READER names it), else here.
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

// The same, always in this process; the helper program runs these.
std::unique_ptr<SourceTable> ReadWorksheetHere(const QString &path, const QString &sheetName, bool header);
int WorkbookSheetsHere(const QString &path, QStringList &names);
// What the helper writes for the two requests.
void WriteWorksheet(QIODevice &out, const SourceTable &table);
void WriteWorkbookSheets(QIODevice &out, int status, const QStringList &names);

// The worksheet names of a workbook in workbook order. On failure shows "Could not initiate
// Excel" (the reader library cannot start) or "Could not open Excel spreadsheet" and returns False.
bool ListWorksheets(Services &services, const QString &path, QStringList &names);
