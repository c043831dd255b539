// Reads arbitrary bytes as an .xls workbook: its sheet names, and each sheet as a table, with
// and without a header. Damage must end in AppError, never a crash, a hang or a leak.
#include "WalkSheets.h"
#include "source/XlsWorkbook.h"

#include <QBuffer>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        QBuffer device;
        device.setData(reinterpret_cast<const char *>(data), qsizetype(size));
        device.open(QIODevice::ReadOnly);
        const XlsWorkbook book(device);
        walkSheets(int(book.worksheets().size()), [&](int sheet, bool header) {
            return book.readSheet(book.worksheets()[size_t(sheet)], header);
        });
    } catch (const AppError &) {
    }
    return 0;
}
