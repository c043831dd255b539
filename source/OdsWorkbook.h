#pragma once

#include "source/Workbook.h"

#include <vector>

class ZipArchive;

// A sheet as read: its rows from the first, and the first row's values as column names.
struct OdsSheet {
    QString name;
    std::unique_ptr<SourceTable> table; // none once given out
    QStringList firstRow;
    int width = 0;
};

// An OpenDocument spreadsheet (.ods), read from its zip container: content.xml is streamed, never
// held whole, and read once for all sheets; a sheet asked for a second time is read again.
class OdsWorkbook : public Workbook {
public:
    // Reads the sheets, checking that the file is a spreadsheet and its content whole. The archive
    // must outlive the workbook.
    explicit OdsWorkbook(const ZipArchive &zip);
    ~OdsWorkbook() override;

    QStringList worksheetNames() const override;
    std::unique_ptr<SourceTable> readSheet(int index, bool header) const override;

private:
    const ZipArchive &m_zip;
    mutable std::vector<OdsSheet> m_sheets;
};
