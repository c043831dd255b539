#pragma once

#include "source/MappingGrid.h"

class QTreeWidget;

// The mapping grid shown in a report-view list: item text "Col#", then "Column Name",
// "Outlook Field" and "Key".
class TreeWidgetGrid : public MappingGrid {
public:
    explicit TreeWidgetGrid(QTreeWidget *list) : m_list(list) {}

    void clear() override;
    int rowCount() const override;
    MappingRow row(int index) const override;
    void setMapping(int index, const QString &displayName, const QString &key) override;
    int find(const QString &columnName) const override;

protected:
    void appendRow(const MappingRow &row) override;

private:
    QTreeWidget *m_list;
};
