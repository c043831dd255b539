#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

struct sqlite3;

// A connection to one SQLCipher file. Every failure throws AppError.
namespace DataAccess {

// Source of the errors the database engine raises.
inline const QString kEngineSource = QStringLiteral("SQLCipher");

// Text comparisons on every connection. NOCASE, the collation of the text columns, replaces the
// engine's, which ignores the letter case of ASCII letters only: text is equal when its case
// folding is ("été" and "ÉTÉ"), and ordered by the folded text, an order that does not depend on
// the locale, so an index stays in order whoever opens the file. USERORDER sorts for lists: the
// user's locale's order ("Äpfel" beside "apfel"), letter case ignored.
inline const QString kUserOrder = QStringLiteral("USERORDER");

class Connection {
public:
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Opens an existing file with its key. A missing file fails with ErrorCode::FileNotFound;
    // a file that is no database or has another key fails at once, and is left as it was.
    static std::shared_ptr<Connection> open(const QString &path, const QString &key);
    // Creates a new keyed file; fails when the file exists or cannot be made.
    static std::shared_ptr<Connection> create(const QString &path, const QString &key);
    static std::shared_ptr<Connection> openInMemory(const QString &key);

    void execute(const QString &sql, const QVariantList &params = {});
    // Runs one statement, prepared once, with each of count lists of values.
    void executeEach(const QString &sql, qsizetype count, const std::function<QVariantList(qsizetype)> &params);
    QVariant scalar(const QString &sql, const QVariantList &params = {});
    // Empty when the engine is not SQLCipher (then a key would be silently ignored).
    QString cipherVersion();
    // Rebuilds, once per file, the text indexes that the engine's own NOCASE ordered.
    void rebuildTextIndexesOnce();

    void beginTransaction();
    void commit();
    void rollback();
    bool inTransaction() const;

    QString path() const { return m_path; }
    sqlite3 *handle() const { return m_db; }
    [[noreturn]] void fail(int rc, const QString &context = {}) const;

private:
    Connection(sqlite3 *db, QString path) : m_db(db), m_path(std::move(path)) {}
    static std::shared_ptr<Connection> openFile(const QString &path, const QString &key, int flags);
    void applyKey(const QString &key);

    sqlite3 *m_db = nullptr;
    QString m_path;
};

// Storage forms of values: Booleans as -1/0, dates as ISO-8601 local date-time text.
QVariant toStorage(const QVariant &value);

QString quoteIdentifier(const QString &name);

} // namespace DataAccess
