#include "source/OdsWorkbook.h"

#include "core/AppError.h"
#include "source/SourceFile.h"
#include "source/ZipArchive.h"

OdsWorkbook::OdsWorkbook(const ZipArchive &zip) : m_zip(zip)
{
    throw AppError(kErrBadFormat, QStringLiteral("This workbook format is not read yet."));
}

OdsWorkbook::~OdsWorkbook() = default;

QStringList OdsWorkbook::worksheetNames() const
{
    return {};
}

std::unique_ptr<SourceTable> OdsWorkbook::readSheet(int, bool) const
{
    return nullptr;
}
