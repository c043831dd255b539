#pragma once

#include "outlook/ContactStore.h"
#include "platform/HttpClient.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// The CardDAV protocol (RFC 6352 over WebDAV) as the contact store needs it: finding the user's
// address books, making one, storing a card without ever overwriting one, and reading the cards
// back. Every refusal of the server raises AppError with the server's status and reason.
namespace carddav {

// A card as the server holds it: its address, its version (ETag) and its text.
struct StoredCard {
    QUrl url;
    QString etag;
    QByteArray data;
};

struct Collection {
    QUrl url;
    QString displayName;
    bool addressBook = false;
};

class Client {
public:
    Client(const QUrl &server, HttpClient::Options options);

    // The server's own address: scheme, host and port.
    const QUrl &server() const { return m_server; }

    // The user's address books: the principal (from the address given, or the well-known
    // address), its address book home, and the address book collections in there.
    QList<Collection> addressBooks();
    // One collection by its address; raises AppError when it is missing or no address book.
    Collection addressBook(const QUrl &url);
    // Makes an address book in the home (extended MKCOL) with this display name.
    Collection createAddressBook(const QString &displayName);
    // Stores a new card as <uid>.vcf and gives the server's ETag for it (empty when it sent
    // none); none when a card of that name is there already (nothing is overwritten).
    std::optional<QString> putNewCard(const QUrl &book, const QString &uid, const QByteArray &card);
    // Deletes the card <uid>.vcf when its ETag is still this one.
    outlook::RemoveOutcome deleteCard(const QUrl &book, const QString &uid, const QString &etag);
    // Every card of the address book, as the server holds it.
    QList<StoredCard> cards(const QUrl &book);
    // Writes a card the server holds over its text while it is still the version read; gives the
    // new ETag. A card changed meanwhile is left as it is and raises AppError.
    QString replaceCard(const StoredCard &stored, const QByteArray &card);

private:
    struct Answer;
    QList<Answer> propfind(const QUrl &url, int depth, const QByteArray &props);
    QList<Answer> multistatus(const QByteArray &body, const QUrl &url) const;
    HttpClient::Response send(const QByteArray &method, const QUrl &url, const HttpClient::Headers &headers,
                              const QByteArray &body, const QString &what);
    // Raises the error of a request the server did not carry out, with its status and reason.
    [[noreturn]] void refuse(const HttpClient::Response &r, const QUrl &url, const QString &what) const;
    QUrl homeSet();

    QUrl m_server;
    QUrl m_start;
    HttpClient m_http;
    QUrl m_home;
};

// The server part of a location ("https://host:port/"), or an empty URL for one that is no
// http or https address or that holds a user name or password.
QUrl serverOf(const QString &location);

} // namespace carddav
