#include "platform/CardDavStore.h"

#include "core/AppError.h"
#include "platform/CardDav.h"
#include "platform/ContactCard.h"
#include "platform/VCardStore.h"

namespace carddav {

namespace {

class ServerFolder;

// A contact for an address book on the server. Saving stores a new card under a new UID; a
// name the server holds already gets another UID, so nothing there is overwritten.
class ServerContact : public outlook::ContactItem {
public:
    ServerContact(std::shared_ptr<Client> client, QUrl book, const QString &messageClass)
        : m_client(std::move(client)), m_book(std::move(book))
    {
        m_data.messageClass = messageClass;
    }
    // A contact the server holds: saving it writes over its card while the card is as it was read.
    ServerContact(std::shared_ptr<Client> client, QUrl book, StoredCard stored)
        : ServerContact(std::move(client), std::move(book), QString())
    {
        vcardstore::CardContents contents = vcardstore::readCard(stored.data);
        m_data = std::move(contents.data);
        m_uid = contents.uid;
        m_foreign = std::move(contents.foreign);
        m_stored = std::move(stored);
    }

    void Close(int saveMode) override
    {
        if (saveMode != outlook::olSave)
            return;
        if (m_stored) {
            m_stored->etag = m_client->replaceCard(*m_stored, vcardstore::cardFromContact(m_uid, m_data, m_foreign));
            m_savedUid = m_uid;
            m_savedStamp = m_stored->etag;
            return;
        }
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_uid = vcardstore::newContactUid();
            if (const auto etag = m_client->putNewCard(m_book, m_uid, vcardstore::cardFromContact(m_uid, m_data))) {
                m_stored = StoredCard{m_book.resolved(QUrl(m_uid + QStringLiteral(".vcf"))), *etag, {}};
                m_savedUid = m_uid;
                m_savedStamp = *etag;
                return;
            }
        }
        throw AppError(ErrorCode::Internal, QStringLiteral("The server %1 holds a card under every new name given.")
                                                .arg(m_client->server().toString()));
    }

private:
    std::shared_ptr<Client> m_client;
    QUrl m_book;
    QString m_uid;
    QList<vcard::Property> m_foreign;
    std::optional<StoredCard> m_stored;
};

class ServerItems : public outlook::Items {
public:
    ServerItems(std::shared_ptr<Client> client, QUrl book) : m_client(std::move(client)), m_book(std::move(book)) {}

    int Count() override { return int(m_client->cards(m_book).size()); }
    std::shared_ptr<outlook::ContactItem> GetFirst() override
    {
        m_cards = m_client->cards(m_book);
        m_next = 0;
        return GetNext();
    }
    std::shared_ptr<outlook::ContactItem> GetNext() override
    {
        if (m_next >= m_cards.size())
            return nullptr;
        return std::make_shared<ServerContact>(m_client, m_book, m_cards[m_next++]);
    }
    std::shared_ptr<outlook::ContactItem> Add(const QString &messageClass) override
    {
        return std::make_shared<ServerContact>(m_client, m_book, messageClass);
    }

private:
    std::shared_ptr<Client> m_client;
    QUrl m_book;
    QList<StoredCard> m_cards;
    qsizetype m_next = 0;
};

// An address book: its address is its EntryID, the server's its StoreID.
class ServerFolder : public outlook::Folder {
public:
    ServerFolder(std::shared_ptr<Client> client, Collection book)
        : m_client(std::move(client)), m_book(std::move(book))
    {}
    QString EntryID() const override { return m_book.url.toString(); }
    QString StoreID() const override { return m_client->server().toString(); }
    QString Name() const override { return m_book.displayName; }
    int DefaultItemType() const override { return outlook::olContactItem; }
    std::shared_ptr<outlook::Items> Items() override { return std::make_shared<ServerItems>(m_client, m_book.url); }
    QList<std::shared_ptr<outlook::Folder>> Folders() override { return {}; }
    std::shared_ptr<outlook::Folder> AddFolder(const QString &) override
    {
        throw AppError(ErrorCode::Internal, QStringLiteral("An address book on a server holds no folders."));
    }
    outlook::RemoveOutcome RemoveIfUnchanged(const QString &uid, const QString &stamp) override
    {
        return m_client->deleteCard(m_book.url, uid, stamp);
    }

private:
    std::shared_ptr<Client> m_client;
    Collection m_book;
};

class ServerStore : public outlook::Store {
public:
    explicit ServerStore(std::shared_ptr<Client> client) : m_client(std::move(client)) {}
    QString StoreID() const override { return m_client->server().toString(); }
    QString DisplayName() const override { return m_client->server().toString(QUrl::StripTrailingSlash); }
    QList<std::shared_ptr<outlook::Folder>> Folders() override
    {
        QList<std::shared_ptr<outlook::Folder>> folders;
        for (const Collection &book : m_client->addressBooks())
            folders << std::make_shared<ServerFolder>(m_client, book);
        return folders;
    }
    std::shared_ptr<outlook::Folder> AddFolder(const QString &name, int itemType) override
    {
        if (itemType != outlook::olContactItem)
            throw AppError(ErrorCode::Internal, QStringLiteral("A server holds address books only."));
        return std::make_shared<ServerFolder>(m_client, m_client->createAddressBook(name));
    }
    std::shared_ptr<outlook::Folder> OpenFolder(const QString &name, int itemType) override
    {
        for (const auto &folder : Folders())
            if (folder->Name() == name)
                return folder;
        return AddFolder(name, itemType);
    }
    std::shared_ptr<outlook::Folder> folder(const QUrl &url)
    {
        return std::make_shared<ServerFolder>(m_client, m_client->addressBook(url));
    }

private:
    std::shared_ptr<Client> m_client;
};

} // namespace

bool isServerLocation(const QString &location)
{
    return location.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           location.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

std::shared_ptr<outlook::Store> OpenServerStore(const QUrl &address, const Login &login)
{
    HttpClient::Options options;
    options.user = login.user;
    options.password = login.password;
    options.caFile = login.caFile;
    auto store = std::make_shared<ServerStore>(std::make_shared<Client>(address, options));
    store->Folders(); // finds the address books now: a wrong login or address fails here
    return store;
}

std::shared_ptr<outlook::Folder> OpenServerFolder(outlook::Store &store, const QUrl &addressBook)
{
    auto *server = dynamic_cast<ServerStore *>(&store);
    if (!server)
        throw AppError(ErrorCode::NotFound,
                       QStringLiteral("%1 is not an address book on a server.").arg(addressBook.toString()));
    return server->folder(addressBook);
}

} // namespace carddav
