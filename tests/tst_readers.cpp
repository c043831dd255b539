#include "TestServices.h"
#include "core/AppError.h"
#include "source/CReadFile.h"
#include "source/SourceFile.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace {

const QString kFixtures = QStringLiteral(MIREL_FIXTURES);
const QString kNull = QStringLiteral("<null>");

QString fixture(const QString &name)
{
    return QDir(kFixtures).filePath(name);
}

// A value as the tests write it: Null, text as it stands, typed values with their kind.
QString shown(const QVariant &v)
{
    const int type = v.typeId();
    if (v.isNull() || type == QMetaType::QDate)
        return v.isNull() ? kNull : "date:" + v.toDate().toString(Qt::ISODate);
    if (type == QMetaType::Int || type == QMetaType::Double)
        return "num:" + QString::number(v.toDouble());
    return type == QMetaType::QString ? v.toString() : "other:" + v.toString();
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
        QTest::addColumn<QString>("failure"); // what the message says when the file cannot be read
        const auto row = [](const char *name, const QString &file, const char *type, const QStringList &columns,
                            const Rows &rows, const QString &failure = {}) {
            QTest::newRow(name) << file << QString::fromLatin1(type) << columns << rows << failure;
        };
        row("UTF-8 with byte-order mark", "bom.csv", "CSH", {"First Name", "Last Name", "Email Address2"},
            {{"Zoë", "Ærø", "zoe@example.org"}, {"Ann", "Lee", kNull}});
        row("Windows-1252", "cp1252.csv", "CSH", {"Nom", "Société", "Prix"}, {{"José", "Crème Brûlée", "€ 5"}});
        row("quoting", "quoted.csv", "CSH", {"Company", "Address", "Notes"},
            {{"Smith, Jones & Co", "12 Main St\r\nSuite 4", "He said \"hi\""}, {kNull, "plain", "line one\nline two"}});
        row("empty header cell, short row", "emptyheader.csv", "CSH", {"Name", "F2", "City"},
            {{"Ann", "x", "Paris"}, {"Bob", kNull, kNull}, {kNull, kNull, kNull}});
        row("blanks kept", "spaces.csv", "CSH", {"Name", "Note"}, {{"  Ann  ", "   "}});
        row("no header, list text", "noheader.csv", "CSN - Text/CSV Comma Del w/o Hdr", {"F1", "F2", "F3"},
            {{"Ann", "Lee", "555-0100"}, {"Bob", "Ray", "555-0101"}});
        row("numbers as names", "numbers.csv", "CSH", {"1", "2", "3"}, {{"Ann", "Lee", "x"}});
        // Every line after the header is a row; the line break at the end adds none.
        row("empty lines", built("empty.csv", "Name,City\n\nAnn,Paris\n,\n"), "CSH", {"Name", "City"},
            {{kNull, kNull}, {"Ann", "Paris"}, {kNull, kNull}});
        row("empty lines, CR LF, no header", built("emptycrlf.csv", "\r\nAnn,Paris\r\n\r\n"), "CSN", {"F1", "F2"},
            {{kNull, kNull}, {"Ann", "Paris"}, {kNull, kNull}});
        row("empty header line", built("hdr.csv", "\r\nAnn,Paris\r\n"), "CSH", {"F1", "F2"}, {{"Ann", "Paris"}});
        const QByteArray mixed = "Nom,Société\r\nJos\xE9,\"Cr\xE8me\r\nBr\xFBl\xE9\x65\"\r\nZoë,Ærø\r\n";
        row("encoding of each line", built("mixed.csv", mixed), "CSH", {"Nom", "Société"},
            {{"José", "Crème\r\nBrûlée"}, {"Zoë", "Ærø"}});
        for (const auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE})
            row(QStringConverter::nameForEncoding(encoding),
                built("utf16.csv" + QString::number(encoding),
                      QStringEncoder(encoding, QStringConverter::Flag::WriteBom)(u"Name,Société\r\nZoë,\"a, b\"\r\n")),
                "CSH", {"Name", "Société"}, {{"Zoë", "a, b"}});
        const QString pipe = m_dir.filePath(QStringLiteral("pipe.csv"));
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        const QString zero = m_dir.filePath(QStringLiteral("zero.csv"));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), zero));
        QFile large(m_dir.filePath(QStringLiteral("large.csv")));
        QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(kMaxSourceFileBytes + 1)); // sparse: no disk used
        row("missing file", m_dir.filePath(QStringLiteral("missing.csv")), "CSH", {}, {}, "Could not find file");
        row("folder", m_dir.path(), "CSH", {}, {}, "is a folder, not a file");
        row("empty file", built(QStringLiteral("nothing.csv"), QByteArray()), "CSN", {}, {}, "is empty");
        row("quote never closed", built("50%2 off.csv", readBytes(fixture("unterminated.csv"))), "CSH", {}, {},
            "50%2 off.csv' has a quote opened on line 2");
        row("Excel type", fixture("noheader.csv"), "XLH", {}, {}, "cannot be read as a text file");
        row("pipe", pipe, "CSH", {}, {}, "is not a regular file");
        row("link to a device", zero, "CSN", {}, {}, "is not a regular file");
        row("too large", large.fileName(), "CSN", {}, {}, "is larger than 256 MB");
    }

    void textFiles()
    {
        QFETCH(QString, file);
        QFETCH(QString, type);
        QFETCH(QStringList, columns);
        QFETCH(Rows, rows);
        QFETCH(QString, failure);
        if (!failure.isEmpty()) {
            const ErrorInfo error = failureOf([&] { CReadFile().Read_TextFile(file, QString(), type); });
            QVERIFY2(error.pending() && error.description.contains(failure), qPrintable(error.description));
            return;
        }
        auto table = CReadFile().Read_TextFile(fixture(file), file, type);
        QVERIFY(table);
        QCOMPARE(table->columnNames(), columns);
        QCOMPARE(rowsOf(*table), rows);
        // Past the last row there is no value; the table rewinds, and the file reads the same again.
        QVERIFY_THROWS_EXCEPTION(AppError, table->value(0));
        QCOMPARE(rowsOf(*table), rows);
        QCOMPARE(rowsOf(*CReadFile().Read_TextFile(fixture(file), file, type)), rows);
    }

    void largeFileReadsWhole()
    {
        const QByteArray row = "\"Lee, Ann\",Zürich,\"a note with \"\"quotes\"\" that is long enough to fill it\"\r\n";
        const int rows = int(50 * 1024 * 1024 / row.size());
        const QString path = built(QStringLiteral("large50.csv"), "Name,City,Note\r\n" + row.repeated(rows));
        auto table = CReadFile().Read_TextFile(path, QStringLiteral("large.csv"), QStringLiteral("CSH"));
        QCOMPARE(table->recordCount(), rows);
        QCOMPARE(table->cell(rows - 1, 1).toString(), QStringLiteral("Zürich"));
        QCOMPARE(table->cell(rows / 2, 0).toString(), QStringLiteral("Lee, Ann"));
    }

    // No columns: the workbook gives no table.
    void workbooks_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<Rows>("rows");
        const auto row = [](const char *name, const QString &file, const char *sheet, const char *type,
                            const QStringList &columns = {}, const Rows &rows = {}) {
            QTest::newRow(name) << file << QString::fromUtf8(sheet) << QString::fromLatin1(type) << columns << rows;
        };
        const QString workbook = fixture(QStringLiteral("one_sheet.xls"));
        const Rows contacts{{"Zoë Ærø", "date:2024-02-29", "num:1250.5", "first"},
                            {"Ann Lee", "date:1999-12-31", "num:42", kNull},
                            {"Bob", kNull, kNull, "no date"}};
        const QStringList names{"Name", "Joined", "Amount", "Note"};
        const QStringList places{"F1", "F2", "F3", "F4"};
        const Rows withHeader = Rows{names} + contacts;
        row("header", workbook, "Contacts", "XLH", names, contacts);
        row("no header, sheet in other case", workbook, "CONTACTS", "XLN - Excel w/o Header", places, withHeader);
        row("second of three sheets", fixture(QStringLiteral("three_sheets.xls")), "Clients été",
            "XLH - Excel w/ Header", {"Sheet", "Row"}, {{"Clients été", "num:2"}});
        row("sheet it lacks", workbook, "Sheet9", "XLH");
        row("missing file", m_dir.filePath(QStringLiteral("missing.xls")), "Contacts", "XLH");
        row("text named .xls", built("text.xls", "Name,City\r\nAnn,Paris\r\n"), "Contacts", "XLH");
        row("xlsx named .xls", built("zip.xls", QByteArray("PK\x03\x04\x14\x00\x06\x00", 8).leftJustified(608, 'x')),
            "Contacts", "XLH");
        row("truncated", built("truncated.xls", readBytes(workbook).left(1500)), "Contacts", "XLH");
        row("folder", m_dir.path(), "Contacts", "XLN");
        row("text type", workbook, "Contacts", "CSH");
    }

    void workbooks()
    {
        QFETCH(QString, file);
        QFETCH(QString, sheet);
        QFETCH(QString, type);
        QFETCH(QStringList, columns);
        QFETCH(Rows, rows);
        auto table = CReadFile().Read_Excel(file, sheet, type);
        QCOMPARE(bool(table), !columns.isEmpty());
        if (table) {
            QCOMPARE(table->columnNames(), columns);
            QCOMPARE(rowsOf(*table), rows);
        }
    }

    void damagedWorkbooksReadApart()
    {
        // Files that crashed the earlier reader library (found by fuzzing): a clean refusal.
        TestServices t;
        for (const char *name : {"freexl-iconv-underflow.xls", "freexl-leak.xls", "freexl-segv.xls"}) {
            const QString damaged = fixture(QStringLiteral("regressions/") + name);
            QStringList sheets;
            ListWorksheets(t.services, damaged, sheets);
            for (const QString &sheet : sheets)
                CReadFile().Read_Excel(damaged, sheet, QStringLiteral("XLH"));
        }
        QVERIFY(!CReadFile().Read_Excel(fixture("regressions/freexl-iconv-underflow.xls"), "Sheet1", "XLH"));
    }

    void worksheetNames()
    {
        const QString pipe = m_dir.filePath(QStringLiteral("pipe.xls"));
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        TestServices t;
        QStringList names;
        QVERIFY(ListWorksheets(t.services, fixture(QStringLiteral("three_sheets.xls")), names));
        QCOMPARE(names, (QStringList{"Übersicht", "Clients été", "Données"}));
        QVERIFY(ListWorksheets(t.services, fixture(QStringLiteral("one_sheet.xls")), names));
        QCOMPARE(names, QStringList{"Contacts"});
        QVERIFY(!ListWorksheets(t.services, fixture(QStringLiteral("bom.csv")), names));
        QVERIFY(names.isEmpty());
        QVERIFY(!ListWorksheets(t.services, pipe, names));
        QCOMPARE(t.boxes.texts(), QStringList(2, QStringLiteral("Could not open Excel spreadsheet")));
    }
};

QTEST_APPLESS_MAIN(TestReaders)
#include "tst_readers.moc"
