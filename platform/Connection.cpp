#include "platform/Connection.h"

#include "platform/Statement.h"

#include <QCollator>
#include <QFileInfo>

namespace DataAccess {

using namespace detail;

namespace {

// PRAGMA user_version of a file whose text indexes are ordered by the folding NOCASE.
constexpr int kFoldedTextIndexes = 1;

QString textOf(int bytes, const void *text)
{
    return QString::fromUtf8(static_cast<const char *>(text), bytes);
}

int compareFolded(void *, int bytes1, const void *text1, int bytes2, const void *text2)
{
    return QString::compare(textOf(bytes1, text1).toCaseFolded(), textOf(bytes2, text2).toCaseFolded());
}

// Ties of the locale's order are broken by the folded and then the exact text: a total order.
int compareInUserOrder(void *collator, int bytes1, const void *text1, int bytes2, const void *text2)
{
    const QString a = textOf(bytes1, text1);
    const QString b = textOf(bytes2, text2);
    int order = static_cast<const QCollator *>(collator)->compare(a, b);
    if (order == 0)
        order = QString::compare(a.toCaseFolded(), b.toCaseFolded());
    return order != 0 ? order : QString::compare(a, b);
}

void deleteCollator(void *collator)
{
    delete static_cast<QCollator *>(collator);
}

// In the files' own encoding, UTF-8: the engine prefers a collation of that encoding, so one
// for UTF-16 would leave its own NOCASE in use.
void registerCollations(const Connection &connection)
{
    int rc = sqlite3_create_collation_v2(connection.handle(), "NOCASE", SQLITE_UTF8, nullptr, compareFolded, nullptr);
    if (rc == SQLITE_OK) {
        auto collator = std::make_unique<QCollator>(QLocale());
        collator->setCaseSensitivity(Qt::CaseInsensitive);
        // On success the engine owns the collator and deletes it with the connection.
        rc = sqlite3_create_collation_v2(connection.handle(), kUserOrder.toLatin1().constData(), SQLITE_UTF8,
                                         collator.get(), compareInUserOrder, deleteCollator);
        if (rc == SQLITE_OK)
            collator.release();
    }
    if (rc != SQLITE_OK)
        connection.fail(rc);
}

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
    registerCollations(*connection);
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
    auto connection = openFile(path, key, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    connection->execute(QStringLiteral("PRAGMA user_version = %1").arg(kFoldedTextIndexes));
    return connection;
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

void Connection::executeEach(const QString &sql, qsizetype count, const std::function<QVariantList(qsizetype)> &params)
{
    Statement statement(*this, sql);
    for (qsizetype i = 0; i < count; ++i) {
        statement.reset();
        statement.bind(params(i));
        while (statement.step()) {
        }
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

void Connection::rebuildTextIndexesOnce()
{
    if (scalar(QStringLiteral("PRAGMA user_version")).toInt() >= kFoldedTextIndexes)
        return;
    beginTransaction();
    try {
        execute(QStringLiteral("REINDEX NOCASE"));
        execute(QStringLiteral("PRAGMA user_version = %1").arg(kFoldedTextIndexes));
        commit();
    } catch (...) {
        rollback();
        throw;
    }
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
