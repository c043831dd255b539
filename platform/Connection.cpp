#include "platform/Connection.h"

#include "platform/Statement.h"

#include <QFileInfo>

namespace DataAccess {

using namespace detail;

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

} // namespace DataAccess
