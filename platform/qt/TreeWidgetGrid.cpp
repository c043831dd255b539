#include "platform/qt/TreeWidgetGrid.h"

#include <QTreeWidget>

void TreeWidgetGrid::clear()
{
    m_list->clear();
}

int TreeWidgetGrid::rowCount() const
{
    return m_list->topLevelItemCount();
}

MappingRow TreeWidgetGrid::row(int index) const
{
    const QTreeWidgetItem *item = m_list->topLevelItem(index);
    return MappingRow{item->text(ColNumber).toInt(), item->text(ColName), item->text(ColOutlookField),
                      item->text(ColKey)};
}

void TreeWidgetGrid::setMapping(int index, const QString &displayName, const QString &key)
{
    QTreeWidgetItem *item = m_list->topLevelItem(index);
    item->setText(ColOutlookField, displayName);
    item->setText(ColKey, key);
}

int TreeWidgetGrid::find(const QString &columnName) const
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (m_list->topLevelItem(i)->text(ColName) == columnName)
            return i;
    return -1;
}

void TreeWidgetGrid::appendRow(const MappingRow &row)
{
    auto *item = new QTreeWidgetItem(m_list);
    item->setText(ColNumber, QString::number(row.sourceColumnNumber));
    item->setText(ColName, row.sourceColumnName);
    item->setText(ColOutlookField, row.displayName);
    item->setText(ColKey, row.key);
}
