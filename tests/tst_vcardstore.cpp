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

namespace {

// An address book of its own and its contact folder.
struct Book {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("AddressBooks"));
    vcardstore::VCardApplication app{path};
    std::shared_ptr<outlook::Namespace> ns = app.GetNamespace(QStringLiteral("MAPI"));
    std::shared_ptr<outlook::Folder> folder = ns->Stores().first()->Folders().first();
};

} // namespace

class TestVCardStore : public QObject {
    Q_OBJECT

private slots:
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
        // A store left without folders gets its contact folder back.
        QVERIFY(QDir(folders[0]->EntryID()).removeRecursively());
        vcardstore::VCardApplication emptied(path);
        const auto remade = emptied.GetNamespace(QStringLiteral("MAPI"))->Stores()[0]->Folders();
        QCOMPARE(remade.size(), 1);
        QCOMPARE(remade[0]->Name(), QStringLiteral("Contacts"));

        // A file in the store's place is left alone and the store is an error.
        const QString blocker = dir.filePath(QStringLiteral("Blocked"));
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
        Book b;
        auto contact = b.folder->Items()->Add(QStringLiteral("IPM.Contact.Sales Lead"));
        contact->SetProperty(QStringLiteral("FirstName"), QStringLiteral("Zoë"));
        contact->SetProperty(QStringLiteral("LastName"), QStringLiteral("O'Brien; Jr"));
        contact->SetProperty(QStringLiteral("CompanyName"), QStringLiteral("Ærø Trading, Ltd"));
        contact->SetProperty(QStringLiteral("Department"), QStringLiteral("Sales"));
        // Two-byte and three-byte characters placed so that naive cuts of the folded note would split them.
        const QString note = QString(40, QChar(0x00E9)) + QString(30, QChar(0x20AC)) + QStringLiteral("\r\nCall back");
        contact->SetProperty(QStringLiteral("Body"), note);
        contact->SetProperty(QStringLiteral("Birthday"), QDateTime(QDate(1980, 2, 29), QTime(0, 0)));
        const QString field = QStringLiteral("Région \"de\" vente; ^1");
        contact->UserProperties().Add(field, outlook::olText, true);
        contact->UserProperties().SetValue(field, QStringLiteral("Nord; Est"));
        contact->Close(outlook::olSave);

        const QStringList files = QDir(b.folder->EntryID()).entryList({QStringLiteral("*.vcf")});
        QCOMPARE(files.size(), 1);
        const QByteArray card = readBytes(QDir(b.folder->EntryID()).filePath(files[0]));
        QVERIFY(card.contains("\r\nFN;X-MIREL-DERIVED=TRUE:Zoë O'Brien\\; Jr\r\n"));
        QVERIFY(card.contains("\r\nN:O'Brien\\; Jr;Zoë;;;\r\n"));
        QVERIFY(card.contains("\r\nORG:Ærø Trading\\, Ltd;Sales\r\n"));
        QVERIFY(card.contains("\r\nUID:" + files[0].chopped(4).toUtf8() + "\r\n"));
        for (const QByteArray &line : card.chopped(1).split('\n')) // 75 octets of whole UTF-8 and the CR
            QVERIFY2(line.endsWith('\r') && line.size() <= 76 && QString::fromUtf8(line).toUtf8() == line, line);
        auto back = b.folder->Items()->GetFirst();
        QVERIFY(back);
        // The properties, the user fields and the form come back as they were.
        QCOMPARE(back->data(), contact->data());
        QVERIFY(!back->GetProperty(QStringLiteral("FullName")).isValid()); // the derived FN is not a full name

        // Saving the read item again rewrites the same file.
        back->SetProperty(QStringLiteral("JobTitle"), QStringLiteral("Buyer"));
        back->Close(outlook::olSave);
        QCOMPARE(QDir(b.folder->EntryID()).entryList({QStringLiteral("*.vcf")}), files);
        auto resaved = b.folder->Items()->GetFirst();
        QCOMPARE(resaved->GetProperty(QStringLiteral("JobTitle")), QVariant(QStringLiteral("Buyer")));
        QCOMPARE(resaved->GetProperty(QStringLiteral("LastName")), QVariant(QStringLiteral("O'Brien; Jr")));

        // Contacts come back in the order they were saved.
        auto items = b.folder->Items();
        for (int i = 1; i < 30; ++i) {
            auto c = items->Add(outlook::kStandardContactClass);
            c->SetProperty(QStringLiteral("LastName"), QStringLiteral("n%1").arg(i));
            c->Close(outlook::olSave);
        }
        QCOMPARE(items->Count(), 30);
        QCOMPARE(items->GetFirst()->MessageClass(), QStringLiteral("IPM.Contact.Sales Lead"));
        for (int i = 1; i < 30; ++i)
            QCOMPARE(items->GetNext()->GetProperty(QStringLiteral("LastName")), QVariant(QStringLiteral("n%1").arg(i)));
        QVERIFY(!items->GetNext());
    }

    void folders()
    {
        Book b;
        auto store = b.ns->Stores().first();
        const mode_t umask = ::umask(0);
        const auto restore = qScopeGuard([umask] { ::umask(umask); });
        vcardstore::VCardApplication other(b.path);
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
        QVERIFY(QFile::link(b.path, folderDir.filePath(QStringLiteral("loop"))));
        QVERIFY(mine->Folders().isEmpty());
        QCOMPARE(store->Folders().size(), 3);

        auto leads = store->AddFolder(QStringLiteral("Leads/2026"), outlook::olContactItem);
        auto found = b.ns->GetFolderFromID(leads->EntryID());
        QCOMPARE(found->Name(), QStringLiteral("Leads/2026"));
        QCOMPARE(found->StoreID(), store->StoreID());

        // A folder holding calendar items is not a contact folder.
        const QString calendar = b.path + QStringLiteral("/cal");
        QDir().mkpath(calendar);
        writeBytes(calendar + QStringLiteral("/event.ics"), "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
        QCOMPARE(b.ns->GetFolderFromID(calendar)->DefaultItemType(), 1);
        QCOMPARE(failureOf([&] { b.ns->GetFolderFromID(b.path + QStringLiteral("/gone")); }).number,
                 qint32(ErrorCode::NotFound));

        // A folder removed after its contact was made: the save fails and nothing is written.
        auto contact = leads->Items()->Add(outlook::kStandardContactClass);
        QDir(leads->EntryID()).removeRecursively();
        QVERIFY_THROWS_EXCEPTION(AppError, contact->Close(outlook::olSave));
        QVERIFY(!QFileInfo::exists(leads->EntryID()));

    }

    // Cards saved in a batch appear, whole, only when it is committed. Two batches into one folder
    // at once keep each other's temporary files; a batch or listing of the folder with no other
    // writer removes those a writer that is gone left, and nothing else.
    void savedInBatches()
    {
        Book b;
        const QDir folder(b.folder->EntryID());
        const auto temporaries = [&] {
            return folder.entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral(".mirel-tmp."));
        };
        const QString left = folder.filePath(QStringLiteral(".mirel-tmp.x.vcf.AbCdEf"));
        const QMap<QString, QByteArray> theirs{{".mine", "hidden"}, {"notes.txt", "no card"}, {".x.vcf.AbCdEf", "?"}};
        for (const auto &[name, bytes] : theirs.asKeyValueRange())
            writeBytes(folder.filePath(name), bytes);
        writeBytes(left, "BEGIN:VCARD\r\nFN:half");
        auto mine = b.folder->StartBatch();
        QVERIFY(!QFileInfo::exists(left));
        const auto add = [&](outlook::SaveBatch &batch, const QString &name) {
            auto contact = b.folder->Items()->Add(outlook::kStandardContactClass);
            contact->SetProperty(QStringLiteral("LastName"), name);
            batch.Save(*contact);
            batch.Save(*contact); // saved again before the commit: one card
        };
        add(*mine, QStringLiteral("Mine"));
        QCOMPARE(temporaries().size(), 1);
        QCOMPARE(b.folder->Items()->Count(), 0);

        auto theirBatch = b.ns->GetFolderFromID(folder.path())->StartBatch();
        b.ns->Stores().first()->Folders(); // a listing while both write
        add(*theirBatch, QStringLiteral("Theirs"));
        QCOMPARE(temporaries().size(), 2);
        theirBatch->Commit();
        mine->Commit();
        QVERIFY(temporaries().isEmpty());
        QCOMPARE(b.folder->Items()->Count(), 2);
        // A commit not waited for is reported by the next one, with what that one makes last.
        add(*mine, QStringLiteral("Later"));
        QCOMPARE(mine->Commit(false), 0);
        add(*mine, QStringLiteral("Last"));
        QCOMPARE(mine->Commit(), 2);

        add(*mine, QStringLiteral("Dropped"));
        mine.reset(); // never committed
        theirBatch.reset();
        writeBytes(left, "BEGIN:VCARD\r\nFN:half");
        b.ns->Stores().first()->Folders();
        QVERIFY(temporaries().isEmpty());
        QStringList names;
        auto items = b.folder->Items();
        for (auto c = items->GetFirst(); c; c = items->GetNext())
            names << c->GetProperty(QStringLiteral("LastName")).toString();
        QCOMPARE(names, (QStringList{"Mine", "Theirs", "Later", "Last"}));
        for (const auto &[name, bytes] : theirs.asKeyValueRange())
            QCOMPARE(readBytes(folder.filePath(name)), bytes);

        // A commit that fails on its own thread is said by the next call: nothing of it lasts.
        Book gone;
        auto doomed = gone.folder->StartBatch();
        doomed->Save(*gone.folder->Items()->Add(outlook::kStandardContactClass));
        QVERIFY(QDir(gone.folder->EntryID()).removeRecursively());
        QCOMPARE(doomed->Commit(false), 0);
        const int lasting = [&] {
            try {
                doomed->Commit();
            } catch (const outlook::BatchError &e) {
                return e.lasting();
            }
            return -1;
        }();
        QCOMPARE(lasting, 0);
    }

    void cardsOfOtherProgramsLoseNothing()
    {
        Book b;
        const QString path = QDir(b.folder->EntryID()).filePath(QStringLiteral("from-phone.VCF"));
        writeBytes(path, "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:phone-42\r\nFN:Ann Lee\r\nN:Lee;Ann;;;\r\n"
                         "TEL;TYPE=CELL:+1 555 0100\r\nEMAIL;TYPE=HOME:ann@home.example\r\n"
                         "PHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgo=\r\nEND:VCARD\r\n");
        auto contact = b.folder->Items()->GetFirst();
        QCOMPARE(contact->GetProperty(QStringLiteral("EmailAddress")), QVariant(QStringLiteral("ann@home.example")));
        contact->SetProperty(QStringLiteral("CompanyName"), QStringLiteral("Acme"));
        contact->Close(outlook::olSave);

        const QByteArray card = readBytes(path);
        QVERIFY(card.contains("\r\nUID:phone-42\r\n"));
        QVERIFY(card.contains("\r\nTEL;TYPE=CELL:+1 555 0100\r\n"));
        QVERIFY(card.contains("\r\nPHOTO;ENCODING=b;TYPE=PNG:iVBORw0KGgo=\r\n"));
        QVERIFY(card.contains("\r\nORG:Acme;\r\n"));

        // A file holding several contacts is read, but never rewritten as one.
        const QString multi = QDir(b.folder->EntryID()).filePath(QStringLiteral("all.vcf"));
        const QByteArray two = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:One\r\nEND:VCARD\r\n"
                               "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Two\r\nEND:VCARD\r\n";
        writeBytes(multi, two);
        auto first = b.folder->Items()->GetFirst(); // "all.vcf" sorts first
        QCOMPARE(first->GetProperty(QStringLiteral("FullName")), QVariant(QStringLiteral("One")));
        QVERIFY_THROWS_EXCEPTION(AppError, first->Close(outlook::olSave));
        QCOMPARE(readBytes(multi), two);
    }

    void unreadableFilesAreLeftAlone_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("bytes"); // "fifo" makes a FIFO, "zero" a link to /dev/zero
        const auto row = [](const char *name, const char *file, const QByteArray &bytes) {
            QTest::newRow(name) << file << bytes;
        };
        row("vCard 2.1 with soft line breaks", "0.vcf",
            "BEGIN:VCARD\r\nVERSION:2.1\r\nNOTE;ENCODING=QUOTED-PRINTABLE:one=\r\ntwo\r\nEND:VCARD\r\n");
        row("empty card", "0.vcf", QByteArray());
        row("card cut short", "0.vcf", "BEGIN:VCARD\r\nFN:half");
        row("line without a colon", "0.vcf", "BEGIN:VCARD\r\nFN x\r\nEND:VCARD\r\n");
        row("line outside a card", "0.vcf", "FN:x\r\n");
        row("hidden card", ".0.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Hidden\r\nEND:VCARD\r\n");
        row("card linked to /dev/zero", "0.vcf", "zero");
        row("displayname as a FIFO", "displayname", "fifo");
        row("forms.json linked to /dev/zero", "forms.json", "zero");
    }

    void unreadableFilesAreLeftAlone()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        Book b;
        const QString path = QDir(b.folder->EntryID()).filePath(file);
        QFile::remove(path);
        if (bytes == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (bytes == "zero")
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else
            writeBytes(path, bytes);
        writeBytes(QDir(b.folder->EntryID()).filePath(QStringLiteral("1.vcf")),
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Good\r\nEND:VCARD\r\n");
        if (!file.endsWith(QLatin1String(".vcf"))) {
            // The folder's own files: an error naming the file, never a wait or an endless read.
            const ErrorInfo error = failureOf([&] {
                b.folder->Name();
                b.folder->Items()->Add(outlook::kStandardContactClass);
            });
            QVERIFY2(error.description.contains(file), qPrintable(error.description));
            return;
        }
        // Another program's card that cannot be read is passed over; the folder stays usable.
        auto items = b.folder->Items();
        QCOMPARE(items->GetFirst()->GetProperty(QStringLiteral("FullName")), QVariant(QStringLiteral("Good")));
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
        const auto row = [](const char *name, const QByteArray &read, const QByteArray &written) {
            QTest::newRow(name) << read << written;
        };
        const QByteArray work = "TEL;TYPE=WORK,VOICE:555", named = "FN;X-MIREL-DERIVED=TRUE:";
        row("quoted type list", "TEL;TYPE=\"WORK,VOICE\":555", work);
        row("type given twice", "TEL;type=work;type=voice:555", work);
        row("bare types", "TEL;WORK;VOICE:555", work);
        row("type holding a colon", "TEL;TYPE=WORK,\"X-A:B\":555", "TEL;TYPE=WORK,\"X-A:B\":555");
        row("value holding a comma", "X-A;X-B=\"c,d\":1", "X-A;X-B=\"c,d\":1");
        row("first e-mail preferred", "EMAIL;TYPE=INTERNET:z@x.org", "EMAIL;TYPE=INTERNET,PREF;X-MIREL-SLOT=1:z@x.org");
        // A card without a full name is named after its name, company, e-mail or phone, in this order.
        row("full name", "FN:Dr. Ann Lee", "FN:Dr. Ann Lee");
        row("composed name", "N:Lee;Ann;Q;Dr.;Jr\r\nORG:Acme", named + "Dr. Ann Q Lee Jr");
        row("company", "ORG:Acme\r\nEMAIL:a@b.c", named + "Acme");
        row("e-mail", "EMAIL:a@b.c\r\nTEL;TYPE=CELL:1", named + "a@b.c");
        row("phone names the card", "TEL;TYPE=CELL:+1 555", named + "+1 555");
        row("primary phone first", "TEL;TYPE=X-CALLBACK:2\r\nTEL;TYPE=PREF,VOICE:1", named + "1");
        row("nothing", "TITLE:Buyer", named);
        row("NUL bytes dropped", QByteArray("NOTE:a\0b", 8), "NOTE:ab");
        row("user field of an earlier version", "X-MIREL-USER-FIELD;X-TYPE=1:Zone\\; 1;Nord\\; Est",
            "X-MIREL-USER-FIELD;X-NAME=\"Zone; 1\";X-TYPE=1;X-KIND=text:Nord\\; Est");
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
