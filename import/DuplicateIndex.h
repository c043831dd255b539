#pragma once

#include "outlook/ContactStore.h"

#include <QHash>
#include <memory>

// The contacts of a folder by what makes two of them the same person: any of their three e-mail
// addresses (letter case and surrounding blanks aside), or else their full name with their
// company (letter case, blanks and accents aside). Built once per run.
class DuplicateIndex {
public:
    // keepContacts: the index keeps each contact, for find() to give it back (to update it).
    // Otherwise it keeps only the keys it compares: a folder of many contacts is not held in memory.
    explicit DuplicateIndex(bool keepContacts = true) : m_keepContacts(keepContacts) {}
    void addFolder(outlook::Items &items);
    // Whether a contact is already there for this one; existing receives it when the index keeps
    // the contacts.
    bool find(const outlook::ContactData &contact, std::shared_ptr<outlook::ContactItem> *existing = nullptr) const;
    void add(const std::shared_ptr<outlook::ContactItem> &contact);

private:
    bool m_keepContacts = true;
    QHash<QString, std::shared_ptr<outlook::ContactItem>> m_byKey;
};
