#include "TestServices.h"
#include "core/AppError.h"
#include "platform/DataAccess.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace DataAccess;

namespace {

const QString kKey = QStringLiteral("k3y");

Table peopleTable()
{
    const QList<Column> columns{{"P_ID", adSmallInt, 0, 0},
                                {"P_NAME", adVarWChar, 10, adColNullable},
                                {"P_CODE", adWChar, 5, adColNullable},
                                {"P_COUNT", adInteger, 0, adColNullable},
                                {"P_ACTIVE", adBoolean, 0, 0},
                                {"P_WHEN", adDate, 0, adColNullable}};
    return Table{"tblPeople", columns, {{"P_ID", true, false, {"P_ID"}}, {"P_NAME", false, false, {"P_NAME"}}}};
}

} // namespace

class TestDataAccess : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_counter = 0;

    std::shared_ptr<Connection> newDatabase(const QString &name)
    {
        Catalog catalog;
        catalog.create(m_dir.filePath(name), kKey);
        catalog.appendTable(peopleTable());
        return catalog.activeConnection();
    }

private slots:
    void filesAreEncryptedAndLeftAlone()
    {
        const QString path = m_dir.filePath(QStringLiteral("enc.db"));
        {
            auto db = newDatabase(QStringLiteral("enc.db"));
            db->execute(QStringLiteral("INSERT INTO tblPeople (P_ID, P_NAME) VALUES (1, 'secretname')"));
        }
        const QByteArray bytes = readBytes(path);
        QVERIFY(bytes.size() > 16);
        QVERIFY(!bytes.startsWith("SQLite format 3"));
        QVERIFY(!bytes.contains("secretname"));

        QCOMPARE(Connection::open(path, kKey)->scalar("SELECT P_NAME FROM tblPeople"), QVariant("secretname"));

        QCOMPARE(failureOf([&] { Connection::open(m_dir.filePath("none.db"), kKey); }).number, ErrorCode::FileNotFound);
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("none.db"))));

        const QString text = m_dir.filePath(QStringLiteral("notes.txt"));
        writeBytes(text, "just some words\n");
        QVERIFY(failureOf([&] { Connection::create(text, kKey); }).pending());
        QCOMPARE(readBytes(text), QByteArray("just some words\n"));

        // A dangling link is not taken for a first start, nor followed into a new file.
        const QString target = m_dir.filePath(QStringLiteral("elsewhere.db"));
        const QString link = m_dir.filePath(QStringLiteral("link.db"));
        QVERIFY(QFile::link(target, link));
        const ErrorInfo opened = failureOf([&] { Connection::open(link, kKey); });
        QVERIFY(opened.pending() && opened.number != ErrorCode::FileNotFound);
        QVERIFY(failureOf([&] { Connection::create(link, kKey); }).pending());
        QVERIFY(!QFileInfo::exists(target));
    }

    void columnsKeepTheirTypesAndLimits_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("key twice") << "(P_ID) VALUES (1), (1)" << false;
        QTest::newRow("smallint too large") << "(P_ID) VALUES (32768)" << false;
        QTest::newRow("smallint text") << "(P_ID) VALUES ('abc')" << false;
        QTest::newRow("required column empty") << "(P_NAME) VALUES ('x')" << false;
        QTest::newRow("values at limits") << "(P_ID, P_NAME, P_CODE) VALUES (32767, '0123456789', 'ABCDE')" << true;
        QTest::newRow("text past its width") << "(P_ID, P_NAME) VALUES (3, '0123456789A')" << false;
        QTest::newRow("fixed text past its width") << "(P_ID, P_CODE) VALUES (4, 'ABCDEF')" << false;
        QTest::newRow("boolean other than -1/0") << "(P_ID, P_ACTIVE) VALUES (5, 1)" << false;
        QTest::newRow("integer past 32 bits") << "(P_ID, P_COUNT) VALUES (6, 2147483648)" << false;
    }

    void columnsKeepTheirTypesAndLimits()
    {
        QFETCH(QString, sql);
        QFETCH(bool, accepted);
        auto db = newDatabase(QStringLiteral("limits-%1.db").arg(++m_counter));
        const ErrorInfo error = failureOf([&] { db->execute("INSERT INTO tblPeople " + sql); });
        QCOMPARE(!error.pending(), accepted);
    }

    void recordSetsCatalogAndTransactions()
    {
        auto db = newDatabase(QStringLiteral("rs.db"));
        RecordSet rs;
        rs.open(db, QStringLiteral("select * from tblPeople order by p_name"));
        QVERIFY(rs.eof() && rs.bof());
        const QDateTime when(QDate(2026, 3, 4), QTime(5, 6, 7));
        int id = 0;
        for (const QString &name : {QStringLiteral("bravo"), QStringLiteral("Alpha")}) {
            rs.addNew();
            rs.setValue(QStringLiteral("p_id"), ++id);
            rs.setValue(QStringLiteral("P_Name"), name);
            rs.setValue(QStringLiteral("p_when"), when);
            rs.update();
        }
        QCOMPARE(rs.recordCount(), 2);
        // A row added without a Boolean reads False; one without a number reads nothing.
        QCOMPARE(rs.value(QStringLiteral("P_ACTIVE")), QVariant(false));
        QCOMPARE(rs.value(QStringLiteral("P_COUNT")), QVariant());

        RecordSet one;
        one.open(db, QStringLiteral("SELECT * FROM tblPeople WHERE p_name = ?"), {QStringLiteral("ALPHA")});
        QCOMPARE(one.recordCount(), 1); // text compares without regard to case
        QCOMPARE(one.value(QStringLiteral("P_WHEN")).toDateTime(), when);
        one.setValue(QStringLiteral("p_active"), true);
        one.setValue(QStringLiteral("p_count"), 2147483647);
        one.update();
        QCOMPARE(db->scalar(QStringLiteral("SELECT typeof(P_ACTIVE) || P_ACTIVE || '|' || P_COUNT FROM tblPeople "
                                           "WHERE P_ID = 2")),
                 QVariant(QStringLiteral("integer-1|2147483647")));
        one.deleteCurrent();
        QVERIFY(one.eof());
        QCOMPARE(db->scalar(QStringLiteral("SELECT count(*) FROM tblPeople")).toInt(), 1);
        one.close();
        QCOMPARE(failureOf([&] { one.value(0); }).number, 3704);

        rs.requery();
        QCOMPARE(failureOf([&] { rs.value(QStringLiteral("no_such_field")); }).number, 3265);
        rs.moveNext();
        QCOMPARE(failureOf([&] { rs.value(0); }).number, 3021);

        // A rejected write leaves the row set as it was.
        rs.moveFirst();
        rs.setValue(QStringLiteral("P_NAME"), QStringLiteral("far too long a name"));
        QVERIFY(failureOf([&] { rs.update(); }).pending());
        QCOMPARE(db->scalar(QStringLiteral("SELECT P_NAME FROM tblPeople")).toString(), QStringLiteral("bravo"));
        rs.close();

        db->beginTransaction();
        db->execute(QStringLiteral("INSERT INTO tblPeople (P_ID) VALUES (7)"));
        Catalog catalog;
        catalog.setActiveConnection(db);
        Table extra = peopleTable(); // index names are per table: a second table may use the same ones
        extra.name = QStringLiteral("tblExtra");
        catalog.appendTable(extra);
        QVERIFY(db->inTransaction());
        db->rollback();
        QCOMPARE(db->scalar(QStringLiteral("SELECT count(*) FROM tblPeople")).toInt(), 1);
        QCOMPARE(db->scalar(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'tblExtra'")).toInt(), 0);

        catalog.deleteTable(QStringLiteral("TBLPEOPLE"));
        QCOMPARE(db->scalar(QStringLiteral("SELECT count(*) FROM sqlite_master")).toInt(), 0);
        Catalog unconnected;
        QCOMPARE(failureOf([&] { unconnected.appendTable(peopleTable()); }).number, 3704);
    }
};

QTEST_APPLESS_MAIN(TestDataAccess)
#include "tst_dataaccess.moc"
