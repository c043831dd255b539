#pragma once

#include <QList>
#include <QString>

// One node of the contact field tree: a group ("@@..."), a contact property, or a street line
// ("##COStreet1" ...).
struct CatalogNode {
    int level = 1;  // 1 is the top level
    QString text;   // shown in the tree and in the mapping list's "Outlook Field"
    QString key;    // stored with a mapping; unique in the tree
    QString parent; // key of the parent node; empty at the top level

    bool operator==(const CatalogNode &) const = default;
};

// The fixed vocabulary of mappable contact fields, in tree order.
class FieldCatalog {
public:
    static const QList<CatalogNode> &nodes();
    // The node with exactly this key (letter case counts), or nullptr.
    static const CatalogNode *find(const QString &key);

    static bool isGroupKey(const QString &key);
    static bool isStreetLineKey(const QString &key);
};
