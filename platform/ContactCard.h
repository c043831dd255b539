#pragma once

#include "outlook/ContactStore.h"
#include "platform/VCard.h"

#include <QByteArray>

namespace vcardstore {

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

} // namespace vcardstore
