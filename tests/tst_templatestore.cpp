#include "ImportFixtures.h"
#include "core/AppError.h"
#include "source/MappingGrid.h"
#include "store/StoreTransaction.h"
#include "store/TemplateDatabase.h"
#include "store/TemplateRecords.h"
#include "store/TemplateStore.h"

#include <QTest>

using namespace DataAccess;

namespace {

const QString kNameTaken = QStringLiteral("A template by this name already exists");

MappingRows sampleRows(int count)
{
    MappingRows rows;
    for (int i = 1; i <= count; ++i)
        rows << MappingRow{i, QStringLiteral("Column %1 é'").arg(i), i % 2 ? QStringLiteral("Company Name") : QString(),
                           i % 2 ? QStringLiteral("CompanyName") : QString()};
    return rows;
}

// The schema and every row of every table.
QStringList dump(const std::shared_ptr<Connection> &db)
{
    QStringList out;
    RecordSet entries;
    entries.open(db, QStringLiteral("SELECT name, sql FROM sqlite_master ORDER BY name"));
    for (; !entries.eof(); entries.moveNext()) {
        out << entries.value(1).toString();
        RecordSet rows;
        if (out.last().startsWith(QLatin1String("CREATE TABLE")))
            rows.open(db, QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid").arg(entries.value(0).toString()));
        for (; rows.isOpen() && !rows.eof(); rows.moveNext())
            for (int i = 0; i < rows.fieldCount(); ++i)
                out << entries.value(0).toString() + QLatin1Char(':') + rows.value(i).toString();
    }
    return out;
}

// A fixed folder with a custom form of three fields.
void useLeadsFolder(AppState &state)
{
    state.defaultFolder = state.customForm = true;
    state.folderEntryId = QStringLiteral("/books/Leads");
    state.folderStoreId = QStringLiteral("/books");
    state.folderName = QStringLiteral("Leads");
    state.customFormName = QStringLiteral("IPM.Contact.Lead");
    state.customFieldCount = 3;
}

QVariant scalar(ImportBench &t, const QString &sql, const QVariantList &params = {})
{
    return t.state.connection->scalar(sql, params);
}

} // namespace

class TestTemplateStore : public QObject {
    Q_OBJECT

private slots:
    void savedTemplateReadsBackWhole()
    {
        ImportBench t;
        useLeadsFolder(t.state);
        t.state.street[0].streetLines = t.state.street[2].streetLines = t.state.editPending = true;
        const MappingRows rows = sampleRows(2) << MappingRow{3, "Street", "CO Street Addr1", "##COStreet1"}
                                               << MappingRow{4, "Region", "USERDEFINED", "UDRegion"}
                                               << MappingRow{5, "Unused", "", ""};
        t.makeTemplate(QStringLiteral("Trade Show 2026"), QStringLiteral("XLH"), rows, QStringLiteral("Sheet1"));
        QVERIFY(!t.state.editPending);
        QVERIFY(!Records(t.state).indexRecord.isOpen());

        AppState fresh;
        fresh.connection = t.state.connection;
        fresh.templateName = QStringLiteral("TRADE SHOW 2026");
        QVERIFY(FindTemplate(fresh, t.services, FindMode::Read));
        QCOMPARE((QStringList{fresh.mappingTable, fresh.fileType, fresh.sheetName, fresh.folderEntryId,
                              fresh.folderStoreId, fresh.folderName, fresh.customFormName}),
                 (QStringList{"Tmplt0001", "XLH", "Sheet1", "/books/Leads", "/books", "Leads", "IPM.Contact.Lead"}));
        QVERIFY(fresh.loadMode == LoadMode::Update && fresh.defaultFolder && fresh.customForm);
        QCOMPARE(fresh.columnCount, qint16(5));
        QCOMPARE(fresh.templateFieldCount, qint16(3));
        QCOMPARE(fresh.customFieldCount, qint16(0)); // the folder's own count is not the template's
        QVERIFY(fresh.street[0].streetLines && fresh.street[2].streetLines);
        QVERIFY(!fresh.street[1].streetLines && !fresh.street[3].streetLines);

        QVERIFY(OpenTemplateTable(fresh, t.services));
        Records(fresh).mappingRecords.moveNext(); // the grid reads them all wherever they stand
        MemoryMappingGrid grid;
        QVERIFY(LoadMappingGrid(fresh, t.services, grid, QStringLiteral("XLH - Excel w/ Header")));
        QCOMPARE(grid.rows(), rows); // fixed-width names read back exactly as written

        // A template without the folder or the form leaves their values as they were.
        t.state.defaultFolder = t.state.customForm = false;
        t.makeTemplate(QStringLiteral("Plain"), QStringLiteral("CSH"), sampleRows(1));
        fresh.templateName = QStringLiteral("Plain");
        QVERIFY(FindTemplate(fresh, t.services, FindMode::Read));
        QVERIFY(!fresh.defaultFolder && !fresh.customForm);
        QCOMPARE(fresh.folderEntryId + fresh.customFormName, QStringLiteral("/books/LeadsIPM.Contact.Lead"));
        QCOMPARE(fresh.templateFieldCount, qint16(3));
        QVERIFY(t.boxes.boxes.isEmpty());
    }

    void namesAreLookedUpAsTheyStand_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<int>("header");
        QTest::addColumn<QString>("fileType");
        QTest::newRow("letter case") << QStringLiteral("Trade Show") << "TRADE show" << -1 << "XLH";
        QTest::newRow("letter case beyond ASCII") << QStringLiteral("été clients") << "ÉTÉ CLIENTS" << -1 << "CSH";
        QTest::newRow("single quote") << QStringLiteral("O'Brien Imports") << "o'brien imports" << 0 << "XLN";
        QTest::newRow("query text") << QStringLiteral("x' OR '1'='1") << "X' or '1'='1" << 0 << "CSN";
    }

    void namesAreLookedUpAsTheyStand()
    {
        QFETCH(QString, stored);
        QFETCH(QString, asked);
        QFETCH(QString, fileType);
        QFETCH(int, header);
        ImportBench t;
        t.makeTemplate(QStringLiteral("Another"), QStringLiteral("CSH"), sampleRows(2));
        useLeadsFolder(t.state);
        t.makeTemplate(stored, fileType, sampleRows(3));
        QCOMPARE(scalar(t, QStringLiteral("SELECT TM_HDRSYN FROM tblTmpltIndex WHERE TM_ID = 'Tmplt0002'")).toInt(),
                 header);

        t.state.templateName = asked;
        QVERIFY(!FindTemplate(t.state, t.services, FindMode::Check));
        QCOMPARE(t.boxes.texts(), QStringList{kNameTaken});
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);
        QVERIFY(FindTemplate(t.state, t.services, FindMode::Read));
        QCOMPARE(t.state.mappingTable, QStringLiteral("Tmplt0002"));

        // An update rewrites the rows in list order, keeping their column numbers; without the
        // fixed folder it empties the folder and the custom-form columns.
        QVERIFY(OpenTemplateTable(t.state, t.services));
        const MappingRows edited{{90, "Renamed", "Job Title", "JobTitle"}, {91, "Other", "", ""}};
        QVERIFY(WriteMappingRows(t.state, t.services, edited, LoadMode::Update));
        QVERIFY(WriteMappingRows(t.state, t.services, sampleRows(2), LoadMode::None)); // writes nothing
        QCOMPARE(scalar(t, QStringLiteral("SELECT group_concat(TMP_SRCCOLNUM || TMP_SRCCOLNAME || TMP_OLKEY) FROM "
                                          "(SELECT * FROM Tmplt0002 ORDER BY TMP_SRCCOLNUM)")),
                 QVariant(QStringLiteral("1RenamedJobTitle,2Other,3Column 3 é'CompanyName")));
        t.state.defaultFolder = t.state.customForm = false;
        QVERIFY(WriteTemplateIndex(t.state, t.services, LoadMode::Update, fileType, sampleRows(2)));
        QCOMPARE(
            scalar(t, QStringLiteral("SELECT TM_DEFAULTFOLDER || '|' || TM_FOLDERNAME || '|' || TM_ENTRYID || '|' || "
                                     "TM_STOREID || '|' || TM_CUSTOMFORM || '|' || TM_CUSTOMFORMNAME || '|' || "
                                     "TM_CUSTOMFIELDS || '|' || TM_CHKPROV || '|' || TM_CHKCNTRY || '|' || CHG_USER "
                                     "FROM tblTmpltIndex WHERE TM_ID = 'Tmplt0002'")),
            QVariant(QStringLiteral("0||||0||0|0|0|SYSTEM")));

        QVERIFY(FindTemplate(t.state, t.services, FindMode::Read));
        DeleteTemplate(t.state, t.services, t.state.mappingTable);
        QCOMPARE(t.boxes.boxes.size(), 1);
        QCOMPARE(scalar(t, QStringLiteral("SELECT group_concat(TM_DESC) FROM tblTmpltIndex")).toString(),
                 QStringLiteral("Another"));
        QVERIFY(scalar(t, QStringLiteral("SELECT name FROM sqlite_master WHERE name = 'Tmplt0002'")).isNull());
        // Numbers are never used twice.
        t.makeTemplate(QStringLiteral("Third"), QStringLiteral("CSH"), sampleRows(1));
        QCOMPARE(t.state.mappingTable, QStringLiteral("Tmplt0003"));
    }

    void storeFailuresHaveTheirMessages()
    {
        ImportBench t;
        t.makeTemplate(QStringLiteral("Typed"), QStringLiteral("CSN"), sampleRows(1));
        QVERIFY(FindTemplate(t.state, t.services, FindMode::Read));
        QVERIFY(WriteTemplateIndex(t.state, t.services, LoadMode::Update, QStringLiteral("TXT"), sampleRows(1)));
        QCOMPARE(t.boxes.texts(), QStringList{"Unknown File Type"});
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::None);
        QCOMPARE(scalar(t, QStringLiteral("SELECT TM_HDRSYN || TM_FILETYPE FROM tblTmpltIndex")).toString(),
                 QStringLiteral("0TXT"));

        // A new row cannot stand without its header flag: the failure is reported and nothing is added.
        t.boxes.clear();
        t.state.templateName = QStringLiteral("Untyped");
        QVERIFY(FindTemplate(t.state, t.services, FindMode::Check));
        QVERIFY(!WriteTemplateIndex(t.state, t.services, LoadMode::Add, QStringLiteral("TXT"), sampleRows(1)));
        QCOMPARE(t.boxes.texts().size(), 2);
        QVERIFY(t.boxes.texts()[1].startsWith(QStringLiteral("FILE")));
        QCOMPARE(scalar(t, QStringLiteral("SELECT count(*) FROM tblTmpltIndex")).toInt(), 1);

        t.boxes.clear();
        t.state.connection->execute(QStringLiteral("DROP TABLE Tmplt0001"));
        t.state.templateName = QStringLiteral("Typed");
        QVERIFY(FindTemplate(t.state, t.services, FindMode::Read));

        QVERIFY(!OpenTemplateTable(t.state, t.services));
        QCOMPARE(t.boxes.boxes.size(), 1);
        QVERIFY2(t.boxes.texts()[0].contains(QStringLiteral("Template ID: Tmplt0001 \r\nErr Num = 1  Desc: no such")),
                 qPrintable(t.boxes.texts()[0]));
        QCOMPARE(t.boxes.boxes[0].title, QStringLiteral("Retrieving Template File Info"));

        t.boxes.clear();
        DeleteTemplate(t.state, t.services, QStringLiteral("Tmplt0001"));
        QCOMPARE(t.boxes.boxes.size(), 1);
        QCOMPARE(t.boxes.boxes[0].title, QStringLiteral("Deleting Template Info"));

        QVERIFY_THROWS_EXCEPTION(AppError, CreateTemplateTable(t.state, QStringLiteral("tblTmpltIndex")));
    }

    void failedSaveTakesEverythingBack()
    {
        ImportBench t;
        t.makeTemplate(QStringLiteral("Existing"), QStringLiteral("CSH"), sampleRows(3));
        const QStringList before = dump(t.state.connection);
        {
            StoreTransaction transaction(t.state);
            t.state.templateName = QStringLiteral("Half saved");
            QVERIFY(FindTemplate(t.state, t.services, FindMode::Check));
            AllocateTemplateTable(t.state);
            CreateTemplateTable(t.state, t.state.mappingTable);
            MappingRows rows = sampleRows(5);
            rows[3].sourceColumnName = QString(60, QLatin1Char('n')); // does not fit: the fourth row fails
            QVERIFY(!WriteMappingRows(t.state, t.services, rows, LoadMode::Add));
        } // left without commit
        QCOMPARE(t.boxes.boxes.size(), 1);
        QVERIFY(t.boxes.texts()[0].startsWith(QStringLiteral("FILE")));
        QCOMPARE(dump(t.state.connection), before);
        QCOMPARE(Records(t.state).systemRecord.value(QStringLiteral("sys_curtmpltnum")).toInt(), 1);

        // A delete whose second half fails leaves the template whole.
        t.boxes.clear();
        {
            StoreTransaction transaction(t.state);
            t.state.templateName = QStringLiteral("Existing");
            QVERIFY(FindTemplate(t.state, t.services, FindMode::Read));
            DeleteTemplate(t.state, t.services, QStringLiteral("NoSuchTable"));
        }
        QCOMPARE(t.boxes.boxes.size(), 1);
        QCOMPARE(dump(t.state.connection), before);

        // A whole save keeps everything, under the next number, past four digits.
        t.state.connection->execute(QStringLiteral("UPDATE tblSysParms SET SYS_CURTMPLTNUM = 9999"));
        Records(t.state).systemRecord.requery();
        t.makeTemplate(QStringLiteral("Whole"), QStringLiteral("CSH"), sampleRows(2));
        QCOMPARE(t.state.mappingTable, QStringLiteral("Tmplt10000"));
        QCOMPARE(scalar(t, QStringLiteral("SELECT count(*) FROM Tmplt10000")).toInt(), 2);
        QCOMPARE(scalar(t, QStringLiteral("SELECT count(*) FROM tblTmpltIndex")).toInt(), 2);
    }
};

QTEST_APPLESS_MAIN(TestTemplateStore)
#include "tst_templatestore.moc"
