#include "DavServer.h"
#include "ImportFixtures.h"
#include "core/ServerLogins.h"
#include "import/UndoRun.h"
#include "platform/CardDav.h"
#include "platform/ContactCard.h"
#include "store/ImportJournal.h"

#include <QFileInfo>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

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

// One import of kSource into the folder the picker is given: a name, or an address book's address.
struct Run : ImportBench {
    explicit Run(const ServerLogin &serverLogin) : login(serverLogin)
    {
        services.logins = &login;
        makeTemplate(QStringLiteral("People"), QStringLiteral("CSH"), kTemplate);
    }
    bool import(const QString &folder, const QByteArray &source = kSource,
                DuplicatePolicy policy = DuplicatePolicy::Create)
    {
        state.templateName = QStringLiteral("People");
        if (!verify(writeSource(QStringLiteral("people.csv"), source)))
            return false;
        state.duplicatePolicy = policy;
        return create(folder);
    }
    // The contacts the server holds.
    QList<outlook::ContactData> onServer(const DavServer &server)
    {
        carddav::Client client(server.url(), {QStringLiteral("ann"), QStringLiteral("s3cret"), server.caFile()});
        QList<outlook::ContactData> contacts;
        for (const carddav::StoredCard &card : client.cards(server.addressBookUrl()))
            contacts << vcardstore::readCard(card.data).data;
        return contacts;
    }
    FixedServerLogin login;
};

// A server that is no CardDAV server: it answers every request with the same bytes (none: it
// never answers), from a thread of its own, as the client holds the test's thread while it waits.
class CannedServer : public QThread {
public:
    explicit CannedServer(QByteArray answer) : m_answer(std::move(answer))
    {
        start();
        m_ready.acquire();
    }
    ~CannedServer() override
    {
        requestInterruption();
        wait();
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port)); }

private:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        m_port = server.serverPort();
        m_ready.release();
        while (!isInterruptionRequested()) {
            if (!server.waitForNewConnection(50))
                continue;
            std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
            while (socket->waitForReadyRead(50) || (m_answer.isEmpty() && !isInterruptionRequested() &&
                                                    socket->state() == QAbstractSocket::ConnectedState))
                socket->readAll(); // the request; with no answer to give, whatever comes until the end
            socket->write(m_answer);
            socket->waitForBytesWritten(1000);
        }
    }
    QByteArray m_answer;
    QSemaphore m_ready;
    quint16 m_port = 0;
};

QByteArray answer(const QByteArray &statusLine, const QByteArray &body, const QByteArray &headers = {})
{
    return "HTTP/1.1 " + statusLine +
           "\r\nContent-Type: application/xml\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" +
           headers + "\r\n" + body;
}

QList<outlook::ContactData> byLastName(QList<outlook::ContactData> contacts)
{
    std::sort(contacts.begin(), contacts.end(), [](const auto &a, const auto &b) {
        return a.property(QStringLiteral("LastName")).toString() < b.property(QStringLiteral("LastName")).toString();
    });
    return contacts;
}

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
        QCOMPARE(byLastName(run.onServer(server)), byLastName(local.contactsIn(QStringLiteral("Contacts"))));
        // The same file again, skipping those the server holds: nothing is created.
        const QString first = ImportRuns(run.state.connection).value(0).id;
        QVERIFY(run.import(book, kSource, DuplicatePolicy::Skip));
        QCOMPARE(run.state.duplicatesSkipped + 10 * run.state.counters[ImportCounter::TotalImported], 3);
        // Another program edits one card; the undo, by the ETags the server gave, keeps it.
        carddav::Client client(server.url(), {QStringLiteral("ann"), QStringLiteral("s3cret"), server.caFile()});
        carddav::StoredCard edited = client.cards(server.addressBookUrl()).value(0);
        client.replaceCard(edited, edited.data.replace("END:VCARD", "NOTE:called\r\nEND:VCARD"));
        UndoCounts counts;
        QVERIFY(UndoImportRun(run.state, run.services, first, counts));
        QCOMPARE((QList<int>{counts.removed, counts.changed}), (QList<int>{2, 1}));
        QCOMPARE(run.onServer(server).size(), 1);
        const carddav::StoredCard left = client.cards(server.addressBookUrl()).value(0);
        client.deleteCard(server.addressBookUrl(), QFileInfo(left.url.path()).completeBaseName(), left.etag);
        // Imported again, then updated from a file with a changed name: the server's card
        // changes, by the version it read, and no card is added.
        QVERIFY(run.import(book));
        QVERIFY(run.import(book, QByteArray(kSource).replace("Bob,Lee", "Bob,Li"), DuplicatePolicy::Update));
        QCOMPARE(run.state.duplicatesUpdated, 3);
        const QList<outlook::ContactData> updated = byLastName(run.onServer(server));
        QCOMPARE(updated.size(), 3);
        QCOMPARE(updated[0].property(QStringLiteral("LastName")), QVariant(QStringLiteral("Li")));
    }

    // Each refusal is said with the server's words and stops the run; what the server confirmed
    // stays and is counted, nothing else is.
    void serverFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("imported");
        QTest::newRow("wrong password") << "password"
                                        << "refused the user name or password (401" << 0;
        QTest::newRow("no such address book") << "book"
                                              << "has nothing at" << 0;
        QTest::newRow("not an address book") << "principal"
                                             << "is not an address book" << 0;
        QTest::newRow("password in the address") << "userinfo"
                                                 << "without a user name or password" << 0;
        QTest::newRow("server gone in the middle") << "stop"
                                                   << "could not be reached" << 2;
    }

    void serverFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QFETCH(int, imported);
        DavServer server({});
        if (!server.running())
            QSKIP(qPrintable(server.why()));
        Run run(
            loginOf(server, fault == QLatin1String("password") ? QStringLiteral("wrong") : QStringLiteral("s3cret")));
        QUrl book = server.addressBookUrl();
        if (fault == QLatin1String("book"))
            book = book.resolved(QUrl(QStringLiteral("../elsewhere/")));
        if (fault == QLatin1String("principal"))
            book = book.resolved(QUrl(QStringLiteral("../")));
        if (fault == QLatin1String("userinfo"))
            book.setUserInfo(QStringLiteral("ann:s3cret"));
        // The server stops after the second of three contacts.
        if (fault == QLatin1String("stop"))
            run.progress.onCounter = [&](ImportCounter counter, int value) {
                if (counter == ImportCounter::TotalImported && value == 2)
                    server.stop();
            };
        QVERIFY(!run.import(book.toString()));
        QVERIFY2(run.boxes.texts().join(' ').contains(message), qPrintable(run.boxes.texts().join(' ')));
        QCOMPARE(run.state.counters[ImportCounter::TotalImported], imported);
    }

    // What no CardDAV server a user runs would send: a clear refusal each time, never a hang,
    // an expansion of entities or a login sent elsewhere.
    void answersRefused_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        const QByteArray multistatus = "<d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>/</d:href><d:propstat>"
                                       "<d:prop><d:current-user-principal><d:href>&x;</d:href>"
                                       "</d:current-user-principal></d:prop><d:status>HTTP/1.1 200 OK</d:status>"
                                       "</d:propstat></d:response></d:multistatus>";
        QTest::newRow("entities") << answer("207 Multi-Status", "<!DOCTYPE d [<!ENTITY x \"/a/\">]>" + multistatus)
                                  << "declares entities";
        QTest::newRow("sent elsewhere") << answer("301 Moved", {}, "Location: http://203.0.113.9/dav/\r\n")
                                        << "it was not followed";
        QTest::newRow("no answer") << QByteArray() << "timed out";
        QTest::newRow("answer too large")
            << answer("207 Multi-Status", QByteArray(8192, ' ') + "<x/>") << "sent an answer larger than";
        QTest::newRow("no CardDAV server")
            << answer("207 Multi-Status", "<d:multistatus xmlns:d=\"DAV:\"/>") << "names no user";
        QTest::newRow("card refused") << answer("507 Insufficient Storage", {}) << "(507 Insufficient Storage)";
    }

    void answersRefused()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        const CannedServer server(reply);
        HttpClient::Options options{QStringLiteral("ann"), QStringLiteral("s3cret"), QString(), 1, 4096};
        carddav::Client client(server.url(), options);
        const ErrorInfo error = failureOf([&] {
            if (message.contains(QLatin1String("507")))
                client.putNewCard(server.url(), QStringLiteral("u"), "BEGIN:VCARD\r\nEND:VCARD\r\n");
            else
                client.addressBooks();
        });
        QVERIFY2(error.description.contains(message), qPrintable(error.description));
    }
};

QTEST_GUILESS_MAIN(TestCardDav)
#include "tst_carddav.moc"
