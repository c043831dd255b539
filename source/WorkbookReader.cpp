#include "source/WorkbookReader.h"

#include "core/AppError.h"
#include "source/OdsWorkbook.h"
#include "source/SourceFile.h"
#include "source/XlsWorkbook.h"
#include "source/XlsxWorkbook.h"
#include "source/ZipArchive.h"

#include <QFile>

namespace {

// An Excel 97-2003 workbook through the common interface.
class XlsBook : public Workbook {
public:
    explicit XlsBook(QIODevice &file) : m_book(file) {}
    QStringList worksheetNames() const override
    {
        QStringList names;
        for (const XlsWorkbook::Sheet &sheet : m_book.worksheets())
            names << sheet.name;
        return names;
    }
    std::unique_ptr<SourceTable> readSheet(int index, bool header) const override
    {
        return m_book.readSheet(m_book.worksheets().at(size_t(index)), header);
    }

private:
    XlsWorkbook m_book;
};

// A workbook in a zip container, with the archive it reads from.
template <typename Book> class ZippedBook : public Workbook {
public:
    explicit ZippedBook(std::unique_ptr<ZipArchive> zip) : m_zip(std::move(zip)), m_book(*m_zip) {}
    QStringList worksheetNames() const override { return m_book.worksheetNames(); }
    std::unique_ptr<SourceTable> readSheet(int index, bool header) const override
    {
        return m_book.readSheet(index, header);
    }

private:
    std::unique_ptr<ZipArchive> m_zip;
    Book m_book;
};

// The workbook in the open file, by what the file holds, whatever its name: a compound file is
// an Excel 97-2003 workbook, a zip one holding xl/workbook.xml an Excel 2007+ workbook, a zip one
// holding content.xml an OpenDocument spreadsheet. The error of a workbook protected by a
// password names the file.
std::unique_ptr<Workbook> openWorkbook(QFile &file, const QString &path)
{
    try {
        if (!ZipArchive::looksLikeZip(file))
            return std::make_unique<XlsBook>(file);
        auto zip = std::make_unique<ZipArchive>(file);
        if (zip->contains(QStringLiteral("xl/workbook.xml")))
            return std::make_unique<ZippedBook<XlsxWorkbook>>(std::move(zip));
        if (zip->contains(QStringLiteral("content.xml")))
            return std::make_unique<ZippedBook<OdsWorkbook>>(std::move(zip));
        throw AppError(kErrBadFormat, QStringLiteral("The zip file holds no workbook."));
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
        const QStringList sheets = book->worksheetNames();
        qsizetype found = sheets.indexOf(sheetName);
        if (found < 0) // as in the spreadsheet itself, letter case aside
            found = std::find_if(sheets.begin(), sheets.end(),
                                 [&](const QString &s) { return s.compare(sheetName, Qt::CaseInsensitive) == 0; }) -
                    sheets.begin();
        return found == sheets.size() ? nullptr : book->readSheet(int(found), header);
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
    return openWorkbook(file, path)->worksheetNames();
}
