#include "DavServer.h"
#include "ImportFixtures.h"
#include "core/ServerLogins.h"
#include "platform/CardDav.h"
#include "platform/ContactCard.h"
#include "source/MappingGrid.h"

#include <QTest>

namespace {

const MappingRows kTemplate{{1, "First", "First Name", "FirstName"},
                            {2, "Last", "Last Name", "LastName"},
                            {3, "Mail", "Primary Email Address", "EmailAddress"},
                            {4, "Born", "Birth Date", "Birthday"},
                            {5, "Region", "USERDEFINED", "UDRegion"}};
const QByteArray kSource = "First,Last,Mail,Born,Region\r\n"
                           "Zoë,Ærø,zoe@example.org,1980-02-29,Nord; Est\r\n"
                           "Ann,\"O'Brien, Jr\",,,\r\n"
                           ",,,,\r\n"
                           "Bob,Lee,bob@example.org,1999-12-31,Süd\r\n";

// Stops the server once this many contacts are imported.
class StoppingProgress : public RecordingProgress {
public:
    void showCounter(ImportCounter counter, int value) override
    {
        RecordingProgress::showCounter(counter, value);
        if (server && counter == ImportCounter::TotalImported && value == stopAfter)
            server->stop();
    }
    DavServer *server = nullptr;
    int stopAfter = 0;
};

// One import of kSource into the folder the picker is given: a name, or an address book's address.
struct Run : ImportBench {
    explicit Run(const ServerLogin &serverLogin) : login(serverLogin)
    {
        services.logins = &login;
        makeTemplate(QStringLiteral("People"), QStringLiteral("CSH"), kTemplate);
    }
    bool import(const QString &folder)
    {
        files.answers = {writeSource(QStringLiteral("people.csv"), kSource)};
        folders.answers = {folder};
        state.templateName = QStringLiteral("People");
        return VerifyInputFile(state, services, grid, QStringLiteral("Main")) && PrepareImportRun(state, services) &&
               CreateContacts(state, services, grid, progress);
    }
    // The contacts the server holds, sorted by last name.
    QList<outlook::ContactData> onServer(const DavServer &server)
    {
        carddav::Client client(server.url(), {login.loginFor({})->user, login.loginFor({})->password,
                                              login.loginFor({})->caFile});
        QList<outlook::ContactData> contacts;
        for (const QByteArray &card : client.cards(server.addressBookUrl()))
            contacts << vcardstore::readCard(card).data;
        std::sort(contacts.begin(), contacts.end(), [](const auto &a, const auto &b) {
            return a.property(QStringLiteral("LastName")).toString() < b.property(QStringLiteral("LastName")).toString();
        });
        return contacts;
    }
    FixedServerLogin login;
    MemoryMappingGrid grid;
    StoppingProgress progress;
};

ServerLogin loginOf(const DavServer &server, const QString &password = QStringLiteral("s3cret"))
{
    return {QStringLiteral("ann"), password, server.caFile()};
}

} // namespace

class TestCardDav : public QObject {
    Q_OBJECT

private slots:
    // The same file into a server and into a vCard folder gives the same contacts.
    void importIntoAServer_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("tls");
        QTest::newRow("Radicale") << int(DavServer::Kind::Radicale) << false;
        QTest::newRow("Xandikos") << int(DavServer::Kind::Xandikos) << false;
        QTest::newRow("Radicale over TLS") << int(DavServer::Kind::Radicale) << true;
    }

    void importIntoAServer()
    {
        QFETCH(int, kind);
        QFETCH(bool, tls);
        DavServer server({DavServer::Kind(kind), QStringLiteral("ann"), QStringLiteral("s3cret"), tls});
        if (!server.running())
            QSKIP(qPrintable(server.why()));
        const QString book = server.addressBookUrl().toString();
        if (tls) { // a certificate of a CA the system does not know is refused, never accepted silently
            Run refused({QStringLiteral("ann"), QStringLiteral("s3cret"), QString()});
            QVERIFY(!refused.import(book));
            QVERIFY2(refused.boxes.texts().join(' ').contains(QLatin1String("certificate was refused")),
                     qPrintable(refused.boxes.texts().join(' ')));
        }
        Run run(loginOf(server));
        QVERIFY(run.import(book));
        QCOMPARE(run.state.counters.values, (std::array<int, kImportCounterCount>{3, 1, 0, 3, 1, 3, 3}));
        Run local(loginOf(server));
        QVERIFY(local.import(QStringLiteral("Contacts")));
        QList<outlook::ContactData> here = local.contactsIn(QStringLiteral("Contacts"));
        std::sort(here.begin(), here.end(), [](const auto &a, const auto &b) {
            return a.property(QStringLiteral("LastName")).toString() < b.property(QStringLiteral("LastName")).toString();
        });
        QCOMPARE(run.onServer(server), here);
    }

    // Each refusal is said with the server's words and stops the run; what the server confirmed
    // stays and is counted, nothing else is.
    void serverFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("imported");
        QTest::newRow("wrong password") << "password" << "refused the user name or password (401" << 0;
        QTest::newRow("no such address book") << "book" << "has nothing at" << 0;
        QTest::newRow("not an address book") << "principal" << "is not an address book" << 0;
        QTest::newRow("password in the address") << "userinfo" << "without a user name or password" << 0;
        QTest::newRow("server gone in the middle") << "stop" << "could not be reached" << 2;
    }

    void serverFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QFETCH(int, imported);
        DavServer server({});
        if (!server.running())
            QSKIP(qPrintable(server.why()));
        Run run(loginOf(server, fault == QLatin1String("password") ? QStringLiteral("wrong") : QStringLiteral("s3cret")));
        QUrl book = server.addressBookUrl();
        if (fault == QLatin1String("book"))
            book = book.resolved(QUrl(QStringLiteral("../elsewhere/")));
        if (fault == QLatin1String("principal"))
            book = book.resolved(QUrl(QStringLiteral("../")));
        if (fault == QLatin1String("userinfo"))
            book.setUserInfo(QStringLiteral("ann:s3cret"));
        // The server stops after the second of three contacts.
        run.progress.server = fault == QLatin1String("stop") ? &server : nullptr;
        run.progress.stopAfter = 2;
        QVERIFY(!run.import(book.toString()));
        QVERIFY2(run.boxes.texts().join(' ').contains(message), qPrintable(run.boxes.texts().join(' ')));
        QCOMPARE(run.state.counters[ImportCounter::TotalImported], imported);
    }
};

QTEST_GUILESS_MAIN(TestCardDav)
#include "tst_carddav.moc"
