#include "editor/ui/DragTree.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>

DragTree::DragTree(const QStringList &acceptedFormats, QWidget *parent)
    : QTreeWidget(parent), m_accepted(acceptedFormats)
{
    setAcceptDrops(true);
}

void DragTree::drag(const QString &format, const QByteArray &data)
{
    auto *drag = new QDrag(this);
    auto *mime = new QMimeData;
    mime->setData(format, data);
    drag->setMimeData(mime);
    drag->setPixmap(m_cursor);
    drag->exec(Qt::MoveAction);
}

void DragTree::mousePressEvent(QMouseEvent *event)
{
    QTreeWidget::mousePressEvent(event);
    emit pressed(itemAt(event->position().toPoint()));
}

void DragTree::mouseMoveEvent(QMouseEvent *event)
{
    if (event->buttons() != Qt::NoButton)
        emit movedWithButtons(event->buttons());
    else
        QTreeWidget::mouseMoveEvent(event);
}

void DragTree::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeWidget::mouseReleaseEvent(event);
    emit released();
}

bool DragTree::takes(const QMimeData *data) const
{
    for (const QString &format : m_accepted)
        if (data->hasFormat(format))
            return true;
    return false;
}

void DragTree::dragOver(QDragMoveEvent *event)
{
    if (!takes(event->mimeData())) {
        event->ignore();
        return;
    }
    emit draggedOver(event->mimeData(), itemAt(event->position().toPoint()));
    event->acceptProposedAction();
}

void DragTree::dragEnterEvent(QDragEnterEvent *event)
{
    dragOver(event);
}

void DragTree::dragMoveEvent(QDragMoveEvent *event)
{
    dragOver(event);
}

void DragTree::dropEvent(QDropEvent *event)
{
    emit dropped(event->mimeData(), itemAt(event->position().toPoint()));
    event->acceptProposedAction();
}
