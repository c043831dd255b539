// Reads arbitrary bytes as a comma-delimited file, with and without a header line.
#include "core/AppError.h"
#include "source/CsvReader.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const bool header : {true, false}) {
        try {
            auto table = ReadCommaDelimited(bytes, header, QStringLiteral("fuzz.csv"));
            for (table->moveFirst(); !table->eof(); table->moveNext())
                for (int c = 0; c < table->fieldCount(); ++c)
                    table->value(c);
        } catch (const AppError &) {
        }
    }
    return 0;
}
