#include "ImportFixtures.h"
#include "import/DuplicateIndex.h"
#include "import/UndoRun.h"
#include "platform/VCard.h"
#include "platform/VCardStore.h"
#include "source/CReadFile.h"
#include "source/MappingGrid.h"
#include "store/ImportJournal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kVerified = QStringLiteral("The input file has been verified to match the selected template");
const QString kNoMatch = QStringLiteral("The input file does not match the template selected");
const QString kCountDiffers = QStringLiteral("The input file does not match the template selected - select another "
                                             "template or create a new one and try again");

// The template of the contacts file below.
MappingRows contactTemplate()
{
    return {{1, "First", "First Name", "FirstName"},
            {2, "Last", "Last Name", "LastName"},
            {3, "Company", "Company Name", "CompanyName"},
            {4, "Mail", "Primary Email Address", "EmailAddress"},
            {5, "Phone", "Main Company Number", "BusinessTelephoneNumber"},
            {6, "Region", "USERDEFINED", "UDRegion"},
            {7, "Street 1", "CO Street Addr1", "##COStreet1"},
            {8, "Ignored", "", ""}};
}

const QByteArray kContacts = "First,Last,Company,Mail,Phone,Region,Street 1,Ignored\r\n"
                             "Ann,Lee,Acme,ann@acme.com,555-0100,North,1 Main St,x\r\n" // everything
                             ",,,,,,,kept out\r\n"                                      // blank
                             "\r\n"                                                     // an empty line: blank
                             ",,,,,South,,\r\n"                                         // only a user field: blank
                             ",,Bolt Ltd,not-an-address,,,,\r\n"                        // a company alone
                             "Bob,,,,,   ,,\r\n";                                       // spaces are a value

// A folder that counts what is saved in it and keeps nothing.
class CountingFolder : public outlook::Folder, public outlook::Items {
public:
    struct Contact : outlook::ContactItem {
        explicit Contact(int &saved) : saved(saved) {}
        void Close(int) override { ++saved; }
        int &saved;
    };
    QString EntryID() const override { return QStringLiteral("counting"); }
    QString StoreID() const override { return QStringLiteral("memory"); }
    QString Name() const override { return QStringLiteral("Counting"); }
    int DefaultItemType() const override { return outlook::olContactItem; }
    std::shared_ptr<outlook::Items> Items() override
    {
        return std::shared_ptr<outlook::Items>(this, [](auto *) {});
    }
    QList<std::shared_ptr<outlook::Folder>> Folders() override { return {}; }
    std::shared_ptr<outlook::Folder> AddFolder(const QString &) override { return nullptr; }
    int Count() override { return saved; }
    std::shared_ptr<outlook::ContactItem> GetFirst() override { return nullptr; }
    std::shared_ptr<outlook::ContactItem> GetNext() override { return nullptr; }
    std::shared_ptr<outlook::ContactItem> Add(const QString &) override { return std::make_shared<Contact>(saved); }
    int saved = 0;
};

using Bench = ImportBench;

} // namespace

class TestImportEngine : public QObject {
    Q_OBJECT

private slots:
    void contactsFromACsvFile_data()
    {
        QTest::addColumn<bool>("joined");
        QTest::newRow("street lines as they are") << false;
        QTest::newRow("street lines joined") << true;
    }

    void contactsFromACsvFile()
    {
        QFETCH(bool, joined);
        Bench b;
        b.state.street[0].streetLines = joined;
        b.makeTemplate(QStringLiteral("People"), QStringLiteral("CSH"), contactTemplate());
        b.state.street[0].streetLines = false; // the template, not the editor, decides
        QVERIFY(b.verify(b.writeSource(QStringLiteral("people.csv"), kContacts)));
        QCOMPARE(b.boxes.texts(), QStringList{kVerified});
        QVERIFY(b.create());

        QCOMPARE(b.progress.total, 6);
        // Hand count of imported, blank, no contact name, no company, invalid e-mail, no address, no phone: rows 1, 5
        // and 6 are saved, rows 2 to 4 are blank; row 5 (a company alone) has no name, row 6 (Bob) no company.
        QCOMPARE(b.state.counters.values, (std::array<int, kImportCounterCount>{3, 3, 1, 1, 2, 2, 2}));
        QVERIFY(b.state.filePath.isEmpty());
        // The journal holds the run: its counters, its source's checksum and the contacts it made by
        // UID and source row; each card carries the run and its row.
        const QList<ImportRunRecord> runs = ImportRuns(b.state.connection);
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs[0].outcome + runs[0].sourceSha256,
                 "completed" + QCryptographicHash::hash(kContacts, QCryptographicHash::Sha256).toHex());
        QCOMPARE(runs[0].counters, b.state.counters.values);
        QStringList uids, files = QDir(b.folder(QStringLiteral("Contacts"))->EntryID()).entryList({"*.vcf"});
        QList<int> rows;
        for (const ImportRunContact &c : ImportRunContacts(b.state.connection, runs[0].id))
            uids << c.uid + QStringLiteral(".vcf"), rows << c.sourceRow;
        QCOMPARE(uids, files);
        QCOMPARE(rows, (QList<int>{1, 5, 6}));

        const QList<outlook::ContactData> saved = b.contactsIn(QStringLiteral("Contacts"));
        QCOMPARE(saved.size(), 3);
        QCOMPARE(saved[0].property(QStringLiteral("FirstName")), QVariant(QStringLiteral("Ann")));
        QCOMPARE(saved[0].property(QStringLiteral("BusinessAddressStreet")),
                 joined ? QVariant(QStringLiteral("1 Main St")) : QVariant());
        // The contact that served the blank rows went out with the company row.
        QCOMPARE(saved[1].property(QStringLiteral("CompanyName")), QVariant(QStringLiteral("Bolt Ltd")));
        QCOMPARE(saved[1].property(QStringLiteral("EmailAddress")), QVariant(QStringLiteral("not-an-address")));
        QCOMPARE(saved[2].property(QStringLiteral("FirstName")), QVariant(QStringLiteral("Bob")));
        QCOMPARE(saved[2].importRun + QString::number(saved[2].sourceRow), runs[0].id + QStringLiteral("6"));
        // A user field left empty is written as one space; spaces in the source are kept.
        QCOMPARE(saved[0].userProperties.Find(QStringLiteral("Region"))->value, QVariant(QStringLiteral("North")));
        QCOMPARE(saved[1].userProperties.Find(QStringLiteral("Region"))->value, QVariant(QStringLiteral(" ")));
        QCOMPARE(saved[2].userProperties.Find(QStringLiteral("Region"))->value, QVariant(QStringLiteral("   ")));
    }

    // An undo removes the contacts the run made and nothing else: a contact edited since stays,
    // other cards are untouched, and a second undo changes nothing.
    void undo()
    {
        Bench b;
        b.makeTemplate(QStringLiteral("People"), QStringLiteral("CSH"), contactTemplate());
        const QDir folder(b.folder(QStringLiteral("Contacts"))->EntryID());
        writeBytes(folder.filePath(QStringLiteral("theirs.vcf")),
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:X\r\nEND:VCARD\r\n");
        QVERIFY(b.verify(b.writeSource(QStringLiteral("people.csv"), kContacts)) && b.create());
        const QString run = ImportRuns(b.state.connection).value(0).id;
        const QString edited = folder.filePath(ImportRunContacts(b.state.connection, run).value(1).uid + ".vcf");
        writeBytes(edited, readBytes(edited).replace("END:VCARD", "NOTE:called\r\nEND:VCARD"));
        QMap<QString, QByteArray> kept;
        for (const QString &name : {QStringLiteral("theirs.vcf"), QFileInfo(edited).fileName()})
            kept[name] = readBytes(folder.filePath(name));
        for (int time = 0; time < 2; ++time) {
            UndoCounts counts;
            QVERIFY(UndoImportRun(b.state, b.services, run, counts));
            QCOMPARE((QList<int>{counts.removed, counts.changed, counts.gone}),
                     time == 0 ? (QList<int>{2, 1, 0}) : (QList<int>{0, 0, 0}));
            QCOMPARE(folder.entryList({QStringLiteral("*.vcf")}), kept.keys());
            for (const QString &name : kept.keys())
                QCOMPARE(readBytes(folder.filePath(name)), kept[name]);
            QCOMPARE(ImportRuns(b.state.connection).value(0).outcome, QStringLiteral("undone"));
        }
    }

    // A second import of the same people: "skip" creates nothing and changes nothing; "update"
    // changes exactly the changed field of the contact already there.
    void reimport_data()
    {
        QTest::addColumn<int>("policy");
        QTest::newRow("skip") << int(DuplicatePolicy::Skip);
        QTest::newRow("update") << int(DuplicatePolicy::Update);
    }

    void reimport()
    {
        QFETCH(int, policy);
        Bench b;
        b.makeTemplate(QStringLiteral("People"), QStringLiteral("CSH"), contactTemplate());
        QVERIFY(b.verify(b.writeSource(QStringLiteral("people.csv"), kContacts)) && b.create());
        QList<outlook::ContactData> before = b.contactsIn(QStringLiteral("Contacts"));
        const QDir folder(b.folder(QStringLiteral("Contacts"))->EntryID());
        QMap<QString, QByteArray> files;
        for (const QString &name : folder.entryList({QStringLiteral("*.vcf")}))
            files[name] = readBytes(folder.filePath(name));

        QByteArray changed = kContacts;
        changed.replace("Ann,Lee,Acme,", "Ann,Lee,Acme Ltd,");
        QVERIFY(b.verify(b.writeSource(QStringLiteral("again.csv"), changed)));
        b.state.duplicatePolicy = DuplicatePolicy(policy);
        QVERIFY(b.create());
        QCOMPARE(b.state.counters[ImportCounter::TotalImported], 0);
        QCOMPARE(b.state.duplicatesSkipped + 10 * b.state.duplicatesUpdated,
                 policy == int(DuplicatePolicy::Skip) ? 3 : 30);
        if (policy == int(DuplicatePolicy::Skip)) {
            for (const QString &name : folder.entryList({QStringLiteral("*.vcf")}))
                QCOMPARE(readBytes(folder.filePath(name)), files.value(name));
            QCOMPARE(folder.entryList({QStringLiteral("*.vcf")}), files.keys());
            return;
        }
        before[0].setProperty(QStringLiteral("CompanyName"), QStringLiteral("Acme Ltd"));
        QCOMPARE(b.contactsIn(QStringLiteral("Contacts")), before);
    }

    // The card read back from the folder and a row are one person when an e-mail address
    // matches (letter case and blanks aside), or else the name with the company (letter case,
    // blanks and accents aside).
    void duplicatesAreFoundByFoldedKeys_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QVariantMap>("row");
        QTest::addColumn<bool>("same");
        const auto row = [](const char *name, const QVariantMap &stored, const QVariantMap &fields, bool same) {
            QTest::newRow(name) << stored << fields << same;
        };
        row("letter case and blanks", {{"FullName", "Ann  Lee"}, {"CompanyName", " ACME"}},
            {{"FullName", "ann lee"}, {"CompanyName", "acme "}}, true);
        row("accents on one side only", {{"FullName", "Jose Muller"}, {"CompanyName", "Societe"}},
            {{"FullName", "JOSÉ Müller"}, {"CompanyName", "société"}}, true);
        row("letters without accents", {{"FullName", "Zoë Ærø"}}, {{"FullName", "zoe ærø"}}, true);
        row("another name", {{"FullName", "Ann Lee"}}, {{"FullName", "Ann Lea"}}, false);
        row("another company", {{"FullName", "Ann Lee"}, {"CompanyName", "Acme"}},
            {{"FullName", "Ann Lee"}, {"CompanyName", "Bolt"}}, false);
        row("a name in parts", {{"FirstName", "Ann"}, {"LastName", "Lee"}}, {{"FullName", "Ann Lee"}}, true);
        row("a second e-mail address", {{"FullName", "Ann Lee"}, {"Email2Address", "Ann@Acme.com"}},
            {{"FullName", "A. Lee"}, {"EmailAddress", " ann@acme.com"}}, true);
    }

    void duplicatesAreFoundByFoldedKeys()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(QVariantMap, row);
        QFETCH(bool, same);
        QTemporaryDir dir;
        vcardstore::VCardApplication app(dir.filePath(QStringLiteral("Books")));
        const auto folder = app.GetNamespace(QStringLiteral("MAPI"))->Stores().first()->Folders().first();
        const auto contact = folder->Items()->Add(outlook::kStandardContactClass);
        for (const auto &[key, value] : stored.asKeyValueRange())
            contact->SetProperty(key, value);
        contact->Close(outlook::olSave);
        DuplicateIndex index(false);
        index.addFolder(*folder->Items());
        outlook::ContactData fields;
        for (const auto &[key, value] : row.asKeyValueRange())
            fields.setProperty(key, value);
        QCOMPARE(index.find(fields), same);
    }

    void workbookSource_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("xls") << "one_sheet.xls";
        QTest::newRow("xlsx") << "one_sheet.xlsx";
    }

    void workbookSource()
    {
        QFETCH(QString, file);
        Bench b;
        const MappingRows rows{{1, "Name", "Last Name", "LastName"},
                               {2, "Joined", "Contact/Anniversary Date", "Anniversary"},
                               {3, "Amount", "", ""},
                               {4, "Note", "Comments", "Body"}};
        b.makeTemplate(QStringLiteral("Sheet"), QStringLiteral("XLH"), rows, QStringLiteral("Contacts"));
        QVERIFY(b.verify(QStringLiteral(MIREL_FIXTURES "/") + file));
        QVERIFY(b.create());
        QCOMPARE(b.state.counters[ImportCounter::TotalImported], 3);
        const auto saved = b.contactsIn(QStringLiteral("Contacts"));
        QCOMPARE(saved[0].property(QStringLiteral("Anniversary")), QVariant(QDate(2024, 2, 29)));
        QCOMPARE(saved[2].property(QStringLiteral("Body")), QVariant(QStringLiteral("no date")));
    }

    void odsWorkbookSource()
    {
        Bench b;
        MappingRows rows;
        for (const char *name : {"First", "Last", "Full", "Score", "Double", "Passed", "Ratio", "Blank", "Joined",
                                 "Next", "At", "Stamp", "Code"})
            rows << MappingRow{int(rows.size()) + 1, name, {}, {}};
        rows[1] = {2, "Last", "Last Name", "LastName"};
        rows[8] = {9, "Joined", "Contact/Anniversary Date", "Anniversary"};
        rows[12] = {13, "Code", "Comments", "Body"};
        b.makeTemplate(QStringLiteral("People"), QStringLiteral("XLH"), rows, QStringLiteral("People"));
        QVERIFY(b.verify(QStringLiteral(MIREL_FIXTURES "/formulas.ods")));
        QVERIFY(b.create());
        QCOMPARE(b.state.counters[ImportCounter::TotalImported], 4);
        const auto saved = b.contactsIn(QStringLiteral("Contacts"));
        QCOMPARE(saved[2].property(QStringLiteral("LastName")), QVariant(QStringLiteral("Σωκράτης 李小龍 😀")));
        QCOMPARE(saved[1].property(QStringLiteral("Anniversary")), QVariant(QDate(1999, 12, 31)));
        QCOMPARE(saved[3].property(QStringLiteral("Body")), QVariant(QStringLiteral("007")));
    }

    void verificationRefusals_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QByteArray>("source"); // the file's text; empty: no file chosen; "xls": a workbook
        QTest::addColumn<QString>("message");
        const QByteArray header = "First,Last,Company,Mail,Phone,Region,Street 1";
        QTest::newRow("a header in other letter case") << "CSH" << header.toLower() + ",Ignored\r\nA,B,C,D,E,F,G,H\r\n"
                                                       << kNoMatch;
        QTest::newRow("one column more") << "CSH" << header + ",Ignored,Extra\r\n" << kCountDiffers;
        QTest::newRow("one column fewer") << "CSH" << header + "\r\n" << kCountDiffers;
        // The grid loads from the template; the sheet then cannot be read.
        QTest::newRow("sheet gone") << "XLN" << QByteArray("xls") << "Could not read the requested file or worksheet";
        QTest::newRow("no file chosen") << "CSN" << QByteArray() << "No file has been selected - are you sure?";
    }

    void verificationRefusals()
    {
        QFETCH(QString, type);
        QFETCH(QByteArray, source);
        QFETCH(QString, message);
        Bench b;
        b.makeTemplate(QStringLiteral("People"), type, contactTemplate(), QStringLiteral("Gone"));
        if (source.isEmpty())
            b.boxes.answer(MessageBoxes::Answer::Yes); // nothing is said after the question
        QVERIFY(!b.verify(source.isEmpty()  ? QString()
                          : source == "xls" ? QStringLiteral(MIREL_FIXTURES "/one_sheet.xls")
                                            : b.writeSource(QStringLiteral("in.csv"), source)));
        QCOMPARE(b.boxes.texts(), QStringList{message});
        QVERIFY(!b.state.sourceRows);
    }

    void storedFolderWithAChangedForm_data()
    {
        QTest::addColumn<QString>("formNow");
        QTest::addColumn<int>("fieldsNow");
        QTest::addColumn<bool>("verified");
        QTest::newRow("unchanged") << "IPM.Contact.Lead" << 2 << true;
        QTest::newRow("other form") << "IPM.Contact.Client" << 2 << false;
        QTest::newRow("other field count") << "IPM.Contact.Lead" << 3 << false;
    }

    void storedFolderWithAChangedForm()
    {
        QFETCH(QString, formNow);
        QFETCH(int, fieldsNow);
        QFETCH(bool, verified);
        Bench b;
        auto leads = b.folder(QStringLiteral("Leads"));
        auto first = leads->Items()->Add(formNow);
        for (int i = 0; i < fieldsNow; ++i)
            first->UserProperties().Add(QStringLiteral("Field %1").arg(i), outlook::olText);
        first->Close(outlook::olSave);

        b.state.defaultFolder = true;
        b.state.folderEntryId = leads->EntryID();
        b.state.customForm = true;
        b.state.customFormName = QStringLiteral("IPM.Contact.Lead");
        b.state.customFieldCount = 2;
        b.makeTemplate(QStringLiteral("Leads"), QStringLiteral("CSN"), {{1, "F1", "Last Name", "LastName"}});
        QCOMPARE(b.verify(b.writeSource(QStringLiteral("l.csv"), "Zed\r\n")), verified);
        QCOMPARE(b.boxes.texts().first(),
                 verified ? kVerified
                          : QStringLiteral("The <custom form name> for this folder and/or the number of user defined "
                                           "fields for this folder has changed. You will need to create a new "
                                           "template for this file."));
    }

    void folderChoice()
    {
        Bench b;
        b.ns->Stores().first()->AddFolder(QStringLiteral("Mail"), outlook::olMailItem);
        auto leads = b.folder(QStringLiteral("Leads"));
        vcardstore::DefineCustomForm(leads->EntryID(), QStringLiteral("IPM.Contact.Lead"),
                                     {{"Region", outlook::olText, {}}, {"Score", 20, {}}});
        auto first = leads->Items()->Add(QStringLiteral("IPM.Contact.Lead"));
        first->Close(outlook::olSave);

        // A mail folder is refused and the picker shown again; a cancel ends the choice.
        b.folders.answers = {QStringLiteral("Mail"), QString()};
        QVERIFY(!ChooseContactFolder(b.state, b.services));
        QCOMPARE(b.folders.shown, 2);
        QCOMPARE(b.boxes.texts(), QStringList{"Only Contact Folders can be selected"});

        // An empty contact folder is a plain one.
        b.boxes.clear();
        b.folders.answers = {QStringLiteral("Contacts")};
        QVERIFY(ChooseContactFolder(b.state, b.services));
        QCOMPARE(b.state.customFormName, QStringLiteral("IPM.Contact"));
        QVERIFY(!b.state.customForm);
        QCOMPARE(b.state.customFieldCount, qint16(0));
        QVERIFY(b.customForms.notices.isEmpty());

        // A folder whose first item has a custom form asks; the answer decides.
        for (const bool answer : {false, true}) {
            b.customForms.answer = answer;
            b.folders.answers = {QStringLiteral("Leads")};
            QCOMPARE(ChooseContactFolder(b.state, b.services), answer);
            QVERIFY(b.state.customForm);
            QCOMPARE(b.state.customFormName, QStringLiteral("IPM.Contact.Lead"));
            QCOMPARE(b.state.customFieldCount, qint16(2));
            QCOMPARE(b.state.folderEntryId, leads->EntryID());
        }
        QCOMPARE(b.customForms.fields,
                 (QList<std::pair<QString, QString>>{{"Region", "Text"}, {"Score", "Unknown 20"}}));
        QVERIFY(b.customForms.notices.last().contains(QStringLiteral("contains 2 User Defined Fields")));
        QVERIFY(b.boxes.boxes.isEmpty());

        // A template without a stored folder makes standard contacts, even in a custom-form folder.
        b.makeTemplate(QStringLiteral("Plain"), QStringLiteral("CSN"), {{1, "F1", "Last Name", "LastName"}});
        QVERIFY(b.verify(b.writeSource(QStringLiteral("p.csv"), "Zed\r\n")));
        QVERIFY(b.create(QStringLiteral("Leads")));
        QCOMPARE(b.contactsIn(QStringLiteral("Leads")).last().messageClass, QStringLiteral("IPM.Contact"));
    }

    void stopsWhenTheUserSaysSo()
    {
        Bench b;
        // A user field without a name cannot be written.
        b.makeTemplate(QStringLiteral("Broken"), QStringLiteral("CSN"),
                       {{1, "F1", "Last Name", "LastName"}, {2, "F2", "USERDEFINED", "UD"}});
        QVERIFY(b.verify(b.writeSource(QStringLiteral("b.csv"), "Ann,x\r\nBob,y\r\n")));
        b.boxes.answer(MessageBoxes::Answer::Yes); // row 1: go on without the field
        b.boxes.answer(MessageBoxes::Answer::No);  // row 2: stop
        QVERIFY(!b.create());
        const QString question = QStringLiteral("Unable to update the field <>\r\nas a User Defined field - field "
                                                "skipped\r\nDo you want to continue importing this file?");
        QCOMPARE(b.boxes.texts(), (QStringList{kVerified, question, question, "Import process has been aborted"}));
        QCOMPARE(b.boxes.boxes[1].buttons, MessageBoxes::Buttons::YesNo);
        QCOMPARE(b.state.counters[ImportCounter::TotalImported], 1);
        QCOMPARE(b.contactsIn(QStringLiteral("Contacts")).size(), 1);
        QVERIFY(!b.state.filePath.isEmpty()); // kept after an abort
        QCOMPARE(ImportRuns(b.state.connection).value(0).outcome, QStringLiteral("aborted"));
        QCOMPARE(ImportRunContacts(b.state.connection, ImportRuns(b.state.connection).value(0).id).size(), 1);
    }

    void rowCounts_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("a header alone") << 0;
        QTest::newRow("more rows than 16 bits count") << 40000;
    }

    void rowCounts()
    {
        QFETCH(int, rows);
        Bench b;
        QByteArray text = "F1\r\n";
        for (int i = 1; i <= rows; ++i)
            text += i % 4 == 0 ? QByteArray("\"\"\r\n") : "Name " + QByteArray::number(i) + "\r\n";
        b.state.sourceRows =
            CReadFile().Read_TextFile(b.writeSource(QStringLiteral("big.csv"), text), QString(), QStringLiteral("CSH"));
        b.grid.addRow({1, "F1", "Last Name", "LastName"});
        auto folder = std::make_shared<CountingFolder>();
        b.state.targetFolder = folder;
        b.state.filePath = QStringLiteral("big.csv");
        QVERIFY(CreateContacts(b.state, b.services, b.grid, b.progress));
        QCOMPARE(b.progress.total, rows);
        QCOMPARE(b.progress.lastRow, rows);
        QCOMPARE(b.state.counters[ImportCounter::TotalImported], rows / 4 * 3);
        QCOMPARE(b.state.counters[ImportCounter::Blank], rows / 4);
        QCOMPARE(folder->saved, rows / 4 * 3);
        QCOMPARE(b.progress.counters.value(ImportCounter::NoPhone), rows / 4 * 3);
        QCOMPARE(b.progress.writes > 0, rows > 0); // no counter box is written for no rows
    }

    void storeFailureStopsTheRun_data()
    {
        QTest::addColumn<QString>("disk"); // the folder's own file system, or none: the folder is removed
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("rowBytes");
        QTest::addColumn<QString>("reason");
        // Removed while its cards wait to be made to last, found when they are, before a question.
        QTest::newRow("folder removed") << QString() << 60 << 10000 << "No such file or directory";
        QTest::newRow("disk full") << "size=256k" << 60 << 10000 << "No space left on device";
        // Full while the first batch's commit may still be going on.
        QTest::newRow("disk full in the second batch")
            << "size=64m,nr_inodes=" + QString::number(kContactsPerBatch + 1000) << kContactsPerBatch + 2000 << 10
            << "No space left on device";
    }

    void storeFailureStopsTheRun()
    {
        QFETCH(QString, disk);
        QFETCH(int, rows);
        QFETCH(int, rowBytes);
        QFETCH(QString, reason);
        const bool fullDisk = !disk.isEmpty();
        Bench b;
        // Every row asks whether to go on, as its user field cannot be written.
        b.makeTemplate(QStringLiteral("Notes"), QStringLiteral("CSN"),
                       {{1, "F1", "Comments", "Body"}, {2, "F2", "USERDEFINED", fullDisk ? "" : "UD"}});
        QVERIFY(b.verify(b.writeSource(QStringLiteral("n.csv"), (QByteArray(rowBytes, 'n') + ",x\r\n").repeated(rows))));
        // The folder is removed, or is a small file system, which the run fills.
        const QString folder = b.folder(QStringLiteral("Store"))->EntryID();
        const QStringList mount{"-t", "tmpfs", "-o", disk, "tmpfs", folder};
        if (fullDisk && QProcess::execute(QStringLiteral("mount"), mount) != 0)
            QSKIP("no file system can be mounted here");
        const auto unmount = qScopeGuard([&] { fullDisk &&QProcess::execute(QStringLiteral("umount"), {folder}); });
        writeBytes(QDir(folder).filePath(QStringLiteral(".mine")), "a user's own hidden file");
        b.folders.answers = {QStringLiteral("Store")};
        QVERIFY(PrepareImportRun(b.state, b.services));
        b.progress.onRow = [&](int row) {
            if (!fullDisk && row == 2)
                QDir(folder).removeRecursively();
        };
        b.boxes.clear();
        if (!fullDisk)
            b.boxes.answer(MessageBoxes::Answer::Yes); // row 1 goes on
        QVERIFY(!CreateContacts(b.state, b.services, b.grid, b.progress));
        QCOMPARE(b.boxes.texts().size(), fullDisk ? 2 : 3);
        const QString error = b.boxes.texts().value(fullDisk ? 0 : 1);
        QVERIFY2(error.startsWith(QStringLiteral("ERROR: ")) && error.contains(reason), qPrintable(error));
        QCOMPARE(b.boxes.texts().last(), QStringLiteral("Import process has been aborted"));
        // Only whole cards are left, counted and recorded; no temporary file stays behind. The cards
        // written before the disk filled last; those waiting when the folder went are not counted.
        const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files.size() > 1, fullDisk);
        QCOMPARE(files.size() > kContactsPerBatch, rows > kContactsPerBatch);
        QCOMPARE(b.state.counters[ImportCounter::TotalImported], qMax(0, files.size() - 1));
        QCOMPARE(ImportRunContacts(b.state.connection, ImportRuns(b.state.connection).value(0).id).size(),
                 qMax(0, files.size() - 1));
        for (const QString &name : files) {
            if (name == QLatin1String(".mine"))
                continue;
            QVERIFY2(name.endsWith(QLatin1String(".vcf")), qPrintable(name));
            const QByteArray card = readBytes(QDir(folder).filePath(name));
            QVERIFY(card.endsWith("END:VCARD\r\n"));
            QCOMPARE(vcard::parse(card).size(), 1);
        }
    }
};

QTEST_APPLESS_MAIN(TestImportEngine)
#include "tst_importengine.moc"
