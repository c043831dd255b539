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

    // One argument changed, after the folders were prepared: "dir" makes books/Leads, "link" makes
    // it a link to elsewhere, "columns" renames a column of the source. A run that is refused
    // writes no card anywhere and creates no database.
    void oneArgumentChanged_data()
    {
        QTest::addColumn<QString>("value"); // a file in the test folder, but for the template
        QTest::addColumn<int>("argument");  // 1 template, 3 input, 5 folder, 7 database
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("cards"); // none: the run is refused
        QTest::addColumn<QString>("message");
        const QString mirel = QStringLiteral("Mirel: The ");
        QTest::newRow("new folder, trailing slash") << "books/Leads/" << 5 << "" << 2 << "";
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
    }

    void oneArgumentChanged()
    {
        QFETCH(QString, value);
        QFETCH(int, argument);
        QFETCH(QString, before);
        QFETCH(int, cards);
        QFETCH(QString, message);
        Setup s;
        QDir(s.dir.path()).mkdir(QStringLiteral("elsewhere"));
        if (before == QLatin1String("dir"))
            QDir(s.dir.path()).mkdir(QStringLiteral("books/Leads"));
        if (before == QLatin1String("link"))
            QVERIFY(QFile::link(s.file(QStringLiteral("elsewhere")), s.folderDir));
        if (before == QLatin1String("columns"))
            writeBytes(s.source, "Name,company,Region\r\n");
        QStringList args = s.args();
        args[argument] = argument == 1 ? value : s.file(value);
        const Run run = batch(args);
        QCOMPARE(run.status, cards ? 0 : 1);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        int written = 0;
        for (QDirIterator it(s.dir.path(), {QStringLiteral("*.vcf")}, QDir::Files, QDirIterator::Subdirectories);
             it.hasNext(); it.next())
            ++written;
        QCOMPARE(written, cards);
        QCOMPARE(s.cards(), cards);
        QVERIFY(!QFileInfo::exists(s.file(QStringLiteral("none.mdb"))));
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
