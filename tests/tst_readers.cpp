#include "TestServices.h"
#include "app/AppError.h"
#include "source/CReadFile.h"
#include "source/SourceFile.h"
#include "source/WorkbookHelper.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

const QString kFixtures = QStringLiteral(MIREL_FIXTURES);
const QString kNull = QStringLiteral("<null>");

// A committed fixture by its name, or a file the test built by its full path.
QString fixture(const QString &name)
{
    return QDir(kFixtures).filePath(name);
}

// A value as the tests write it: Null, text as it stands, typed values with their kind.
QString shown(const QVariant &v)
{
    if (v.isNull())
        return kNull;
    switch (v.typeId()) {
    case QMetaType::QString:
        return v.toString();
    case QMetaType::QDate:
        return QStringLiteral("date:") + v.toDate().toString(Qt::ISODate);
    case QMetaType::Int:
    case QMetaType::Double:
        return QStringLiteral("num:") + QString::number(v.toDouble());
    default:
        return QStringLiteral("other:") + v.toString();
    }
}

QList<QStringList> rowsOf(SourceTable &table)
{
    QList<QStringList> rows;
    for (table.moveFirst(); !table.eof(); table.moveNext()) {
        QStringList row;
        for (int c = 0; c < table.fieldCount(); ++c)
            row << shown(table.value(c));
        rows << row;
    }
    return rows;
}

} // namespace

using Rows = QList<QStringList>;
Q_DECLARE_METATYPE(Rows)

class TestReaders : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString built(const QString &name, const QByteArray &bytes)
    {
        writeBytes(m_dir.filePath(name), bytes);
        return m_dir.filePath(name);
    }

private slots:
    void textFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<Rows>("rows");
        QTest::newRow("UTF-8 with byte-order mark") << "bom.csv"
                                                    << "CSH" << QStringList{"First Name", "Last Name", "Email Address2"}
                                                    << Rows{{"Zoë", "Ærø", "zoe@example.org"}, {"Ann", "Lee", kNull}};
        QTest::newRow("Windows-1252") << "cp1252.csv"
                                      << "CSH" << QStringList{"Nom", "Société", "Prix"}
                                      << Rows{{"José", "Crème Brûlée", "€ 5"}};
        QTest::newRow("quoting") << "quoted.csv"
                                 << "CSH" << QStringList{"Company", "Address", "Notes"}
                                 << Rows{{"Smith, Jones & Co", "12 Main St\r\nSuite 4", "He said \"hi\""},
                                         {kNull, "plain", "line one\nline two"}};
        QTest::newRow("empty header cell, short row")
            << "emptyheader.csv"
            << "CSH" << QStringList{"Name", "F2", "City"}
            << Rows{{"Ann", "x", "Paris"}, {"Bob", kNull, kNull}, {kNull, kNull, kNull}};
        QTest::newRow("blanks kept") << "spaces.csv"
                                     << "CSH" << QStringList{"Name", "Note"} << Rows{{"  Ann  ", "   "}};
        QTest::newRow("no header") << "noheader.csv"
                                   << "CSN" << QStringList{"F1", "F2", "F3"}
                                   << Rows{{"Ann", "Lee", "555-0100"}, {"Bob", "Ray", "555-0101"}};
        QTest::newRow("no header, list text") << "noheader.csv"
                                              << "CSN - Text/CSV Comma Del w/o Hdr" << QStringList{"F1", "F2", "F3"}
                                              << Rows{{"Ann", "Lee", "555-0100"}, {"Bob", "Ray", "555-0101"}};
        QTest::newRow("numbers as names")
            << "numbers.csv"
            << "CSH - Text/CSV Comma Del w/ Hdr" << QStringList{"1", "2", "3"} << Rows{{"Ann", "Lee", "x"}};
        // Every line after the header is a row; the line break at the end adds none.
        QTest::newRow("empty lines") << built("empty.csv", "Name,City\n\nAnn,Paris\n,\n") << "CSH"
                                     << QStringList{"Name", "City"}
                                     << Rows{{kNull, kNull}, {"Ann", "Paris"}, {kNull, kNull}};
        QTest::newRow("empty lines, CR LF")
            << built("emptycrlf.csv", "\r\nAnn,Paris\r\n\r\n") << "CSN" << QStringList{"F1", "F2"}
            << Rows{{kNull, kNull}, {"Ann", "Paris"}, {kNull, kNull}};
        QTest::newRow("empty header line") << built("emptyheader2.csv", "\r\nAnn,Paris\r\n") << "CSH"
                                           << QStringList{"F1", "F2"} << Rows{{"Ann", "Paris"}};
        QTest::newRow("encoding of each line")
            << built("mixed.csv", "Nom,Société\r\nJos\xE9,\"Cr\xE8me\r\nBr\xFBl\xE9"
                                  "e\"\r\nZoë,Ærø\r\n")
            << "CSH" << QStringList{"Nom", "Société"} << Rows{{"José", "Crème\r\nBrûlée"}, {"Zoë", "Ærø"}};
        for (const auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE})
            QTest::newRow(QStringConverter::nameForEncoding(encoding))
                << built(
                       "utf16.csv" + QString::number(encoding),
                       QStringEncoder(encoding, QStringConverter::Flag::WriteBom)(u"Name,Société\r\nZoë,\"a, b\"\r\n"))
                << "CSH" << QStringList{"Name", "Société"} << Rows{{"Zoë", "a, b"}};
    }

    void textFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, type);
        QFETCH(QStringList, columns);
        QFETCH(Rows, rows);
        for (int pass = 0; pass < 2; ++pass) { // the same file gives the same table every time
            auto table = CReadFile().Read_TextFile(fixture(file), file, type);
            QVERIFY(table);
            QCOMPARE(table->columnNames(), columns);
            QCOMPARE(table->recordCount(), rows.size());
            QCOMPARE(rowsOf(*table), rows);
        }
    }

    void textFailures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("description");
        QTest::newRow("missing file") << "missing.csv"
                                      << "CSH"
                                      << "Could not find file";
        QTest::newRow("folder") << ""
                                << "CSH"
                                << "is a folder, not a file";
        QTest::newRow("empty file") << "empty.csv"
                                    << "CSN"
                                    << "is empty";
        QTest::newRow("quote never closed") << "50%2 off.csv"
                                            << "CSH"
                                            << "50%2 off.csv' has a quote opened on line 2";
        QTest::newRow("Excel type") << "noheader.csv"
                                    << "XLH"
                                    << "cannot be read as a text file";
        QTest::newRow("unknown type") << "noheader.csv"
                                      << "A97"
                                      << "cannot be read as a text file";
        QTest::newRow("pipe") << "pipe.csv"
                              << "CSH"
                              << "is not a regular file";
        QTest::newRow("link to a device") << "zero.csv"
                                          << "CSN"
                                          << "is not a regular file";
        QTest::newRow("too large") << "large.csv"
                                   << "CSN"
                                   << "is larger than 256 MB";
    }

    void textFailures()
    {
        QFETCH(QString, path);
        QFETCH(QString, type);
        QFETCH(QString, description);
        QTemporaryDir dir;
        writeBytes(dir.filePath(QStringLiteral("empty.csv")), QByteArray());
        QFile::copy(fixture(QStringLiteral("unterminated.csv")), dir.filePath(QStringLiteral("50%2 off.csv")));
        QFile::copy(fixture(QStringLiteral("noheader.csv")), dir.filePath(QStringLiteral("noheader.csv")));
        QCOMPARE(mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("pipe.csv"))).constData(), 0600), 0);
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), dir.filePath(QStringLiteral("zero.csv"))));
        QFile large(dir.filePath(QStringLiteral("large.csv")));
        QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(kMaxSourceFileBytes + 1)); // sparse: no disk used
        const ErrorInfo error = failureOf([&] { CReadFile().Read_TextFile(dir.filePath(path), path, type); });
        QVERIFY(error.pending());
        QVERIFY2(error.description.contains(description), qPrintable(error.description));
    }

    void largeFileReadsWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("large.csv"));
        QByteArray text = "Name,City,Note\r\n";
        const QByteArray row =
            "\"Lee, Ann\",Zürich,\"a note with \"\"quotes\"\" that is long enough to fill the line\"\r\n";
        const int rows = int(50 * 1024 * 1024 / row.size());
        text.reserve(row.size() * rows + 32);
        for (int i = 0; i < rows; ++i)
            text += row;
        writeBytes(path, text);
        auto table = CReadFile().Read_TextFile(path, QStringLiteral("large.csv"), QStringLiteral("CSH"));
        QCOMPARE(table->recordCount(), rows);
        QCOMPARE(table->cell(rows - 1, 1).toString(), QStringLiteral("Zürich"));
        QCOMPARE(table->cell(rows / 2, 0).toString(), QStringLiteral("Lee, Ann"));
    }

    void tableRewinds()
    {
        auto table =
            CReadFile().Read_TextFile(fixture(QStringLiteral("noheader.csv")), QString(), QStringLiteral("CSN"));
        QVERIFY(!table->eof());
        table->moveNext();
        table->moveNext();
        QVERIFY(table->eof());
        QVERIFY_THROWS_EXCEPTION(AppError, table->value(0));
        table->moveFirst();
        QCOMPARE(table->value(0).toString(), QStringLiteral("Ann"));
    }

    void workbooks_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<Rows>("rows");
        const Rows contacts{{"Zoë Ærø", "date:2024-02-29", "num:1250.5", "first"},
                            {"Ann Lee", "date:1999-12-31", "num:42", kNull},
                            {"Bob", kNull, kNull, "no date"}};
        QTest::newRow("header") << "one_sheet.xls"
                                << "Contacts"
                                << "XLH" << QStringList{"Name", "Joined", "Amount", "Note"} << contacts;
        Rows withHeader = contacts;
        withHeader.prepend({"Name", "Joined", "Amount", "Note"});
        QTest::newRow("no header") << "one_sheet.xls"
                                   << "Contacts"
                                   << "XLN" << QStringList{"F1", "F2", "F3", "F4"} << withHeader;
        QTest::newRow("no header, list text")
            << "one_sheet.xls"
            << "Contacts"
            << "XLN - Excel w/o Header" << QStringList{"F1", "F2", "F3", "F4"} << withHeader;
        QTest::newRow("sheet name in other case")
            << "one_sheet.xls"
            << "CONTACTS"
            << "XLH" << QStringList{"Name", "Joined", "Amount", "Note"} << contacts;
        QTest::newRow("second of three sheets")
            << "three_sheets.xls"
            << "Clients été"
            << "XLH - Excel w/ Header" << QStringList{"Sheet", "Row"} << Rows{{"Clients été", "num:2"}};
    }

    void workbooks()
    {
        QFETCH(QString, file);
        QFETCH(QString, sheet);
        QFETCH(QString, type);
        QFETCH(QStringList, columns);
        QFETCH(Rows, rows);
        auto table = CReadFile().Read_Excel(fixture(file), sheet, type);
        QVERIFY(table);
        QCOMPARE(table->columnNames(), columns);
        QCOMPARE(rowsOf(*table), rows);
    }

    void unreadableWorkbooksGiveNoTable_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QString>("type");
        QTest::newRow("sheet it lacks") << "one_sheet.xls"
                                        << "Sheet9"
                                        << "XLH";
        QTest::newRow("missing file") << "missing.xls"
                                      << "Contacts"
                                      << "XLH";
        QTest::newRow("text named .xls") << "text.xls"
                                         << "Contacts"
                                         << "XLH";
        QTest::newRow("xlsx named .xls") << "zip.xls"
                                         << "Contacts"
                                         << "XLH";
        QTest::newRow("truncated") << "truncated.xls"
                                   << "Contacts"
                                   << "XLH";
        QTest::newRow("folder") << ""
                                << "Contacts"
                                << "XLN";
        QTest::newRow("text type") << "one_sheet.xls"
                                   << "Contacts"
                                   << "CSH";
    }

    void unreadableWorkbooksGiveNoTable()
    {
        QFETCH(QString, file);
        QFETCH(QString, sheet);
        QFETCH(QString, type);
        QTemporaryDir dir;
        QFile::copy(fixture(QStringLiteral("one_sheet.xls")), dir.filePath(QStringLiteral("one_sheet.xls")));
        writeBytes(dir.filePath(QStringLiteral("text.xls")), "Name,City\r\nAnn,Paris\r\n");
        writeBytes(dir.filePath(QStringLiteral("zip.xls")),
                   QByteArray("PK\x03\x04\x14\x00\x06\x00", 8) + QByteArray(600, 'x'));
        writeBytes(dir.filePath(QStringLiteral("truncated.xls")),
                   readBytes(fixture(QStringLiteral("one_sheet.xls"))).left(1500));
        QVERIFY(!CReadFile().Read_Excel(dir.filePath(file), sheet, type));
    }

    void workbooksReadApart()
    {
        // Through the helper program, the same tables; damaged files that upset the reader library
        // (found by fuzzing) give no table and leave this process standing.
        qputenv("MIREL_XLS_READER", MIREL_XLS_READER_PATH);
        auto table = CReadFile().Read_Excel(fixture(QStringLiteral("one_sheet.xls")), QStringLiteral("Contacts"),
                                            QStringLiteral("XLH"));
        QVERIFY(table);
        QCOMPARE(table->columnNames(), (QStringList{"Name", "Joined", "Amount", "Note"}));
        QCOMPARE(rowsOf(*table), (Rows{{"Zoë Ærø", "date:2024-02-29", "num:1250.5", "first"},
                                       {"Ann Lee", "date:1999-12-31", "num:42", kNull},
                                       {"Bob", kNull, kNull, "no date"}}));
        TestServices t;
        QStringList names;
        QVERIFY(ListWorksheets(t.services, fixture(QStringLiteral("three_sheets.xls")), names));
        QCOMPARE(names, (QStringList{"Übersicht", "Clients été", "Données"}));
        for (const char *damaged :
             {"regressions/freexl-iconv-underflow.xls", "regressions/freexl-leak.xls", "regressions/freexl-segv.xls"}) {
            QStringList sheets;
            ListWorksheets(t.services, fixture(QLatin1String(damaged)), sheets);
            for (const QString &sheet : sheets)
                CReadFile().Read_Excel(fixture(QLatin1String(damaged)), sheet, QStringLiteral("XLH"));
        }
        QVERIFY(!CReadFile().Read_Excel(fixture(QStringLiteral("regressions/freexl-iconv-underflow.xls")),
                                        QStringLiteral("Sheet1"), QStringLiteral("XLH")));
        qunsetenv("MIREL_XLS_READER");
    }

    void workbookHelperStopped_data()
    {
        QTest::addColumn<QByteArray>("helper");
        QTest::newRow("hangs") << QByteArray("exec sleep 60");
        QTest::newRow("answers without end") << QByteArray("exec head -c 4000000 /dev/zero");
    }

    void workbookHelperStopped()
    {
        QFETCH(QByteArray, helper);
        const QString script = built(QStringLiteral("helper.sh"), "#!/bin/sh\n" + helper + "\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("MIREL_XLS_READER", QFile::encodeName(script));
        const WorkbookHelperLimits saved = std::exchange(workbookHelperLimits(), {200, 0, 1 << 20});
        const auto restore = qScopeGuard([&] {
            workbookHelperLimits() = saved;
            qunsetenv("MIREL_XLS_READER");
        });
        TestServices t;
        QStringList names;
        QVERIFY(!ListWorksheets(t.services, fixture(QStringLiteral("one_sheet.xls")), names));
        QCOMPARE(t.boxes.texts(), QStringList{"Could not open Excel spreadsheet"});
        QVERIFY(!CReadFile().Read_Excel(fixture(QStringLiteral("one_sheet.xls")), QStringLiteral("Contacts"),
                                        QStringLiteral("XLH")));
    }

    void worksheetNames()
    {
        TestServices t;
        QStringList names;
        QVERIFY(ListWorksheets(t.services, fixture(QStringLiteral("three_sheets.xls")), names));
        QCOMPARE(names, (QStringList{"Übersicht", "Clients été", "Données"}));
        QVERIFY(ListWorksheets(t.services, fixture(QStringLiteral("one_sheet.xls")), names));
        QCOMPARE(names, QStringList{"Contacts"});
        QVERIFY(t.boxes.boxes.isEmpty());

        QVERIFY(!ListWorksheets(t.services, fixture(QStringLiteral("bom.csv")), names));
        QVERIFY(names.isEmpty());
        const QString pipe = m_dir.filePath(QStringLiteral("pipe.xls"));
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QVERIFY(!ListWorksheets(t.services, pipe, names));
        QCOMPARE(t.boxes.texts(), QStringList(2, QStringLiteral("Could not open Excel spreadsheet")));
        QCOMPARE(t.boxes.boxes[0].title, QStringLiteral("Mirel"));
        QCOMPARE(t.boxes.boxes[0].buttons, MessageBoxes::Buttons::Ok);
    }
};

QTEST_APPLESS_MAIN(TestReaders)
#include "tst_readers.moc"
