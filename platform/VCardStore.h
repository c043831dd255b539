#pragma once

#include "outlook/ContactStore.h"
#include "platform/CardDavStore.h"

#include <QByteArray>

// The vCard-folder backend of the contact store. A store is a directory; each sub-directory
// is a folder, named by its "displayname" file, holding one vCard 3.0 file per contact
// ("<UID>.vcf"). A folder whose "itemtype" file names another item type, or that holds
// calendar items, is not a contact folder.
namespace vcardstore {

inline const QString kDefaultStoreDir = QStringLiteral("AddressBooks");
inline const QString kDefaultFolderName = QStringLiteral("Contacts");

// Time-ordered unique ids: file names sort in the order contacts were first saved.
QString newContactUid();

// Custom forms live in a folder's metadata ("forms.json"): each message class with its
// user-defined fields. A new item of such a class carries those fields.
void DefineCustomForm(const QString &folderPath, const QString &messageClass,
                      const QList<outlook::UserProperty> &fields);
QList<outlook::UserProperty> CustomFormFields(const QString &folderPath, const QString &messageClass);

class VCardApplication : public outlook::Application {
public:
    // Fails only when something other than a folder stands where the default store belongs.
    // setUp: make the store and its "Contacts" folder when missing (the program's own address
    // book); otherwise the store is only opened. An empty path opens no local store. Servers
    // (http and https addresses given to AddStore or GetFolderFromID) are opened with the login
    // that logins gives for them.
    explicit VCardApplication(const QString &defaultStorePath, bool setUp = true, carddav::LoginSource logins = {});
    // The namespace opens the default store, creating it with one contact folder on first use.
    std::shared_ptr<outlook::Namespace> GetNamespace(const QString &type) override;

private:
    QString m_storePath;
    bool m_setUp = true;
    carddav::LoginSource m_logins;
    std::shared_ptr<outlook::Namespace> m_namespace;
};

} // namespace vcardstore
