#pragma once

#include "platform/Connection.h"

#include <QStringList>

namespace DataAccess {

// Catalog column types, by their type numbers.
enum ColumnType : int {
    adSmallInt = 2,
    adInteger = 3,
    adDate = 7,
    adBoolean = 11,
    adWChar = 130,
    adVarWChar = 202,
};
constexpr int adColNullable = 2;

struct Column {
    QString name;
    int type = adVarWChar;
    int definedSize = 0;
    int attributes = 0;
    bool operator==(const Column &) const = default;
};

struct Index {
    QString name;
    bool primaryKey = false;
    bool unique = false;
    QStringList columns;
};

struct Table {
    QString name;
    QList<Column> columns;
    QList<Index> indexes;
};

// Creates and drops tables. Index names are per table, as in the original engine; in the file a
// secondary index is named "<table>.<index>" and a primary key is a named table constraint.
class Catalog {
public:
    // Creates a new keyed database file and connects the catalog to it.
    void create(const QString &path, const QString &key);
    void setActiveConnection(std::shared_ptr<Connection> connection) { m_connection = std::move(connection); }
    std::shared_ptr<Connection> activeConnection() const { return m_connection; }

    void appendTable(const Table &table);
    void deleteTable(const QString &name);

    static QString createTableSql(const Table &table);

private:
    Connection &requireConnection() const;
    std::shared_ptr<Connection> m_connection;
};

} // namespace DataAccess
