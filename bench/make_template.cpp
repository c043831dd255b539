// Writes a template for the benchmark: "Bench CSH" (or another type) mapping the first 15 of the
// generated CSV's 20 columns to contact fields.
#include "app/DefaultBackends.h"
#include "core/AppState.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "store/TemplateDatabase.h"
#include "store/TemplateOperations.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
class Quiet : public MessageBoxes {
public:
    Answer show(const QString &text, Buttons, Icon, const std::optional<QString> &) override
    {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        return Answer::Ok;
    }
};
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || args[2].toInt() <= 0) {
        std::fprintf(stderr, "usage: make_template DIR COLUMNS [TYPE SHEET]\n");
        return 2;
    }
    Quiet boxes;
    Services services;
    services.messages = &boxes;
    services.appPath = args[1];
    services.dataPath = args[1];
    UseDefaultBackends(services);
    AppState state;
    if (!OpenTemplateDatabase(state, services))
        return 1;
    const char *const keys[] = {"LastName",
                                "JobTitle",
                                "CompanyName",
                                "Department",
                                "FirstName",
                                "NickName",
                                "BusinessAddressCity",
                                "Hobby",
                                "Spouse",
                                "Body",
                                "HomeAddressCity",
                                "Profession",
                                "CustomerID",
                                "EmailAddress",
                                "BusinessTelephoneNumber"};
    MappingRows rows;
    for (int c = 0; c < args[2].toInt(); ++c)
        rows << MappingRow{c + 1, QStringLiteral("Colonne été %1").arg(c + 1), c < 15 ? QStringLiteral("x") : QString(),
                           c < 15 ? QLatin1String(keys[c]) : QString()};
    const QString type = args.value(3, QStringLiteral("CSH"));
    state.sheetName = args.value(4);
    return SaveTemplate(state, services, {QStringLiteral("Bench ") + type, type, rows}, nullptr) == SaveOutcome::Saved
               ? 0
               : 1;
}
