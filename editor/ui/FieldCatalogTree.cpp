#include "editor/ui/FieldCatalogTree.h"

#include "catalog/FieldCatalog.h"
#include "core/ErrorReport.h"
#include "platform/Twips.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace {

// The error a tree raises for a key it holds already.
constexpr qint32 kErrKeyNotUnique = 35602;

} // namespace

QTreeWidgetItem *FindCatalogItem(QTreeWidget *TV, const QString &key)
{
    for (QTreeWidgetItemIterator it(TV); *it; ++it)
        if ((*it)->data(0, kCatalogKeyRole).toString() == key)
            return *it;
    return nullptr;
}

bool BuildFieldCatalog(QTreeWidget *TV, MessageBoxes &boxes)
{
    try {
        for (const CatalogNode &node : FieldCatalog::nodes()) {
            if (FindCatalogItem(TV, node.key))
                throw AppError(kErrKeyNotUnique, QStringLiteral("Key is not unique in collection (%1)").arg(node.key));
            QTreeWidgetItem *item = nullptr;
            if (node.parent.isEmpty()) {
                item = new QTreeWidgetItem(TV);
            } else {
                QTreeWidgetItem *parent = FindCatalogItem(TV, node.parent);
                if (!parent)
                    throw AppError(ErrorCode::NotFound,
                                   QStringLiteral("Element not found: the parent %1 of %2").arg(node.parent, node.key));
                item = new QTreeWidgetItem(parent);
            }
            item->setText(0, node.text);
            item->setData(0, kCatalogKeyRole, node.key);
        }
        return true;
    } catch (const std::exception &e) {
        ReportFileError(boxes, TrappedError(e));
        return false;
    }
}

bool SetupMappingColumns(QTreeWidget *LV, MessageBoxes &boxes)
{
    try {
        struct ColumnDef {
            const char *header;
            int twips;
        };
        static constexpr ColumnDef columns[] = {
            {"Col#", 540}, {"Column Name", 1440}, {"Outlook Field", 2160}, {"Key", 1}};
        LV->setColumnCount(0);
        // Report view: one line per item under column headers.
        LV->setRootIsDecorated(false);
        LV->setItemsExpandable(false);
        LV->setUniformRowHeights(true);
        LV->setAllColumnsShowFocus(true);
        LV->header()->setStretchLastSection(false);
        LV->header()->setMinimumSectionSize(1); // the "Key" column is one twip wide
        QStringList headers;
        for (const ColumnDef &c : columns)
            headers << QLatin1String(c.header);
        LV->setHeaderLabels(headers);
        const int dpi = LV->logicalDpiX();
        for (int i = 0; i < int(std::size(columns)); ++i)
            LV->setColumnWidth(i, TwipsToPixels(columns[i].twips, dpi));
        return true;
    } catch (const std::exception &e) {
        ReportFileError(boxes, TrappedError(e));
        return false;
    }
}
