#pragma once

#include "source/Workbook.h"

class ZipArchive;

// An OpenDocument spreadsheet (.ods), read from its zip container.
class OdsWorkbook : public Workbook {
public:
    // Reads what the workbook holds besides its sheets. The archive must outlive the workbook.
    explicit OdsWorkbook(const ZipArchive &zip);
    ~OdsWorkbook() override;

    QStringList worksheetNames() const override;
    std::unique_ptr<SourceTable> readSheet(int index, bool header) const override;

private:
    const ZipArchive &m_zip;
};
