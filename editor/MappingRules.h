#pragma once

#include <QString>

class MappingGrid;
class MessageBoxes;
struct AppState;

// Where a drag stands between the field tree and the mapping list.
struct DragState {
    bool treeDragActive = false;
    bool listDragActive = false;
    int dragRowIndex = -1;    // 0-based: the row dragged, or during a tree drag the row last under the pointer
    QString pressedNodeKey;   // key of the tree node under the last press
    bool pressOnNode = false; // the last press in the tree was over a node: only then may a drag begin
};

// The rules of mapping by dragging: a catalog node dropped on a row maps it, a row dropped on
// a row moves its mapping, a row dropped on the tree loses it. Every drop ends the drag, whatever
// it did. The street flags always follow the keys the rows hold.
class MappingRules {
public:
    enum class Drop { GroupRefused, NoRow, Moved, NoNode, Duplicate, StreetRefused, Mapped };

    MappingRules(AppState &state, MessageBoxes &boxes) : m_state(state), m_boxes(boxes) {}

    // A drop on the list: targetRow is the row under the pointer (-1 for none), selectedKey the
    // tree's selected node ("" for none).
    Drop dropOnList(MappingGrid &grid, DragState &drag, int targetRow, const QString &selectedKey);
    // A drop on the tree: a dragged row loses its mapping.
    void dropOnTree(MappingGrid &grid, DragState &drag);
    // Maps every unmapped row to a user-defined field named after its column. False when there
    // was none, or the user said No. The caption titles the messages.
    bool addUserFields(MappingGrid &grid, const QString &caption);
    // True when a row is mapped to a user-defined field.
    static bool hasUserDefinedRow(const MappingGrid &grid);

    // All eight street flags as the rows' keys show them.
    static void rebuildStreetFlags(AppState &state, const MappingGrid &grid);

private:
    AppState &m_state;
    MessageBoxes &m_boxes;
};
