#include "platform/Catalog.h"

#include "platform/Statement.h"

namespace DataAccess {

using namespace detail;

void Catalog::create(const QString &path, const QString &key)
{
    m_connection = Connection::create(path, key);
}

Connection &Catalog::requireConnection() const
{
    if (!m_connection)
        throw AppError(kErrObjectClosed, QStringLiteral("Operation is not allowed when the object is closed."));
    return *m_connection;
}

namespace {

QString columnSql(const Column &column)
{
    const QString name = quoteIdentifier(column.name);
    const int width = column.definedSize > 0 ? column.definedSize : 255;
    QString sql = name + QLatin1Char(' ');
    switch (column.type) {
    case adSmallInt:
        sql += QStringLiteral("SMALLINT");
        break;
    case adInteger:
        // Not "INTEGER": a primary key of that type would become SQLite's auto-numbered row id.
        sql += QStringLiteral("INT");
        break;
    case adDate:
        sql += QStringLiteral("DATETIME");
        break;
    case adBoolean:
        sql += QStringLiteral("BOOLEAN");
        break;
    case adWChar:
        sql += QStringLiteral("NCHAR(%1) COLLATE NOCASE").arg(width);
        break;
    case adVarWChar:
        sql += QStringLiteral("NVARCHAR(%1) COLLATE NOCASE").arg(width);
        break;
    default:
        throw AppError(ErrorCode::TypeMismatch,
                       QStringLiteral("Column '%1' has an unsupported type %2.").arg(column.name).arg(column.type));
    }
    if (!(column.attributes & adColNullable))
        sql += QStringLiteral(" NOT NULL");
    switch (column.type) {
    case adSmallInt:
        sql +=
            QStringLiteral(" CHECK (%1 IS NULL OR (typeof(%1) = 'integer' AND %1 BETWEEN -32768 AND 32767))").arg(name);
        break;
    case adInteger:
        sql +=
            QStringLiteral(" CHECK (%1 IS NULL OR (typeof(%1) = 'integer' AND %1 BETWEEN -2147483648 AND 2147483647))")
                .arg(name);
        break;
    case adBoolean:
        // Booleans are never empty: a row added without one reads False.
        sql += QStringLiteral(" DEFAULT 0 CHECK (%1 IN (-1, 0))").arg(name);
        break;
    case adWChar:
    case adVarWChar:
        sql += QStringLiteral(" CHECK (%1 IS NULL OR length(%1) <= %2)").arg(name).arg(width);
        break;
    default:
        break;
    }
    return sql;
}

} // namespace

QString Catalog::createTableSql(const Table &table)
{
    QStringList parts;
    for (const Column &column : table.columns)
        parts << columnSql(column);
    for (const Index &index : table.indexes) {
        if (!index.primaryKey)
            continue;
        QStringList columns;
        for (const QString &c : index.columns)
            columns << quoteIdentifier(c);
        parts << QStringLiteral("CONSTRAINT %1 PRIMARY KEY (%2)").arg(quoteIdentifier(index.name), columns.join(", "));
    }
    return QStringLiteral("CREATE TABLE %1 (%2)").arg(quoteIdentifier(table.name), parts.join(QLatin1String(", ")));
}

void Catalog::appendTable(const Table &table)
{
    Connection &connection = requireConnection();
    // The table and its indexes appear together or not at all.
    const bool own = !connection.inTransaction();
    if (own)
        connection.beginTransaction();
    try {
        connection.execute(createTableSql(table));
        for (const Index &index : table.indexes) {
            if (index.primaryKey)
                continue;
            QStringList columns;
            for (const QString &c : index.columns)
                columns << quoteIdentifier(c);
            connection.execute(QStringLiteral("CREATE %1INDEX %2 ON %3 (%4)")
                                   .arg(index.unique ? QStringLiteral("UNIQUE ") : QString(),
                                        quoteIdentifier(table.name + QLatin1Char('.') + index.name),
                                        quoteIdentifier(table.name), columns.join(QLatin1String(", "))));
        }
        if (own)
            connection.commit();
    } catch (...) {
        if (own)
            connection.rollback();
        throw;
    }
}

void Catalog::deleteTable(const QString &name)
{
    requireConnection().execute(QStringLiteral("DROP TABLE ") + quoteIdentifier(name));
}

} // namespace DataAccess
