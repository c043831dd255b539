#include "ImportFixtures.h"
#include "source/FileChoice.h"
#include "source/MappingGrid.h"

#include <QTest>

namespace {

const QString kFixtures = QStringLiteral(MIREL_FIXTURES);
const QString kCsvHeader = QStringLiteral("CSH - Text/CSV Comma Del w/ Hdr");
const QString kTextFilter = QStringLiteral("Text/CSV (*.txt *.csv)");

} // namespace

class TestMappingGrid : public QObject {
    Q_OBJECT

private slots:
    // A sample loaded into a grid that held a row: a header (written twice) or a fixture
    // ("file.xls#sheet"). The rows the grid holds then, and how the one box starts on a failure.
    void loadMappingGrid_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("type");
        QTest::addColumn<MappingRows>("rows");
        QTest::addColumn<QString>("message");
        const auto row = [](const char *name, const char *source, const QString &type, const MappingRows &rows,
                            const QString &message = {}) { QTest::newRow(name) << source << type << rows << message; };
        const QString error = QStringLiteral(" - The following error has occurred\r\n");
        row("display texts", "First Name,Last Name,Email Address2", kCsvHeader,
            {{1, "First Name", "First Name", "FirstName"},
             {2, "Last Name", "Last Name", "LastName"},
             {3, "Email Address2", "Email Address2", "Email2Address"}});
        row("other letter case, spaces", "first name,Last Name ,Comments", kCsvHeader,
            {{1, "first name", "", ""}, {2, "Last Name ", "", ""}, {3, "Comments", "Comments", "Body"}});
        row("group name", "Phone Numbers,Title", kCsvHeader,
            {{1, "Phone Numbers", "", ""}, {2, "Title", "Title", "Title"}});
        row("no header", "Ann,Lee,x", "CSN - Text/CSV Comma Del w/o Hdr",
            {{1, "F1", "", ""}, {2, "F2", "", ""}, {3, "F3", "", ""}});
        row("numbers as names", "numbers.csv", kCsvHeader, {},
            "The file you have selected does not have valid names \r\n");
        row("a name twice", "duplicate.csv", kCsvHeader, {{1, "Name", "", ""}, {2, "City", "", ""}},
            "ERROR:  35602" + error);
        row("missing file", "none.csv", kCsvHeader, {}, "ERROR: -2147467259" + error + "Could not find file");
        row("missing sheet", "one_sheet.xls#Missing", "XLH - Excel w/ Header", {}, "ERROR:  91" + error);
        row("unknown type", "numbers.csv", "A97", {}, "ERROR:  91" + error);
    }

    void loadMappingGrid()
    {
        QFETCH(QString, source);
        QFETCH(QString, type);
        QFETCH(MappingRows, rows);
        QFETCH(QString, message);
        TestServices t;
        QString path = kFixtures + QLatin1Char('/') + source.section(QLatin1Char('#'), 0, 0);
        if (!source.contains(QLatin1Char('.'))) {
            path = t.file(QStringLiteral("sample.csv"));
            writeBytes(path, source.toUtf8() + "\r\n" + source.toUtf8() + "\r\n");
        }
        t.state.loadMode = LoadMode::Add;
        t.state.filePath = path;
        t.state.fileTitle = QFileInfo(path).fileName();
        t.state.sheetName = source.section(QLatin1Char('#'), 1);
        MemoryMappingGrid grid;
        grid.addRow({9, "left over", "", ""});
        QCOMPARE(LoadMappingGrid(t.state, t.services, grid, type), message.isEmpty());
        QCOMPARE(grid.rows(), rows);
        QCOMPARE(t.boxes.boxes.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty()) {
            QVERIFY2(t.boxes.texts()[0].startsWith(message), qPrintable(t.boxes.texts()[0]));
            QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);
        }
    }

    void chooseSourceFile_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("filter"); // empty: the type is refused
        QTest::newRow("text code") << "CSN" << kTextFilter;
        QTest::newRow("text list entry") << kCsvHeader << kTextFilter;
        QTest::newRow("Excel list entry") << "XLN - Excel w/o Header" << QStringLiteral("Excel (*.xls *.xlsx *.ods)");
        QTest::newRow("unknown") << "A97" << QString();
        QTest::newRow("code in other case") << "csh" << QString();
    }

    void chooseSourceFile()
    {
        QFETCH(QString, type);
        QFETCH(QString, filter);
        TestServices t;
        ScriptedFileDialogs dialogs;
        t.services.files = &dialogs;
        t.state.filePath = QStringLiteral("earlier");
        if (filter.isEmpty()) {
            QVERIFY(!ChooseSourceFile(t.state, t.services, QStringLiteral("Caller"), type));
            QCOMPARE(t.boxes.texts(), QStringList{"This file type is not supported at the current time"});
            QVERIFY(dialogs.filters.isEmpty());
            QCOMPARE(t.state.filePath, QString());
            return;
        }

        // Cancel, "No" (ask again), then a file: any name is taken, whatever its extension.
        dialogs.answers = {QString(), QStringLiteral("/data/in/contacts.csv")};
        t.boxes.answer(MessageBoxes::Answer::No);
        QVERIFY(ChooseSourceFile(t.state, t.services, QStringLiteral("Caller Caption"), type));
        QCOMPARE(t.state.filePath, QStringLiteral("/data/in/contacts.csv"));
        QCOMPARE(t.state.fileTitle, QStringLiteral("contacts.csv"));
        QCOMPARE(dialogs.filters, (QStringList{filter, filter}));
        QCOMPARE(t.boxes.texts(), QStringList{"No file has been selected - are you sure?"});
        QCOMPARE(t.boxes.boxes[0].title, QStringLiteral("Caller Caption"));
        QCOMPARE(t.boxes.boxes[0].buttons, MessageBoxes::Buttons::YesNo);

        // Cancel and "Yes": nothing chosen.
        t.boxes.clear();
        t.boxes.answer(MessageBoxes::Answer::Yes);
        QVERIFY(!ChooseSourceFile(t.state, t.services, QStringLiteral("Caller Caption"), type));
        QCOMPARE(t.state.filePath, QString());
        QCOMPARE(dialogs.filters.size(), 3);
    }
};

QTEST_APPLESS_MAIN(TestMappingGrid)
#include "tst_mappinggrid.moc"
