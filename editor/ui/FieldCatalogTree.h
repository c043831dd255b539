#pragma once

#include <Qt>

class MessageBoxes;
class QString;
class QTreeWidget;
class QTreeWidgetItem;

// The role under which a tree item keeps its catalog key.
constexpr int kCatalogKeyRole = Qt::UserRole;

// Adds the catalog's nodes to the (empty) tree, all collapsed. False after a reported failure.
bool BuildFieldCatalog(QTreeWidget *TV, MessageBoxes &boxes);
// The tree item with exactly this key, or nullptr.
QTreeWidgetItem *FindCatalogItem(QTreeWidget *TV, const QString &key);

// The mapping list's four columns "Col#", "Column Name", "Outlook Field" and "Key".
bool SetupMappingColumns(QTreeWidget *LV, MessageBoxes &boxes);
