#pragma once

#include "store/MappingRow.h"

#include <QString>

struct AppState;
struct Services;

// The columns of a mapping list control, "Col#", "Column Name", "Outlook Field" and "Key".
enum MappingColumn { ColNumber = 0, ColName = 1, ColOutlookField = 2, ColKey = 3 };

// The mapping grid as the loading operations see it: one row per source column, keyed by the
// column's name. The editor's and the main window's list controls stand behind it.
class MappingGrid {
public:
    virtual ~MappingGrid() = default;

    virtual void clear() = 0;
    virtual int rowCount() const = 0;
    virtual MappingRow row(int index) const = 0;
    virtual void setMapping(int index, const QString &displayName, const QString &key) = 0;
    // The row whose key is this column name, or -1.
    virtual int find(const QString &columnName) const = 0;

    // Adds a row keyed by its column name. A name that is no valid row key fails: one made of
    // digits only (kErrInvalidKey), one that another row has (kErrKeyNotUnique).
    void addRow(const MappingRow &row);

    static constexpr qint32 kErrKeyNotUnique = 35602;
    static constexpr qint32 kErrInvalidKey = 35603;

protected:
    virtual void appendRow(const MappingRow &row) = 0;
};

// Fills the grid: in load mode Add from the columns of the sample file (filePath, fileTitle,
// sheetName) and maps them by name; otherwise from the open mapping records. The file type is
// the list text. Rows added before a failure stay.
bool LoadMappingGrid(AppState &state, Services &services, MappingGrid &grid, const QString &fileType);

// Maps each row whose column name is exactly the display text of a catalog field (the first in
// catalog order). Group nodes are no fields: a column named like a group stays unmapped.
bool AutoMapByName(Services &services, MappingGrid &grid);

// A grid held in memory, for the import's verification and for tests.
class MemoryMappingGrid : public MappingGrid {
public:
    void clear() override { m_rows.clear(); }
    int rowCount() const override { return int(m_rows.size()); }
    MappingRow row(int index) const override { return m_rows.at(index); }
    void setMapping(int index, const QString &displayName, const QString &key) override;
    int find(const QString &columnName) const override;
    const MappingRows &rows() const { return m_rows; }

protected:
    void appendRow(const MappingRow &row) override { m_rows << row; }

private:
    MappingRows m_rows;
};
