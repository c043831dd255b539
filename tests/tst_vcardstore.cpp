#include "TestServices.h"
#include "core/AppError.h"
#include "platform/ContactCard.h"
#include "platform/VCard.h"
#include "platform/VCardStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

using outlook::ContactData;

namespace {

std::shared_ptr<outlook::Folder> contactsFolder(outlook::Namespace &ns)
{
    return ns.Stores().first()->Folders().first();
}

QList<QByteArray> physicalLines(const QByteArray &card)
{
    QList<QByteArray> lines = card.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestVCardStore : public QObject {
    Q_OBJECT

private slots:
    void longLinesFoldWithoutSplittingCharacters()
    {
        // Two-byte and three-byte characters placed so that naive cuts would split them.
        const QString value = QString(40, QChar(0x00E9)) + QString(30, QChar(0x20AC)) + QStringLiteral("end");
        const QByteArray line = vcard::writeProperty(vcard::Property{QStringLiteral("NOTE"), {}, value});
        for (const QByteArray &physical : physicalLines(line)) {
            QVERIFY(physical.endsWith('\r'));
            QVERIFY2(physical.size() - 1 <= 75, physical.constData());
            QVERIFY(QString::fromUtf8(physical).toUtf8() == physical); // each piece is whole UTF-8
        }
        const auto cards = vcard::parse("BEGIN:VCARD\r\n" + line + "END:VCARD\r\n");
        QCOMPARE(cards.size(), 1);
        QCOMPARE(cards[0][0].value, value);
    }

    void defaultStoreIsCreatedWithOneContactFolder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("AddressBooks"));
        vcardstore::VCardApplication app(path);
        QVERIFY(!QFileInfo::exists(path)); // made on first use, not before
        const auto folders = app.GetNamespace(QStringLiteral("MAPI"))->Stores()[0]->Folders();
        QCOMPARE(folders.size(), 1);
        QCOMPARE(folders[0]->Name(), QStringLiteral("Contacts"));
        QCOMPARE(folders[0]->StoreID(), path);
        QVERIFY(!folders[0]->Items()->GetFirst());
        // Opening it again neither adds nor changes folders.
        vcardstore::VCardApplication again(path);
        QCOMPARE(again.GetNamespace(QStringLiteral("MAPI"))->Stores()[0]->Folders().size(), 1);
        QVERIFY_THROWS_EXCEPTION(AppError, again.GetNamespace(QStringLiteral("OTHER")));
        // A store left without folders gets its contact folder back.
        QVERIFY(QDir(folders[0]->EntryID()).removeRecursively());
        vcardstore::VCardApplication emptied(path);
        const auto remade = emptied.GetNamespace(QStringLiteral("MAPI"))->Stores()[0]->Folders();
        QCOMPARE(remade.size(), 1);
        QCOMPARE(remade[0]->Name(), QStringLiteral("Contacts"));
    }

    void defaultStoreThatCannotBeMadeIsAnError()
    {
        QTemporaryDir dir;
        const QString blocker = dir.filePath(QStringLiteral("AddressBooks"));
        writeBytes(blocker, "a file, not a folder");
        QCOMPARE(failureOf([&] { vcardstore::VCardApplication app(blocker); }).number,
                 qint32(ErrorCode::CannotCreateObject));
        QCOMPARE(readBytes(blocker), QByteArray("a file, not a folder"));
        // A store that cannot be made in its place fails on first use.
        vcardstore::VCardApplication unmakeable(blocker + QStringLiteral("/AddressBooks"));
        QCOMPARE(failureOf([&] { unmakeable.GetNamespace(QStringLiteral("MAPI")); }).number,
                 qint32(ErrorCode::CannotCreateObject));
    }

    void contactRoundTripsThroughTheFolder()
    {
        QTemporaryDir dir;
        vcardstore::VCardApplication app(dir.filePath(QStringLiteral("AddressBooks")));
        auto folder = contactsFolder(*app.GetNamespace(QStringLiteral("MAPI")));

        auto contact = folder->Items()->Add(QStringLiteral("IPM.Contact.Sales Lead"));
        contact->SetProperty(QStringLiteral("FirstName"), QStringLiteral("Zoë"));
        contact->SetProperty(QStringLiteral("LastName"), QStringLiteral("O'Brien; Jr"));
        contact->SetProperty(QStringLiteral("CompanyName"), QStringLiteral("Ærø Trading, Ltd"));
        contact->SetProperty(QStringLiteral("Department"), QStringLiteral("Sales"));
        contact->SetProperty(QStringLiteral("Email2Address"), QStringLiteral("zoe@example.org"));
        contact->SetProperty(QStringLiteral("Body"), QStringLiteral("Met at fair\r\nCall back: Monday"));
        contact->SetProperty(QStringLiteral("Birthday"), QDateTime(QDate(1980, 2, 29), QTime(0, 0)));
        contact->SetProperty(QStringLiteral("Gender"), 2);
        contact->SetProperty(QStringLiteral("NoAging"), true);
        contact->UserProperties().Add(QStringLiteral("Région de vente"), outlook::olText, true);
        contact->UserProperties().SetValue(QStringLiteral("Région de vente"), QStringLiteral("Nord; Est"));
        contact->UserProperties().Add(QStringLiteral("Deal size"), outlook::olText, true);
        contact->UserProperties().SetValue(QStringLiteral("Deal size"), 12500.5);
        contact->UserProperties().Add(QStringLiteral("Empty one"), outlook::olText, true);
        contact->UserProperties().SetValue(QStringLiteral("Empty one"), QStringLiteral(" "));
        contact->Close(outlook::olSave);

        const QStringList files = QDir(folder->EntryID()).entryList({QStringLiteral("*.vcf")});
        QCOMPARE(files.size(), 1);
        const QByteArray card = readBytes(QDir(folder->EntryID()).filePath(files[0]));
        QVERIFY(card.contains("\r\nFN;X-MIREL-DERIVED=TRUE:Zoë O'Brien\\; Jr\r\n"));
        QVERIFY(card.contains("\r\nN:O'Brien\\; Jr;Zoë;;;\r\n"));
        QVERIFY(card.contains("\r\nORG:Ærø Trading\\, Ltd;Sales\r\n"));
        QVERIFY(card.contains("\r\nUID:" + files[0].chopped(4).toUtf8() + "\r\n"));
        for (const QByteArray &line : physicalLines(card))
            QVERIFY(line.size() - 1 <= 75);

        auto back = folder->Items()->GetFirst();
        QVERIFY(back);
        // The properties, the user fields and the form come back as they were.
        QCOMPARE(back->data(), contact->data());
        QVERIFY(!back->GetProperty(QStringLiteral("FullName")).isValid()); // the derived FN is not a full name

        // Saving the read item again rewrites the same file.
        back->SetProperty(QStringLiteral("JobTitle"), QStringLiteral("Buyer"));
        back->Close(outlook::olSave);
        QCOMPARE(QDir(folder->EntryID()).entryList({QStringLiteral("*.vcf")}), files);
        auto resaved = folder->Items()->GetFirst();
        QCOMPARE(resaved->GetProperty(QStringLiteral("JobTitle")), QVariant(QStringLiteral("Buyer")));
        QCOMPARE(resaved->GetProperty(QStringLiteral("LastName")), QVariant(QStringLiteral("O'Brien; Jr")));
    }

    void itemsComeBackInSaveOrder()
    {
        QTemporaryDir dir;
        vcardstore::VCardApplication app(dir.filePath(QStringLiteral("AddressBooks")));
        auto folder = contactsFolder(*app.GetNamespace(QStringLiteral("MAPI")));
        auto items = folder->Items();
        for (int i = 0; i < 30; ++i) {
            auto c = items->Add(i == 0 ? QStringLiteral("IPM.Contact.First") : outlook::kStandardContactClass);
            c->SetProperty(QStringLiteral("LastName"), QStringLiteral("n%1").arg(i));
            c->Close(outlook::olSave);
        }
        QCOMPARE(items->Count(), 30);
        int i = 0;
        for (auto c = items->GetFirst(); c; c = items->GetNext(), ++i)
            QCOMPARE(c->GetProperty(QStringLiteral("LastName")).toString(), QStringLiteral("n%1").arg(i));
        QCOMPARE(i, 30);
        QCOMPARE(folder->Items()->GetFirst()->MessageClass(), QStringLiteral("IPM.Contact.First"));
    }

    void foldersAndTheirIds()
    {
        QTemporaryDir dir;
        vcardstore::VCardApplication app(dir.filePath(QStringLiteral("AddressBooks")));
        auto ns = app.GetNamespace(QStringLiteral("MAPI"));
        auto store = ns->Stores().first();
        auto leads = store->AddFolder(QStringLiteral("Leads/2026"), outlook::olContactItem);
        auto found = ns->GetFolderFromID(leads->EntryID());
        QCOMPARE(found->Name(), QStringLiteral("Leads/2026"));
        QCOMPARE(found->StoreID(), store->StoreID());

        // A folder holding calendar items is not a contact folder.
        QDir(dir.path()).mkpath(QStringLiteral("AddressBooks/cal"));
        writeBytes(dir.filePath(QStringLiteral("AddressBooks/cal/event.ics")), "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
        QCOMPARE(ns->GetFolderFromID(dir.filePath(QStringLiteral("AddressBooks/cal")))->DefaultItemType(), 1);

        QCOMPARE(failureOf([&] { ns->GetFolderFromID(dir.filePath(QStringLiteral("AddressBooks/gone"))); }).number,
                 qint32(ErrorCode::NotFound));

        // A folder removed after its contact was made: the save fails and nothing is written.
        auto contact = leads->Items()->Add(outlook::kStandardContactClass);
        QDir(leads->EntryID()).removeRecursively();
        QVERIFY_THROWS_EXCEPTION(AppError, contact->Close(outlook::olSave));
        QVERIFY(!QFileInfo::exists(leads->EntryID()));

        // Another directory opened as a store for the rest of the run.
        QTemporaryDir other;
        auto second = ns->AddStore(other.path());
        QCOMPARE(ns->Stores().size(), 2);
        QCOMPARE(ns->Stores().first()->StoreID(), store->StoreID());
        QCOMPARE(ns->AddStore(other.path()), second);
    }

    void cardsOfOtherProgramsLoseNothing()
    {
        QTemporaryDir dir;
        vcardstore::VCardApplication app(dir.filePath(QStringLiteral("AddressBooks")));
        auto folder = contactsFolder(*app.GetNamespace(QStringLiteral("MAPI")));
        const QString path = QDir(folder->EntryID()).filePath(QStringLiteral("from-phone.VCF"));
        writeBytes(path, "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:phone-42\r\nFN:Ann Lee\r\nN:Lee;Ann;;;\r\n"
                         "TEL;TYPE=CELL:+1 555 0100\r\nEMAIL;TYPE=HOME:ann@home.example\r\n"
                         "PHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgo=\r\nEND:VCARD\r\n");
        auto contact = folder->Items()->GetFirst();
        QCOMPARE(contact->GetProperty(QStringLiteral("FullName")), QVariant(QStringLiteral("Ann Lee")));
        QCOMPARE(contact->GetProperty(QStringLiteral("EmailAddress")), QVariant(QStringLiteral("ann@home.example")));
        contact->SetProperty(QStringLiteral("CompanyName"), QStringLiteral("Acme"));
        contact->Close(outlook::olSave);

        const QByteArray card = readBytes(path);
        QVERIFY(card.contains("\r\nUID:phone-42\r\n"));
        QVERIFY(card.contains("\r\nTEL;TYPE=CELL:+1 555 0100\r\n"));
        QVERIFY(card.contains("\r\nPHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgo=\r\n"));
        QVERIFY(card.contains("\r\nORG:Acme;\r\n"));

        // A file holding several contacts is read, but never rewritten as one.
        const QString multi = QDir(folder->EntryID()).filePath(QStringLiteral("all.vcf"));
        const QByteArray two = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:One\r\nEND:VCARD\r\n"
                               "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Two\r\nEND:VCARD\r\n";
        writeBytes(multi, two);
        auto first = folder->Items()->GetFirst(); // "all.vcf" sorts first
        QCOMPARE(first->GetProperty(QStringLiteral("FullName")), QVariant(QStringLiteral("One")));
        QVERIFY_THROWS_EXCEPTION(AppError, first->Close(outlook::olSave));
        QCOMPARE(readBytes(multi), two);
    }

    void foldersOfOneName()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("AddressBooks"));
        const mode_t umask = ::umask(0);
        const auto restore = qScopeGuard([umask] { ::umask(umask); });
        vcardstore::VCardApplication app(path);
        vcardstore::VCardApplication other(path);
        auto store = app.GetNamespace(QStringLiteral("MAPI"))->Stores().first();
        // Two imports opening the same new folder at once end up in one folder.
        auto mine = store->OpenFolder(QStringLiteral("Leads %1"));
        auto theirs =
            other.GetNamespace(QStringLiteral("MAPI"))->Stores().first()->OpenFolder(QStringLiteral("Leads %1"));
        QCOMPARE(theirs->EntryID(), mine->EntryID());
        // A second folder made on purpose keeps the name as it was typed.
        auto second = store->AddFolder(QStringLiteral("Leads %1"));
        QCOMPARE(QFileInfo(second->EntryID()).fileName(), QStringLiteral("Leads %1 (2)"));
        QCOMPARE(second->Name(), QStringLiteral("Leads %1"));

        // Folders and cards are their owner's only, whatever the umask.
        const auto modeOf = [](const QString &file) {
            struct stat st;
            return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
        };
        mine->Items()->Add(outlook::kStandardContactClass)->Close(outlook::olSave);
        QCOMPARE(modeOf(mine->EntryID()), 0700);
        const QDir folderDir(mine->EntryID());
        QCOMPARE(modeOf(folderDir.filePath(folderDir.entryList({QStringLiteral("*.vcf")}).value(0))), 0600);

        // A link back to the address book is no folder: the tree ends.
        QVERIFY(QFile::link(path, folderDir.filePath(QStringLiteral("loop"))));
        QVERIFY(mine->Folders().isEmpty());
        QCOMPARE(store->Folders().size(), 3);
    }

    void unreadableFilesAreLeftAlone_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("bytes"); // "fifo" makes a FIFO, "zero" a link to /dev/zero
        QTest::newRow("vCard 2.1 with soft line breaks")
            << "0.vcf"
            << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;ENCODING=QUOTED-PRINTABLE:one=\r\ntwo\r\nEND:VCARD\r\n");
        QTest::newRow("empty card") << "0.vcf" << QByteArray();
        QTest::newRow("card cut short") << "0.vcf" << QByteArray("BEGIN:VCARD\r\nFN:half");
        QTest::newRow("line without a colon") << "0.vcf" << QByteArray("BEGIN:VCARD\r\nFN x\r\nEND:VCARD\r\n");
        QTest::newRow("line outside a card") << "0.vcf" << QByteArray("FN:x\r\n");
        QTest::newRow("card linked to /dev/zero") << "0.vcf" << QByteArray("zero");
        QTest::newRow("displayname as a FIFO") << "displayname" << QByteArray("fifo");
        QTest::newRow("forms.json linked to /dev/zero") << "forms.json" << QByteArray("zero");
    }

    void unreadableFilesAreLeftAlone()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        vcardstore::VCardApplication app(dir.filePath(QStringLiteral("AddressBooks")));
        auto folder = contactsFolder(*app.GetNamespace(QStringLiteral("MAPI")));
        const QString path = QDir(folder->EntryID()).filePath(file);
        QFile::remove(path);
        if (bytes == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (bytes == "zero")
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else
            writeBytes(path, bytes);
        writeBytes(QDir(folder->EntryID()).filePath(QStringLiteral("1.vcf")),
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Good\r\nEND:VCARD\r\n");
        if (!file.endsWith(QLatin1String(".vcf"))) {
            // The folder's own files: an error naming the file, never a wait or an endless read.
            const ErrorInfo error = failureOf([&] {
                folder->Name();
                folder->Items()->Add(outlook::kStandardContactClass);
            });
            QVERIFY2(error.description.contains(file), qPrintable(error.description));
            return;
        }
        // Another program's card that cannot be read is passed over; the folder stays usable.
        auto items = folder->Items();
        QStringList names;
        for (auto c = items->GetFirst(); c; c = items->GetNext())
            names << c->GetProperty(QStringLiteral("FullName")).toString();
        QVERIFY(names.contains(QStringLiteral("Good")));
        items->Add(outlook::kStandardContactClass)->Close(outlook::olSave);
        if (bytes == "zero")
            QCOMPARE(QFileInfo(path).symLinkTarget(), QStringLiteral("/dev/zero"));
        else
            QCOMPARE(readBytes(path), bytes);
    }

    void linesOfOtherProgramsWrittenBack_data()
    {
        QTest::addColumn<QByteArray>("read");
        QTest::addColumn<QByteArray>("written");
        const QByteArray work = "TEL;TYPE=WORK,VOICE:555";
        QTest::newRow("quoted type list") << QByteArray("TEL;TYPE=\"WORK,VOICE\":555") << work;
        QTest::newRow("type given twice") << QByteArray("TEL;type=work;type=voice:555") << work;
        QTest::newRow("bare types") << QByteArray("TEL;WORK;VOICE:555") << work;
        QTest::newRow("type holding a colon")
            << QByteArray("TEL;TYPE=WORK,\"X-A:B\":555") << QByteArray("TEL;TYPE=WORK,\"X-A:B\":555");
        QTest::newRow("value holding a comma") << QByteArray("X-A;X-B=\"c,d\":1") << QByteArray("X-A;X-B=\"c,d\":1");
        QTest::newRow("first e-mail preferred") << QByteArray("EMAIL;TYPE=INTERNET:z@x.org")
                                                << QByteArray("EMAIL;TYPE=INTERNET,PREF;X-MIREL-SLOT=1:z@x.org");
        // A card without a full name is named after its name, company, e-mail or phone, in this order.
        QTest::newRow("full name") << QByteArray("FN:Dr. Ann Lee") << QByteArray("FN:Dr. Ann Lee");
        QTest::newRow("composed name") << QByteArray("N:Lee;Ann;Q;Dr.;Jr\r\nORG:Acme")
                                       << QByteArray("FN;X-MIREL-DERIVED=TRUE:Dr. Ann Q Lee Jr");
        QTest::newRow("company") << QByteArray("ORG:Acme\r\nEMAIL:a@b.c") << QByteArray("FN;X-MIREL-DERIVED=TRUE:Acme");
        QTest::newRow("e-mail") << QByteArray("EMAIL:a@b.c\r\nTEL;TYPE=CELL:1")
                                << QByteArray("FN;X-MIREL-DERIVED=TRUE:a@b.c");
        QTest::newRow("phone names the card")
            << QByteArray("TEL;TYPE=CELL:+1 555") << QByteArray("FN;X-MIREL-DERIVED=TRUE:+1 555");
        QTest::newRow("primary phone first")
            << QByteArray("TEL;TYPE=X-CALLBACK:2\r\nTEL;TYPE=PREF,VOICE:1") << QByteArray("FN;X-MIREL-DERIVED=TRUE:1");
        QTest::newRow("nothing") << QByteArray("TITLE:Buyer") << QByteArray("FN;X-MIREL-DERIVED=TRUE:");
        QTest::newRow("NUL bytes dropped") << QByteArray("NOTE:a\0b", 8) << QByteArray("NOTE:ab");
    }

    void linesOfOtherProgramsWrittenBack()
    {
        QFETCH(QByteArray, read);
        QFETCH(QByteArray, written);
        const auto contents = vcardstore::readCard("BEGIN:VCARD\r\nVERSION:3.0\r\n" + read + "\r\nEND:VCARD\r\n");
        const QByteArray card = vcardstore::cardFromContact(QStringLiteral("u"), contents.data, contents.foreign);
        QVERIFY2(card.contains("\r\n" + written + "\r\n"), card.constData());
        QVERIFY(!card.contains('\0'));
        QCOMPARE(vcardstore::readCard(card).foreign, contents.foreign);
        if (!read.contains('\0'))
            QCOMPARE(vcardstore::readCard(card).data, contents.data);
    }
};

QTEST_APPLESS_MAIN(TestVCardStore)
#include "tst_vcardstore.moc"
