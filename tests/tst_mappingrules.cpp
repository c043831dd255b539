#include "ScriptedMessageBoxes.h"
#include "catalog/FieldCatalog.h"
#include "core/AppState.h"
#include "editor/MappingRules.h"
#include "source/MappingGrid.h"

#include <QHash>
#include <QTest>

namespace {

using Drop = MappingRules::Drop;

// The boxes of refused drops, by the short names the drag scripts use.
const QHash<QString, QString> kMessages{
    {"group", "This is not an item that you can select - please drop down the options and select again"},
    {"duplicate", "This option has already been chosen - you can not select the same item twice"},
    {"separate", "Cannot combine separate street address when the Full Address has been selected"},
    {"fullBusiness", "Cannot combine full street address when separate address lines have already been selected"},
    {"fullOther", "Cannot combione full street address when separate address lines have already been selected"}};

// The eight street flags, as one text.
QString streetFlags(const AppState &s)
{
    QString out;
    for (const AppState::StreetFlags &f : s.street)
        out += QString::number(f.fullStreet) + QString::number(f.streetLines);
    return out;
}

struct Editor {
    Editor(int rows = 4)
    {
        for (int i = 1; i <= rows; ++i)
            grid.addRow({i, QStringLiteral("Col %1").arg(i), QString(), QString()});
    }
    // A tree node dragged onto a row, as the window reports it.
    Drop drop(const QString &key, int row)
    {
        drag.pressedNodeKey = key;
        drag.treeDragActive = true;
        drag.dragRowIndex = row;
        return rules.dropOnList(grid, drag, row, key);
    }
    // A row dragged onto another row (-1: between rows).
    Drop move(int from, int to)
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
    // The flags as the rows' keys show them.
    QString flagsOfTheRows() const
    {
        AppState rebuilt;
        MappingRules::rebuildStreetFlags(rebuilt, grid);
        return streetFlags(rebuilt);
    }

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
    // Drags one after another, then the boxes shown and the keys the four rows end with:
    // "steps | messages | keys". A step "key>row" drops a tree node on a row, "row>row" moves a
    // row's mapping (-1: between rows), "<row" drags a row back onto the tree. After each drop
    // from or onto the tree the street flags follow the keys the rows hold.
    void drags_data()
    {
        QTest::addColumn<QString>("script");
        QTest::newRow("a field, then another on that row") << "BusinessAddressCity>1 JobTitle>1 | | ,JobTitle,,";
        QTest::newRow("a group") << "@@PhysicalAddresses>0 | group | ,,,";
        QTest::newRow("the same field twice")
            << "CompanyName>0 CompanyName>1 CompanyName>0 | duplicate duplicate | CompanyName,,,";
        QTest::newRow("lines after full")
            << "BusinessAddressStreet>0 ##COStreet2>1 MailingAddressStreet>1 ##MLStreet3>2 "
               "OtherAddressStreet>2 ##OTStreet1>3 | separate separate separate | "
               "BusinessAddressStreet,MailingAddressStreet,OtherAddressStreet,";
        QTest::newRow("home line after business full")
            << "BusinessAddressStreet>0 ##HMStreet2>1 | | BusinessAddressStreet,##HMStreet2,,";
        QTest::newRow("full after lines")
            << "##COStreet1>0 BusinessAddressStreet>1 ##MLStreet1>1 MailingAddressStreet>2 "
               "##HMStreet3>2 HomeAddressStreet>3 ##OTStreet2>3 OtherAddressStreet>3 | "
               "fullBusiness fullOther fullOther fullOther | "
               "##COStreet1,##MLStreet1,##HMStreet3,##OTStreet2";
        QTest::newRow("two lines of one address") << "##HMStreet1>0 ##HMStreet2>1 | | ##HMStreet1,##HMStreet2,,";
        QTest::newRow("dragged back, line and full street free each other")
            << "##MLStreet1>0 <0 MailingAddressStreet>1 <1 ##MLStreet2>2 | | ,,##MLStreet2,";
        QTest::newRow("lines still mapped count") << "##OTStreet1>0 ##OTStreet3>1 <0 OtherAddressStreet>2 <1 "
                                                     "OtherAddressStreet>2 | fullOther | ,,OtherAddressStreet,";
        QTest::newRow("moves, onto itself, between rows") << "CompanyName>0 0>2 2>2 2>-1 | | ,,CompanyName,";
        QTest::newRow("a line replaced by a move no longer counts")
            << "##HMStreet1>0 CompanyName>1 1>0 HomeAddressStreet>2 | | CompanyName,,HomeAddressStreet,";
        QTest::newRow("a moved line still counts")
            << "##HMStreet1>0 0>3 HomeAddressStreet>1 | fullOther | ,,,##HMStreet1";
    }

    void drags()
    {
        QFETCH(QString, script);
        QStringList parts = script.split(QLatin1Char('|'));
        for (QString &part : parts)
            part = part.trimmed();
        Editor e;
        QStringList shownNames;
        for (const QString &step : parts[0].split(QLatin1Char(' '))) {
            if (step.startsWith(QLatin1Char('<'))) {
                e.back(step.mid(1).toInt());
                QCOMPARE(streetFlags(e.state), e.flagsOfTheRows());
                continue;
            }
            const qsizetype before = e.boxes.boxes.size();
            const QString from = step.section(QLatin1Char('>'), 0, 0);
            const int to = step.section(QLatin1Char('>'), 1).toInt();
            bool isRow = false;
            const int row = from.toInt(&isRow);
            const Drop result = isRow ? e.move(row, to) : e.drop(from, to);
            QVERIFY(!e.drag.treeDragActive && !e.drag.listDragActive);
            if (e.boxes.boxes.size() > before)
                shownNames << kMessages.key(e.boxes.boxes.last().text, "unknown");
            QCOMPARE(result == Drop::Mapped, !isRow && e.boxes.boxes.size() == before);
            if (!isRow) // a move leaves the flags to the next drop
                QCOMPARE(streetFlags(e.state), e.flagsOfTheRows());
        }
        QCOMPARE(shownNames.join(QLatin1Char(' ')), parts[1]);
        QStringList held;
        for (int i = 0; i < e.grid.rowCount(); ++i) {
            held << e.key(i);
            const CatalogNode *node = FieldCatalog::find(e.key(i));
            QCOMPARE(e.grid.row(i).displayName, node ? node->text : QString());
        }
        QCOMPARE(held.join(QLatin1Char(',')), parts[2]);
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
        QVERIFY(MappingRules::hasUserDefinedRow(e.grid));
        e.boxes.clear();
        QVERIFY(!e.rules.addUserFields(e.grid, QStringLiteral("Editor")));
        QCOMPARE(e.boxes.texts(), QStringList{"All fields have already been mapped"});
    }

    void flagsOfAnOpenedTemplate()
    {
        Editor e;
        e.grid.setMapping(0, QStringLiteral("HM Street Address (Full)"), QStringLiteral("HomeAddressStreet"));
        e.grid.setMapping(1, QStringLiteral("OT Street Addr2"), QStringLiteral("##OTStreet2"));
        QCOMPARE(e.flagsOfTheRows(), QStringLiteral("00001001")); // home full street, other lines
    }
};

QTEST_APPLESS_MAIN(TestMappingRules)
#include "tst_mappingrules.moc"
