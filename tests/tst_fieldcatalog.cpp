#include "catalog/FieldCatalog.h"
#include "outlook/ContactProperties.h"

#include <QSet>
#include <QTest>

class TestFieldCatalog : public QObject {
    Q_OBJECT

private slots:
    // Every node can be placed and every field key can be written to a contact.
    void everyNodeFitsTheTreeAndTheContact()
    {
        const QList<CatalogNode> &nodes = FieldCatalog::nodes();
        QCOMPARE(nodes.size(), 85);
        QSet<QString> keys;
        int groups = 0, streetLines = 0;
        for (const CatalogNode &node : nodes) {
            QVERIFY2(!keys.contains(node.key), qPrintable(node.key));
            keys.insert(node.key);
            QCOMPARE(FieldCatalog::find(node.key), &node);
            if (!node.parent.isEmpty()) { // a parent stands earlier, one level up
                const CatalogNode *up = FieldCatalog::find(node.parent);
                QVERIFY2(up && up < &node && up->level == node.level - 1, qPrintable(node.key));
            } else {
                QCOMPARE(node.level, 1);
            }
            ContactProperties::Kind kind;
            if (FieldCatalog::isGroupKey(node.key))
                ++groups;
            else if (FieldCatalog::isStreetLineKey(node.key))
                ++streetLines;
            else
                QVERIFY2(ContactProperties::kindOf(node.key, kind), qPrintable(node.key));
        }
        QCOMPARE(groups, 10);
        QCOMPARE(streetLines, 12);
    }

    void keys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("streetLine");
        QTest::addColumn<QString>("text"); // empty: no such node
        QTest::newRow("street line") << "##MLStreet3" << true << "ML Street Addr3";
        QTest::newRow("full street") << "MailingAddressStreet" << false << "ML Street Address (Full)";
        QTest::newRow("other letter case") << "Nickname" << false << "";
        QTest::newRow("lower case code") << "##coStreet1" << false << "";
        QTest::newRow("line 4") << "##COStreet4" << false << "";
        QTest::newRow("other pseudo key") << "##Value" << false << "";
    }

    void keys()
    {
        QFETCH(QString, key);
        QFETCH(QString, text);
        QFETCH(bool, streetLine);
        const CatalogNode *node = FieldCatalog::find(key);
        QCOMPARE(node ? node->text : QString(), text);
        QCOMPARE(FieldCatalog::isStreetLineKey(key), streetLine);
    }
};

QTEST_APPLESS_MAIN(TestFieldCatalog)
#include "tst_fieldcatalog.moc"
