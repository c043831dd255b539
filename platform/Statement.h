#pragma once

// Shared by the data access classes only: one prepared statement and the error numbers.

#include "core/AppError.h"
#include "platform/Connection.h"

#include <QDateTime>
#include <sqlite3.h>

namespace DataAccess::detail {

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

    // Ready to run again with new values.
    void reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
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
                // An empty text is stored as empty text, never as Null.
                static const char16_t empty[] = u"";
                const void *data =
                    s.isEmpty() ? static_cast<const void *>(empty) : static_cast<const void *>(s.utf16());
                rc = sqlite3_bind_text16(m_stmt, index, data, int(s.size() * 2), SQLITE_TRANSIENT);
            }
            }
        }
        if (rc != SQLITE_OK)
            m_connection.fail(rc);
    }

    const Connection &m_connection;
    sqlite3_stmt *m_stmt = nullptr;
};

} // namespace DataAccess::detail
