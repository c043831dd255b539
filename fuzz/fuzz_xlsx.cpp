// Reads arbitrary bytes as an .xlsx workbook: its sheet names, and each sheet as a table, with
// and without a header. Damage must end in AppError, never a crash, a hang or a leak.
#include "core/AppError.h"
#include "source/XlsxWorkbook.h"
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
        const XlsxWorkbook book(zip);
        for (int sheet = 0; sheet < book.worksheetNames().size(); ++sheet) {
            for (const bool header : {true, false}) {
                try {
                    // A few bytes may place a cell at XFD1048576: the values read are bounded so
                    // that such a sheet, read quickly, is not taken for a hang.
                    const auto table = book.readSheet(sheet, header);
                    qint64 budget = 1 << 20;
                    for (table->moveFirst(); !table->eof() && budget > 0; table->moveNext())
                        for (int c = 0; c < table->fieldCount() && budget-- > 0; ++c)
                            table->value(c);
                } catch (const AppError &) {
                }
            }
        }
    } catch (const AppError &) {
    }
    return 0;
}
