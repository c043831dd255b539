#include "editor/ui/CatalogTreeView.h"

#include "editor/ui/FieldCatalogTree.h"

QString CatalogTreeView::keyOf(const QTreeWidgetItem *item)
{
    return item ? item->data(0, kCatalogKeyRole).toString() : QString();
}
