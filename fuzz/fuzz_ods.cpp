// Reads arbitrary bytes as an .ods workbook: its sheet names, and each sheet as a table, with and
// without a header. Damage must end in AppError, never a crash, a hang or a leak.
#include "WalkSheets.h"
#include "source/OdsWorkbook.h"
#include "source/ZipArchive.h"

#include <QBuffer>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        QBuffer device;
        device.setData(reinterpret_cast<const char *>(data), qsizetype(size));
        device.open(QIODevice::ReadOnly);
        const ZipArchive zip(device);
        const OdsWorkbook book(zip);
        walkSheets(int(book.worksheetNames().size()),
                   [&](int sheet, bool header) { return book.readSheet(sheet, header); });
    } catch (const AppError &) {
    }
    return 0;
}
