#include "platform/CardDav.h"

#include "core/AppError.h"

#include <QHash>
#include <QUuid>
#include <QXmlStreamReader>

namespace carddav {

namespace {

constexpr qint32 kErrServer = 3151;
const QString kDav = QStringLiteral("DAV:");
const QString kCardDav = QStringLiteral("urn:ietf:params:xml:ns:carddav");
const QByteArray kXmlHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
const QByteArray kNamespaces = " xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\"";

// What a property held: its text, the names of its child elements and the address it names.
struct Property {
    QString text;
    QStringList children; // "namespace:local"
    QString href;
};

QString keyOf(const QXmlStreamReader &x)
{
    return x.namespaceUri().toString() + QLatin1Char(':') + x.name().toString();
}

Property readProperty(QXmlStreamReader &x)
{
    Property p;
    for (int depth = 1; depth > 0 && !x.atEnd();) {
        x.readNext();
        if (x.isStartElement()) {
            if (depth == 1)
                p.children << keyOf(x);
            if (x.name() == QLatin1String("href") && x.namespaceUri() == kDav && p.href.isEmpty()) {
                p.href = x.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
                continue; // readElementText stops on the end element
            }
            ++depth;
        } else if (x.isEndElement()) {
            --depth;
        } else if (x.isCharacters()) {
            p.text += x.text();
        }
    }
    return p;
}

[[noreturn]] void unreadable(const QUrl &server, const QString &why)
{
    throw AppError(kErrServer, QStringLiteral("The answer of the server %1 could not be read: %2")
                                   .arg(server.toString(), why));
}

} // namespace

struct Client::Answer {
    QUrl href;
    QHash<QString, Property> properties; // of the property groups the server answered 200 for
};

QUrl serverOf(const QString &location)
{
    const QUrl url(location, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
        url.host().isEmpty() || !url.userInfo().isEmpty())
        return QUrl();
    QUrl server;
    server.setScheme(url.scheme());
    server.setHost(url.host());
    server.setPort(url.port());
    server.setPath(QStringLiteral("/"));
    return server;
}

Client::Client(const QUrl &server, HttpClient::Options options)
    : m_server(serverOf(server.toString())), m_start(server), m_http(std::move(options))
{
    if (m_server.isEmpty())
        throw AppError(kErrServer,
                       QStringLiteral("'%1' is no server address: give an http or https address without a user "
                                      "name or password in it.")
                           .arg(server.toString(QUrl::RemovePassword)));
}

HttpClient::Response Client::send(const QByteArray &method, const QUrl &url, const HttpClient::Headers &headers,
                                  const QByteArray &body, const QString &what)
{
    HttpClient::Response r = m_http.request(method, url, headers, body);
    if (r.status >= 200 && r.status < 300)
        return r;
    refuse(r, url, what);
}

void Client::refuse(const HttpClient::Response &r, const QUrl &url, const QString &what) const
{
    const QString status = QString::number(r.status) + QLatin1Char(' ') + QString::fromUtf8(r.reason);
    if (r.status == 401)
        throw AppError(kErrServer, QStringLiteral("The server %1 refused the user name or password (%2).")
                                       .arg(m_server.toString(), status));
    if (r.status == 404)
        throw AppError(ErrorCode::NotFound, QStringLiteral("The server %1 has nothing at %2 (%3).")
                                                .arg(m_server.toString(), url.toString(), status));
    if (r.status >= 300 && r.status < 400)
        throw AppError(kErrServer, QStringLiteral("The server %1 sent %2 to another address (%3); it was not "
                                                  "followed.")
                                       .arg(m_server.toString(), url.toString(), status));
    throw AppError(kErrServer,
                   QStringLiteral("The server %1 refused to %2 (%3).").arg(m_server.toString(), what, status));
}

QList<Client::Answer> Client::propfind(const QUrl &url, int depth, const QByteArray &props)
{
    const QByteArray body = kXmlHead + "<d:propfind" + kNamespaces + "><d:prop>" + props + "</d:prop></d:propfind>";
    const HttpClient::Response r =
        send("PROPFIND", url,
             {{"Depth", QByteArray::number(depth)}, {"Content-Type", "application/xml; charset=utf-8"}}, body,
             QStringLiteral("describe %1").arg(url.toString()));
    return multistatus(r.body, url);
}

QList<Client::Answer> Client::multistatus(const QByteArray &body, const QUrl &url) const
{
    QList<Answer> answers;
    QXmlStreamReader x(body);
    while (!x.atEnd()) {
        x.readNext();
        if (x.tokenType() == QXmlStreamReader::DTD || x.tokenType() == QXmlStreamReader::EntityReference)
            unreadable(m_server, QStringLiteral("it declares entities, which are not read"));
        if (!x.isStartElement() || x.name() != QLatin1String("response") || x.namespaceUri() != kDav)
            continue;
        Answer answer;
        QHash<QString, Property> group;
        bool ok = false;
        while (!x.atEnd() && !(x.isEndElement() && x.name() == QLatin1String("response"))) {
            x.readNext();
            if (x.tokenType() == QXmlStreamReader::DTD || x.tokenType() == QXmlStreamReader::EntityReference)
                unreadable(m_server, QStringLiteral("it declares entities, which are not read"));
            if (!x.isStartElement() && !(x.isEndElement() && x.name() == QLatin1String("propstat")))
                continue;
            if (x.isEndElement()) { // a group of properties ends: kept when the server found them
                if (ok)
                    answer.properties.insert(group);
                group.clear();
                ok = false;
            } else if (x.name() == QLatin1String("href") && answer.href.isEmpty()) {
                answer.href = url.resolved(QUrl(x.readElementText().trimmed()));
            } else if (x.name() == QLatin1String("status")) {
                ok = x.readElementText().contains(QLatin1String(" 200 "));
            } else if (x.name() == QLatin1String("prop")) {
                while (!x.atEnd() && !(x.isEndElement() && x.name() == QLatin1String("prop"))) {
                    x.readNext();
                    if (x.isStartElement()) {
                        const QString key = keyOf(x);
                        group.insert(key, readProperty(x));
                    }
                }
            }
        }
        answers << answer;
    }
    if (x.hasError())
        unreadable(m_server, x.errorString());
    return answers;
}

QUrl Client::homeSet()
{
    if (!m_home.isEmpty())
        return m_home;
    const QByteArray principalProp = "<d:current-user-principal/>";
    QString principal;
    for (const Answer &a : propfind(m_start, 0, principalProp))
        principal = a.properties.value(kDav + QStringLiteral(":current-user-principal")).href;
    if (principal.isEmpty()) {
        // The well-known address (RFC 6764), which may send on to the server's own path.
        QUrl wellKnown = m_server.resolved(QUrl(QStringLiteral("/.well-known/carddav")));
        for (int hops = 0; hops < 3 && principal.isEmpty(); ++hops) {
            const HttpClient::Response r =
                m_http.request("PROPFIND", wellKnown, {{"Depth", "0"}},
                               kXmlHead + "<d:propfind" + kNamespaces + "><d:prop>" + principalProp +
                                   "</d:prop></d:propfind>");
            if (r.status < 300 || r.status >= 400 || r.header("location").isEmpty())
                break;
            const QUrl next = wellKnown.resolved(QUrl::fromEncoded(r.header("location")));
            if (serverOf(next.toString()) != m_server)
                throw AppError(kErrServer, QStringLiteral("The server %1 sends its address books to another "
                                                          "server (%2); the user name and password are not sent "
                                                          "there.")
                                               .arg(m_server.toString(), next.toString(QUrl::RemoveUserInfo)));
            for (const Answer &a : propfind(next, 0, principalProp))
                principal = a.properties.value(kDav + QStringLiteral(":current-user-principal")).href;
            wellKnown = next;
        }
    }
    if (principal.isEmpty())
        throw AppError(kErrServer, QStringLiteral("The server %1 names no user for the login given; it may be no "
                                                  "CardDAV server.")
                                       .arg(m_server.toString()));
    const QUrl principalUrl = m_server.resolved(QUrl(principal));
    for (const Answer &a : propfind(principalUrl, 0, "<c:addressbook-home-set/>"))
        m_home = m_server.resolved(QUrl(a.properties.value(kCardDav + QStringLiteral(":addressbook-home-set")).href));
    if (m_home.isEmpty() || serverOf(m_home.toString()) != m_server)
        throw AppError(kErrServer,
                       QStringLiteral("The server %1 names no address book home on itself for this user.")
                           .arg(m_server.toString()));
    return m_home;
}

QList<Collection> Client::addressBooks()
{
    QList<Collection> books;
    for (const Answer &a : propfind(homeSet(), 1, "<d:resourcetype/><d:displayname/>")) {
        Collection c;
        c.url = a.href;
        c.displayName = a.properties.value(kDav + QStringLiteral(":displayname")).text.trimmed();
        c.addressBook =
            a.properties.value(kDav + QStringLiteral(":resourcetype")).children.contains(kCardDav + ":addressbook");
        if (c.addressBook && serverOf(c.url.toString()) == m_server) {
            if (c.displayName.isEmpty()) // named after the last part of its address
                c.displayName = c.url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts).value(-1);
            books << c;
        }
    }
    return books;
}

Collection Client::addressBook(const QUrl &url)
{
    if (serverOf(url.toString()) != m_server)
        throw AppError(ErrorCode::NotFound,
                       QStringLiteral("The address book %1 is not on the server %2.").arg(url.toString(),
                                                                                           m_server.toString()));
    const QList<Answer> answers = propfind(url, 0, "<d:resourcetype/><d:displayname/>");
    if (answers.isEmpty())
        throw AppError(ErrorCode::NotFound, QStringLiteral("The server %1 does not describe %2.")
                                                .arg(m_server.toString(), url.toString()));
    Collection c;
    c.url = url;
    c.displayName = answers[0].properties.value(kDav + QStringLiteral(":displayname")).text.trimmed();
    c.addressBook = answers[0].properties.value(kDav + QStringLiteral(":resourcetype"))
                        .children.contains(kCardDav + QStringLiteral(":addressbook"));
    if (!c.addressBook)
        throw AppError(ErrorCode::NotFound,
                       QStringLiteral("%1 on the server %2 is not an address book.").arg(url.toString(),
                                                                                         m_server.toString()));
    if (c.displayName.isEmpty())
        c.displayName = url.path().split(QLatin1Char('/'), Qt::SkipEmptyParts).value(-1);
    return c;
}

Collection Client::createAddressBook(const QString &displayName)
{
    const QUrl url = homeSet().resolved(QUrl(QUuid::createUuid().toString(QUuid::WithoutBraces) + QLatin1Char('/')));
    const QByteArray body = kXmlHead + "<d:mkcol" + kNamespaces +
                            "><d:set><d:prop><d:resourcetype><d:collection/><c:addressbook/></d:resourcetype>"
                            "<d:displayname>" +
                            displayName.toHtmlEscaped().toUtf8() + "</d:displayname></d:prop></d:set></d:mkcol>";
    send("MKCOL", url, {{"Content-Type", "application/xml; charset=utf-8"}}, body,
         QStringLiteral("make the address book '%1'").arg(displayName));
    return Collection{url, displayName, true};
}

namespace {
QUrl cardUrl(const QUrl &book, const QString &uid)
{
    return book.resolved(QUrl(QString::fromLatin1(QUrl::toPercentEncoding(uid + QStringLiteral(".vcf")))));
}
} // namespace

std::optional<QString> Client::putNewCard(const QUrl &book, const QString &uid, const QByteArray &card)
{
    const QUrl url = cardUrl(book, uid);
    const HttpClient::Response r =
        m_http.request("PUT", url, {{"If-None-Match", "*"}, {"Content-Type", "text/vcard; charset=utf-8"}}, card);
    if (r.status == 412)
        return std::nullopt;
    // Some servers answer a refused card with 207 and the reason inside: only these count as stored.
    if (r.status != 201 && r.status != 204 && r.status != 200)
        refuse(r, url, QStringLiteral("store the contact %1").arg(url.toString()));
    return QString::fromUtf8(r.header("etag"));
}

outlook::RemoveOutcome Client::deleteCard(const QUrl &book, const QString &uid, const QString &etag)
{
    if (etag.isEmpty()) // without the server's word on the version, the card is kept
        return outlook::RemoveOutcome::Changed;
    const QUrl url = cardUrl(book, uid);
    const HttpClient::Response r = m_http.request("DELETE", url, {{"If-Match", etag.toUtf8()}});
    if (r.status == 412)
        return outlook::RemoveOutcome::Changed;
    if (r.status == 404)
        return outlook::RemoveOutcome::Gone;
    if (r.status != 200 && r.status != 204)
        refuse(r, url, QStringLiteral("delete the contact %1").arg(url.toString()));
    return outlook::RemoveOutcome::Removed;
}

QList<StoredCard> Client::cards(const QUrl &book)
{
    const QByteArray body = kXmlHead + "<c:addressbook-query" + kNamespaces +
                            "><d:prop><d:getetag/><c:address-data/></d:prop><c:filter/></c:addressbook-query>";
    const HttpClient::Response r =
        send("REPORT", book, {{"Depth", "1"}, {"Content-Type", "application/xml; charset=utf-8"}}, body,
             QStringLiteral("list the contacts of %1").arg(book.toString()));
    QList<StoredCard> cards;
    for (const Answer &a : multistatus(r.body, book)) {
        const QString data = a.properties.value(kCardDav + QStringLiteral(":address-data")).text;
        if (data.trimmed().isEmpty()) // the collection itself answers with no card
            continue;
        cards << StoredCard{a.href, a.properties.value(kDav + QStringLiteral(":getetag")).text.trimmed(),
                            data.toUtf8()};
    }
    return cards;
}

QString Client::replaceCard(const StoredCard &stored, const QByteArray &card)
{
    const HttpClient::Response r = m_http.request(
        "PUT", stored.url, {{"If-Match", stored.etag.toUtf8()}, {"Content-Type", "text/vcard; charset=utf-8"}}, card);
    if (r.status == 412)
        throw AppError(kErrServer, QStringLiteral("The contact %1 was changed on the server %2 since it was read; it "
                                                  "is left as it is.")
                                       .arg(stored.url.toString(), m_server.toString()));
    if (r.status != 200 && r.status != 201 && r.status != 204)
        refuse(r, stored.url, QStringLiteral("store the contact %1").arg(stored.url.toString()));
    return QString::fromUtf8(r.header("etag"));
}

} // namespace carddav
