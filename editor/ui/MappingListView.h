#pragma once

#include "editor/ui/DragTree.h"

// The mapping list: one row per source column; rows are dragged onto other rows or onto the
// field tree, and tree nodes are dropped on rows.
class MappingListView : public DragTree {
    Q_OBJECT

public:
    explicit MappingListView(QWidget *parent) : DragTree({kMappingRowFormat, kCatalogNodeFormat}, parent) {}

    // The row of an item, counted from 0; -1 for none.
    int rowOf(QTreeWidgetItem *item) const { return item ? indexOfTopLevelItem(item) : -1; }
    void dragRow(int row) { drag(kMappingRowFormat, QByteArray::number(row)); }
};
