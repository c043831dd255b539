// mirel-xls-reader: reads one workbook for the program in a process of its own, so that a
// damaged file cannot take the program down. Writes its answer to standard output.
//   mirel-xls-reader list FILE
//   mirel-xls-reader sheet FILE SHEET HEADER(0|1)
#include "source/WorkbookHelper.h"
#include "source/WorkbookReader.h"

#include <QCoreApplication>
#include <QFile>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly))
        return 3;
    if (args.size() == 3 && args[1] == QLatin1String("list")) {
        QStringList names;
        const int status = WorkbookSheetsHere(args[2], names);
        WriteWorkbookSheets(out, status, names);
        return 0;
    }
    if (args.size() == 5 && args[1] == QLatin1String("sheet")) {
        const auto table = ReadWorksheetHere(args[2], args[3], args[4] == QLatin1String("1"));
        if (!table)
            return 1;
        WriteWorksheet(out, *table);
        return 0;
    }
    return 2;
}
