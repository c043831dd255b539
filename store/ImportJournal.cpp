#include "store/ImportJournal.h"

#include "platform/DataAccess.h"

#include <QStringList>

using DataAccess::Connection;

namespace {

const char *const kCounterColumns[kImportCounterCount] = {"IR_TOTAL",   "IR_BLANK",   "IR_NONAME",  "IR_NOCOMPANY",
                                                           "IR_BADEMAIL", "IR_NOADDRESS", "IR_NOPHONE"};

QString timeText(const QDateTime &when)
{
    return when.isValid() ? when.toUTC().toString(Qt::ISODateWithMs) : QString();
}

} // namespace

void EnsureImportJournal(const std::shared_ptr<Connection> &db)
{
    QStringList counters;
    for (const char *column : kCounterColumns)
        counters << QLatin1String(column) + QStringLiteral(" INTEGER NOT NULL DEFAULT 0");
    db->execute(QStringLiteral("CREATE TABLE IF NOT EXISTS tblImportRuns (IR_ID TEXT PRIMARY KEY NOT NULL, "
                              "IR_TEMPLATE TEXT, IR_SOURCE TEXT, IR_SOURCESHA256 TEXT, IR_SHEET TEXT, "
                              "IR_ENTRYID TEXT, IR_STOREID TEXT, IR_STARTED TEXT, IR_ENDED TEXT, ") +
               counters.join(QStringLiteral(", ")) + QStringLiteral(", IR_OUTCOME TEXT NOT NULL)"));
    db->execute(QStringLiteral("CREATE TABLE IF NOT EXISTS tblImportRunContacts (IRC_RUN TEXT NOT NULL, "
                              "IRC_UID TEXT NOT NULL, IRC_ROW INTEGER NOT NULL, IRC_STAMP TEXT)"));
    db->execute(QStringLiteral("CREATE INDEX IF NOT EXISTS IRC_RUN ON tblImportRunContacts (IRC_RUN)"));
    // Journals made before contacts had their stamps gain the column.
    if (!db->scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'tblImportRunContacts'"))
             .toString()
             .contains(QLatin1String("IRC_STAMP")))
        db->execute(QStringLiteral("ALTER TABLE tblImportRunContacts ADD COLUMN IRC_STAMP TEXT"));
}

void BeginImportRun(const std::shared_ptr<Connection> &db, const ImportRunRecord &run)
{
    db->execute(QStringLiteral("INSERT INTO tblImportRuns (IR_ID, IR_TEMPLATE, IR_SOURCE, IR_SOURCESHA256, IR_SHEET, "
                              "IR_ENTRYID, IR_STOREID, IR_STARTED, IR_OUTCOME) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
               {run.id, run.templateName, run.source, run.sourceSha256, run.sheet, run.entryId, run.storeId,
                timeText(run.started), QStringLiteral("running")});
}

namespace {

// One statement, prepared once, for all the contacts.
void insertContacts(Connection &db, const QString &runId, const QList<ImportRunContact> &contacts)
{
    db.executeEach(QStringLiteral("INSERT INTO tblImportRunContacts (IRC_RUN, IRC_UID, IRC_ROW, IRC_STAMP) "
                                  "VALUES (?, ?, ?, ?)"),
                   contacts.size(), [&](qsizetype i) -> QVariantList {
                       const ImportRunContact &c = contacts[i];
                       return {runId, c.uid, c.sourceRow, c.stamp};
                   });
}

} // namespace

void RecordImportRunContacts(const std::shared_ptr<Connection> &db, const QString &runId,
                             const QList<ImportRunContact> &contacts)
{
    db->beginTransaction();
    try {
        insertContacts(*db, runId, contacts);
        db->commit();
    } catch (...) {
        db->rollback();
        throw;
    }
}

void FinishImportRun(const std::shared_ptr<Connection> &db, const ImportRunRecord &run, const QList<ImportRunContact> &contacts)
{
    QStringList set;
    QVariantList values{timeText(run.ended), run.outcome};
    for (int i = 0; i < kImportCounterCount; ++i) {
        set << QLatin1String(kCounterColumns[i]) + QStringLiteral(" = ?");
        values << run.counters[size_t(i)];
    }
    values << run.id;
    db->beginTransaction();
    try {
        db->execute(QStringLiteral("UPDATE tblImportRuns SET IR_ENDED = ?, IR_OUTCOME = ?, ") +
                       set.join(QStringLiteral(", ")) + QStringLiteral(" WHERE IR_ID = ?"),
                   values);
        insertContacts(*db, run.id, contacts);
        db->commit();
    } catch (...) {
        db->rollback();
        throw;
    }
}

void MarkImportRunUndone(const std::shared_ptr<Connection> &db, const QString &runId)
{
    db->execute(QStringLiteral("UPDATE tblImportRuns SET IR_OUTCOME = 'undone' WHERE IR_ID = ?"), {runId});
}

QList<ImportRunRecord> ImportRuns(const std::shared_ptr<Connection> &db)
{
    QList<ImportRunRecord> runs;
    DataAccess::RecordSet rows;
    rows.open(db, QStringLiteral("SELECT * FROM tblImportRuns ORDER BY IR_ID DESC"));
    for (; !rows.eof(); rows.moveNext()) {
        ImportRunRecord r;
        const auto text = [&](const char *column) { return rows.value(QLatin1String(column)).toString(); };
        r.id = text("IR_ID");
        r.templateName = text("IR_TEMPLATE");
        r.source = text("IR_SOURCE");
        r.sourceSha256 = text("IR_SOURCESHA256");
        r.sheet = text("IR_SHEET");
        r.entryId = text("IR_ENTRYID");
        r.storeId = text("IR_STOREID");
        r.started = QDateTime::fromString(text("IR_STARTED"), Qt::ISODateWithMs);
        r.ended = QDateTime::fromString(text("IR_ENDED"), Qt::ISODateWithMs);
        for (int i = 0; i < kImportCounterCount; ++i)
            r.counters[size_t(i)] = rows.value(QLatin1String(kCounterColumns[i])).toInt();
        r.outcome = text("IR_OUTCOME");
        runs << r;
    }
    return runs;
}

QList<ImportRunContact> ImportRunContacts(const std::shared_ptr<Connection> &db, const QString &runId)
{
    QList<ImportRunContact> contacts;
    DataAccess::RecordSet rows;
    rows.open(db, QStringLiteral("SELECT * FROM tblImportRunContacts WHERE IRC_RUN = ? ORDER BY rowid"), {runId});
    for (; !rows.eof(); rows.moveNext())
        contacts << ImportRunContact{rows.value(QStringLiteral("IRC_UID")).toString(),
                                     rows.value(QStringLiteral("IRC_ROW")).toInt(),
                                     rows.value(QStringLiteral("IRC_STAMP")).toString()};
    return contacts;
}
