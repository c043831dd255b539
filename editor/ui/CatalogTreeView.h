#pragma once

#include "editor/ui/DragTree.h"

// The field tree: its nodes are dragged onto the mapping list, and a mapping row dropped on it
// loses its mapping.
class CatalogTreeView : public DragTree {
    Q_OBJECT

public:
    explicit CatalogTreeView(QWidget *parent) : DragTree({kMappingRowFormat}, parent) { setHeaderHidden(true); }

    // The catalog key of an item ("" for none), and of the selected one.
    static QString keyOf(const QTreeWidgetItem *item);
    QString selectedKey() const { return keyOf(currentItem()); }
    void dragNode(const QString &key) { drag(kCatalogNodeFormat, key.toUtf8()); }
};
