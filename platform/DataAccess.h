#pragma once

#include <QStringList>
#include <QVariant>
#include <memory>

struct sqlite3;

// The data access layer: a connection to one SQLCipher file, record sets over queries with
// bound parameters, and a catalog that creates and drops tables. Every failure throws AppError.
namespace DataAccess {

// Source of the errors the database engine raises.
inline const QString kEngineSource = QStringLiteral("SQLCipher");

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
    QVariant scalar(const QString &sql, const QVariantList &params = {});
    // Empty when the engine is not SQLCipher (then a key would be silently ignored).
    QString cipherVersion();

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

// A snapshot of a query's rows with a current position. A record set opened on
// "select * from <table> ..." is updatable: AddNew/Update/Delete write through to the table.
class RecordSet {
public:
    RecordSet() = default;

    void open(std::shared_ptr<Connection> connection, const QString &sql, const QVariantList &params = {});
    void close();
    bool isOpen() const { return m_open; }

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

QString quoteIdentifier(const QString &name);

} // namespace DataAccess
