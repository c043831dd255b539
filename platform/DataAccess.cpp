#include "platform/DataAccess.h"

#include "app/AppError.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <sqlite3.h>

namespace DataAccess {

namespace {

// ADO's numbers for the record-set misuses the program can meet.
constexpr qint32 kErrNoCurrentRecord = 3021;
constexpr qint32 kErrItemNotFound = 3265;
constexpr qint32 kErrObjectClosed = 3704;
constexpr qint32 kErrNotUpdatable = 3251;
constexpr qint32 kErrDatabaseExists = -2147217897;

const QString kDateFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

// One prepared statement, finalized on every path.
class Statement {
public:
    // A failure names the query as the caller wrote it (context), not as it was rewritten.
    Statement(const Connection &connection, const QString &sql, const QString &context = {}) : m_connection(connection)
    {
        const QByteArray text = sql.toUtf8();
        const int rc = sqlite3_prepare_v2(connection.handle(), text.constData(), int(text.size()), &m_stmt, nullptr);
        if (rc != SQLITE_OK)
            connection.fail(rc, context.isEmpty() ? sql : context);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    void bind(const QVariantList &params)
    {
        for (int i = 0; i < params.size(); ++i)
            bindOne(i + 1, toStorage(params[i]));
    }

    // True while a row is available.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        m_connection.fail(rc);
    }

    int columnCount() const { return sqlite3_column_count(m_stmt); }
    QString columnName(int i) const { return QString::fromUtf8(sqlite3_column_name(m_stmt, i)); }
    QString declaredType(int i) const { return QString::fromUtf8(sqlite3_column_decltype(m_stmt, i)).toUpper(); }

    QVariant value(int i, const QString &declared) const
    {
        const int kind = sqlite3_column_type(m_stmt, i);
        if (kind == SQLITE_NULL)
            return QVariant();
        if (declared == QLatin1String("BOOLEAN"))
            return QVariant(sqlite3_column_int64(m_stmt, i) != 0);
        if (declared == QLatin1String("SMALLINT") || declared == QLatin1String("INT")) {
            if (kind == SQLITE_INTEGER)
                return QVariant(int(sqlite3_column_int64(m_stmt, i)));
        }
        if (declared == QLatin1String("DATETIME") && kind == SQLITE_TEXT) {
            const QDateTime when = QDateTime::fromString(text(i), Qt::ISODate);
            if (when.isValid())
                return when;
        }
        switch (kind) {
        case SQLITE_INTEGER:
            return QVariant(qlonglong(sqlite3_column_int64(m_stmt, i)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(m_stmt, i));
        case SQLITE_BLOB:
            return QByteArray(static_cast<const char *>(sqlite3_column_blob(m_stmt, i)),
                              sqlite3_column_bytes(m_stmt, i));
        default:
            return text(i);
        }
    }

private:
    QString text(int i) const
    {
        const auto *data = static_cast<const char16_t *>(sqlite3_column_text16(m_stmt, i));
        return QString::fromUtf16(data, sqlite3_column_bytes16(m_stmt, i) / 2);
    }

    void bindOne(int index, const QVariant &v)
    {
        int rc = SQLITE_OK;
        if (v.isNull()) {
            rc = sqlite3_bind_null(m_stmt, index);
        } else {
            switch (v.typeId()) {
            case QMetaType::Int:
            case QMetaType::LongLong:
            case QMetaType::Short:
            case QMetaType::UInt:
                rc = sqlite3_bind_int64(m_stmt, index, v.toLongLong());
                break;
            case QMetaType::Double:
            case QMetaType::Float:
                rc = sqlite3_bind_double(m_stmt, index, v.toDouble());
                break;
            case QMetaType::QByteArray: {
                const QByteArray bytes = v.toByteArray();
                rc = sqlite3_bind_blob(m_stmt, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
                break;
            }
            default: {
                const QString s = v.toString();
                rc = sqlite3_bind_text16(m_stmt, index, s.utf16(), int(s.size() * 2), SQLITE_TRANSIENT);
            }
            }
        }
        if (rc != SQLITE_OK)
            m_connection.fail(rc);
    }

    const Connection &m_connection;
    sqlite3_stmt *m_stmt = nullptr;
};

} // namespace

QString quoteIdentifier(const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QVariant toStorage(const QVariant &value)
{
    if (value.isNull())
        return QVariant();
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? -1 : 0;
    case QMetaType::QDateTime:
        return value.toDateTime().toLocalTime().toString(kDateFormat);
    case QMetaType::QDate:
        return value.toDate().startOfDay().toString(kDateFormat);
    default:
        return value;
    }
}

// ---- Connection ----

Connection::~Connection()
{
    sqlite3_close_v2(m_db);
}

void Connection::fail(int rc, const QString &context) const
{
    QString description = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
    if ((rc & 0xff) == SQLITE_NOTADB) {
        description = QStringLiteral("The file '%1' is not a template database, or it was encrypted with another "
                                     "password (%2)")
                          .arg(m_path, description);
    } else if (!context.isEmpty()) {
        description += QStringLiteral(" (") + context + QLatin1Char(')');
    }
    throw AppError(rc, description, kEngineSource);
}

std::shared_ptr<Connection> Connection::openFile(const QString &path, const QString &key, int flags)
{
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, flags, nullptr);
    std::shared_ptr<Connection> connection(new Connection(db, path));
    if (rc != SQLITE_OK) {
        const QString reason = QString::fromUtf8(sqlite3_errstr(rc));
        throw AppError(rc, QStringLiteral("The database file '%1' could not be opened (%2)").arg(path, reason),
                       kEngineSource);
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 2000);
    connection->applyKey(key);
    return connection;
}

void Connection::applyKey(const QString &key)
{
    const QByteArray bytes = key.toUtf8();
    const int rc = sqlite3_key(m_db, bytes.constData(), int(bytes.size()));
    if (rc != SQLITE_OK)
        fail(rc);
    // The engine checks the key only at the first read.
    scalar(QStringLiteral("SELECT count(*) FROM sqlite_master"));
}

std::shared_ptr<Connection> Connection::open(const QString &path, const QString &key)
{
    // A link whose target is missing is there all the same: opening it must not create the target.
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        throw AppError(ErrorCode::FileNotFound, QStringLiteral("Could not find file '%1'.").arg(path), kEngineSource);
    return openFile(path, key, SQLITE_OPEN_READWRITE);
}

std::shared_ptr<Connection> Connection::create(const QString &path, const QString &key)
{
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        throw AppError(kErrDatabaseExists, QStringLiteral("Database '%1' already exists.").arg(path), kEngineSource);
    return openFile(path, key, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

std::shared_ptr<Connection> Connection::openInMemory(const QString &key)
{
    return openFile(QStringLiteral(":memory:"), key, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

void Connection::execute(const QString &sql, const QVariantList &params)
{
    Statement statement(*this, sql);
    statement.bind(params);
    while (statement.step()) {
    }
}

QVariant Connection::scalar(const QString &sql, const QVariantList &params)
{
    Statement statement(*this, sql);
    statement.bind(params);
    if (!statement.step())
        return QVariant();
    return statement.value(0, statement.declaredType(0));
}

QString Connection::cipherVersion()
{
    return scalar(QStringLiteral("PRAGMA cipher_version")).toString();
}

void Connection::beginTransaction()
{
    execute(QStringLiteral("BEGIN IMMEDIATE"));
}

void Connection::commit()
{
    execute(QStringLiteral("COMMIT"));
}

void Connection::rollback()
{
    if (inTransaction())
        execute(QStringLiteral("ROLLBACK"));
}

bool Connection::inTransaction() const
{
    return sqlite3_get_autocommit(m_db) == 0;
}

// ---- RecordSet ----

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
    m_table = table;
    m_names = names;
    m_types = types;
    m_rows = rows;
    m_position = m_rows.isEmpty() ? -1 : 0;
    m_deleted = false;
    m_open = true;
}

void RecordSet::close()
{
    m_connection.reset();
    m_open = false;
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

// ---- Catalog ----

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
