#pragma once

#include "outlook/ContactStore.h"
#include "platform/VCard.h"

#include <QByteArray>

// The vCard-folder backend of the contact store. A store is a directory; each sub-directory
// is a folder, named by its "displayname" file, holding one vCard 3.0 file per contact
// ("<UID>.vcf"). A folder whose "itemtype" file names another item type, or that holds
// calendar items, is not a contact folder.
namespace vcardstore {

inline const QString kDefaultStoreDir = QStringLiteral("AddressBooks");
inline const QString kDefaultFolderName = QStringLiteral("Contacts");

// Contact <-> vCard text. A card read back gives the same properties, user fields and
// message class as were written; line breaks in values come back as CR LF.
QByteArray cardFromContact(const QString &uid, const outlook::ContactData &contact,
                           const QList<vcard::Property> &foreign = {});
outlook::ContactData contactFromCard(const QByteArray &text);

// The first card of a file, with what this program does not map kept aside so that saving
// the contact again loses nothing.
struct CardContents {
    outlook::ContactData data;
    QString uid;
    QList<vcard::Property> foreign;
    int cardCount = 1;
};
CardContents readCard(const QByteArray &text);

// Time-ordered unique ids: file names sort in the order contacts were first saved.
QString newContactUid();

class VCardApplication : public outlook::Application {
public:
    // Fails only when something other than a folder stands where the default store belongs.
    explicit VCardApplication(const QString &defaultStorePath);
    // The namespace opens the default store, creating it with one contact folder on first use.
    std::shared_ptr<outlook::Namespace> GetNamespace(const QString &type) override;

private:
    QString m_storePath;
    std::shared_ptr<outlook::Namespace> m_namespace;
};

} // namespace vcardstore
