#pragma once

#include "source/Workbook.h"

class ZipArchive;

// An OpenDocument spreadsheet (.ods), read from its zip container: content.xml is streamed, once
// for the sheet names and once up to the sheet asked for, and never held whole.
class OdsWorkbook : public Workbook {
public:
    // Reads the sheet names, checking that the file is a spreadsheet and its content whole. The
    // archive must outlive the workbook.
    explicit OdsWorkbook(const ZipArchive &zip);
    ~OdsWorkbook() override;

    QStringList worksheetNames() const override;
    std::unique_ptr<SourceTable> readSheet(int index, bool header) const override;

private:
    const ZipArchive &m_zip;
    QStringList m_names;
};
