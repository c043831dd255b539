#include "source/WorkbookReader.h"

#include "core/AppError.h"
#include "source/SourceFile.h"
#include "source/XlsWorkbook.h"

#include <QFile>

namespace {

// The workbook in the open file. The error of a workbook protected by a password names the file.
std::unique_ptr<XlsWorkbook> openWorkbook(QFile &file, const QString &path)
{
    try {
        return std::make_unique<XlsWorkbook>(file);
    } catch (const AppError &e) {
        if (e.number() != kErrEncrypted)
            throw;
        throw AppError(kErrEncrypted, QStringLiteral("The workbook '") + path +
                                          QStringLiteral("' is protected by a password and cannot be read. Save it "
                                                         "without a password and choose it again."));
    }
}

} // namespace

std::unique_ptr<SourceTable> ReadWorksheet(const QString &path, const QString &sheetName, bool header)
{
    QFile file;
    try {
        openSourceFile(file, path);
    } catch (const AppError &e) {
        if (e.number() == ErrorCode::FileNotFound)
            return nullptr;
        throw; // not a regular file, or too large
    }
    try {
        const auto book = openWorkbook(file, path);
        const std::vector<XlsWorkbook::Sheet> &sheets = book->worksheets();
        auto found = std::find_if(sheets.begin(), sheets.end(), [&](const auto &s) { return s.name == sheetName; });
        if (found == sheets.end()) // as in the spreadsheet itself, letter case aside
            found = std::find_if(sheets.begin(), sheets.end(), [&](const auto &s) {
                return s.name.compare(sheetName, Qt::CaseInsensitive) == 0;
            });
        return found == sheets.end() ? nullptr : book->readSheet(*found, header);
    } catch (const AppError &e) {
        if (e.number() == kErrBadFormat)
            return nullptr;
        throw;
    }
}

QStringList WorkbookSheets(const QString &path)
{
    QFile file;
    openSourceFile(file, path);
    const auto book = openWorkbook(file, path);
    QStringList names;
    for (const XlsWorkbook::Sheet &sheet : book->worksheets())
        names << sheet.name;
    return names;
}
