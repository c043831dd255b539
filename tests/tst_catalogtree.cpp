#include "ScriptedMessageBoxes.h"
#include "TestServices.h"
#include "catalog/FieldCatalog.h"
#include "editor/FieldCatalogTree.h"
#include "platform/TreeWidgetGrid.h"
#include "platform/Twips.h"

#include <QHeaderView>
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
        QCOMPARE(tree.topLevelItemCount(), 15);

        int count = 0;
        for (QTreeWidgetItemIterator it(&tree); *it; ++it, ++count) {
            const CatalogNode &node = FieldCatalog::nodes()[count]; // depth-first order is the catalog's order
            QCOMPARE((*it)->text(0), node.text);
            QCOMPARE((*it)->data(0, kCatalogKeyRole).toString(), node.key);
            QCOMPARE((*it)->parent() ? (*it)->parent()->data(0, kCatalogKeyRole).toString() : QString(), node.parent);
            QVERIFY(!(*it)->isExpanded());
        }
        QCOMPARE(count, 85);

        QTreeWidgetItem *addresses = FindCatalogItem(&tree, QStringLiteral("@@PhysicalAddresses"));
        QCOMPARE(addresses->childCount(), 4);
        for (int i = 0; i < 4; ++i) {
            QTreeWidgetItem *address = addresses->child(i);
            QCOMPARE(address->childCount(), 6);
            QCOMPARE(address->child(0)->childCount(), 3);
            QVERIFY(address->child(0)->text(0).endsWith(QLatin1String("Street Address (Full)")));
            QVERIFY(address->child(5)->text(0).endsWith(QLatin1String("Country")));
        }
        QCOMPARE(FindCatalogItem(&tree, QStringLiteral("##MLStreet3"))->text(0), QStringLiteral("ML Street Addr3"));
        QVERIFY(!FindCatalogItem(&tree, QStringLiteral("##mlstreet3")));

        // Built a second time into the same tree: the first key already stands, nothing is added.
        QVERIFY(!BuildFieldCatalog(&tree, boxes));
        QCOMPARE(boxes.boxes.size(), 1);
        QVERIFY(boxes.texts()[0].startsWith(QStringLiteral("FILE 35602 - The following error has occurred\r\n")));
        QCOMPARE(tree.topLevelItemCount(), 15);
    }

    void mappingColumns()
    {
        ScriptedMessageBoxes boxes;
        QTreeWidget list;
        list.setHeaderLabels({"a", "b", "c", "d", "e", "f"});
        for (int pass = 0; pass < 2; ++pass) {
            QVERIFY(SetupMappingColumns(&list, boxes));
            QCOMPARE(list.columnCount(), 4);
            QStringList headers;
            for (int i = 0; i < 4; ++i)
                headers << list.headerItem()->text(i);
            QCOMPARE(headers, (QStringList{"Col#", "Column Name", "Outlook Field", "Key"}));
        }
        const int dpi = list.logicalDpiX();
        QCOMPARE(list.columnWidth(0), TwipsToPixels(540, dpi));
        QCOMPARE(list.columnWidth(1), TwipsToPixels(1440, dpi));
        QCOMPARE(list.columnWidth(2), TwipsToPixels(2160, dpi));
        QCOMPARE(list.columnWidth(3), 1); // out of sight, yet a column
        QVERIFY(!list.rootIsDecorated());
        QVERIFY(boxes.boxes.isEmpty());
    }

    void gridInAList()
    {
        TestServices t;
        QTreeWidget list;
        QVERIFY(SetupMappingColumns(&list, t.boxes));
        writeBytes(t.file(QStringLiteral("s.csv")), "Company Name,Region,Company Name\r\n");
        t.state.loadMode = QStringLiteral("A");
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

    void twips_data()
    {
        QTest::addColumn<int>("twips");
        QTest::addColumn<int>("dpi");
        QTest::addColumn<int>("pixels");
        QTest::newRow("an inch at 96") << 1440 << 96 << 96;
        QTest::newRow("Col# at 96") << 540 << 96 << 36;
        QTest::newRow("Outlook Field at 120") << 2160 << 120 << 180;
        QTest::newRow("one twip") << 1 << 96 << 1;
        QTest::newRow("none") << 0 << 96 << 0;
    }

    void twips()
    {
        QFETCH(int, twips);
        QFETCH(int, dpi);
        QFETCH(int, pixels);
        QCOMPARE(TwipsToPixels(twips, dpi), pixels);
    }
};

QTEST_MAIN(TestCatalogTree)
#include "tst_catalogtree.moc"
