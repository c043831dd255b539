#include "ScriptedMessageBoxes.h"
#include "TestServices.h"
#include "catalog/FieldCatalog.h"
#include "editor/ui/FieldCatalogTree.h"
#include "platform/qt/TreeWidgetGrid.h"

#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

class TestCatalogTree : public QObject {
    Q_OBJECT

private slots:
    void treeHoldsTheCatalog()
    {
        ScriptedMessageBoxes boxes;
        QTreeWidget tree;
        QVERIFY(BuildFieldCatalog(&tree, boxes));
        QVERIFY(boxes.boxes.isEmpty());
        int count = 0;
        for (QTreeWidgetItemIterator it(&tree); *it; ++it, ++count) {
            const CatalogNode &node = FieldCatalog::nodes()[count]; // depth-first order is the catalog's order
            QCOMPARE((*it)->text(0), node.text);
            QCOMPARE((*it)->data(0, kCatalogKeyRole).toString(), node.key);
            QCOMPARE((*it)->parent() ? (*it)->parent()->data(0, kCatalogKeyRole).toString() : QString(), node.parent);
            QVERIFY(!(*it)->isExpanded());
        }
        QCOMPARE(count, 85);
        QVERIFY(!FindCatalogItem(&tree, QStringLiteral("##mlstreet3")));

        // Built a second time into the same tree: the first key already stands, nothing is added.
        QVERIFY(!BuildFieldCatalog(&tree, boxes));
        QCOMPARE(boxes.boxes.size(), 1);
        QVERIFY(boxes.texts()[0].startsWith(QStringLiteral("FILE 35602 - The following error has occurred\r\n")));
        QCOMPARE(tree.topLevelItemCount(), 15);
    }

    void gridInAList()
    {
        TestServices t;
        QTreeWidget list;
        list.setHeaderLabels({"a", "b", "c", "d", "e", "f"});
        QVERIFY(SetupMappingColumns(&list, t.boxes));
        QVERIFY(SetupMappingColumns(&list, t.boxes));
        QCOMPARE(list.columnCount(), 4);
        QCOMPARE(list.columnWidth(1), list.logicalDpiX()); // 1440 twips make an inch
        QCOMPARE(list.columnWidth(3), 1);                  // the key: out of sight, yet a column

        writeBytes(t.file(QStringLiteral("s.csv")), "Company Name,Region,Company Name\r\n");
        t.state.loadMode = LoadMode::Add;
        t.state.filePath = t.file(QStringLiteral("s.csv"));
        TreeWidgetGrid grid(&list);
        QVERIFY(!LoadMappingGrid(t.state, t.services, grid, QStringLiteral("CSH")));
        QCOMPARE(t.boxes.boxes.size(), 1); // the name that stands twice
        QCOMPARE(list.topLevelItemCount(), 2);
        const QTreeWidgetItem *first = list.topLevelItem(0);
        QCOMPARE((QStringList{first->text(0), first->text(1), first->text(2), first->text(3)}),
                 (QStringList{"1", "Company Name", "", ""})); // mapping by name runs only after a whole load
        QCOMPARE(grid.row(1), (MappingRow{2, "Region", "", ""}));
        QCOMPARE(grid.find(QStringLiteral("Region")), 1);
        QCOMPARE(grid.find(QStringLiteral("region")), -1);
    }
};

QTEST_MAIN(TestCatalogTree)
#include "tst_catalogtree.moc"
