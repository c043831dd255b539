#include "ImportFixtures.h"
#include "platform/VCard.h"
#include "store/ImportJournal.h"
#include "store/TemplateDatabase.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <unistd.h>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run batch(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(MIREL_BATCH), arguments);
    process.waitForFinished(60000);
    return Run{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
               QString::fromUtf8(process.readAllStandardError())};
}

const MappingRows kTemplate{{1, "Name", "Last Name", "LastName"},
                            {2, "Company", "Company Name", "CompanyName"},
                            {3, "Region", "USERDEFINED", "UDRegion"}};

} // namespace

class TestBatch : public QObject {
    Q_OBJECT

    // A template database, a source and an address book in one folder.
    struct Setup : ImportBench {
        Setup()
        {
            makeTemplate(QStringLiteral("Leads"), QStringLiteral("CSH"), kTemplate);
            source = writeSource(QStringLiteral("in.csv"), "Name,Company,Region\r\nLee,Acme,North\r\n,,\r\n,Bolt,\r\n");
            QDir(dir.path()).mkdir(QStringLiteral("books"));
            folderDir = file(QStringLiteral("books/Leads"));
        }
        QStringList args(const QString &name = QStringLiteral("Leads")) const
        {
            return {"--template", name,      "--input",    source,
                    "--folder",   folderDir, "--database", file(QStringLiteral("MirelTmplts.mdb"))};
        }
        int cards() const { return int(QDir(folderDir).entryList({QStringLiteral("*.vcf")}).size()); }
        QString source;
        QString folderDir;
    };

private slots:
    // One argument changed, once the folders were prepared ("before", then an option to add):
    // "again" imports into books/Leads once, "dir" makes it, "link" makes it a link to elsewhere,
    // "custom" puts a card of a custom form in it, "columns" renames a column of the source,
    // "broken" adds a template with a field that cannot be written. A refused run writes no card
    // anywhere and creates no database.
    void oneArgumentChanged_data()
    {
        QTest::addColumn<QString>("value"); // a file in the test folder, but for the template
        QTest::addColumn<int>("argument");  // 1 template, 3 input, 5 folder, 7 database
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("cards"); // none: the run is refused
        QTest::addColumn<QString>("message");
        const QString mirel = QStringLiteral("Mirel: The ");
        QTest::newRow("new folder, trailing slash")
            << "books/Leads/" << 5 << "" << 2 << mirel + "input file has been verified to match the selected template";
        QTest::newRow("into the same folder again") << "books/Leads" << 5 << "again" << 2 << "";
        QTest::newRow("existing folder, trailing slash") << "books/Leads//" << 5 << "dir" << 2 << "";
        QTest::newRow("link to a directory elsewhere") << "books/Leads" << 5 << "link" << 0 << "";
        QTest::newRow("the address book through ..") << "books/Leads/.." << 5 << "dir" << 0 << "";
        QTest::newRow("the address book through .") << "books/." << 5 << "" << 0 << "";
        QTest::newRow("no such database") << "none.mdb" << 7 << "" << 0 << "does not exist";
        QTest::newRow("no such template")
            << "Nobody" << 1 << "" << 0 << mirel + "info for this template no longer exists in the database";
        QTest::newRow("columns differ") << "in.csv" << 3 << "columns" << 0
                                        << mirel + "input file does not match the template selected";
        QTest::newRow("missing input") << "gone.csv" << 3 << "" << 0 << "Could not find file";
        QTest::newRow("field error") << "Broken" << 1 << "broken" << 0 << "Unable to update the field <>";
        QTest::newRow("field errors passed") << "Broken" << 1 << "broken --continue-on-field-errors" << 1 << "";
        QTest::newRow("custom form") << "books/Leads" << 5 << "custom" << 0 << "The Outlook Contact Folder you have";
        QTest::newRow("custom form accepted") << "books/Leads" << 5 << "custom --accept-custom-form" << 2 << "";
    }

    void oneArgumentChanged()
    {
        QFETCH(QString, value);
        QFETCH(int, argument);
        QFETCH(QString, before);
        QFETCH(int, cards);
        QFETCH(QString, message);
        const QString option = before.section(QLatin1Char(' '), 1);
        before = before.section(QLatin1Char(' '), 0, 0);
        Setup s;
        QDir(s.dir.path()).mkdir(QStringLiteral("elsewhere"));
        if (before == QLatin1String("dir") || before == QLatin1String("custom"))
            QDir(s.dir.path()).mkdir(QStringLiteral("books/Leads"));
        if (before == QLatin1String("again"))
            QCOMPARE(batch(s.args()).status, 0);
        if (before == QLatin1String("custom"))
            writeBytes(s.folderDir + QStringLiteral("/first.vcf"),
                       "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nN:A;;;;\r\nX-MIREL-MESSAGE-CLASS:IPM.Contact.Lead\r\nEND:"
                       "VCARD\r\n");
        if (before == QLatin1String("broken"))
            s.makeTemplate(
                QStringLiteral("Broken"), QStringLiteral("CSH"),
                {{1, "Name", "Last Name", "LastName"}, {2, "Company", "", ""}, {3, "Region", "USERDEFINED", "UD"}});
        if (before == QLatin1String("link"))
            QVERIFY(QFile::link(s.file(QStringLiteral("elsewhere")), s.folderDir));
        if (before == QLatin1String("columns"))
            writeBytes(s.source, "Name,company,Region\r\n");
        const int kept = s.cards();
        QStringList args = s.args();
        args[argument] = argument == 1 ? value : s.file(value);
        const Run run = batch(option.isEmpty() ? args : args << option);
        QCOMPARE(run.status, cards ? 0 : 1);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY(!run.err.contains(QStringLiteral("rows/s"))); // no progress bar off a terminal
        if (cards == 2)                                       // hand-counted
            QCOMPARE(run.out, QStringLiteral("Total Contacts Imported: 2\n"
                                             "Contacts Skippped - Completely blank: 1\n"
                                             "Contacts have no contact name: 1\n"
                                             "Contacts have no company name: 0\n"
                                             "Contacts have no or invalid email addresses: 2\n"
                                             "Contacts have no physical addresses: 2\n"
                                             "Contacts have no phone numbers: 2\n"
                                             "Contacts folder: ") +
                                 s.folderDir + QLatin1Char('\n'));
        int written = 0;
        for (QDirIterator it(s.dir.path(), {QStringLiteral("*.vcf")}, QDir::Files, QDirIterator::Subdirectories);
             it.hasNext(); it.next())
            ++written;
        QCOMPARE(written, cards + kept);
        QCOMPARE(s.cards(), cards + kept);
        QVERIFY(!QFileInfo::exists(s.file(QStringLiteral("none.mdb"))));
        // The journal lists the run with the contacts it made, newest first.
        const Run runs = batch({"--list-runs", "--database", s.file(QStringLiteral("MirelTmplts.mdb"))});
        if (!cards)
            return;
        QVERIFY2(runs.out.section('\n', 0, 0).endsWith(QStringLiteral("\t%1\tcompleted").arg(cards)),
                 qPrintable(runs.out));
        // Undone, the folder holds what it held before.
        const Run undo = batch({"--undo", runs.out.section('\t', 0, 0), "--database", args[7]});
        QVERIFY2(undo.out.startsWith(QStringLiteral("Contacts removed: %1\n").arg(cards)), qPrintable(undo.err));
        QCOMPARE(s.cards(), kept);
    }

    // Installed where it cannot write (a package's folder), the program keeps its database in the
    // user's data folder: the import and the journal commands both find it there.
    void databaseOutsideTheProgramFolder()
    {
        Setup s;
        const QString data = s.file(QStringLiteral("data/mirelimport"));
        const QString program = s.file(QStringLiteral("program"));
        QVERIFY(QDir().mkpath(data) && QDir().mkpath(program));
        QVERIFY(QFile::copy(s.file(QStringLiteral("MirelTmplts.mdb")), data + QStringLiteral("/MirelTmplts.mdb")));
        // Root writes through permission bits, so for root the folder is a read-only mount.
        const bool root = ::geteuid() == 0;
        if (root && QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "tmpfs", program}) != 0)
            QSKIP("no file system can be mounted here");
        const auto restore = qScopeGuard([&] { // even when the test fails half way
            if (root)
                QProcess::execute(QStringLiteral("umount"), {program});
            else
                QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        const QString copy = program + QStringLiteral("/mirelimport-batch");
        QVERIFY(QFile::copy(QStringLiteral(MIREL_BATCH), copy));
        QVERIFY(root ? QProcess::execute(QStringLiteral("mount"), {"-o", "remount,ro", program}) == 0
                     : QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner));
        const auto run = [&](const QStringList &arguments) {
            QProcess process;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("XDG_DATA_HOME"), s.file(QStringLiteral("data")));
            process.setProcessEnvironment(environment);
            process.start(copy, arguments);
            process.waitForFinished(60000);
            return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        };
        const QString imported = run({"--template", "Leads", "--input", s.source, "--folder", s.folderDir});
        QVERIFY2(imported.contains(QStringLiteral("Total Contacts Imported: 2")), qPrintable(imported));
        const QString runs = run({"--list-runs"});
        QVERIFY2(runs.contains(QStringLiteral("\t2\tcompleted")), qPrintable(runs));
    }

    // A dry run counts and shows the cards, and writes nothing: no folder, no card, no change
    // to the database.
    void dryRun()
    {
        Setup s;
        const QByteArray database = readBytes(s.file(QStringLiteral("MirelTmplts.mdb")));
        const Run run = batch(s.args() << QStringLiteral("--dry-run"));
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.startsWith(QStringLiteral("Total Contacts Imported: 2\n")), qPrintable(run.out));
        QCOMPARE(run.out.count(QStringLiteral("BEGIN:VCARD")), 2);
        QVERIFY(run.out.contains(QStringLiteral("\r\nN:Lee;;;;\r\n")));
        QVERIFY(!QFileInfo::exists(s.folderDir));
        QCOMPARE(readBytes(s.file(QStringLiteral("MirelTmplts.mdb"))), database);
        // Once the contacts are there, a dry run that skips them would create none.
        QCOMPARE(batch(s.args()).status, 0);
        const Run again = batch(s.args() << QStringLiteral("--dry-run") << QStringLiteral("--duplicates=skip"));
        QVERIFY2(again.out.startsWith(QStringLiteral("Total Contacts Imported: 0\n")), qPrintable(again.err));
        QVERIFY(again.out.contains(QStringLiteral("Contacts skipped - already in folder: 2\n")));
    }

    // A run killed at any moment leaves whole cards only, and the journal records none that is not
    // there as it was written; the next run removes the temporary files left and nothing else.
    void killedRuns()
    {
        Setup s;
        QByteArray rows = "Name,Company,Region\r\n";
        for (int i = 0; i < kContactsPerBatch + 500; ++i)
            rows += "Lee " + QByteArray::number(i) + ",Acme,North\r\n";
        writeBytes(s.source, rows);
        QVERIFY(QDir().mkpath(s.folderDir));
        const QMap<QString, QByteArray> theirs{{".mine", "a hidden file"}, {"notes.txt", "no card"}};
        for (const auto &[name, bytes] : theirs.asKeyValueRange())
            writeBytes(s.folderDir + QLatin1Char('/') + name, bytes);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(batch(s.args()).status, 0);
        const int whole = int(timer.elapsed()); // killed at random moments of as long a run
        const QDir folder(s.folderDir);
        for (int kill = 0; kill < 4; ++kill) {
            QProcess run;
            run.start(QStringLiteral(MIREL_BATCH), s.args());
            QVERIFY(run.waitForStarted());
            QThread::msleep(QRandomGenerator::global()->bounded(whole));
            run.kill();
            run.waitForFinished();
            for (const QString &name : folder.entryList({QStringLiteral("*.vcf")})) {
                const QByteArray card = readBytes(folder.filePath(name));
                QVERIFY2(card.endsWith("END:VCARD\r\n") && vcard::parse(card).size() == 1, qPrintable(name));
            }
            for (const ImportRunRecord &r : ImportRuns(s.state.connection))
                for (const ImportRunContact &c : ImportRunContacts(s.state.connection, r.id))
                    QCOMPARE(QCryptographicHash::hash(readBytes(folder.filePath(c.uid + ".vcf")),
                                                      QCryptographicHash::Sha256)
                                 .toHex(),
                             c.stamp.toLatin1());
        }
        QCOMPARE(batch(s.args()).status, 0);
        QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".mirel-tmp.")), QStringList());
        for (const auto &[name, bytes] : theirs.asKeyValueRange())
            QCOMPARE(readBytes(folder.filePath(name)), bytes);
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("no folder") << QStringList{"--template", "x", "--input", "y"} << 2;
        const QStringList all{"--template", "x", "--input", "y", "--folder", "z"};
        QTest::newRow("unknown option") << all + QStringList{"--fast"} << 2;
        QTest::newRow("stray argument") << all + QStringList{"more"} << 2;
    }

    // Help goes to the output; wrong arguments get the usage on the error output and nothing else.
    void usage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        const Run run = batch(arguments);
        QCOMPARE(run.status, status);
        QVERIFY((status ? run.err : run.out).contains(QStringLiteral("Usage: mirelimport-batch --template NAME")));
        QCOMPARE((status ? run.out : run.err), QString());
    }
};

QTEST_APPLESS_MAIN(TestBatch)
#include "tst_batch.moc"
