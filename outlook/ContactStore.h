#pragma once

#include "core/AppError.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <memory>

// The operations the program needs from an address book: an application with its "MAPI"
// namespace, stores and folders, a folder's items, and contacts with properties and
// user-defined fields. Backends live in platform/; nothing here assumes items are local files.
// Every failing call throws AppError.
namespace outlook {

constexpr int olMailItem = 0;
constexpr int olContactItem = 2;
constexpr int olSave = 0;
constexpr int olDiscard = 1;

inline const QString kStandardContactClass = QStringLiteral("IPM.Contact");

// Type codes of user-defined fields.
enum UserPropertyType : int {
    olText = 1,
    olNumber = 3,
    olDateTime = 5,
    olYesNo = 6,
    olDuration = 7,
    olKeywords = 11,
    olPercent = 12,
    olCurrency = 14,
    olFormula = 18,
    olCombination = 19,
};

struct UserProperty {
    QString name;
    int type = olText;
    QVariant value;
    bool operator==(const UserProperty &) const = default;
};

// A contact's user-defined fields, in the order they were added.
class UserProperties {
public:
    int Count() const { return int(m_items.size()); }
    const UserProperty &Item(int index) const { return m_items.at(index); } // 0-based
    const UserProperty *Find(const QString &name) const;
    // Adds a field; one of that name that exists already is kept as it is.
    void Add(const QString &name, int type, bool addToFolderFields = true);
    // Assigns an existing field; a missing one fails.
    void SetValue(const QString &name, const QVariant &value);
    const QList<UserProperty> &items() const { return m_items; }
    bool operator==(const UserProperties &) const = default;

private:
    QList<UserProperty> m_items;
};

// What a contact holds: its message class, its properties by name (in the order first written)
// and its user-defined fields.
struct ContactData {
    QString messageClass = kStandardContactClass;
    QList<std::pair<QString, QVariant>> properties;
    UserProperties userProperties;
    // The import run that made the contact and its row in the source; no part of its values.
    QString importRun;
    int sourceRow = 0;

    QVariant property(const QString &name) const;
    void setProperty(const QString &name, const QVariant &value);
    // Equal when they hold the same values, whatever the order the properties were written in.
    bool operator==(const ContactData &other) const;
};

class ContactItem {
public:
    virtual ~ContactItem() = default;

    QString MessageClass() const { return m_data.messageClass; }
    // Writes a property by name; a value the property cannot hold fails.
    void SetProperty(const QString &name, const QVariant &value);
    QVariant GetProperty(const QString &name) const { return m_data.property(name); }
    outlook::UserProperties &UserProperties() { return m_data.userProperties; }
    const ContactData &data() const { return m_data; }
    // Marks the contact as made by an import run from this source row.
    void setImportRun(const QString &run, int sourceRow)
    {
        m_data.importRun = run;
        m_data.sourceRow = sourceRow;
    }
    // The UID the contact was last saved under, and what tells later whether it is still as
    // saved (a checksum of the card, or the server's ETag); empty before it is saved.
    QString savedUid() const { return m_savedUid; }
    QString savedStamp() const { return m_savedStamp; }

    // olSave stores the contact in its folder; olDiscard drops the changes.
    virtual void Close(int saveMode) = 0;

protected:
    ContactData m_data;
    QString m_savedUid;
    QString m_savedStamp;
};

class Items {
public:
    virtual ~Items() = default;
    virtual int Count() = 0;
    // The items in the order they were saved; nullptr past the last one.
    virtual std::shared_ptr<ContactItem> GetFirst() = 0;
    virtual std::shared_ptr<ContactItem> GetNext() = 0;
    // A new unsaved contact of the given message class.
    virtual std::shared_ptr<ContactItem> Add(const QString &messageClass) = 0;
};

// Contacts saved together, to last together. This one, for a backend whose every save lasts at
// once (a server confirms each card), saves at once and has nothing to commit.
class SaveBatch {
public:
    virtual ~SaveBatch() = default;
    // Saves the contact as Close(olSave) does, to last once a commit of the batch does.
    virtual void Save(ContactItem &contact) { contact.Close(olSave); }
    // How many contacts saved into the batch wait for a commit to begin; none for a backend
    // whose saves last at once.
    virtual int Pending() const { return 0; }
    // Makes the contacts saved so far last: when wait, they all last once it returns; otherwise
    // the work may go on after it returns, and a later call reports them. Returns how many of the
    // contacts saved, the first saved first, have come to last since the last report. A failure
    // drops every contact not yet reported that could not be made to last and throws BatchError,
    // which says how many of them, the first ones, last.
    virtual int Commit(bool wait = true)
    {
        Q_UNUSED(wait);
        return 0;
    }
    // What Commit reports, without waiting and without beginning anything.
    virtual int Settled() { return 0; }
    // Drops the contacts saved since the last commit began: none of them is left behind.
    virtual void Discard() {}
};

// A batch that could not be made to last: of its contacts, in the order they were saved, the
// first `lasting` last; the others were dropped.
class BatchError : public AppError {
public:
    BatchError(const AppError &error, int lasting) : AppError(error.info()), m_lasting(lasting) {}
    int lasting() const { return m_lasting; }

private:
    int m_lasting;
};

// What became of a contact that was to be removed.
enum class RemoveOutcome {
    Removed,
    Changed, // changed since it was saved: kept
    Gone,    // no longer there
};

class Folder {
public:
    virtual ~Folder() = default;
    virtual QString EntryID() const = 0;
    virtual QString StoreID() const = 0;
    virtual QString Name() const = 0;
    virtual int DefaultItemType() const = 0;
    virtual std::shared_ptr<outlook::Items> Items() = 0;
    virtual QList<std::shared_ptr<Folder>> Folders() = 0;
    virtual std::shared_ptr<Folder> AddFolder(const QString &name) = 0;
    // Removes the contact saved under uid when it is still as it was saved (stamp: its
    // savedStamp then); a changed contact is kept.
    virtual RemoveOutcome RemoveIfUnchanged(const QString &uid, const QString &stamp);
    // Makes the removals so far last (a folder on disk syncs its entries once for all of them).
    virtual void SyncRemovals() {}
    // A batch for saving many of the folder's contacts; see SaveBatch.
    virtual std::shared_ptr<SaveBatch> StartBatch() { return std::make_shared<SaveBatch>(); }
};

class Store {
public:
    virtual ~Store() = default;
    virtual QString StoreID() const = 0;
    virtual QString DisplayName() const = 0;
    virtual QList<std::shared_ptr<Folder>> Folders() = 0;
    virtual std::shared_ptr<Folder> AddFolder(const QString &name, int itemType = olContactItem) = 0;
    // The folder of that name, made when there is none. Unlike AddFolder it never makes a second
    // one: a folder of that name that another program made meanwhile is the one returned.
    virtual std::shared_ptr<Folder> OpenFolder(const QString &name, int itemType = olContactItem) = 0;
};

class Namespace {
public:
    virtual ~Namespace() = default;
    // The open stores, the default store first.
    virtual QList<std::shared_ptr<Store>> Stores() = 0;
    virtual std::shared_ptr<Folder> GetFolderFromID(const QString &entryId) = 0;
    // Opens another location as a store for the rest of the run.
    virtual std::shared_ptr<Store> AddStore(const QString &location) = 0;
};

class Application {
public:
    virtual ~Application() = default;
    // Only "MAPI" is known.
    virtual std::shared_ptr<outlook::Namespace> GetNamespace(const QString &type) = 0;
};

} // namespace outlook
