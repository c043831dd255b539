#pragma once

#include "outlook/ContactStore.h"

#include <QHash>
#include <memory>

// The contacts of a folder by what makes two of them the same person: any of their three e-mail
// addresses (letter case and surrounding blanks aside), or else their full name with their
// company (letter case, blanks and accents aside). Built once per run.
class DuplicateIndex {
public:
    void addFolder(outlook::Items &items);
    // The contact already there for this one, or none.
    std::shared_ptr<outlook::ContactItem> find(const outlook::ContactData &contact) const;
    void add(const std::shared_ptr<outlook::ContactItem> &contact);

private:
    QHash<QString, std::shared_ptr<outlook::ContactItem>> m_byKey;
};
