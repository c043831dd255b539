// Reads arbitrary bytes as an .xls workbook: its sheet names, and each sheet as a table.
#include "core/AppError.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "source/CReadFile.h"

#include <QFile>
#include <cstdint>
#include <unistd.h>

namespace {
class Silent : public MessageBoxes {
public:
    Answer show(const QString &, Buttons, Icon, const std::optional<QString> &) override { return Answer::Ok; }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = QStringLiteral("/tmp/mirel-fuzz-%1.xls").arg(getpid());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();
    Silent boxes;
    Services services;
    services.messages = &boxes;
    QStringList sheets;
    if (ListWorksheets(services, path, sheets))
        for (const QString &sheet : sheets)
            for (const char *type : {"XLH", "XLN"})
                if (auto table = CReadFile().Read_Excel(path, sheet, QLatin1String(type)))
                    for (table->moveFirst(); !table->eof(); table->moveNext())
                        for (int c = 0; c < table->fieldCount(); ++c)
                            table->value(c);
    return 0;
}
