#pragma once

#include <QPixmap>
#include <QStringList>
#include <QTreeWidget>

class QMimeData;

// What a drag between the field tree and the mapping list carries.
inline const QString kCatalogNodeFormat = QStringLiteral("application/x-mirel-catalog-node"); // the node's key
inline const QString kMappingRowFormat = QStringLiteral("application/x-mirel-mapping-row");   // the row, from 0

// A tree widget for mapping by dragging: it reports presses, moves with a button held and
// releases, starts drags carrying one MIME format, and reports drags over it and drops on it
// when they carry a format it takes.
class DragTree : public QTreeWidget {
    Q_OBJECT

public:
    DragTree(const QStringList &acceptedFormats, QWidget *parent);

    void setDragCursor(const QPixmap &cursor) { m_cursor = cursor; }
    // Drags `data` as `format` from this view; returns when the drag has ended, wherever it ended.
    void drag(const QString &format, const QByteArray &data);

signals:
    void pressed(QTreeWidgetItem *item); // the item under the press, or nullptr
    void movedWithButtons(Qt::MouseButtons buttons);
    void released();
    void draggedOver(const QMimeData *data, QTreeWidgetItem *item);
    void dropped(const QMimeData *data, QTreeWidgetItem *item);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool takes(const QMimeData *data) const;
    void dragOver(QDragMoveEvent *event);

    QStringList m_accepted;
    QPixmap m_cursor;
};
