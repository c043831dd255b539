#include "source/XlsxWorkbook.h"

#include "core/AppError.h"
#include "source/SourceFile.h"
#include "source/ZipArchive.h"

XlsxWorkbook::XlsxWorkbook(const ZipArchive &zip) : m_zip(zip)
{
    throw AppError(kErrBadFormat, QStringLiteral("This workbook format is not read yet."));
}

XlsxWorkbook::~XlsxWorkbook() = default;

QStringList XlsxWorkbook::worksheetNames() const
{
    return {};
}

std::unique_ptr<SourceTable> XlsxWorkbook::readSheet(int, bool) const
{
    return nullptr;
}
