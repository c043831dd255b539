#include "ImportFixtures.h"
#include "store/TemplateDatabase.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTest>

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
    void importsAndPrintsTheCounters()
    {
        Setup s;
        const Run run = batch(s.args());
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, QStringLiteral("Total Contacts Imported: 2\n"
                                         "Contacts Skippped - Completely blank: 1\n"
                                         "Contacts have no contact name: 1\n"
                                         "Contacts have no company name: 0\n"
                                         "Contacts have no or invalid email addresses: 2\n"
                                         "Contacts have no physical addresses: 2\n"
                                         "Contacts have no phone numbers: 2\n"));
        QVERIFY(
            run.err.contains(QStringLiteral("Mirel: The input file has been verified to match the selected template")));
        QVERIFY(!run.err.contains(QStringLiteral("rows/s"))); // no progress bar off a terminal
        QCOMPARE(s.cards(), 2);
        // Into the same folder again: two more.
        QCOMPARE(batch(s.args()).status, 0);
        QCOMPARE(s.cards(), 4);
    }

    void folderArguments_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("before"); // "dir" makes books/Leads, "link" makes it a link to elsewhere
        QTest::newRow("new folder, trailing slash") << "books/Leads/" << true << "";
        QTest::newRow("existing folder, trailing slash") << "books/Leads//" << true << "dir";
        QTest::newRow("link to a directory elsewhere") << "books/Leads" << false << "link";
        QTest::newRow("the address book through ..") << "books/Leads/.." << false << "dir";
        QTest::newRow("the address book through .") << "books/." << false << "";
    }

    void folderArguments()
    {
        QFETCH(QString, folder);
        QFETCH(bool, accepted);
        QFETCH(QString, before);
        Setup s;
        QDir(s.dir.path()).mkdir(QStringLiteral("elsewhere"));
        if (before == QLatin1String("dir"))
            QDir(s.dir.path()).mkdir(QStringLiteral("books/Leads"));
        if (before == QLatin1String("link"))
            QVERIFY(QFile::link(s.file(QStringLiteral("elsewhere")), s.folderDir));
        QStringList args = s.args();
        args[5] = s.file(folder);
        const Run run = batch(args);
        QCOMPARE(run.status, accepted ? 0 : 1);
        int cards = 0;
        for (QDirIterator it(s.dir.path(), {QStringLiteral("*.vcf")}, QDir::Files, QDirIterator::Subdirectories);
             it.hasNext(); it.next())
            ++cards;
        QCOMPARE(cards, accepted ? 2 : 0);
        QCOMPARE(s.cards(), accepted ? 2 : 0);
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

    void refusals_data()
    {
        QTest::addColumn<QString>("message"); // the row's name is what is wrong
        const QString mirel = QStringLiteral("Mirel: The ");
        QTest::newRow("database") << "does not exist";
        QTest::newRow("template") << mirel + "info for this template no longer exists in the database";
        QTest::newRow("columns") << mirel + "input file does not match the template selected";
        QTest::newRow("input") << "Could not find file";
    }

    void refusals()
    {
        const QString problem = QString::fromLatin1(QTest::currentDataTag());
        QFETCH(QString, message);
        Setup s;
        QStringList args =
            s.args(problem == QLatin1String("template") ? QStringLiteral("Nobody") : QStringLiteral("Leads"));
        if (problem == QLatin1String("database"))
            args[7] = s.file(QStringLiteral("none.mdb"));
        if (problem == QLatin1String("columns"))
            writeBytes(s.source, "Name,company,Region\r\n");
        if (problem == QLatin1String("input"))
            args[3] = s.file(QStringLiteral("gone.csv"));
        const Run run = batch(args);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(s.cards(), 0);
        QVERIFY(!QFileInfo::exists(s.file(QStringLiteral("none.mdb")))); // nothing is created in its place
    }

    void questionsAnsweredFromTheCommandLine()
    {
        Setup s;
        // A user field without a name cannot be written.
        s.makeTemplate(
            QStringLiteral("Broken"), QStringLiteral("CSH"),
            {{1, "Name", "Last Name", "LastName"}, {2, "Company", "", ""}, {3, "Region", "USERDEFINED", "UD"}});
        Run run = batch(s.args(QStringLiteral("Broken")));
        QCOMPARE(run.status, 1);
        QVERIFY(run.err.contains(QStringLiteral("Updating Contact: Unable to update the field <>")));
        QVERIFY(run.err.contains(QStringLiteral("Creating Contacts: Import process has been aborted")));
        QVERIFY(run.out.startsWith(QStringLiteral("Total Contacts Imported: 0\n")));

        run = batch(s.args(QStringLiteral("Broken")) << QStringLiteral("--continue-on-field-errors"));
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.startsWith(
            QStringLiteral("Total Contacts Imported: 1\nContacts Skippped - Completely blank: 2\n")));

        // A folder whose contacts use a custom form.
        QDir(s.file(QStringLiteral("books"))).mkdir(QStringLiteral("Custom"));
        writeBytes(
            s.file(QStringLiteral("books/Custom/first.vcf")),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nN:A;;;;\r\nX-MIREL-MESSAGE-CLASS:IPM.Contact.Lead\r\nEND:VCARD\r\n");
        QStringList args = s.args();
        args[5] = s.file(QStringLiteral("books/Custom"));
        run = batch(args);
        QCOMPARE(run.status, 1);
        QVERIFY(
            run.err.contains(QStringLiteral("Custom Outlook Form Information: The Outlook Contact Folder you have")));
        run = batch(args << QStringLiteral("--accept-custom-form"));
        QCOMPARE(run.status, 0);
    }
};

QTEST_APPLESS_MAIN(TestBatch)
#include "tst_batch.moc"
