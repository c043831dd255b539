#include "source/CReadFile.h"

#include "core/AppError.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "source/CsvReader.h"
#include "source/FileTypes.h"
#include "source/SourceFile.h"
#include "source/WorkbookReader.h"
#include "source/XlsWorkbook.h"

#include <QFile>

namespace {
// Jet's number for a connection that cannot be made for the file type.
constexpr qint32 kErrNoProvider = 3706;
} // namespace

std::unique_ptr<SourceTable> CReadFile::Read_TextFile(const QString &path, const QString &fileTitle,
                                                      const QString &fileType)
{
    Q_UNUSED(fileTitle); // the path names the file in full
    if (FileTypeCode::family(fileType) != FileTypeCode::Family::Text)
        throw AppError(kErrNoProvider,
                       QStringLiteral("The file type '%1' cannot be read as a text file.").arg(fileType));

    QFile file;
    openSourceFile(file, path);
    return ReadCommaDelimited(file, FileTypeCode::hasHeader(fileType), path);
}

std::unique_ptr<SourceTable> CReadFile::Read_Excel(const QString &path, const QString &sheetName,
                                                   const QString &fileType)
{
    if (FileTypeCode::family(fileType) != FileTypeCode::Family::Excel)
        return nullptr;
    return ReadWorksheet(path, sheetName, FileTypeCode::hasHeader(fileType));
}

bool ListWorksheets(Services &services, const QString &path, QStringList &names)
{
    names.clear();
    try {
        names = WorkbookSheets(path);
        return true;
    } catch (const AppError &e) {
        // A workbook protected by a password says so; any other failure is one message.
        services.boxes().show(e.number() == kErrEncrypted ? e.info().description
                                                           : QStringLiteral("Could not open Excel spreadsheet"));
    } catch (const std::bad_alloc &) {
        services.boxes().show(QStringLiteral("Could not initiate Excel"));
    }
    return false;
}
