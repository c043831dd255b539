#pragma once

#include "core/AppError.h"
#include "source/SourceTable.h"

#include <memory>

// Reads each of a workbook's sheets as a table, with and without a header, and every value of
// it. A sheet that fails is passed over. The values read are bounded: a few bytes may place a
// cell at the last row and column, and such a sheet, read quickly, must not look like a hang.
template <typename ReadSheet> void walkSheets(int sheets, ReadSheet readSheet)
{
    for (int sheet = 0; sheet < sheets; ++sheet) {
        for (const bool header : {true, false}) {
            try {
                const std::unique_ptr<SourceTable> table = readSheet(sheet, header);
                qint64 budget = 1 << 20;
                for (table->moveFirst(); !table->eof() && budget > 0; table->moveNext())
                    for (int c = 0; c < table->fieldCount() && budget-- > 0; ++c)
                        table->value(c);
            } catch (const AppError &) {
            }
        }
    }
}
