#include "ImportFixtures.h"
#include "platform/Connection.h"
#include "platform/VCard.h"
#include "platform/VCardStore.h"
#include "source/CReadFile.h"
#include "source/MappingGrid.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
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
    class Contact : public outlook::ContactItem {
    public:
        explicit Contact(int &saved) : m_saved(saved) {}
        void Close(int) override { ++m_saved; }

    private:
        int &m_saved;
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

} // namespace

class TestImportEngine : public QObject {
    Q_OBJECT

    // Verifies the source against the template and picks the folder, as Retrieve and Create do.
    static bool verify(ImportBench &b, const QString &source, MemoryMappingGrid &grid)
    {
        b.files.answers = {source};
        return VerifyInputFile(b.state, b.services, grid, QStringLiteral("Main"));
    }

    // Picks the folder and creates the contacts, as Create It does.
    static bool create(ImportBench &b, MemoryMappingGrid &grid, RecordingProgress &progress,
                       const QString &folder = QStringLiteral("Contacts"))
    {
        b.folders.answers = {folder};
        return PrepareImportRun(b.state, b.services) && CreateContacts(b.state, b.services, grid, progress);
    }

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
        ImportBench b;
        b.state.business.streetLines = joined;
        b.makeTemplate(QStringLiteral("People"), QStringLiteral("CSH"), contactTemplate());
        b.state.business.streetLines = false; // the template, not the editor, decides
        MemoryMappingGrid grid;
        QVERIFY(verify(b, b.writeSource(QStringLiteral("people.csv"), kContacts), grid));
        QCOMPARE(b.boxes.texts(), QStringList{kVerified});
        QCOMPARE(grid.rows(), contactTemplate());
        RecordingProgress progress;
        QVERIFY(create(b, grid, progress));

        QCOMPARE(progress.total, 6);
        QCOMPARE(progress.lastRow, 6);
        // Hand count: rows 1, 5 and 6 are saved; rows 2 to 4 are blank.
        const AppState::ImportCounters &c = b.state.counters;
        QCOMPARE(c.totalImported, 3);
        QCOMPARE(c.blank, 3);
        QCOMPARE(c.noContactName, 1); // the company alone
        QCOMPARE(c.noCompanyName, 1); // Bob
        QCOMPARE(c.invalidEmail, 2);
        QCOMPARE(c.noAddress, 2);
        QCOMPARE(c.noPhone, 2);
        QCOMPARE(progress.counters.value(ImportCounter::NoContactName), 1);
        QVERIFY(b.state.filePath.isEmpty());

        const QList<outlook::ContactData> saved = b.contactsIn(QStringLiteral("Contacts"));
        QCOMPARE(saved.size(), 3);
        QCOMPARE(saved[0].property(QStringLiteral("FirstName")), QVariant(QStringLiteral("Ann")));
        QCOMPARE(saved[0].property(QStringLiteral("BusinessTelephoneNumber")), QVariant(QStringLiteral("555-0100")));
        QCOMPARE(saved[0].userProperties.Find(QStringLiteral("Region"))->value, QVariant(QStringLiteral("North")));
        QCOMPARE(saved[0].messageClass, QStringLiteral("IPM.Contact"));
        QCOMPARE(saved[0].property(QStringLiteral("BusinessAddressStreet")),
                 joined ? QVariant(QStringLiteral("1 Main St")) : QVariant());
        QVERIFY(!saved[1].property(QStringLiteral("BusinessAddressStreet")).isValid());
        // The contact that served the blank rows went out with the company row.
        QCOMPARE(saved[1].property(QStringLiteral("CompanyName")), QVariant(QStringLiteral("Bolt Ltd")));
        QCOMPARE(saved[1].property(QStringLiteral("EmailAddress")), QVariant(QStringLiteral("not-an-address")));
        QCOMPARE(saved[1].userProperties.Find(QStringLiteral("Region"))->value, QVariant(QStringLiteral(" ")));
        QCOMPARE(saved[2].property(QStringLiteral("FirstName")), QVariant(QStringLiteral("Bob")));
        QCOMPARE(saved[2].userProperties.Find(QStringLiteral("Region"))->value, QVariant(QStringLiteral("   ")));
    }

    void workbookSource()
    {
        ImportBench b;
        const MappingRows rows{{1, "Name", "Last Name", "LastName"},
                               {2, "Joined", "Contact/Anniversary Date", "Anniversary"},
                               {3, "Amount", "", ""},
                               {4, "Note", "Comments", "Body"}};
        b.makeTemplate(QStringLiteral("Sheet"), QStringLiteral("XLH"), rows, QStringLiteral("Contacts"));
        MemoryMappingGrid grid;
        QVERIFY(verify(b, QStringLiteral(MIREL_FIXTURES "/one_sheet.xls"), grid));
        RecordingProgress progress;
        QVERIFY(create(b, grid, progress));
        QCOMPARE(b.state.counters.totalImported, 3);
        const auto saved = b.contactsIn(QStringLiteral("Contacts"));
        QCOMPARE(saved[0].property(QStringLiteral("Anniversary")), QVariant(QDate(2024, 2, 29)));
        QCOMPARE(saved[2].property(QStringLiteral("Body")), QVariant(QStringLiteral("no date")));
        QCOMPARE(b.files.filters, QStringList{"Excel (*.xls)"});
    }

    void verificationRefusals_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("message");
        QTest::newRow("a header in other letter case")
            << QByteArray("First,Last,company,Mail,Phone,Region,Street 1,Ignored\r\nA,B,C,D,E,F,G,H\r\n") << kNoMatch;
        QTest::newRow("one column more") << QByteArray(
                                                "First,Last,Company,Mail,Phone,Region,Street 1,Ignored,Extra\r\n")
                                         << kCountDiffers;
        QTest::newRow("one column fewer")
            << QByteArray("First,Last,Company,Mail,Phone,Region,Street 1\r\n") << kCountDiffers;
    }

    void verificationRefusals()
    {
        QFETCH(QByteArray, source);
        QFETCH(QString, message);
        ImportBench b;
        b.makeTemplate(QStringLiteral("People"), QStringLiteral("CSH"), contactTemplate());
        MemoryMappingGrid grid;
        QVERIFY(!verify(b, b.writeSource(QStringLiteral("in.csv"), source), grid));
        QCOMPARE(b.boxes.texts(), QStringList{message});
        QCOMPARE(b.boxes.boxes[0].icon, MessageBoxes::Icon::None);
        QVERIFY(!b.state.sourceRows);
    }

    void verificationOfMissingThings()
    {
        ImportBench b;
        b.makeTemplate(QStringLiteral("Sheet"), QStringLiteral("XLN"), {{1, "F1", "", ""}}, QStringLiteral("Gone"));
        MemoryMappingGrid grid;
        QVERIFY(!verify(b, QStringLiteral(MIREL_FIXTURES "/one_sheet.xls"), grid));
        // The grid loads from the template; the sheet then cannot be read.
        QCOMPARE(b.boxes.texts(), QStringList{"Could not read the requested file or worksheet"});
        QCOMPARE(b.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);

        // The template was deleted meanwhile.
        b.boxes.clear();
        b.state.connection->execute(QStringLiteral("DELETE FROM tblTmpltIndex"));
        QVERIFY(!verify(b, QStringLiteral("unused"), grid));
        QCOMPARE(b.boxes.texts(), QStringList{"The info for this template no longer exists in the database"});
        b.files.answers.clear();

        // No file chosen: nothing is said after the question.
        b.boxes.clear();
        b.makeTemplate(QStringLiteral("Other"), QStringLiteral("CSN"), {{1, "F1", "", ""}});
        b.boxes.answer(MessageBoxes::Answer::Yes);
        QVERIFY(!verify(b, QString(), grid));
        QCOMPARE(b.boxes.texts(), QStringList{"No file has been selected - are you sure?"});
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
        ImportBench b;
        auto leads = b.folder(QStringLiteral("Leads"));
        auto first = leads->Items()->Add(formNow);
        for (int i = 0; i < fieldsNow; ++i)
            first->UserProperties().Add(QStringLiteral("Field %1").arg(i), outlook::olText);
        first->SetProperty(QStringLiteral("LastName"), QStringLiteral("First one"));
        first->Close(outlook::olSave);

        b.state.defaultFolder = true;
        b.state.folderEntryId = leads->EntryID();
        b.state.folderStoreId = leads->StoreID();
        b.state.folderName = leads->Name();
        b.state.customForm = true;
        b.state.customFormName = QStringLiteral("IPM.Contact.Lead");
        b.state.customFieldCount = 2;
        b.makeTemplate(QStringLiteral("Leads"), QStringLiteral("CSN"), {{1, "F1", "Last Name", "LastName"}});
        MemoryMappingGrid grid;
        QCOMPARE(verify(b, b.writeSource(QStringLiteral("l.csv"), "Zed\r\n"), grid), verified);
        QCOMPARE(b.boxes.texts().first(),
                 verified ? kVerified
                          : QStringLiteral("The <custom form name> for this folder and/or the number of user defined "
                                           "fields for this folder has changed. You will need to create a new "
                                           "template for this file."));
    }

    void folderChoice()
    {
        ImportBench b;
        b.ns->Stores().first()->AddFolder(QStringLiteral("Mail"), outlook::olMailItem);
        auto leads = b.folder(QStringLiteral("Leads"));
        vcardstore::DefineCustomForm(leads->EntryID(), QStringLiteral("IPM.Contact.Lead"),
                                     {{"Region", outlook::olText, {}}, {"Score", 20, {}}});
        auto first = leads->Items()->Add(QStringLiteral("IPM.Contact.Lead"));
        first->SetProperty(QStringLiteral("LastName"), QStringLiteral("First"));
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
            QCOMPARE(b.state.folderName, QStringLiteral("Leads"));
            QCOMPARE(b.state.folderEntryId, leads->EntryID());
        }
        QCOMPARE(b.customForms.fields,
                 (QList<std::pair<QString, QString>>{{"Region", "Text"}, {"Score", "Unknown 20"}}));
        QVERIFY(b.customForms.notices.last().contains(QStringLiteral("contains 2 User Defined Fields")));
        QVERIFY(b.boxes.boxes.isEmpty());
    }

    void customFormRunUsesTheFormOnlyWithAStoredFolder()
    {
        ImportBench b;
        auto leads = b.folder(QStringLiteral("Leads"));
        auto first = leads->Items()->Add(QStringLiteral("IPM.Contact.Lead"));
        first->Close(outlook::olSave);
        b.makeTemplate(QStringLiteral("Plain"), QStringLiteral("CSN"), {{1, "F1", "Last Name", "LastName"}});
        MemoryMappingGrid grid;
        QVERIFY(verify(b, b.writeSource(QStringLiteral("p.csv"), "Zed\r\n"), grid));
        b.customForms.answer = true;
        RecordingProgress progress;
        QVERIFY(create(b, grid, progress, QStringLiteral("Leads")));
        // A template without a stored folder makes standard contacts, even in a custom-form folder.
        QCOMPARE(b.contactsIn(QStringLiteral("Leads")).last().messageClass, QStringLiteral("IPM.Contact"));
    }

    void emptySource()
    {
        ImportBench b;
        b.makeTemplate(QStringLiteral("People"), QStringLiteral("CSH"), contactTemplate());
        MemoryMappingGrid grid;
        QVERIFY(verify(
            b, b.writeSource(QStringLiteral("e.csv"), "First,Last,Company,Mail,Phone,Region,Street 1,Ignored\r\n"),
            grid));
        RecordingProgress progress;
        QVERIFY(create(b, grid, progress));
        QCOMPARE(progress.total, 0);
        QCOMPARE(progress.writes, 0); // no counter box is written
        QVERIFY(b.contactsIn(QStringLiteral("Contacts")).isEmpty());
    }

    void stopsWhenTheUserSaysSo()
    {
        ImportBench b;
        // A user field without a name cannot be written.
        b.makeTemplate(QStringLiteral("Broken"), QStringLiteral("CSN"),
                       {{1, "F1", "Last Name", "LastName"}, {2, "F2", "USERDEFINED", "UD"}});
        MemoryMappingGrid grid;
        QVERIFY(verify(b, b.writeSource(QStringLiteral("b.csv"), "Ann,x\r\nBob,y\r\n"), grid));
        b.folders.answers = {QStringLiteral("Contacts")};
        QVERIFY(PrepareImportRun(b.state, b.services));
        b.boxes.clear();
        b.boxes.answer(MessageBoxes::Answer::Yes); // row 1: go on without the field
        b.boxes.answer(MessageBoxes::Answer::No);  // row 2: stop
        RecordingProgress progress;
        QVERIFY(!CreateContacts(b.state, b.services, grid, progress));
        QCOMPARE(b.boxes.texts()[0], QStringLiteral("Unable to update the field <>\r\nas a User Defined field - "
                                                    "field skipped\r\nDo you want to continue importing this file?"));
        QCOMPARE(b.boxes.boxes[0].buttons, MessageBoxes::Buttons::YesNo);
        QCOMPARE(b.boxes.texts().last(), QStringLiteral("Import process has been aborted"));
        QCOMPARE(b.boxes.boxes.last().title, QStringLiteral("Creating Contacts"));
        QCOMPARE(b.boxes.boxes.last().icon, MessageBoxes::Icon::Critical);
        QCOMPARE(b.state.counters.totalImported, 1);
        QCOMPARE(b.contactsIn(QStringLiteral("Contacts")).size(), 1);
        QVERIFY(!b.state.filePath.isEmpty()); // kept after an abort
    }

    void moreRowsThanSixteenBitsCount()
    {
        ImportBench b;
        QByteArray text;
        const int rows = 40000;
        for (int i = 1; i <= rows; ++i)
            text += i % 4 == 0 ? QByteArray("\"\"\r\n") : "Name " + QByteArray::number(i) + "\r\n";
        b.state.sourceRows =
            CReadFile().Read_TextFile(b.writeSource(QStringLiteral("big.csv"), text), QString(), QStringLiteral("CSN"));
        MemoryMappingGrid grid;
        grid.addRow({1, "F1", "Last Name", "LastName"});
        auto folder = std::make_shared<CountingFolder>();
        b.state.targetFolder = folder;
        b.state.filePath = QStringLiteral("big.csv");
        RecordingProgress progress;
        QVERIFY(CreateContacts(b.state, b.services, grid, progress));
        QCOMPARE(progress.lastRow, rows);
        QCOMPARE(b.state.counters.totalImported, 30000);
        QCOMPARE(b.state.counters.blank, 10000);
        QCOMPARE(folder->saved, 30000);
        QCOMPARE(progress.counters.value(ImportCounter::NoPhone), 30000);
    }

    void storeFailureEndsTheRun()
    {
        ImportBench b;
        b.makeTemplate(QStringLiteral("People"), QStringLiteral("CSN"), {{1, "F1", "Last Name", "LastName"}});
        MemoryMappingGrid grid;
        QVERIFY(verify(b, b.writeSource(QStringLiteral("p.csv"), "Ann\r\nBob\r\n"), grid));
        auto gone = b.folder(QStringLiteral("Soon gone"));
        b.folders.answers = {QStringLiteral("Soon gone")};
        QVERIFY(PrepareImportRun(b.state, b.services));
        QDir(gone->EntryID()).removeRecursively();
        b.boxes.clear();
        RecordingProgress progress;
        QVERIFY(!CreateContacts(b.state, b.services, grid, progress));
        QCOMPARE(b.boxes.texts().size(), 2);
        QVERIFY(b.boxes.texts()[0].startsWith(QStringLiteral("ERROR: ")));
        QVERIFY(b.boxes.texts()[0].contains(QStringLiteral("no longer exists")));
        QCOMPARE(b.boxes.texts()[1], QStringLiteral("Import process has been aborted"));
        QCOMPARE(b.state.counters.totalImported, 0);
    }

    void fullDiskStopsTheRun()
    {
        ImportBench b;
        b.makeTemplate(QStringLiteral("Notes"), QStringLiteral("CSN"), {{1, "F1", "Comments", "Body"}});
        MemoryMappingGrid grid;
        QVERIFY(
            verify(b, b.writeSource(QStringLiteral("n.csv"), (QByteArray(10000, 'n') + "\r\n").repeated(60)), grid));
        // The folder is a file system of 256 KiB, which the run fills.
        const QString full = b.folder(QStringLiteral("Full"))->EntryID();
        if (QProcess::execute(QStringLiteral("mount"), {"-t", "tmpfs", "-o", "size=256k", "tmpfs", full}) != 0)
            QSKIP("no file system can be mounted here");
        const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {full}); });
        b.folders.answers = {QStringLiteral("Full")};
        QVERIFY(PrepareImportRun(b.state, b.services));
        b.boxes.clear();
        RecordingProgress progress;
        QVERIFY(!CreateContacts(b.state, b.services, grid, progress));
        QCOMPARE(b.boxes.texts().size(), 2);
        QVERIFY2(b.boxes.texts()[0].contains(QStringLiteral("No space left on device")),
                 qPrintable(b.boxes.texts()[0]));
        QCOMPARE(b.boxes.texts()[1], QStringLiteral("Import process has been aborted"));
        // Only whole cards are left and counted; no temporary file stays behind.
        const QStringList files = QDir(full).entryList(QDir::Files | QDir::Hidden);
        QVERIFY(!files.isEmpty());
        QCOMPARE(b.state.counters.totalImported, files.size());
        for (const QString &name : files) {
            QVERIFY2(name.endsWith(QLatin1String(".vcf")), qPrintable(name));
            const QByteArray card = readBytes(QDir(full).filePath(name));
            QVERIFY(card.endsWith("END:VCARD\r\n"));
            QCOMPARE(vcard::parse(card).size(), 1);
        }
    }
};

QTEST_APPLESS_MAIN(TestImportEngine)
#include "tst_importengine.moc"
