// Reads arbitrary bytes as an .ods workbook: its sheet names, and each sheet as a table, with and
// without a header. Damage must end in AppError, never a crash, a hang or a leak.
#include "core/AppError.h"
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
        for (int sheet = 0; sheet < book.worksheetNames().size(); ++sheet) {
            for (const bool header : {true, false}) {
                try {
                    const auto table = book.readSheet(sheet, header);
                    for (table->moveFirst(); !table->eof(); table->moveNext())
                        for (int c = 0; c < table->fieldCount(); ++c)
                            table->value(c);
                } catch (const AppError &) {
                }
            }
        }
    } catch (const AppError &) {
    }
    return 0;
}
