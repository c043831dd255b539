#pragma once

#include "source/Workbook.h"

class ZipArchive;

// An Excel 2007+ workbook (.xlsx), read from its zip container.
class XlsxWorkbook : public Workbook {
public:
    // Reads what the workbook holds besides its sheets. The archive must outlive the workbook.
    explicit XlsxWorkbook(const ZipArchive &zip);
    ~XlsxWorkbook() override;

    QStringList worksheetNames() const override;
    std::unique_ptr<SourceTable> readSheet(int index, bool header) const override;

private:
    const ZipArchive &m_zip;
};
