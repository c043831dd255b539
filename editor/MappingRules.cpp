#include "editor/MappingRules.h"
#include "store/TemplateOperations.h"

#include "catalog/FieldCatalog.h"
#include "catalog/MappingKey.h"
#include "core/AppState.h"
#include "core/MessageBoxes.h"
#include "source/MappingGrid.h"

namespace {

const QString kUserDefined = QStringLiteral("USERDEFINED");

// The address (0 business, 1 mailing, 2 home, 3 other) of a street-line key, or -1.
int lineAddress(const QString &key)
{
    const MappingKey::Parsed parsed = MappingKey::parse(key);
    return parsed.kind == MappingKey::Kind::StreetLine ? parsed.address : -1;
}

int fullStreetAddress(const QString &key)
{
    const MappingKey::Parsed parsed = MappingKey::parse(key);
    return parsed.kind == MappingKey::Kind::FullStreet ? parsed.address : -1;
}

} // namespace

MappingRules::Drop MappingRules::dropOnList(MappingGrid &grid, DragState &drag, int targetRow,
                                            const QString &selectedKey)
{
    // Refused or not, the drop ends the drag: nothing of it stays for a later drop.
    const bool moving = drag.listDragActive;
    drag.listDragActive = false;
    drag.treeDragActive = false;
    if (FieldCatalog::isGroupKey(drag.pressedNodeKey)) {
        m_boxes.show(QStringLiteral("This is not an item that you can select - please drop down the options and "
                                    "select again"));
        return Drop::GroupRefused;
    }
    if (targetRow < 0 || targetRow >= grid.rowCount())
        return Drop::NoRow;

    if (moving) {
        const int source = drag.dragRowIndex;
        // A row dropped on itself keeps its mapping.
        if (source >= 0 && source < grid.rowCount() && source != targetRow) {
            const MappingRow from = grid.row(source);
            grid.setMapping(targetRow, from.displayName, from.key);
            grid.setMapping(source, QString(), QString());
        }
        return Drop::Moved;
    }

    const CatalogNode *node = FieldCatalog::find(selectedKey);
    if (!node)
        return Drop::NoNode;
    for (int i = 0; i < grid.rowCount(); ++i) {
        if (grid.row(i).displayName == node->text) {
            m_boxes.show(
                QStringLiteral("This option has already been chosen - you can not select the same item twice"));
            return Drop::Duplicate;
        }
    }
    rebuildStreetFlags(m_state, grid); // rows mapped by name or moved count as well
    if (const int a = lineAddress(node->key); a >= 0) {
        if (m_state.street[a].fullStreet) {
            m_boxes.show(
                QStringLiteral("Cannot combine separate street address when the Full Address has been selected"));
            return Drop::StreetRefused;
        }
    } else if (const int f = fullStreetAddress(node->key); f >= 0) {
        if (m_state.street[f].streetLines) {
            // The business message reads "combine", the three others "combione".
            m_boxes.show(f == 0 ? QStringLiteral("Cannot combine full street address when separate address lines have "
                                                 "already been selected")
                                : QStringLiteral("Cannot combione full street address when separate address lines have "
                                                 "already been selected"));
            return Drop::StreetRefused;
        }
    }
    const int row = drag.dragRowIndex >= 0 && drag.dragRowIndex < grid.rowCount() ? drag.dragRowIndex : targetRow;
    grid.setMapping(row, node->text, node->key); // a street key it replaces gives up its flag
    rebuildStreetFlags(m_state, grid);
    return Drop::Mapped;
}

void MappingRules::dropOnTree(MappingGrid &grid, DragState &drag)
{
    if (!drag.listDragActive)
        return;
    drag.listDragActive = false;
    if (drag.dragRowIndex < 0 || drag.dragRowIndex >= grid.rowCount())
        return;
    grid.setMapping(drag.dragRowIndex, QString(), QString());
    rebuildStreetFlags(m_state, grid);
}

bool MappingRules::addUserFields(MappingGrid &grid, const QString &caption)
{
    bool anyUnmapped = false;
    for (int i = 0; i < grid.rowCount() && !anyUnmapped; ++i)
        anyUnmapped = grid.row(i).displayName.isEmpty();
    if (!anyUnmapped) {
        m_boxes.show(QStringLiteral("All fields have already been mapped"), MessageBoxes::Buttons::Ok,
                     MessageBoxes::Icon::Critical, caption);
        return false;
    }
    if (m_boxes.show(QStringLiteral("Do you want <unMapped> fields to be added as User Defined fields?"),
                     MessageBoxes::Buttons::YesNo, MessageBoxes::Icon::Critical, caption) != MessageBoxes::Answer::Yes)
        return false;
    for (int i = 0; i < grid.rowCount(); ++i) {
        const MappingRow row = grid.row(i);
        if (row.displayName.isEmpty())
            grid.setMapping(i, kUserDefined, MappingKey::userDefined(row.sourceColumnName));
    }
    return true;
}

bool MappingRules::hasUserDefinedRow(const MappingGrid &grid)
{
    for (int i = 0; i < grid.rowCount(); ++i)
        if (grid.row(i).displayName == kUserDefined)
            return true;
    return false;
}

void MappingRules::rebuildStreetFlags(AppState &state, const MappingGrid &grid)
{
    MappingRows rows;
    for (int i = 0; i < grid.rowCount(); ++i)
        rows << grid.row(i);
    SetStreetFlags(state, rows);
}
