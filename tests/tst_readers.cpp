#include "TestServices.h"
#include "XlsBytes.h"
#include "ZipBytes.h"
#include "core/AppError.h"
#include "source/CReadFile.h"
#include "source/OdsWorkbook.h"
#include "source/SourceFile.h"
#include "source/WorkbookReader.h"
#include "source/XlsxWorkbook.h"
#include "source/XmlScanner.h"
#include "source/ZipArchive.h"

#include <QBuffer>
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

QList<QStringList> rowsOf(SourceTable &table, int limit = INT_MAX)
{
    QList<QStringList> rows;
    for (table.moveFirst(); !table.eof() && rows.size() < limit; table.moveNext()) {
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
        // Made by LibreOffice (which stores a text formula's result as 0 and a comparison's as a number).
        const QString formulas = fixture(QStringLiteral("formulas.xls"));
        const auto at = [](const char *t) { return "other:" + QString::fromLatin1(t); };
        row("formulas, dates and times", formulas, "People", "XLH",
            {"First", "Last", "Full", "Score", "Double", "Passed", "Ratio", "Blank", "Joined", "Next", "At", "Stamp",
             "Code"},
            {{"Ann", "Lee", "num:0", "num:42", "num:84", "num:0", kNull, kNull, "date:2024-02-29", "date:2024-03-01",
              at("13:45:00.000"), at("2024-02-29T13:45:30.000"), "00123"},
             {"Bob", "Smith", "num:0", "num:75.25", "num:150.5", "num:1", kNull, kNull, "date:1999-12-31",
              "date:2000-01-01", at("08:05:00.000"), at("1999-12-31T23:59:59.000"), "00042"},
             {"Zoë", "Σωκράτης 李小龍 😀", "num:0", kNull, "num:0", "num:0", "num:0.25", kNull, "date:1900-03-01",
              "date:1900-03-02", at("23:59:00.000"), at("1900-03-01T00:00:01.000"), kNull},
             {"Merged over First and Last", kNull, "num:0", "num:100", "num:200", "num:1", "num:12.5", kNull,
              "date:2000-01-01", "date:2000-01-02", at("00:30:00.000"), at("2000-01-01T12:00:00.000"), "007"}});
        row("hidden sheet", formulas, "Hidden", "XLN", places.mid(0, 2), {{"Secret", "num:7"}});
        row("1904 date system", fixture(QStringLiteral("dates1904.xls")), "Dates", "XLH", {"Date", "Amount"},
            {{"date:2024-02-29", "num:42.5"}, {"date:1904-01-02", kNull}});
        row("formula results", fixture(QStringLiteral("formula_results.xls")), "Results", "XLH",
            {"First", "Last", "Full", "Score", "Passed", "Blank", "Ratio"},
            {{"Zoë", "Σωκράτης 😀", "Zoë Σωκράτης 😀", "num:75.25", at("true"), kNull, kNull},
             {"Ann", "Lee", "Ann Lee", "num:42", at("false"), kNull, "num:5.25"}});
        row("Excel 95 in Windows-1252", fixture(QStringLiteral("excel95.xls")), "Clients", "XLH",
            {"Name", "City", "Price", "Since", "Note", "Label", "Double"},
            {{"Zoë Ærø", "Málaga", "num:12.5", "date:2024-02-29", "Prix: 5 € – très bien", "Málaga (Zoë Ærø)", "num:25"},
             {"François", "Köln", "num:3", "date:1999-12-31", "Œuvre „Straße“", "Köln (François)", "num:6"}});
        row("texts over several records", fixture(QStringLiteral("long_strings.xls")), "Long", "XLH", {"Text"},
            {{QStringLiteral("éabcdefghi").repeated(1000)}, {QStringLiteral("Ωabcdefgh").repeated(1000)},
             {"short one"}, {"short two"}, {"Ende"}});
        QStringList manyNames;
        Rows many(6600, QStringList());
        for (int c = 1; c <= 10; ++c)
            manyNames << QStringLiteral("Text%1").arg(c);
        for (int i = 0; i < 66000; ++i)
            many[i / 10] << QStringLiteral("s%1").arg(i + 1, 5, 10, QLatin1Char('0'));
        row("more than 65,535 texts", fixture(QStringLiteral("many_strings.xls")), "Strings", "XLH", manyNames, many);
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

    // The same workbooks saved as .xlsx give the sheets and tables the .xls reader gives.
    void xlsxAsXls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QStringList>("formulaTexts"); // the column Full, which .xls holds as 0
        const QStringList full{"Ann Lee", "Bob Smith", "Zoë Σωκράτης 李小龍 😀", "Merged over First and Last "};
        for (const char *name : {"dates1904/Dates", "formulas/People", "formulas/Hidden", "formulas/Régions",
                                 "long_strings/Long", "many_strings/Strings"}) {
            const QStringList parts = QString::fromUtf8(name).split(u'/');
            QTest::newRow(name) << parts[0] << parts[1] << (parts[1] == "People" ? full : QStringList());
        }
    }

    void xlsxAsXls()
    {
        QFETCH(QString, name);
        QFETCH(QString, sheet);
        QFETCH(QStringList, formulaTexts);
        const QString xls = fixture(name + ".xls");
        const QString xlsx = fixture(name + ".xlsx");
        QCOMPARE(WorkbookSheets(xlsx), WorkbookSheets(xls));
        for (const char *type : {"XLH", "XLN"}) {
            const auto expected = CReadFile().Read_Excel(xls, sheet, type);
            const auto table = CReadFile().Read_Excel(xlsx, sheet, type);
            QVERIFY(expected && table);
            QCOMPARE(table->columnNames(), expected->columnNames());
            Rows rows = rowsOf(*expected);
            for (int i = 0; i < formulaTexts.size(); ++i)
                rows[i + (type[2] == 'N')][2] = formulaTexts[i];
            QCOMPARE(rowsOf(*table), rows);
        }
    }

    // .xlsx files built member by member: each kind of cell, and each damage refused with its reason.
    void craftedXlsx_data()
    {
        using ZipBytes::Member;
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("sheets");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QString>("problem"); // empty: the first sheet reads as the columns and rows
        const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
        // The members given first stand for those of the same name after them.
        const auto book = [&](const QByteArray &cells, const QList<Member> &own = {}) {
            return ZipBytes::zip(own + QList<Member>{
                {"xl/workbook.xml", "<workbook xmlns:r='" + rel + "'><sheets><sheet name='Data' r:id='rId1'/>"
                                    "</sheets></workbook>"},
                {"xl/_rels/workbook.xml.rels", "<Relationships><Relationship Id='rId1' Type='" + rel +
                                                   "/worksheet' Target='worksheets/sheet1.xml'/></Relationships>"},
                {"xl/worksheets/sheet1.xml", "<worksheet><sheetData>" + cells + "</sheetData></worksheet>"}});
        };
        const QList<Member> parts{
            {"xl/workbook.xml",
             "<workbook xmlns:r='" + rel + "'><sheets><sheet name='Chart' r:id='rId9'/><sheet name='Data' "
             "r:id='rId1'/><sheet name='Hidden' state='hidden' r:id='rId2'/></sheets></workbook>"},
            {"xl/_rels/workbook.xml.rels",
             "<Relationships><Relationship Id='rId1' Type='" + rel + "/worksheet' Target='/xl/worksheets/sheet1.xml'/>"
             "<Relationship Id='rId2' Type='" + rel + "/worksheet' Target='worksheets/sheet2.xml'/>"
             "<Relationship Id='rId9' Type='" + rel + "/chartsheet' Target='chartsheets/sheet1.xml'/>"
             "<Relationship Id='rId3' Type='" + rel + "/sharedStrings' Target='sharedStrings.xml'/>"
             "<Relationship Id='rId4' Type='" + rel + "/styles' Target='styles.xml'/></Relationships>"},
            {"xl/sharedStrings.xml", "<sst><si><t>Name</t></si><si><r><t>Zo</t></r><r><rPr/><t>ë</t></r>"
                                     "<rPh><t>ゾ</t></rPh></si><si><t/></si></sst>"},
            // A differential format's number format is no cell's.
            {"xl/styles.xml", "<styleSheet><numFmts><numFmt numFmtId='164' formatCode='yyyy\\-mm\\-dd'/></numFmts>"
                              "<cellXfs><xf numFmtId='0'/><xf numFmtId='164'/><xf numFmtId='14'/><xf numFmtId='2'/>"
                              "</cellXfs><dxfs><dxf><numFmt numFmtId='2' formatCode='yyyy'/></dxf></dxfs></styleSheet>"}};
        const QByteArray cells =
            "<row r='1'><c r='A1' t='s'><v>0</v></c><c r='B1' t='inlineStr'><is><r><t>Wh</t></r><r><t>en</t></r>"
            "</is></c><c t='str'><f>1</f><v>Flag</v></c><c r='E1' t='s'><v>2</v></c><c r='F1' s='1'/></row>"
            "<row r='3'><c r='A3' t='s'><v>1</v></c><c r='B3' s='1'><v>45351</v></c><c r='C3' t='b'><v>1</v></c>"
            "<c r='D3' t='e'><v>#N/A</v></c><c r='E3' t='s'><v>99</v></c></row>"
            "<row><c s='2'><v>45351.5</v></c><c t='d'><v>2024-02-29T13:45:00</v></c>"
            "<c t='str'><f>A1</f><v>a_x000D_b</v></c><c s='3'><v>1.5</v></c></row><row r='6'><c r='A6' s='1'/></row>";
        QTest::newRow("every kind of cell")
            << book(cells, parts) << QStringList{"Data", "Hidden"} << QStringList{"Name", "When", "Flag", "F4"}
            << Rows{{kNull, kNull, kNull, kNull},
                    {"Zoë", "date:2024-02-29", "other:true", kNull},
                    {"other:2024-02-29T12:00:00.000", "other:2024-02-29T13:45:00.000", "a\rb", "num:1.5"}}
            << "";
        QTest::newRow("entities")
            << book({}, {{"xl/worksheets/sheet1.xml",
                          "<!DOCTYPE worksheet [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;'>"
                          "<!ENTITY c SYSTEM 'file:///etc/passwd'>]><worksheet><sheetData><row><c t='str'>"
                          "<v>&b;&c;</v></c></row></sheetData></worksheet>"}})
            << QStringList{"Data"} << QStringList() << Rows{} << "xl/worksheets/sheet1.xml declares a document type";
        QTest::newRow("XML error") << book("<row><c><v>1</c></row>") << QStringList{"Data"} << QStringList()
                                   << Rows{} << "xl/worksheets/sheet1.xml is not well-formed XML (line 1";
        QTest::newRow("checksum") << book({}, {{"xl/worksheets/sheet1.xml", "<worksheet/>", true, 1}})
                                  << QStringList{"Data"} << QStringList() << Rows{} << "checksum";
        QTest::newRow("sheet part missing")
            << ZipBytes::zip({parts[0], parts[1], {"xl/sharedStrings.xml", "<sst/>"}})
            << QStringList{"Data", "Hidden"} << QStringList() << Rows{}
            << "the sheet 'Data' points to a part it does not hold (xl/worksheets/sheet1.xml)";
        QTest::newRow("no relationships") << ZipBytes::zip({parts[0]}) << QStringList() << QStringList() << Rows{}
                                          << "it has no part xl/_rels/workbook.xml.rels";
        QTest::newRow("column past XFD") << book("<row><c r='XFE1'><v>1</v></c></row>") << QStringList{"Data"}
                                         << QStringList() << Rows{} << "not one a sheet has (XFE1)";
        QTest::newRow("row past the last") << book("<row r='1048577'><c><v>1</v></c></row>") << QStringList{"Data"}
                                           << QStringList() << Rows{} << "not one a sheet has (1048577)";
        QTest::newRow("cells out of order") << book("<row><c r='B1'><v>1</v></c><c r='A1'><v>2</v></c></row>")
                                            << QStringList{"Data"} << QStringList() << Rows{} << "not in order";
    }

    void craftedXlsx()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, sheets);
        QFETCH(QStringList, columns);
        QFETCH(Rows, rows);
        QFETCH(QString, problem);
        QBuffer buffer(&file);
        buffer.open(QIODevice::ReadOnly);
        QStringList names;
        std::unique_ptr<SourceTable> table;
        const ErrorInfo error = failureOf([&] {
            const ZipArchive zip(buffer);
            const XlsxWorkbook book(zip);
            names = book.worksheetNames();
            table = book.readSheet(0, true);
        });
        QCOMPARE(names, sheets);
        QCOMPARE(error.number, problem.isEmpty() ? 0 : kErrBadFormat);
        QVERIFY2(error.description.contains(problem), qPrintable(error.description));
        if (table) {
            QCOMPARE(table->columnNames(), columns);
            QCOMPARE(rowsOf(*table), rows);
        }
    }

    // Workbooks no spreadsheet program writes: each record kind and each damage, built byte by byte.
    void craftedWorkbooks_data()
    {
        using namespace XlsBytes;
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("sheets"); // none: the listing fails with the message
        QTest::addColumn<QStringList>("columns"); // none: the first sheet gives no table (or the message)
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QString>("message");
        const auto text = [](const QByteArray &latin1) { return u16(int(latin1.size())) + '\0' + latin1; };
        // Shared texts, "Zoë€" split across a CONTINUE record that switches to 16-bit characters.
        const QByteArray sst = record(0x00FC, u32(3) + u32(3) + text("Ann") + u16(4) + '\0' + "Zo") +
                               record(0x003C, "\1" + QByteArray::fromHex("eb00ac20") + text("Bob"));
        const QList<QByteArray> cells{
            record(0x00FD, at(0, 0) + u32(0)), record(0x0204, at(0, 1) + text("Last")),
            record(0x00FD, at(2, 0) + u32(2)), record(0x0205, at(2, 1) + QByteArray("\1\0", 2)), // true
            record(0x00FD, at(1, 0) + u32(1)), record(0x00FD, at(1, 0) + u32(2)), // a second cell in one place
            record(0x027E, at(3, 0) + u32(7 << 2 | 2)), record(0x027E, at(3, 1) + u32(125 << 2 | 3)),
            record(0x00BD, u16(4) + u16(0) + u16(0) + u32(9 << 2 | 2) + u16(0) + u32(0x3FF80000) + u16(1)),
            record(0x0205, at(5, 0) + QByteArray(2, '\0')), record(0x0205, at(5, 1) + "\x07\1"), // an error
            record(0x00BE, u16(6) + u16(0) + u16(0) + u16(0) + u16(0) + u16(2))};
        QTest::newRow("every kind of cell, in any order")
            << compoundFile(workbookStream({sst}, {{"Chart", {}, 2}, {"Data", cells}})) << QStringList{"Data"}
            << QStringList{"Ann", "Last", "F3"}
            << Rows{{"Zoë€", kNull, kNull}, {"Bob", "other:true", kNull}, {"num:7", "num:1.25", kNull},
                    {"num:9", "num:1.5", kNull}, {"other:false", kNull, kNull}, {kNull, kNull, kNull}}
            << "";
        QTest::newRow("Excel 95 in its code page")
            << compoundFile(workbookStream({record(0x0042, u16(1251))},
                                           {{"\xCB\xE8\xF1\xF2", {record(0x0204, at(0, 0) + u16(2) + "\xC4\xE0")}}},
                                           false),
                            QStringLiteral("Book"))
            << QStringList{"Лист"} << QStringList{"Да"} << Rows{} << "";
        const QByteArray plain = compoundFile(workbookStream({}, {{"Data", {record(0x0204, at(0, 0) + text("x"))}}}));
        QTest::newRow("protected by a password")
            << compoundFile(workbookStream({record(0x002F, u16(1))}, {{"Data", {}}})) << QStringList()
            << QStringList() << Rows{} << "is protected by a password and cannot be read";
        QTest::newRow("an Excel 2007+ workbook protected by a password")
            << compoundFile(QByteArray(64, '\1'), QStringLiteral("EncryptionInfo")) << QStringList() << QStringList()
            << Rows{} << "is protected by a password and cannot be read";
        QByteArray loop = plain;
        loop.replace(512 + 8, 4, u32(2)); // the stream's first sector leads to itself
        QTest::newRow("a loop in a chain") << loop << QStringList() << QStringList() << Rows{}
                                           << "Could not open Excel spreadsheet";
        QByteArray far = plain;
        far.replace(1024 + 128 + 0x74, 4, u32(50000)); // the stream starts past the end of the file
        QTest::newRow("a sector past the end") << far << QStringList() << QStringList() << Rows{}
                                               << "Could not open Excel spreadsheet";
        QTest::newRow("a record longer than its stream")
            << compoundFile(workbookStream({}, {{"Data", {u16(0x0203) + u16(0xFFFF)}}})) << QStringList{"Data"}
            << QStringList() << Rows{} << "";
    }

    void craftedWorkbooks()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, sheets);
        QFETCH(QStringList, columns);
        QFETCH(Rows, rows);
        QFETCH(QString, message);
        const QString path = built(QStringLiteral("crafted.xls"), bytes);
        TestServices t;
        QStringList names;
        QCOMPARE(ListWorksheets(t.services, path, names), !sheets.isEmpty());
        QCOMPARE(names, sheets);
        QVERIFY2(t.boxes.texts().value(0).contains(message), qPrintable(t.boxes.texts().value(0)));
        std::unique_ptr<SourceTable> table;
        const ErrorInfo error = failureOf([&] { table = CReadFile().Read_Excel(path, sheets.value(0, "Data"), "XLH"); });
        QCOMPARE(error.pending(), message.contains(QLatin1String("password")));
        QVERIFY(!error.pending() || error.description.contains(message));
        QCOMPARE(bool(table), !columns.isEmpty());
        if (table) {
            QCOMPARE(table->columnNames(), columns);
            QCOMPARE(rowsOf(*table), rows);
        }
    }

    // LibreOffice saved each .ods fixture from the source of the .xls one: the tables match, but
    // for what .xls keeps of formulas (a text result as 0, a comparison as a number).
    void odsWorkbooks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QString>("type");
        QTest::addColumn<Rows>("ownColumns"); // index, then the data rows' values
        for (const char *type : {"XLH", "XLN"}) {
            const auto row = [&](const char *name, const char *sheet, const Rows &own = {}) {
                QTest::addRow("%s %s %s", name, sheet, type) << name << QString::fromUtf8(sheet) << type << own;
            };
            row("formulas", "People",
                {{"2", "Ann Lee", "Bob Smith", "Zoë Σωκράτης 李小龍 😀", "Merged over First and Last "},
                 {"5", "other:false", "other:true", "other:false", "other:true"}});
            row("formulas", "Hidden");
            row("formulas", "Régions");
            row("dates1904", "Dates");
            row("long_strings", "Long");
            row("many_strings", "Strings");
        }
    }

    void odsWorkbooks()
    {
        QFETCH(QString, name);
        QFETCH(QString, sheet);
        QFETCH(QString, type);
        QFETCH(Rows, ownColumns);
        const QString ods = fixture(name + ".ods"), xls = fixture(name + ".xls");
        QCOMPARE(WorkbookSheets(ods), WorkbookSheets(xls));
        const auto expected = CReadFile().Read_Excel(xls, sheet, type);
        const auto table = CReadFile().Read_Excel(ods, sheet, type);
        QVERIFY(table && expected);
        Rows rows = rowsOf(*expected);
        const int first = type == "XLH" ? 0 : 1;
        for (const QStringList &own : ownColumns)
            for (int r = first; r < rows.size(); ++r)
                rows[r][own[0].toInt()] = own[r - first + 1];
        QCOMPARE(table->columnNames(), expected->columnNames());
        QCOMPARE(rowsOf(*table), rows);
    }

    // .ods files no spreadsheet program writes: each kind of cell, repeats past the sheet's edges,
    // and each damage, with the message that refuses it. The listing reads the sheets.
    void craftedOds_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("sheets"); // none: the listing fails with the message
        QTest::addColumn<QStringList>("columns"); // of the first sheet, with a header
        QTest::addColumn<Rows>("rows");           // its first rows
        QTest::addColumn<int>("records");
        QTest::addColumn<QString>("message");
        const auto ods = [](const QByteArray &tables, const QByteArray &type = "spreadsheet",
                            const QByteArray &prolog = "") {
            return ZipBytes::zip(
                {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", false},
                 {"content.xml",
                  prolog + "<office:document-content xmlns:office='urn:oasis:names:tc:opendocument:xmlns:office:1.0' "
                           "xmlns:table='urn:oasis:names:tc:opendocument:xmlns:table:1.0' "
                           "xmlns:text='urn:oasis:names:tc:opendocument:xmlns:text:1.0' xmlns:calcext='urn:org:"
                           "documentfoundation:names:experimental:calc:xmlns:calcext:1.0'><office:body><office:" +
                      type + ">" + tables + "</office:" + type + "></office:body></office:document-content>"}});
        };
        const auto table = [](const char *name, const QByteArray &rows) {
            return "<table:table table:name='" + QByteArray(name) + "'><table:table-column/>" + rows + "</table:table>";
        };
        const auto cell = [](const QByteArray &attributes, const QByteArray &content = "") {
            return "<table:table-cell " + attributes + ">" + content + "</table:table-cell>";
        };
        const QByteArray text = "office:value-type='string'";
        const QByteArray cells =
            "<table:table-header-rows><table:table-row>" + cell(text, "<text:p>Name</text:p>") +
            cell("", "<text:p>  <text:span>No</text:span>\n type</text:p>") + "<table:covered-table-cell/>" +
            cell(text + " table:number-columns-repeated='2'", "<text:p>Twice</text:p>") +
            "</table:table-row></table:table-header-rows><table:table-row-group><table:table-row>" +
            cell(text, "<text:p><text:s text:c='2'/>a<text:tab/>b<text:line-break/>c</text:p><text:p>d "
                       "<office:annotation><text:p>note</text:p></office:annotation></text:p>") +
            cell("office:value-type='float' office:value='1.5'") + cell("office:value-type='percentage' office:value='3'") +
            cell("office:value-type='boolean' office:boolean-value='true'") +
            cell("office:value-type='currency' office:value='x'", "<text:p>€ x</text:p>") +
            "</table:table-row><table:table-row table:number-rows-repeated='3'/>"
            "<table:table-row table:number-rows-repeated='2'>" +
            cell("office:value-type='date' office:date-value='2024-02-29T13:45:30.5'") +
            cell("office:value-type='date' office:date-value='1999-12-31T00:00:00'") +
            cell("office:value-type='time' office:time-value='PT13H45M00S'") +
            cell("office:value-type='time' office:time-value='PT36H'") +
            cell("table:number-columns-repeated='1000000'") + "</table:table-row></table:table-row-group><table:table-row>" +
            cell(text + " office:string-value='cached'", "<text:p>shown</text:p>") +
            cell(text + " office:string-value='' calcext:value-type='error'", "<text:p>#N/A</text:p>") +
            cell("office:value-type='time' office:time-value='-PT1H'") + "</table:table-row>"
            "<table:table-row table:number-rows-repeated='1048576'>" +
            cell("table:number-columns-repeated='16384'") + "</table:table-row>";
        const QStringList names{"Name", "No type", "F3", "Twice", "Twice"};
        QTest::newRow("every kind of cell")
            << ods(table("Data", cells) + table("Hidden", "")) << QStringList{"Data", "Hidden"} << names
            << Rows{{"  a\tb\nc\nd ", "num:1.5", "num:3", "other:true", "€ x"}, {kNull, kNull, kNull, kNull, kNull},
                    {kNull, kNull, kNull, kNull, kNull}, {kNull, kNull, kNull, kNull, kNull},
                    {"other:2024-02-29T13:45:30.500", "date:1999-12-31", "other:13:45:00.000",
                     "other:1900-01-01T12:00:00.000", kNull},
                    {"other:2024-02-29T13:45:30.500", "date:1999-12-31", "other:13:45:00.000",
                     "other:1900-01-01T12:00:00.000", kNull},
                    {"cached", kNull, "num:-0.0416667", kNull, kNull}}
            << 7 << "";
        const QByteArray wide = "<table:table-row table:number-rows-repeated='2000000'>" +
                                cell(text + " table:number-columns-repeated='20000'", "<text:p>w</text:p>") +
                                "</table:table-row>";
        QTest::newRow("a value repeated to the last row")
            << ods(table("Tall", "<table:table-row table:number-rows-repeated='2000000'>" +
                                     cell(text, "<text:p>t</text:p>") + "</table:table-row>"))
            << QStringList{"Tall"} << QStringList{"t"} << Rows{{"t"}} << 1048575 << "";
        QTest::newRow("a value repeated over the whole sheet")
            << ods(table("Wide", wide)) << QStringList() << QStringList() << Rows{} << 0
            << "would hold more than 33554432 cells";
        QTest::newRow("spaces without end")
            << ods(table("S", "<table:table-row>" +
                                  cell(text, QByteArray("<text:p><text:s text:c='99999999'/></text:p>").repeated(2)) +
                                  "</table:table-row>"))
            << QStringList() << QStringList() << Rows{} << 0 << "repeat more than";
        QTest::newRow("entities") << ods(table("&e;", ""), "spreadsheet",
                                         "<!DOCTYPE x [<!ENTITY e SYSTEM '/etc/hostname'>]>")
                                  << QStringList() << QStringList() << Rows{} << 0 << "declares a document type";
        QTest::newRow("text document in the body") << ods("<text:p>Hi</text:p>", "text") << QStringList()
                                                   << QStringList() << Rows{} << 0 << "it holds a text document";
        QTest::newRow("text document by its type")
            << ZipBytes::zip({{"mimetype", "application/vnd.oasis.opendocument.text"}, {"content.xml", ""}})
            << QStringList() << QStringList() << Rows{} << 0 << "it holds a text document";
        QTest::newRow("not well-formed") << ods(table("A", "<table:table-row>")) << QStringList() << QStringList()
                                         << Rows{} << 0 << "not well-formed XML (line 1: ";
        QTest::newRow("damaged member") << ZipBytes::zip({{"content.xml", QByteArray(3000, ' '), true, 1}})
                                        << QStringList() << QStringList() << Rows{} << 0 << "checksum";
    }

    void craftedOds()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, sheets);
        QFETCH(QStringList, columns);
        QFETCH(Rows, rows);
        QFETCH(int, records);
        QFETCH(QString, message);
        QBuffer buffer(&file);
        buffer.open(QIODevice::ReadOnly);
        const ZipArchive zip(buffer);
        QString seen;
        try {
            const OdsWorkbook book(zip);
            QCOMPARE(book.worksheetNames(), sheets);
            const auto table = book.readSheet(0, true);
            QCOMPARE(table->columnNames(), columns);
            QCOMPARE(table->recordCount(), records);
            QCOMPARE(rowsOf(*table, int(rows.size())), rows);
            QCOMPARE(book.readSheet(0, false)->recordCount(), records + 1); // read again
        } catch (const AppError &e) {
            QCOMPARE(e.number(), kErrBadFormat);
            seen = e.info().description;
        }
        QVERIFY2(message.isEmpty() ? seen.isEmpty() : seen.contains(message), qPrintable(seen));
    }

    // The XML reader of workbook parts: what it gives for each construct, across its buffer's
    // ends, and each fault refused with its reason and line.
    void xmlScanner_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("tokens"); // "(" start, "[name=value]" attribute, ")" end; namespaces as 1: and 2:
        QTest::addColumn<QString>("problem");
        QTest::newRow("namespaces") << QByteArray("<?xml version='1.0' encoding='UTF-8'?><a:r xmlns:a='urn:a' "
                                                  "xmlns='urn:b'><x a:k='1' k='2'/><a:y xmlns:a='urn:b'/></a:r>")
                                    << "(1:r(2:x[1:k=1][k=2])(2:y))" << "";
        QTest::newRow("references and line ends")
            << QByteArray("\xEF\xBB\xBF<r v='a&#9;b\r\nc &lt;&amp;&quot;'>1 &lt; 2 &#x20AC;&#233;\r\n"
                          "<![CDATA[<&amp;>]]><!-- <x> --><?pi <y>?>\r</r>\n")
            << QString::fromUtf8("(r[v=a\tb c <&\"]1 < 2 €é\n<&amp;>\n)") << "";
        const QByteArray cell = "<c v='&amp;\xC3\xA9'>x&lt;\xE2\x82\xAC<![CDATA[&]]></c>";
        QTest::newRow("across the buffer's ends") << "<r>" + cell.repeated(40000) + "</r>"
                                                  << "(r" + QString::fromUtf8("(c[v=&é]x<€&)").repeated(40000) + ")"
                                                  << "";
        for (int shift = 0; shift < 9; ++shift) // so that a piece ends at each byte of the repeated text
            QTest::addRow("text longer than a piece, shifted %d", shift)
                << "<r>" + QByteArray(shift, 'x') + QByteArray("\xC3\xA9&amp;\r\n").repeated(300000) + "</r>"
                << "(r" + QString(shift, u'x') + QString::fromUtf8("é&\n").repeated(300000) + ")" << "";
        const auto fault = [](const char *name, const QByteArray &xml, const char *problem) {
            QTest::newRow(name) << xml << QString() << QString::fromUtf8(problem);
        };
        fault("tags crossed", "<r>\n<a>\n<b></a></b></r>", "(line 3: the end tag </a> does not close <b>)");
        fault("prefix not declared", "<r><p:a/></r>", "the prefix p is not declared");
        fault("entity not declared", "<r>&nbsp;</r>", "the entity &nbsp; is not declared");
        fault("no character", "<r>&#0;</r>", "&#0; is no character");
        fault("value not quoted", "<r a=1/>", "an attribute value is not quoted");
        fault("attribute twice", "<r a='1' a='2'/>", "the attribute a twice");
        fault("'<' in a value", "<r a='<'/>", "holds '<'");
        fault("second root", "<r/><s/>", "a second root element");
        fault("text outside", "<r/>text", "text outside its root element");
        fault("cut short", "<r><a>text", "it ends inside an element");
        fault("nothing", "  ", "it holds no element");
        fault("nested too deep", QByteArray("<a>").repeated(1001), "nested more than 1000 deep");
        fault("document type", "<!DOCTYPE r [<!ENTITY a 'b'>]><r>&a;</r>", "part declares a document type");
        fault("UTF-16", "\xFF\xFE<", "part is written in UTF-16");
        fault("Latin-1", "<?xml version='1.0' encoding='ISO-8859-1'?><r/>", "part is written in iso-8859-1");
    }

    void xmlScanner()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, tokens);
        QFETCH(QString, problem);
        QBuffer buffer(&xml);
        buffer.open(QIODevice::ReadOnly);
        QString seen;
        try {
            XmlScanner scanner(buffer, QStringLiteral("part"), QStringLiteral("damaged: %1."));
            const auto ns = [&](int id) { return id == 0 ? QString() : QString::number(id) + u':'; };
            QCOMPARE(scanner.namespaceId("urn:a"), 1);
            QCOMPARE(scanner.namespaceId("urn:b"), 2);
            for (XmlScanner::Token token; (token = scanner.next()) != XmlScanner::EndDocument;) {
                if (token == XmlScanner::StartElement) {
                    seen += u'(' + ns(scanner.ns()) + XmlScanner::utf8(scanner.name());
                    for (const XmlScanner::Attribute &a : scanner.attributes())
                        seen += u'[' + ns(a.ns) + XmlScanner::utf8(a.name) + u'=' + XmlScanner::utf8(a.value) + u']';
                } else if (token == XmlScanner::Text) {
                    XmlScanner::appendUtf8(seen, scanner.text());
                } else {
                    seen += u')';
                }
            }
        } catch (const AppError &e) {
            QCOMPARE(e.number(), kErrBadFormat);
            seen = e.info().description;
        }
        if (problem.isEmpty())
            QCOMPARE(seen, tokens);
        else
            QVERIFY2(seen.contains(problem), qPrintable(seen));
    }

    // The container of .xlsx and .ods files: members read back whole, damage refused with its
    // reason, never read past the file nor inflated past the limit.
    void zipContainer_data()
    {
        using ZipBytes::Member;
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("problem"); // empty: every member reads back as written
        const QByteArray big = QByteArray("<row><c>text</c></row>").repeated(10000);
        QTest::newRow("stored and deflated")
            << ZipBytes::zip({{"mimetype", "application/zip", false}, {"big.xml", big}, {"empty", ""}}) << "";
        QTest::newRow("checksum") << ZipBytes::zip({{"a.xml", big, true, 1}}) << "checksum";
        QTest::newRow("data shorter than said") << ZipBytes::zip({{"a.xml", big, true, 0, 1}}) << "shorter";
        QTest::newRow("data longer than said") << ZipBytes::zip({{"a.xml", big, true, 0, -1}}) << "longer";
        QTest::newRow("stored, longer than said") << ZipBytes::zip({{"a", "abc", false, 0, -1}}) << "two sizes";
        QTest::newRow("members overlap") << ZipBytes::zip({{"a.xml", big}, {"b.xml", big}}, true) << "overlap";
        QTest::newRow("bomb") << ZipBytes::zip({{"a.xml", big, true, 0, 2000000000}}) << "would grow";
        QTest::newRow("cut short") << ZipBytes::zip({{"a.xml", big}}).chopped(30) << "no directory";
        QTest::newRow("no zip") << QByteArray("PK\3\4 but nothing else at all") << "no directory";
    }

    void zipContainer()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, problem);
        QBuffer buffer(&file);
        buffer.open(QIODevice::ReadOnly);
        QString seen;
        try {
            ZipArchive zip(buffer);
            for (const char *name : {"mimetype", "big.xml", "empty", "a.xml", "a", "b.xml"}) {
                const auto member = zip.open(name);
                if (!member)
                    continue;
                QByteArray bytes;
                while (!member->atEnd() && member->problem().isEmpty())
                    bytes += member->read(1000); // piece by piece, as the XML readers read
                seen += member->problem();
                if (member->problem().isEmpty())
                    QCOMPARE(bytes.size() > 0, qstrcmp(name, "empty") != 0);
            }
            QCOMPARE(zip.read(QStringLiteral("mimetype"), 100), QByteArray("application/zip"));
        } catch (const AppError &e) {
            QCOMPARE(e.number(), kErrBadFormat);
            seen += e.info().description;
        }
        QVERIFY2(problem.isEmpty() ? seen.isEmpty() : seen.contains(problem), qPrintable(seen));
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
        QVERIFY(ListWorksheets(t.services, fixture(QStringLiteral("formulas.xls")), names));
        QCOMPARE(names, (QStringList{"People", "Hidden", "Régions"}));
        QVERIFY(ListWorksheets(t.services, fixture(QStringLiteral("excel95.xls")), names));
        QCOMPARE(names, (QStringList{"Clients", "Été"}));
        QVERIFY(!ListWorksheets(t.services, fixture(QStringLiteral("bom.csv")), names));
        QVERIFY(names.isEmpty());
        QVERIFY(!ListWorksheets(t.services, pipe, names));
        QCOMPARE(t.boxes.texts(), QStringList(2, QStringLiteral("Could not open Excel spreadsheet")));
    }
};

QTEST_APPLESS_MAIN(TestReaders)
#include "tst_readers.moc"
