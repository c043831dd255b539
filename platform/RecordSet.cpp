#include "platform/RecordSet.h"

#include "platform/Statement.h"

#include <QRegularExpression>

namespace DataAccess {

using namespace detail;

void RecordSet::open(std::shared_ptr<Connection> connection, const QString &sql, const QVariantList &params)
{
    close();
    if (!connection)
        throw AppError(kErrObjectClosed, QStringLiteral("Operation is not allowed when the object is closed."));

    // "select * from <table> ..." reads the table's rows with their row ids, so they can be written back.
    static const QRegularExpression wholeTable(
        QStringLiteral(R"(^\s*select\s+\*\s+from\s+("?)([A-Za-z_][A-Za-z0-9_]*)\1(\s.*)?$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = wholeTable.match(sql);
    QString query = sql;
    QString table;
    if (match.hasMatch()) {
        table = match.captured(2);
        query = QStringLiteral("SELECT rowid, * FROM ") + quoteIdentifier(table) + match.captured(3);
    }

    Statement statement(*connection, query, sql);
    statement.bind(params);
    const int first = table.isEmpty() ? 0 : 1;
    QStringList names;
    QStringList types;
    for (int i = first; i < statement.columnCount(); ++i) {
        names << statement.columnName(i);
        types << statement.declaredType(i);
    }
    QList<Row> rows;
    while (statement.step()) {
        Row row;
        row.rowid = first ? sqlite3_int64(statement.value(0, QString()).toLongLong()) : 0;
        for (int i = first; i < statement.columnCount(); ++i)
            row.values << statement.value(i, types[i - first]);
        rows << row;
    }

    m_connection = std::move(connection);
    m_sql = sql;
    m_params = params;
    m_table = table;
    m_names = names;
    m_types = types;
    m_rows = rows;
    m_position = m_rows.isEmpty() ? -1 : 0;
    m_deleted = false;
    m_open = true;
}

void RecordSet::requery()
{
    requireOpen();
    open(m_connection, QString(m_sql), QVariantList(m_params));
}

void RecordSet::close()
{
    m_connection.reset();
    m_open = false;
    m_sql.clear();
    m_params.clear();
    m_table.clear();
    m_names.clear();
    m_types.clear();
    m_rows.clear();
    m_position = -1;
    m_deleted = false;
    m_adding = false;
    m_buffer.clear();
    m_dirty.clear();
}

void RecordSet::requireOpen() const
{
    if (!m_open)
        throw AppError(kErrObjectClosed, QStringLiteral("Operation is not allowed when the object is closed."));
}

void RecordSet::requireCurrent() const
{
    requireOpen();
    if (!m_adding && (m_deleted || m_position < 0 || m_position >= m_rows.size()))
        throw AppError(kErrNoCurrentRecord,
                       QStringLiteral("Either BOF or EOF is True, or the current record has been deleted. "
                                      "Requested operation requires a current record."));
}

void RecordSet::requireUpdatable() const
{
    requireOpen();
    if (m_table.isEmpty())
        throw AppError(kErrNotUpdatable, QStringLiteral("Current Recordset does not support updating."));
}

int RecordSet::requireField(const QString &name) const
{
    const int index = fieldIndex(name);
    if (index < 0)
        throw AppError(kErrItemNotFound,
                       QStringLiteral("Item cannot be found in the collection corresponding to the requested name or "
                                      "ordinal (%1).")
                           .arg(name));
    return index;
}

bool RecordSet::eof() const
{
    return !m_open || m_rows.isEmpty() || m_position >= m_rows.size();
}

bool RecordSet::bof() const
{
    return !m_open || m_rows.isEmpty() || m_position < 0;
}

void RecordSet::moveFirst()
{
    requireOpen();
    if (!m_dirty.isEmpty())
        update();
    m_adding = false;
    m_deleted = false;
    m_position = m_rows.isEmpty() ? -1 : 0;
}

void RecordSet::moveNext()
{
    if (m_deleted) {
        // The row after a deleted one already stands at its place.
        m_deleted = false;
        return;
    }
    requireCurrent();
    if (!m_dirty.isEmpty())
        update();
    m_adding = false;
    if (m_position < m_rows.size())
        ++m_position;
}

int RecordSet::recordCount() const
{
    requireOpen();
    return int(m_rows.size());
}

QString RecordSet::fieldName(int index) const
{
    if (index < 0 || index >= m_names.size())
        throw AppError(kErrItemNotFound,
                       QStringLiteral("Item cannot be found in the collection corresponding to the requested name or "
                                      "ordinal (%1).")
                           .arg(index));
    return m_names[index];
}

int RecordSet::fieldIndex(const QString &name) const
{
    for (int i = 0; i < m_names.size(); ++i)
        if (m_names[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QVariant RecordSet::value(int index) const
{
    requireCurrent();
    fieldName(index);
    if (m_adding || m_dirty.contains(index))
        return m_buffer[index];
    return m_rows[m_position].values[index];
}

QVariant RecordSet::value(const QString &name) const
{
    requireOpen();
    return value(requireField(name));
}

void RecordSet::setValue(const QString &name, const QVariant &v)
{
    requireUpdatable();
    requireCurrent();
    const int index = requireField(name);
    if (!m_adding && m_dirty.isEmpty())
        m_buffer = m_rows[m_position].values;
    m_buffer[index] = v;
    if (!m_dirty.contains(index))
        m_dirty << index;
}

void RecordSet::addNew()
{
    requireUpdatable();
    if (!m_dirty.isEmpty())
        update();
    m_adding = true;
    m_deleted = false;
    m_buffer = QVariantList(m_names.size());
    m_dirty.clear();
}

RecordSet::Row RecordSet::readRow(qint64 rowid) const
{
    Statement statement(*m_connection, QStringLiteral("SELECT rowid, * FROM ") + quoteIdentifier(m_table) +
                                           QStringLiteral(" WHERE rowid = ?"));
    statement.bind({rowid});
    Row row;
    row.rowid = rowid;
    if (!statement.step())
        throw AppError(kErrNoCurrentRecord,
                       QStringLiteral("The row just stored in %1 could not be read back.").arg(m_table));
    for (int i = 1; i < statement.columnCount(); ++i)
        row.values << statement.value(i, m_types[i - 1]);
    return row;
}

void RecordSet::update()
{
    requireUpdatable();
    requireCurrent();
    QStringList columns;
    QVariantList params;
    for (int index : std::as_const(m_dirty)) {
        columns << quoteIdentifier(m_names[index]);
        params << m_buffer[index];
    }
    if (m_adding) {
        const QString sql = columns.isEmpty()
                                ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoteIdentifier(m_table))
                                : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                      .arg(quoteIdentifier(m_table), columns.join(QLatin1String(", ")),
                                           QStringList(columns.size(), QStringLiteral("?")).join(QLatin1String(", ")));
        m_connection->execute(sql, params);
        m_rows << readRow(sqlite3_last_insert_rowid(m_connection->handle()));
        m_position = int(m_rows.size()) - 1;
    } else if (!columns.isEmpty()) {
        QStringList assignments;
        for (const QString &column : std::as_const(columns))
            assignments << column + QStringLiteral(" = ?");
        params << m_rows[m_position].rowid;
        m_connection->execute(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?")
                                  .arg(quoteIdentifier(m_table), assignments.join(QLatin1String(", "))),
                              params);
        m_rows[m_position] = readRow(m_rows[m_position].rowid);
    }
    m_adding = false;
    m_dirty.clear();
    m_buffer.clear();
}

void RecordSet::deleteCurrent()
{
    requireUpdatable();
    if (m_adding) { // a row that was never stored is simply dropped
        m_adding = false;
        m_dirty.clear();
        return;
    }
    requireCurrent();
    m_connection->execute(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(quoteIdentifier(m_table)),
                          {m_rows[m_position].rowid});
    m_rows.removeAt(m_position);
    m_dirty.clear();
    m_deleted = true;
}

} // namespace DataAccess
