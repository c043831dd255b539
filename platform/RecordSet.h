#pragma once

#include "platform/Connection.h"

#include <QStringList>

namespace DataAccess {

// A snapshot of a query's rows with a current position. A record set opened on
// "select * from <table> ..." is updatable: AddNew/Update/Delete write through to the table.
class RecordSet {
public:
    RecordSet() = default;

    void open(std::shared_ptr<Connection> connection, const QString &sql, const QVariantList &params = {});
    void close();
    bool isOpen() const { return m_open; }
    // Reads the rows of the same query again and stands on the first.
    void requery();

    bool eof() const;
    bool bof() const;
    void moveFirst();
    void moveNext();
    int recordCount() const;

    int fieldCount() const { return int(m_names.size()); }
    QString fieldName(int index) const;
    int fieldIndex(const QString &name) const; // -1 when there is no such field; letter case ignored
    QVariant value(int index) const;
    QVariant value(const QString &name) const;
    // Assigns a field of the new row (after addNew) or of the current row; stored by update().
    void setValue(const QString &name, const QVariant &value);

    void addNew();
    void update();
    void deleteCurrent();

private:
    struct Row {
        qint64 rowid = 0;
        QVariantList values;
    };
    void requireOpen() const;
    void requireCurrent() const;
    void requireUpdatable() const;
    int requireField(const QString &name) const;
    Row readRow(qint64 rowid) const;

    std::shared_ptr<Connection> m_connection;
    bool m_open = false;
    QString m_sql;
    QVariantList m_params;
    QString m_table; // empty when not updatable
    QStringList m_names;
    QStringList m_types;
    QList<Row> m_rows;
    int m_position = -1;
    bool m_deleted = false; // the current row was deleted; the next move stays on its successor
    bool m_adding = false;
    QVariantList m_buffer;
    QList<int> m_dirty;
};

} // namespace DataAccess
