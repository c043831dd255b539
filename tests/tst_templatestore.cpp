#include "TestServices.h"
#include "app/AppError.h"
#include "store/StoreTransaction.h"
#include "store/TemplateDatabase.h"
#include "store/TemplateStore.h"

#include <QDateTime>
#include <QTest>

using namespace DataAccess;

namespace {

const QString kNameTaken = QStringLiteral("A template by this name already exists");
const QString kNoLongerExists = QStringLiteral("The info for this template no longer exists in the database");

MappingRows sampleRows(int count)
{
    MappingRows rows;
    for (int i = 1; i <= count; ++i)
        rows << MappingRow{i, QStringLiteral("Column %1 é'").arg(i), i % 2 ? QStringLiteral("Company Name") : QString(),
                           i % 2 ? QStringLiteral("CompanyName") : QString()};
    return rows;
}

// Everything the file holds: the schema and every row of every table.
QStringList dump(const std::shared_ptr<Connection> &db)
{
    QStringList out;
    RecordSet tables;
    tables.open(db, QStringLiteral("SELECT name, sql FROM sqlite_master ORDER BY name"));
    QStringList names;
    for (; !tables.eof(); tables.moveNext()) {
        out << tables.value(0).toString() + QLatin1Char('=') + tables.value(1).toString();
        if (tables.value(1).toString().startsWith(QLatin1String("CREATE TABLE")))
            names << tables.value(0).toString();
    }
    for (const QString &name : names) {
        RecordSet rows;
        rows.open(db, QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid").arg(name));
        for (; !rows.eof(); rows.moveNext()) {
            QStringList values;
            for (int i = 0; i < rows.fieldCount(); ++i)
                values << rows.value(i).toString();
            out << name + QLatin1Char(':') + values.join(QLatin1Char('|'));
        }
    }
    return out;
}

QVariant scalar(TestServices &t, const QString &sql, const QVariantList &params = {})
{
    return t.state.connection->scalar(sql, params);
}

} // namespace

class TestTemplateStore : public QObject {
    Q_OBJECT

    // A fresh database, opened as at start-up.
    static void open(TestServices &t)
    {
        QVERIFY(OpenTemplateDatabase(t.state, t.services));
        t.boxes.clear();
    }

    // The steps of saving a new template, as the editor takes them.
    static void saveNew(TestServices &t, const QString &name, const MappingRows &rows, const QString &fileType = "CSH")
    {
        t.state.templateName = name;
        QVERIFY(FindTemplate(t.state, t.services, kFindCheck));
        t.state.loadMode = kModeAdd;
        AllocateTemplateTable(t.state);
        CreateTemplateTable(t.state, t.state.mappingTable);
        QVERIFY(WriteMappingRows(t.state, t.services, rows, kModeAdd));
        QVERIFY(WriteTemplateIndex(t.state, t.services, kModeAdd, fileType, rows));
    }

private slots:
    void templateNumbers_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("table");
        QTest::newRow("first") << 0 << "Tmplt0001";
        QTest::newRow("forty-second") << 41 << "Tmplt0042";
        QTest::newRow("past four digits") << 9999 << "Tmplt10000";
    }

    void templateNumbers()
    {
        QFETCH(int, stored);
        QFETCH(QString, table);
        TestServices t;
        open(t);
        t.state.connection->execute(QStringLiteral("UPDATE tblSysParms SET SYS_CURTMPLTNUM = ?"), {stored});
        t.state.systemRecord.requery();

        QCOMPARE(AllocateTemplateTable(t.state), table);
        QCOMPARE(t.state.mappingTable, table);
        QCOMPARE(scalar(t, QStringLiteral("SELECT SYS_CURTMPLTNUM FROM tblSysParms")).toInt(), stored + 1);
        QCOMPARE(scalar(t, QStringLiteral("SELECT CHG_USER FROM tblSysParms")).toString(), QStringLiteral("SYSTEM"));
        QVERIFY(qAbs(scalar(t, QStringLiteral("SELECT CHG_DATE FROM tblSysParms"))
                         .toDateTime()
                         .secsTo(QDateTime::currentDateTime())) < 60);
    }

    void savedTemplateReadsBackWhole()
    {
        TestServices t;
        open(t);
        t.state.sheetName = QStringLiteral("Sheet1");
        t.state.defaultFolder = true;
        t.state.folderEntryId = QStringLiteral("/books/Leads");
        t.state.folderStoreId = QStringLiteral("/books");
        t.state.folderName = QStringLiteral("Leads");
        t.state.customForm = true;
        t.state.customFormName = QStringLiteral("IPM.Contact.Lead");
        t.state.customFieldCount = 3;
        t.state.business.streetLines = true;
        t.state.home.streetLines = true;
        t.state.editPending = true;
        const MappingRows rows = sampleRows(12);
        saveNew(t, QStringLiteral("Trade Show 2026"), rows, QStringLiteral("XLH"));
        QVERIFY(!t.state.editPending);
        QVERIFY(!t.state.indexRecord.isOpen());
        QCOMPARE(scalar(t, QStringLiteral("SELECT count(*) FROM Tmplt0001")).toInt(), 12);
        QCOMPARE(scalar(t, QStringLiteral("SELECT TM_HDRSYN FROM tblTmpltIndex")).toInt(), -1);
        QCOMPARE(scalar(t, QStringLiteral("SELECT STATUS || ADD_USER FROM tblTmpltIndex")).toString(),
                 QStringLiteral("ASYSTEM"));
        QVERIFY(scalar(t, QStringLiteral("SELECT CHG_DATE FROM tblTmpltIndex")).isNull());

        // The table has its columns and indexes.
        QCOMPARE(scalar(t, QStringLiteral(
                               "SELECT group_concat(name) FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL "
                               "AND tbl_name = 'Tmplt0001'"))
                     .toString(),
                 QStringLiteral("Tmplt0001.TMP_SRCCOLNAME,Tmplt0001.TMP_OLKEY"));
        QVERIFY(scalar(t, QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'Tmplt0001'"))
                    .toString()
                    .contains(QStringLiteral("\"TMP_SRCCOLNUM\" SMALLINT NOT NULL")));

        AppState fresh;
        fresh.connection = t.state.connection;
        fresh.templateName = QStringLiteral("TRADE SHOW 2026");
        QVERIFY(FindTemplate(fresh, t.services, kFindRead));
        QCOMPARE(fresh.loadMode, QStringLiteral("U"));
        QCOMPARE(fresh.mappingTable, QStringLiteral("Tmplt0001"));
        QCOMPARE(fresh.fileType, QStringLiteral("XLH"));
        QCOMPARE(fresh.sheetName, QStringLiteral("Sheet1"));
        QCOMPARE(fresh.columnCount, qint16(12));
        QVERIFY(fresh.defaultFolder);
        QCOMPARE(fresh.folderEntryId, QStringLiteral("/books/Leads"));
        QCOMPARE(fresh.folderStoreId, QStringLiteral("/books"));
        QCOMPARE(fresh.folderName, QStringLiteral("Leads"));
        QVERIFY(fresh.customForm);
        QCOMPARE(fresh.customFormName, QStringLiteral("IPM.Contact.Lead"));
        QCOMPARE(fresh.templateFieldCount, qint16(3));
        QCOMPARE(fresh.customFieldCount, qint16(0)); // the folder's own count is not the template's
        QVERIFY(fresh.business.streetLines && fresh.home.streetLines);
        QVERIFY(!fresh.mailing.streetLines && !fresh.other.streetLines);

        QVERIFY(OpenTemplateTable(fresh, t.services));
        MappingRows back;
        for (; !fresh.mappingRecords.eof(); fresh.mappingRecords.moveNext())
            back << MappingRow{fresh.mappingRecords.value(QStringLiteral("tmp_srccolnum")).toInt(),
                               fresh.mappingRecords.value(QStringLiteral("tmp_srccolname")).toString(),
                               fresh.mappingRecords.value(QStringLiteral("tmp_dispcolname")).toString(),
                               fresh.mappingRecords.value(QStringLiteral("tmp_olkey")).toString()};
        QCOMPARE(back, rows); // fixed-width names read back exactly as written
        QVERIFY(t.boxes.boxes.isEmpty());
    }

    void namesAreLookedUpAsTheyStand_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("asked");
        QTest::newRow("letter case") << "Trade Show"
                                     << "TRADE show";
        QTest::newRow("letter case beyond ASCII") << "été clients"
                                                  << "ÉTÉ CLIENTS";
        QTest::newRow("single quote") << "O'Brien Imports"
                                      << "o'brien imports";
        QTest::newRow("query text") << "x' OR '1'='1"
                                    << "X' or '1'='1";
    }

    void namesAreLookedUpAsTheyStand()
    {
        QFETCH(QString, stored);
        QFETCH(QString, asked);
        TestServices t;
        open(t);
        saveNew(t, QStringLiteral("Another"), sampleRows(2));
        saveNew(t, stored, sampleRows(3));

        t.state.templateName = asked;
        QVERIFY(!FindTemplate(t.state, t.services, kFindCheck));
        QCOMPARE(t.boxes.texts(), QStringList{kNameTaken});
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);

        QVERIFY(FindTemplate(t.state, t.services, kFindRead));
        QCOMPARE(t.state.mappingTable, QStringLiteral("Tmplt0002"));
        DeleteTemplate(t.state, t.services, t.state.mappingTable);
        QCOMPARE(t.boxes.boxes.size(), 1);
        QCOMPARE(scalar(t, QStringLiteral("SELECT group_concat(TM_DESC) FROM tblTmpltIndex")).toString(),
                 QStringLiteral("Another"));
    }

    void readingADeletedTemplate()
    {
        TestServices t;
        open(t);
        saveNew(t, QStringLiteral("Gone soon"), sampleRows(1));
        t.state.connection->execute(QStringLiteral("DELETE FROM tblTmpltIndex"));
        t.state.templateName = QStringLiteral("Gone soon");
        QVERIFY(!FindTemplate(t.state, t.services, kFindRead));
        QCOMPARE(t.boxes.texts(), QStringList{kNoLongerExists});
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);
        QCOMPARE(t.boxes.boxes[0].buttons, MessageBoxes::Buttons::Ok);
    }

    void conditionalFieldsKeepOrReset()
    {
        TestServices t;
        open(t);
        saveNew(t, QStringLiteral("Plain"), sampleRows(1)); // no folder, no custom form
        t.state.defaultFolder = true;
        t.state.folderEntryId = QStringLiteral("kept");
        t.state.customForm = true;
        t.state.customFormName = QStringLiteral("kept too");
        t.state.templateFieldCount = 7;
        QVERIFY(FindTemplate(t.state, t.services, kFindRead));
        QVERIFY(!t.state.defaultFolder);
        QVERIFY(!t.state.customForm);
        QCOMPARE(t.state.folderEntryId, QStringLiteral("kept"));
        QCOMPARE(t.state.customFormName, QStringLiteral("kept too"));
        QCOMPARE(t.state.templateFieldCount, qint16(7));
    }

    void updatingRewritesRowsInPlace()
    {
        TestServices t;
        open(t);
        saveNew(t, QStringLiteral("Edited"), sampleRows(4));
        t.state.templateName = QStringLiteral("Edited");
        QVERIFY(FindTemplate(t.state, t.services, kFindRead));
        QVERIFY(OpenTemplateTable(t.state, t.services));

        MappingRows edited;
        for (int i = 0; i < 4; ++i)
            edited << MappingRow{90 + i, QStringLiteral("Renamed %1").arg(i), QStringLiteral("Job Title"),
                                 QStringLiteral("JobTitle")};
        QVERIFY(WriteMappingRows(t.state, t.services, edited, kModeUpdate));
        RecordSet rows;
        rows.open(t.state.connection, QStringLiteral("select * from Tmplt0001 order by tmp_srccolnum"));
        for (int i = 0; i < 4; ++i, rows.moveNext()) {
            QCOMPARE(rows.value(QStringLiteral("tmp_srccolnum")).toInt(), i + 1);
            QCOMPARE(rows.value(QStringLiteral("tmp_srccolname")).toString(), QStringLiteral("Renamed %1").arg(i));
            QCOMPARE(rows.value(QStringLiteral("tmp_olkey")).toString(), QStringLiteral("JobTitle"));
        }
        QVERIFY(WriteMappingRows(t.state, t.services, edited, QStringLiteral("X"))); // any other mode writes nothing
        QVERIFY(t.boxes.boxes.isEmpty());
    }

    void indexColumnRules_data()
    {
        QTest::addColumn<QString>("fileType");
        QTest::addColumn<int>("header");
        QTest::newRow("XLH") << "XLH" << -1;
        QTest::newRow("CSH") << "CSH" << -1;
        QTest::newRow("XLN") << "XLN" << 0;
        QTest::newRow("CSN") << "CSN" << 0;
    }

    void indexColumnRules()
    {
        QFETCH(QString, fileType);
        QFETCH(int, header);
        TestServices t;
        open(t);
        t.state.defaultFolder = true;
        t.state.folderEntryId = QStringLiteral("/b/F");
        t.state.folderStoreId = QStringLiteral("/b");
        t.state.folderName = QStringLiteral("F");
        t.state.customForm = true;
        t.state.customFormName = QStringLiteral("IPM.Contact.X");
        t.state.customFieldCount = 2;
        saveNew(t, QStringLiteral("Rules"), sampleRows(2), fileType);
        QCOMPARE(scalar(t, QStringLiteral("SELECT TM_HDRSYN FROM tblTmpltIndex")).toInt(), header);

        // An update without the fixed folder empties the folder and the custom-form columns.
        QVERIFY(FindTemplate(t.state, t.services, kFindRead));
        t.state.defaultFolder = false;
        t.state.customForm = false;
        QVERIFY(WriteTemplateIndex(t.state, t.services, kModeUpdate, fileType, sampleRows(2)));
        QCOMPARE(
            scalar(t, QStringLiteral("SELECT TM_DEFAULTFOLDER || '|' || TM_FOLDERNAME || '|' || TM_ENTRYID || '|' || "
                                     "TM_STOREID FROM tblTmpltIndex"))
                .toString(),
            QStringLiteral("0|||"));
        QCOMPARE(scalar(t, QStringLiteral("SELECT TM_CUSTOMFORM || '|' || TM_CUSTOMFORMNAME || '|' || TM_CUSTOMFIELDS "
                                          "FROM tblTmpltIndex"))
                     .toString(),
                 QStringLiteral("0||0"));
        QCOMPARE(scalar(t, QStringLiteral("SELECT CHG_USER FROM tblTmpltIndex")).toString(), QStringLiteral("SYSTEM"));
        QCOMPARE(scalar(t, QStringLiteral("SELECT TM_CHKPROV || TM_CHKCNTRY FROM tblTmpltIndex")).toString(),
                 QStringLiteral("00"));
    }

    void unknownFileType()
    {
        TestServices t;
        open(t);
        saveNew(t, QStringLiteral("Typed"), sampleRows(1), QStringLiteral("CSN"));
        QVERIFY(FindTemplate(t.state, t.services, kFindRead));
        QVERIFY(WriteTemplateIndex(t.state, t.services, kModeUpdate, QStringLiteral("TXT"), sampleRows(1)));
        QCOMPARE(t.boxes.texts(), QStringList{"Unknown File Type"});
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::None);
        QCOMPARE(scalar(t, QStringLiteral("SELECT TM_HDRSYN || TM_FILETYPE FROM tblTmpltIndex")).toString(),
                 QStringLiteral("0TXT"));

        // A new row cannot stand without its header flag: the failure is reported and nothing is added.
        t.boxes.clear();
        t.state.templateName = QStringLiteral("Untyped");
        QVERIFY(FindTemplate(t.state, t.services, kFindCheck));
        QVERIFY(!WriteTemplateIndex(t.state, t.services, kModeAdd, QStringLiteral("TXT"), sampleRows(1)));
        QCOMPARE(t.boxes.texts().size(), 2);
        QVERIFY(t.boxes.texts()[1].startsWith(QStringLiteral("FILE")));
        QCOMPARE(scalar(t, QStringLiteral("SELECT count(*) FROM tblTmpltIndex")).toInt(), 1);
    }

    void deletingKeepsNumbersGoingUp()
    {
        TestServices t;
        open(t);
        saveNew(t, QStringLiteral("First"), sampleRows(1));
        saveNew(t, QStringLiteral("Second"), sampleRows(1));
        t.state.templateName = QStringLiteral("Second");
        QVERIFY(FindTemplate(t.state, t.services, kFindRead));
        DeleteTemplate(t.state, t.services, t.state.mappingTable);
        QCOMPARE(scalar(t, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'Tmplt0002'")).toInt(), 0);
        QCOMPARE(scalar(t, QStringLiteral("SELECT group_concat(TM_ID) FROM tblTmpltIndex")).toString(),
                 QStringLiteral("Tmplt0001"));
        saveNew(t, QStringLiteral("Third"), sampleRows(1));
        QCOMPARE(t.state.mappingTable, QStringLiteral("Tmplt0003"));
        QVERIFY(t.boxes.boxes.isEmpty());
    }

    void storeFailuresHaveTheirMessages()
    {
        TestServices t;
        open(t);
        saveNew(t, QStringLiteral("Broken"), sampleRows(2));
        t.state.connection->execute(QStringLiteral("DROP TABLE Tmplt0001"));
        t.state.templateName = QStringLiteral("Broken");
        QVERIFY(FindTemplate(t.state, t.services, kFindRead));

        QVERIFY(!OpenTemplateTable(t.state, t.services));
        QCOMPARE(t.boxes.boxes.size(), 1);
        const QStringList lines = t.boxes.texts()[0].split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("Error encountered retrieving Template selected "));
        QCOMPARE(lines[1], QStringLiteral("Template ID: Tmplt0001 "));
        QVERIFY2(lines[2].startsWith(QStringLiteral("Err Num = 1  Desc: no such table")), qPrintable(lines[2]));
        QCOMPARE(t.boxes.boxes[0].title, QStringLiteral("Retrieving Template File Info"));
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);

        t.boxes.clear();
        DeleteTemplate(t.state, t.services, QStringLiteral("Tmplt0001"));
        QCOMPARE(t.boxes.boxes.size(), 1);
        QVERIFY2(t.boxes.texts()[0].startsWith(QStringLiteral("Err Num: 1 - Desc: no such table")),
                 qPrintable(t.boxes.texts()[0]));
        QCOMPARE(t.boxes.boxes[0].title, QStringLiteral("Deleting Template Info"));

        // Mapping rows that do not fit are reported as file errors.
        t.boxes.clear();
        t.state.mappingTable = QStringLiteral("Tmplt0009");
        CreateTemplateTable(t.state, t.state.mappingTable);
        QVERIFY(
            !WriteMappingRows(t.state, t.services, {MappingRow{1, QString(51, QLatin1Char('x')), {}, {}}}, kModeAdd));
        QVERIFY(t.boxes.texts()[0].startsWith(QStringLiteral("FILE")));
        QVERIFY_THROWS_EXCEPTION(AppError, CreateTemplateTable(t.state, t.state.mappingTable));
    }

    void failedSaveTakesEverythingBack()
    {
        TestServices t;
        open(t);
        saveNew(t, QStringLiteral("Existing"), sampleRows(3));
        const QStringList before = dump(t.state.connection);
        {
            StoreTransaction transaction(t.state);
            t.state.templateName = QStringLiteral("Half saved");
            QVERIFY(FindTemplate(t.state, t.services, kFindCheck));
            AllocateTemplateTable(t.state);
            CreateTemplateTable(t.state, t.state.mappingTable);
            MappingRows rows = sampleRows(5);
            rows[3].sourceColumnName = QString(60, QLatin1Char('n')); // does not fit: the fourth row fails
            QVERIFY(!WriteMappingRows(t.state, t.services, rows, kModeAdd));
        } // left without commit
        QCOMPARE(t.boxes.boxes.size(), 1);
        QCOMPARE(dump(t.state.connection), before);
        QCOMPARE(t.state.systemRecord.value(QStringLiteral("sys_curtmpltnum")).toInt(), 1);

        // A delete whose second half fails leaves the template whole.
        t.boxes.clear();
        {
            StoreTransaction transaction(t.state);
            t.state.templateName = QStringLiteral("Existing");
            QVERIFY(FindTemplate(t.state, t.services, kFindRead));
            DeleteTemplate(t.state, t.services, QStringLiteral("NoSuchTable"));
        }
        QCOMPARE(t.boxes.boxes.size(), 1);
        QCOMPARE(dump(t.state.connection), before);

        // A committed save keeps everything, under the next number.
        {
            StoreTransaction transaction(t.state);
            saveNew(t, QStringLiteral("Whole"), sampleRows(2));
            transaction.commit();
        }
        QCOMPARE(t.state.mappingTable, QStringLiteral("Tmplt0002"));
        QCOMPARE(scalar(t, QStringLiteral("SELECT count(*) FROM Tmplt0002")).toInt(), 2);
        QCOMPARE(scalar(t, QStringLiteral("SELECT count(*) FROM tblTmpltIndex")).toInt(), 2);
    }
};

QTEST_APPLESS_MAIN(TestTemplateStore)
#include "tst_templatestore.moc"
