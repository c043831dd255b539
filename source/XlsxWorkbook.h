#pragma once

#include "source/Workbook.h"

#include <vector>

class ZipArchive;

// An Excel 2007+ workbook (.xlsx), read from its zip container. Each part is streamed through an
// XML reader, never held whole; a part with a document type is refused. Damage raises AppError
// (kErrBadFormat) naming what is wrong.
class XlsxWorkbook : public Workbook {
public:
    // Reads the sheet list (xl/workbook.xml and its relationships). The archive must outlive the
    // workbook.
    explicit XlsxWorkbook(const ZipArchive &zip);
    ~XlsxWorkbook() override;

    QStringList worksheetNames() const override;
    std::unique_ptr<SourceTable> readSheet(int index, bool header) const override;

private:
    struct Sheet {
        QString name;
        QString part; // its member in the archive
    };
    struct Shared;
    class SheetReader;
    // The shared strings and cell formats, read once, when the first sheet is.
    const Shared &shared() const;

    const ZipArchive &m_zip;
    std::vector<Sheet> m_sheets;
    QString m_stringsPart; // empty: the workbook has no shared strings
    QString m_stylesPart;  // empty: no cell formats, so no dates
    bool m_system1904 = false;
    mutable std::unique_ptr<Shared> m_shared;
};
