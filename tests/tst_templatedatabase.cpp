#include "TestServices.h"
#include "platform/DataFolder.h"
#include "store/TemplateDatabase.h"
#include "store/TemplateRecords.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <future>
#include <latch>
#include <sqlite3.h>
#include <unistd.h>

using namespace DataAccess;

namespace {

const QString kMissingText =
    QStringLiteral("The <MirelTmplts.mdb> file does not exist - a new one will be created automatically");
const QString kWorkingName = QStringLiteral("MirelTmplts.mdb.creating-%1").arg(QCoreApplication::applicationPid());

class StringList : public ItemList {
public:
    void clear() override { items.clear(); }
    void addItem(const QString &text) override { items << text; }
    QStringList items{QStringLiteral("stale entry")};
};

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
        writeBytes(t.file(kWorkingName), "half a database"); // left by a start that stopped: replaced
        QVERIFY(OpenTemplateDatabase(t.state, t.services));
        QCOMPARE(t.boxes.texts(), QStringList{kMissingText});
        QCOMPARE(t.boxes.boxes[0].title, QStringLiteral("Startup File Verification"));
        QCOMPARE(QDir(t.dir.path()).entryList(QDir::Files), QStringList{"MirelTmplts.mdb"});
        QVERIFY(!readBytes(t.file(QStringLiteral("MirelTmplts.mdb"))).startsWith("SQLite format 3"));
        QVERIFY(Records(t.state).indexRecord.isOpen() && Records(t.state).indexRecord.eof());

        // The next start opens it silently; one made before the journal of import runs gains it.
        t.state.connection->execute(QStringLiteral("DROP TABLE tblImportRuns"));
        t.state.connection->execute(QStringLiteral("DROP TABLE tblImportRunContacts"));
        AppState again;
        QVERIFY(OpenTemplateDatabase(again, t.services));
        QCOMPARE(t.boxes.boxes.size(), 1);
        QCOMPARE(Records(again).systemRecord.recordCount(), 1);
        QCOMPARE(again.connection->scalar(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN "
                                                         "('tblImportRuns', 'tblImportRunContacts')")),
                 QVariant(2));
    }

    void twoFirstStartsAtOnce()
    {
        for (int round = 0; round < 10; ++round) {
            TestServices first;
            TestServices second;
            second.services.dataPath = first.dir.path();
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

    void foreignFilesAreReportedAndLeftAlone_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message"); // how the one box starts, then what it says
        const QString notOurs =
            QStringLiteral("ERROR: |not a template database, or it was encrypted with another password");
        QTest::newRow("another password") << "password" << notOurs;
        QTest::newRow("plain text") << "text" << notOurs;
        const QString noTables = QStringLiteral("ERROR: |is not a template database: it lacks the tables");
        QTest::newRow("empty file") << "empty" << noTables;
        QTest::newRow("keyed database without the tables") << "foreign" << noTables;
        QTest::newRow("no system row") << "no system row"
                                       << "Critical error - the template database is missing|";
    }

    void foreignFilesAreReportedAndLeftAlone()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        TestServices t;
        const QString path = t.file(QStringLiteral("MirelTmplts.mdb"));
        if (kind == QLatin1String("password") || kind == QLatin1String("foreign")) {
            Catalog catalog;
            catalog.create(path, kind == QLatin1String("password") ? QStringLiteral("not the password")
                                                                   : kTemplateDatabasePassword);
            Table table{QStringLiteral("tblOther"), {Column{QStringLiteral("X"), adInteger, 0, adColNullable}}, {}};
            catalog.appendTable(table);
        } else if (kind == QLatin1String("no system row")) {
            QVERIFY(OpenTemplateDatabase(t.state, t.services));
            t.state = AppState();
            openFile(t.dir.path())->execute(QStringLiteral("DELETE FROM tblSysParms"));
            t.boxes.clear();
        } else {
            writeBytes(path, kind == QLatin1String("text") ? QByteArray("name,phone\r\nAnn,555\r\n") : QByteArray());
        }
        const QByteArray before = readBytes(path);

        QVERIFY(!OpenTemplateDatabase(t.state, t.services));
        QCOMPARE(t.boxes.boxes.size(), 1);
        const QString text = t.boxes.texts()[0];
        QVERIFY2(text.startsWith(message.section(QLatin1Char('|'), 0, 0)) &&
                     text.contains(message.section(QLatin1Char('|'), 1)),
                 qPrintable(text));
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);
        QCOMPARE(readBytes(path), before);
        QVERIFY(kind == QLatin1String("no system row") || !t.state.connection);
    }

    void creationFailureIsReportedStepByStep_data()
    {
        QTest::addColumn<bool>("folderMissing");
        QTest::newRow("no such folder") << true;
        QTest::newRow("the working name taken") << false;
    }

    void creationFailureIsReportedStepByStep()
    {
        QFETCH(bool, folderMissing);
        TestServices t;
        if (folderMissing)
            t.services.dataPath = t.file(QStringLiteral("no/such/folder"));
        else
            QDir(t.dir.path()).mkdir(kWorkingName);
        QVERIFY(!OpenTemplateDatabase(t.state, t.services));
        const QStringList texts = t.boxes.texts();
        QCOMPARE(texts.size(), 5);
        QCOMPARE(texts[0], kMissingText); // creation is tried once only
        for (int i = 1; i < 5; ++i)
            QVERIFY2(texts[i].startsWith(QStringLiteral("ERROR: ")), qPrintable(texts[i]));
        QVERIFY(!QFileInfo::exists(TemplateDatabasePath(t.services.dataPath))); // the next start may try again
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
        TestServices t;
        StringList list;
        QVERIFY(!LoadTemplateList(t.state, t.services, list)); // no database yet: a file error
        QCOMPARE(t.boxes.boxes.size(), 1);
        QVERIFY(t.boxes.texts()[0].startsWith(QStringLiteral("FILE 3704 - The following error has occurred\r\n")));
        QCOMPARE(list.items, QStringList());

        QLocale::setDefault(QLocale(locale));
        QVERIFY(OpenTemplateDatabase(t.state, t.services));
        t.state = AppState();
        {
            // Names indexed as by the engine's own NOCASE, in a file not yet marked as rebuilt: the next start
            // rebuilds the indexes.
            auto earlier = openFile(t.dir.path());
            sqlite3_create_collation_v2(earlier->handle(), "NOCASE", SQLITE_UTF8, nullptr, asciiNoCase, nullptr);
            const QStringList names{"beta",       "Zoo",     "Gamma", "Ébène",  "alpha", "Öl", "O'Brien Imports",
                                    "à la carte", "Alpha 2", "émile", "Éclair", "Äpfel"};
            for (int i = 0; i < names.size(); ++i)
                addTemplateRow(*earlier, names[i], QStringLiteral("Tmplt%1").arg(i));
            earlier->execute(QStringLiteral("PRAGMA user_version = 0"));
        }
        QVERIFY(OpenTemplateDatabase(t.state, t.services));
        QLocale::setDefault(QLocale::system());
        QCOMPARE(t.state.connection->scalar(QStringLiteral("PRAGMA integrity_check")), QVariant("ok"));
        QVERIFY(LoadTemplateList(t.state, t.services, list));
        QCOMPARE(list.items, (QStringList{"à la carte", "alpha", "Alpha 2", "Äpfel", "beta", "Ébène", "Éclair", "émile",
                                          "Gamma", "O'Brien Imports", "Öl", "Zoo"}));
        QCOMPARE(t.boxes.boxes.size(), 2); // and the first-start message
    }

    // The templates stay beside the program where it may write; a program installed in a folder
    // it may not write to keeps them in the user's data folder.
    void dataFolder_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("own folder writable") << false;
        QTest::newRow("own folder read-only") << true;
    }

    void dataFolder()
    {
        QFETCH(bool, readOnly);
        TestServices t;
        const QString app = t.file(QStringLiteral("opt/mirelimport"));
        const QString home = t.file(QStringLiteral("home/.local/share"));
        QVERIFY(QDir().mkpath(app));
        // Root writes through permission bits, so for root the folder is a read-only mount.
        const bool root = geteuid() == 0;
        if (readOnly && root && QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "ro", "tmpfs", app}) != 0)
            QSKIP("no file system can be mounted here");
        if (readOnly && !root)
            QFile::setPermissions(app, QFile::ReadOwner | QFile::ExeOwner);
        const auto restore = qScopeGuard([&] {
            if (readOnly && root)
                QProcess::execute(QStringLiteral("umount"), {app});
            QFile::setPermissions(app, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        t.services.dataPath = DataFolderFor(app, home);
        QCOMPARE(t.services.dataPath, readOnly ? home + QStringLiteral("/mirelimport") : app);
        QVERIFY(OpenTemplateDatabase(t.state, t.services));
        QVERIFY(QFileInfo(t.services.dataPath + QStringLiteral("/MirelTmplts.mdb")).isFile());
        QCOMPARE(QDir(app).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 readOnly ? QStringList() : QStringList{"MirelTmplts.mdb"});
    }
};

QTEST_APPLESS_MAIN(TestTemplateDatabase)
#include "tst_templatedatabase.moc"
