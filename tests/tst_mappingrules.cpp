#include "ScriptedMessageBoxes.h"
#include "app/AppState.h"
#include "editor/MappingRules.h"
#include "source/MappingGrid.h"

#include <QTest>

namespace {

const QString kGroup =
    QStringLiteral("This is not an item that you can select - please drop down the options and select again");
const QString kDuplicate =
    QStringLiteral("This option has already been chosen - you can not select the same item twice");
const QString kSeparate =
    QStringLiteral("Cannot combine separate street address when the Full Address has been selected");
const QString kFullBusiness =
    QStringLiteral("Cannot combine full street address when separate address lines have already been selected");
const QString kFullOther =
    QStringLiteral("Cannot combione full street address when separate address lines have already been selected");

struct Editor {
    Editor(int rows = 4)
    {
        for (int i = 1; i <= rows; ++i)
            grid.addRow({i, QStringLiteral("Col %1").arg(i), QString(), QString()});
    }
    // A tree node dragged onto a row, as the window reports it.
    MappingRules::Drop drop(const QString &key, int row)
    {
        drag.pressedNodeKey = key;
        drag.treeDragActive = true;
        drag.dragRowIndex = row;
        return rules.dropOnList(grid, drag, row, key);
    }
    // A row dragged onto another row, or onto the tree (to == -2).
    MappingRules::Drop move(int from, int to)
    {
        drag.pressedNodeKey.clear();
        drag.listDragActive = true;
        drag.dragRowIndex = from;
        return rules.dropOnList(grid, drag, to, QString());
    }
    void back(int row)
    {
        drag.listDragActive = true;
        drag.dragRowIndex = row;
        rules.dropOnTree(grid, drag);
    }
    QString key(int row) const { return grid.row(row).key; }

    AppState state;
    ScriptedMessageBoxes boxes;
    MemoryMappingGrid grid;
    DragState drag;
    MappingRules rules{state, boxes};
};

} // namespace

class TestMappingRules : public QObject {
    Q_OBJECT

private slots:
    void nodeDroppedOnARow()
    {
        Editor e;
        QCOMPARE(e.drop(QStringLiteral("BusinessAddressCity"), 1), MappingRules::Drop::Mapped);
        QCOMPARE(e.grid.row(1), (MappingRow{2, "Col 2", "CO City", "BusinessAddressCity"}));
        QVERIFY(!e.drag.treeDragActive);
        // Another field replaces the row's mapping.
        QCOMPARE(e.drop(QStringLiteral("JobTitle"), 1), MappingRules::Drop::Mapped);
        QCOMPARE(e.key(1), QStringLiteral("JobTitle"));
        QVERIFY(e.boxes.boxes.isEmpty());
    }

    void groupsCannotBeDropped()
    {
        Editor e;
        QCOMPARE(e.drop(QStringLiteral("@@PhysicalAddresses"), 0), MappingRules::Drop::GroupRefused);
        QCOMPARE(e.boxes.texts(), QStringList{kGroup});
        QCOMPARE(e.key(0), QString());
        // The group test looks at the last press, whatever is dragged.
        e.boxes.clear();
        e.drag.listDragActive = true;
        QCOMPARE(e.rules.dropOnList(e.grid, e.drag, 1, QString()), MappingRules::Drop::GroupRefused);
        QCOMPARE(e.boxes.texts(), QStringList{kGroup});
    }

    void sameFieldTwice()
    {
        Editor e;
        e.drop(QStringLiteral("BusinessAddressCity"), 0);
        QCOMPARE(e.drop(QStringLiteral("BusinessAddressCity"), 1), MappingRules::Drop::Duplicate);
        QCOMPARE(e.drop(QStringLiteral("BusinessAddressCity"), 0), MappingRules::Drop::Duplicate);
        QCOMPARE(e.boxes.texts(), (QStringList{kDuplicate, kDuplicate}));
        QCOMPARE(e.key(1), QString());
    }

    void streetRules_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("message");
        QTest::newRow("business line after full") << "BusinessAddressStreet"
                                                  << "##COStreet2" << kSeparate;
        QTest::newRow("home line after business full") << "BusinessAddressStreet"
                                                       << "##HMStreet2"
                                                       << "";
        QTest::newRow("business full after line") << "##COStreet1"
                                                  << "BusinessAddressStreet" << kFullBusiness;
        QTest::newRow("mailing full after line") << "##MLStreet1"
                                                 << "MailingAddressStreet" << kFullOther;
        QTest::newRow("home full after line") << "##HMStreet3"
                                              << "HomeAddressStreet" << kFullOther;
        QTest::newRow("other full after line") << "##OTStreet2"
                                               << "OtherAddressStreet" << kFullOther;
        QTest::newRow("mailing line after full") << "MailingAddressStreet"
                                                 << "##MLStreet3" << kSeparate;
        QTest::newRow("other line after full") << "OtherAddressStreet"
                                               << "##OTStreet1" << kSeparate;
        QTest::newRow("two lines of one address") << "##HMStreet1"
                                                  << "##HMStreet2"
                                                  << "";
    }

    void streetRules()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, message);
        Editor e;
        QCOMPARE(e.drop(first, 0), MappingRules::Drop::Mapped);
        const auto result = e.drop(second, 1);
        QCOMPARE(result, message.isEmpty() ? MappingRules::Drop::Mapped : MappingRules::Drop::StreetRefused);
        QCOMPARE(e.boxes.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(e.key(1), message.isEmpty() ? second : QString());
    }

    void draggingALineBackFreesTheFullStreet()
    {
        Editor e;
        e.drop(QStringLiteral("##MLStreet1"), 0);
        QVERIFY(e.state.mailing.streetLines);
        e.back(0);
        QVERIFY(!e.state.mailing.streetLines);
        QCOMPARE(e.key(0), QString());
        QCOMPARE(e.drop(QStringLiteral("MailingAddressStreet"), 1), MappingRules::Drop::Mapped);
        QVERIFY(e.state.mailing.fullStreet);
        e.back(1);
        QVERIFY(!e.state.mailing.fullStreet);
        QCOMPARE(e.drop(QStringLiteral("##MLStreet2"), 2), MappingRules::Drop::Mapped);
        QVERIFY(e.boxes.boxes.isEmpty());
    }

    void streetLineFlagsAreCountedAgain()
    {
        Editor e;
        e.drop(QStringLiteral("##OTStreet1"), 0);
        e.drop(QStringLiteral("##OTStreet3"), 1);
        e.back(0);
        QVERIFY(e.state.other.streetLines); // line 3 is still mapped
        e.back(1);
        QVERIFY(!e.state.other.streetLines);
    }

    void movingMappings()
    {
        Editor e;
        e.drop(QStringLiteral("CompanyName"), 0);
        QCOMPARE(e.move(0, 2), MappingRules::Drop::Moved);
        QCOMPARE(e.key(0), QString());
        QCOMPARE(e.grid.row(2).displayName, QStringLiteral("Company Name"));
        QVERIFY(!e.drag.listDragActive);
        // Onto itself it keeps its mapping; between rows nothing happens.
        QCOMPARE(e.move(2, 2), MappingRules::Drop::Moved);
        QCOMPARE(e.key(2), QStringLiteral("CompanyName"));
        QCOMPARE(e.move(2, -1), MappingRules::Drop::NoRow);
        QCOMPARE(e.key(2), QStringLiteral("CompanyName"));
        QVERIFY(e.boxes.boxes.isEmpty());
        // A tree node dropped on the tree does nothing.
        e.drag.listDragActive = false;
        e.rules.dropOnTree(e.grid, e.drag);
        QCOMPARE(e.key(2), QStringLiteral("CompanyName"));
    }

    void userDefinedFields()
    {
        Editor e(3);
        e.grid.setMapping(0, QStringLiteral("Company Name"), QStringLiteral("CompanyName"));
        e.boxes.answer(MessageBoxes::Answer::No);
        QVERIFY(!e.rules.addUserFields(e.grid, QStringLiteral("Editor")));
        QCOMPARE(e.key(1), QString());
        e.boxes.answer(MessageBoxes::Answer::Yes);
        QVERIFY(e.rules.addUserFields(e.grid, QStringLiteral("Editor")));
        QCOMPARE(e.grid.row(1), (MappingRow{2, "Col 2", "USERDEFINED", "UDCol 2"}));
        QCOMPARE(e.key(0), QStringLiteral("CompanyName"));
        QCOMPARE(e.boxes.boxes[0].text,
                 QStringLiteral("Do you want <unMapped> fields to be added as User Defined fields?"));
        QCOMPARE(e.boxes.boxes[0].title, QStringLiteral("Editor"));
        QCOMPARE(e.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);
        QVERIFY(MappingRules::hasUserDefinedRow(e.grid));

        e.boxes.clear();
        QVERIFY(!e.rules.addUserFields(e.grid, QStringLiteral("Editor")));
        QCOMPARE(e.boxes.texts(), QStringList{"All fields have already been mapped"});
        QCOMPARE(e.boxes.boxes[0].buttons, MessageBoxes::Buttons::Ok);

        // A user-defined mapping moves and goes back like any other.
        e.move(1, 2);
        QCOMPARE(e.key(2), QStringLiteral("UDCol 2"));
        e.back(2);
        QCOMPARE(e.key(2), QString());
    }

    void flagsOfAnOpenedTemplate()
    {
        Editor e;
        e.grid.setMapping(0, QStringLiteral("HM Street Address (Full)"), QStringLiteral("HomeAddressStreet"));
        e.grid.setMapping(1, QStringLiteral("OT Street Addr2"), QStringLiteral("##OTStreet2"));
        MappingRules::rebuildStreetFlags(e.state, e.grid);
        QVERIFY(e.state.home.fullStreet);
        QVERIFY(!e.state.business.fullStreet && !e.state.other.fullStreet);
        QCOMPARE(e.drop(QStringLiteral("##HMStreet1"), 2), MappingRules::Drop::StreetRefused);
    }
};

QTEST_APPLESS_MAIN(TestMappingRules)
#include "tst_mappingrules.moc"
