#include "TestServices.h"
#include "app/AppError.h"
#include "store/TemplateDatabase.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTest>
#include <future>
#include <latch>
#include <sqlite3.h>

using namespace DataAccess;

namespace {

const QString kMissingText =
    QStringLiteral("The <MirelTmplts.mdb> file does not exist - a new one will be created automatically");
const QString kEmptyParmsText =
    QStringLiteral("Critical error - the template database is missing critical information\r\n"
                   "You must restore or re-install the database from the original program setup");
const QString kTitle = QStringLiteral("Startup File Verification");

class StringList : public ItemList {
public:
    void clear() override { items.clear(); }
    void addItem(const QString &text) override { items << text; }
    QStringList items{QStringLiteral("stale entry")};
};

// Each column as the file describes it: "NAME TYPE" plus " NOT NULL" where a value is required.
QStringList columnsOf(const std::shared_ptr<Connection> &db, const QString &table)
{
    RecordSet info;
    info.open(db, QStringLiteral("PRAGMA table_info(%1)").arg(table));
    QStringList out;
    for (; !info.eof(); info.moveNext())
        out << info.value(QStringLiteral("name")).toString() + QLatin1Char(' ') +
                   info.value(QStringLiteral("type")).toString() +
                   (info.value(QStringLiteral("notnull")).toInt() ? QStringLiteral(" NOT NULL") : QString());
    return out;
}

std::shared_ptr<Connection> openFile(const QString &appPath)
{
    return Connection::open(TemplateDatabasePath(appPath), kTemplateDatabasePassword);
}

void addTemplateRow(Connection &db, const QString &name, const QString &id)
{
    db.execute(QStringLiteral("INSERT INTO tblTmpltIndex (TM_ID, TM_DESC, TM_HDRSYN) VALUES (?, ?, -1)"), {id, name});
}

// The engine's own NOCASE, which folds ASCII letters only.
int asciiNoCase(void *, int bytes1, const void *text1, int bytes2, const void *text2)
{
    const int order =
        sqlite3_strnicmp(static_cast<const char *>(text1), static_cast<const char *>(text2), std::min(bytes1, bytes2));
    return order != 0 ? order : bytes1 - bytes2;
}

} // namespace

class TestTemplateDatabase : public QObject {
    Q_OBJECT

private slots:
    void firstStartCreatesTheDatabase()
    {
        TestServices t;
        QVERIFY(OpenTemplateDatabase(t.state, t.services));
        QCOMPARE(t.boxes.boxes.size(), 1);
        QCOMPARE(t.boxes.boxes[0].text, kMissingText);
        QCOMPARE(t.boxes.boxes[0].title, kTitle);
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);
        QCOMPARE(t.boxes.boxes[0].buttons, MessageBoxes::Buttons::Ok);

        const QString path = t.file(QStringLiteral("MirelTmplts.mdb"));
        QCOMPARE(QDir(t.dir.path()).entryList(QDir::Files), QStringList{"MirelTmplts.mdb"});
        QVERIFY(!readBytes(path).startsWith("SQLite format 3"));
        QVERIFY(t.state.systemRecord.isOpen() && !t.state.systemRecord.eof());
        QVERIFY(t.state.indexRecord.isOpen() && t.state.indexRecord.eof());

        auto db = openFile(t.dir.path());
        QCOMPARE(columnsOf(db, QStringLiteral("tblSysParms")),
                 (QStringList{"SYS_ID INT", "STATUS NVARCHAR(1)", "SYS_CURTMPLTNUM SMALLINT", "ADD_DATE DATETIME",
                              "ADD_USER NCHAR(10)", "CHG_DATE DATETIME", "CHG_USER NCHAR(10)", "DEL_DATE DATETIME",
                              "DEL_USER NCHAR(10)"}));
        QCOMPARE(columnsOf(db, QStringLiteral("tblTmpltIndex")), (QStringList{"TM_ID NVARCHAR(15)",
                                                                              "STATUS NVARCHAR(1)",
                                                                              "TM_DESC NVARCHAR(30)",
                                                                              "TM_FILETYPE NVARCHAR(3)",
                                                                              "TM_HDRSYN SMALLINT NOT NULL",
                                                                              "TM_SHTTBLNAME NVARCHAR(50)",
                                                                              "TM_NOOFCOLS SMALLINT",
                                                                              "TM_CUSTOMFIELDS SMALLINT",
                                                                              "TM_DEFAULTFOLDER BOOLEAN NOT NULL",
                                                                              "TM_FOLDERNAME NVARCHAR(50)",
                                                                              "TM_ENTRYID NVARCHAR(255)",
                                                                              "TM_STOREID NVARCHAR(255)",
                                                                              "TM_CUSTOMFORM BOOLEAN NOT NULL",
                                                                              "TM_CUSTOMFORMNAME NVARCHAR(50)",
                                                                              "TM_CHKCNTRY BOOLEAN NOT NULL",
                                                                              "TM_CHKPROV BOOLEAN NOT NULL",
                                                                              "TM_COMBBADDR BOOLEAN NOT NULL",
                                                                              "TM_COMBHADDR BOOLEAN NOT NULL",
                                                                              "TM_COMBMADDR BOOLEAN NOT NULL",
                                                                              "TM_COMBOADDR BOOLEAN NOT NULL",
                                                                              "TM_COMBNAME BOOLEAN NOT NULL",
                                                                              "ADD_DATE DATETIME",
                                                                              "ADD_USER NCHAR(10)",
                                                                              "CHG_DATE DATETIME",
                                                                              "CHG_USER NCHAR(10)",
                                                                              "DEL_DATE DATETIME",
                                                                              "DEL_USER NCHAR(10)"}));

        // Primary keys are named constraints; the name index is an ordinary one.
        const auto sqlOf = [&](const QString &name) {
            return db->scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = ?"), {name}).toString();
        };
        QVERIFY(sqlOf(QStringLiteral("tblSysParms"))
                    .contains(QStringLiteral("CONSTRAINT \"SYS_ID\" PRIMARY KEY (\"SYS_ID\")")));
        QVERIFY(sqlOf(QStringLiteral("tblTmpltIndex"))
                    .contains(QStringLiteral("CONSTRAINT \"TM_ID\" PRIMARY KEY (\"TM_ID\")")));
        QCOMPARE(sqlOf(QStringLiteral("tblTmpltIndex.TM_DESC")),
                 QStringLiteral("CREATE INDEX \"tblTmpltIndex.TM_DESC\" ON \"tblTmpltIndex\" (\"TM_DESC\")"));
        QCOMPARE(
            db->scalar(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL"))
                .toInt(),
            1);

        // The one system row, written with the tables.
        RecordSet row;
        row.open(db, QStringLiteral("SELECT * FROM tblSysParms"));
        QCOMPARE(row.recordCount(), 1);
        QCOMPARE(row.value(QStringLiteral("sys_id")), QVariant(1));
        QCOMPARE(row.value(QStringLiteral("status")), QVariant(QStringLiteral("A")));
        QCOMPARE(row.value(QStringLiteral("sys_curtmpltnum")), QVariant(0));
        QCOMPARE(row.value(QStringLiteral("add_user")), QVariant(QStringLiteral("SYSTEM")));
        QVERIFY(qAbs(row.value(QStringLiteral("add_date")).toDateTime().secsTo(QDateTime::currentDateTime())) < 60);
        QVERIFY(row.value(QStringLiteral("chg_date")).isNull());
        QVERIFY(row.value(QStringLiteral("chg_user")).isNull());
        QVERIFY(row.value(QStringLiteral("del_date")).isNull());

        // A template name of exactly 30 characters fits; one more does not.
        addTemplateRow(*db, QString(30, QLatin1Char('n')), QStringLiteral("Tmplt0001"));
        QVERIFY_THROWS_EXCEPTION(AppError,
                                 addTemplateRow(*db, QString(31, QLatin1Char('n')), QStringLiteral("Tmplt0002")));
        QCOMPARE(db->scalar(QStringLiteral("SELECT TM_COMBNAME FROM tblTmpltIndex")), QVariant(false));

        // The row identifier is a plain nullable number, not an automatic one.
        db->execute(QStringLiteral("INSERT INTO tblSysParms (STATUS) VALUES ('A')"));
        QVERIFY(db->scalar(QStringLiteral("SELECT SYS_ID FROM tblSysParms WHERE SYS_ID IS NOT 1")).isNull());
        QCOMPARE(db->scalar(QStringLiteral("SELECT count(*) FROM tblSysParms")).toInt(), 2);
    }

    void secondStartOpensSilently()
    {
        TestServices t;
        QVERIFY(OpenTemplateDatabase(t.state, t.services));
        t.boxes.clear();
        AppState again;
        QVERIFY(OpenTemplateDatabase(again, t.services));
        QVERIFY(t.boxes.boxes.isEmpty());
        QCOMPARE(again.systemRecord.recordCount(), 1);
        QCOMPARE(openFile(t.dir.path())->scalar(QStringLiteral("SELECT count(*) FROM tblSysParms")).toInt(), 1);
    }

    void twoFirstStartsAtOnce()
    {
        for (int round = 0; round < 10; ++round) {
            TestServices first;
            TestServices second;
            second.services.appPath = first.dir.path();
            std::latch ready(2);
            const auto start = [&ready](TestServices *t) {
                ready.arrive_and_wait();
                return OpenTemplateDatabase(t->state, t->services);
            };
            auto other = std::async(std::launch::async, start, &second);
            QVERIFY(start(&first));
            QVERIFY(other.get());
            QCOMPARE(QDir(first.dir.path()).entryList(QDir::Files), QStringList{"MirelTmplts.mdb"});
            QCOMPARE(second.state.connection->scalar(QStringLiteral("SELECT count(*) FROM tblSysParms")), QVariant(1));
        }
    }

    void emptySystemTableIsRefused()
    {
        TestServices t;
        QVERIFY(OpenTemplateDatabase(t.state, t.services));
        t.state = AppState();
        openFile(t.dir.path())->execute(QStringLiteral("DELETE FROM tblSysParms"));
        t.boxes.clear();

        QVERIFY(!OpenTemplateDatabase(t.state, t.services));
        QCOMPARE(t.boxes.boxes.size(), 1);
        QCOMPARE(t.boxes.boxes[0].text, kEmptyParmsText);
        QCOMPARE(t.boxes.boxes[0].title, kTitle);
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);
        QCOMPARE(t.boxes.boxes[0].buttons, MessageBoxes::Buttons::Ok);
    }

    void foreignFilesAreReportedAndLeftAlone_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("another password") << "password";
        QTest::newRow("plain text") << "text";
        QTest::newRow("empty file") << "empty";
        QTest::newRow("keyed database without the tables") << "foreign";
    }

    void foreignFilesAreReportedAndLeftAlone()
    {
        QFETCH(QString, kind);
        TestServices t;
        const QString path = t.file(QStringLiteral("MirelTmplts.mdb"));
        if (kind == QLatin1String("password") || kind == QLatin1String("foreign")) {
            Catalog catalog;
            catalog.create(path, kind == QLatin1String("password") ? QStringLiteral("not the password")
                                                                   : kTemplateDatabasePassword);
            Table table{QStringLiteral("tblOther"), {Column{QStringLiteral("X"), adInteger, 0, adColNullable}}, {}};
            catalog.appendTable(table);
        } else {
            writeBytes(path, kind == QLatin1String("text") ? QByteArray("name,phone\r\nAnn,555\r\n") : QByteArray());
        }
        const QByteArray before = readBytes(path);

        QVERIFY(!OpenTemplateDatabase(t.state, t.services));
        QCOMPARE(t.boxes.boxes.size(), 1);
        const auto &box = t.boxes.boxes[0];
        QVERIFY2(box.text.startsWith(QStringLiteral("ERROR: ")), qPrintable(box.text));
        QCOMPARE(box.icon, MessageBoxes::Icon::Critical);
        if (kind == QLatin1String("password") || kind == QLatin1String("text"))
            QVERIFY2(
                box.text.contains(QStringLiteral("not a template database, or it was encrypted with another password")),
                qPrintable(box.text));
        else
            QVERIFY2(box.text.contains(QStringLiteral("is not a template database: it lacks the tables")),
                     qPrintable(box.text));
        QCOMPARE(readBytes(path), before);
        QVERIFY(!t.state.connection);
    }

    void creationFailureIsReportedStepByStep()
    {
        TestServices t;
        t.services.appPath = t.file(QStringLiteral("no/such/folder"));
        QVERIFY(!OpenTemplateDatabase(t.state, t.services));

        const QStringList texts = t.boxes.texts();
        QCOMPARE(texts.size(), 5);
        QCOMPARE(texts[0], kMissingText); // creation is tried once only
        for (int i = 1; i < 5; ++i) {
            QVERIFY2(texts[i].startsWith(QStringLiteral("ERROR: ")), qPrintable(texts[i]));
            QVERIFY(texts[i].endsWith(QStringLiteral("This request has been cancelled - retry")));
        }
        QVERIFY(texts[4].contains(QStringLiteral("Could not find file")));
        QVERIFY(!QDir(t.services.appPath).exists());
    }

    void failedCreationLeavesNoDatabaseBehind()
    {
        // Something that blocks the working file: the creation fails and the next start may try again.
        const QString working = QStringLiteral("MirelTmplts.mdb.creating-%1").arg(QCoreApplication::applicationPid());
        TestServices t;
        QDir(t.dir.path()).mkdir(working);
        QVERIFY(!OpenTemplateDatabase(t.state, t.services));
        QCOMPARE(t.boxes.texts().size(), 5);
        QVERIFY(!QFileInfo::exists(t.file(QStringLiteral("MirelTmplts.mdb"))));

        // A working file left by an interrupted creation is replaced.
        TestServices u;
        writeBytes(u.file(working), "half a database");
        QVERIFY(OpenTemplateDatabase(u.state, u.services));
        QCOMPARE(u.boxes.texts().size(), 1);
        QVERIFY(!QFileInfo::exists(u.file(working)));
    }

    void templateListIsInNameOrderIgnoringCase_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("en_US") << "en_US";
        QTest::newRow("de_DE") << "de_DE";
    }

    void templateListIsInNameOrderIgnoringCase()
    {
        QFETCH(QString, locale);
        QLocale::setDefault(QLocale(locale));
        TestServices t;
        QVERIFY(OpenTemplateDatabase(t.state, t.services));
        QLocale::setDefault(QLocale::system());
        StringList list;
        QVERIFY(LoadTemplateList(t.state, t.services, list));
        QCOMPARE(list.items, QStringList());

        addTemplateRow(*t.state.connection, QStringLiteral("beta"), QStringLiteral("Tmplt0001"));
        addTemplateRow(*t.state.connection, QStringLiteral("Gamma"), QStringLiteral("Tmplt0002"));
        addTemplateRow(*t.state.connection, QStringLiteral("alpha"), QStringLiteral("Tmplt0003"));
        addTemplateRow(*t.state.connection, QStringLiteral("O'Brien Imports"), QStringLiteral("Tmplt0004"));
        addTemplateRow(*t.state.connection, QStringLiteral("Alpha 2"), QStringLiteral("Tmplt0005"));
        addTemplateRow(*t.state.connection, QStringLiteral("Éclair"), QStringLiteral("Tmplt0006"));
        addTemplateRow(*t.state.connection, QStringLiteral("Äpfel"), QStringLiteral("Tmplt0007"));
        QVERIFY(LoadTemplateList(t.state, t.services, list));
        QCOMPARE(list.items, (QStringList{"alpha", "Alpha 2", "Äpfel", "beta", "Éclair", "Gamma", "O'Brien Imports"}));
        QVERIFY(t.boxes.boxes.size() == 1); // only the first-start message
    }

    void indexesOfAnEarlierFileAreRebuilt()
    {
        TestServices t;
        QVERIFY(OpenTemplateDatabase(t.state, t.services));
        t.state = AppState();
        {
            // Names indexed as by the engine's own NOCASE, in a file not yet marked as rebuilt.
            auto earlier = openFile(t.dir.path());
            sqlite3_create_collation_v2(earlier->handle(), "NOCASE", SQLITE_UTF8, nullptr, asciiNoCase, nullptr);
            const QStringList names{"Zoo", "Ébène", "Öl", "à la carte", "émile"};
            for (int i = 0; i < names.size(); ++i)
                addTemplateRow(*earlier, names[i], QStringLiteral("Tmplt%1").arg(i));
            earlier->execute(QStringLiteral("PRAGMA user_version = 0"));
        }
        QVERIFY(OpenTemplateDatabase(t.state, t.services));
        QCOMPARE(t.state.connection->scalar(QStringLiteral("PRAGMA integrity_check")), QVariant("ok"));
    }

    void templateListFailureIsAFileError()
    {
        TestServices t; // no database opened
        StringList list;
        QVERIFY(!LoadTemplateList(t.state, t.services, list));
        QCOMPARE(t.boxes.boxes.size(), 1);
        QVERIFY(t.boxes.boxes[0].text.startsWith(QStringLiteral("FILE 3704 - The following error has occurred\r\n")));
        QCOMPARE(list.items, QStringList());
    }
};

QTEST_APPLESS_MAIN(TestTemplateDatabase)
#include "tst_templatedatabase.moc"
