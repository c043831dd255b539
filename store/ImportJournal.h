#pragma once

#include "core/AppState.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <array>
#include <memory>

namespace DataAccess {
class Connection;
} // namespace DataAccess

// The journal of import runs in the template database: one row per run in tblImportRuns, and
// one row per contact a run created in tblImportRunContacts.
struct ImportRunRecord {
    QString id;
    QString templateName;
    QString source;
    QString sourceSha256;
    QString sheet;
    QString entryId;
    QString storeId;
    QDateTime started;
    QDateTime ended;
    std::array<int, kImportCounterCount> counters{};
    QString outcome; // "running" until the run ends, then "completed" or "aborted"; "undone" after an undo
};

struct ImportRunContact {
    QString uid;
    int sourceRow = 0;
    QString stamp; // what tells whether the contact is still as the run saved it
};

// Makes the journal's tables in a template database made before them. Failures reach the caller
// as AppError.
void EnsureImportJournal(const std::shared_ptr<DataAccess::Connection> &db);
// The first row of a run, written when it starts: a run that never ends stays "running".
void BeginImportRun(const std::shared_ptr<DataAccess::Connection> &db, const ImportRunRecord &run);
// Contacts the run created, in one transaction.
void RecordImportRunContacts(const std::shared_ptr<DataAccess::Connection> &db, const QString &runId,
                             const QList<ImportRunContact> &contacts);
// The run's end, its counters and its contacts not recorded before, in one transaction.
void FinishImportRun(const std::shared_ptr<DataAccess::Connection> &db, const ImportRunRecord &run, const QList<ImportRunContact> &contacts);
// Marks a run as undone.
void MarkImportRunUndone(const std::shared_ptr<DataAccess::Connection> &db, const QString &runId);
// The runs, newest first.
QList<ImportRunRecord> ImportRuns(const std::shared_ptr<DataAccess::Connection> &db);
// The contacts a run created, in the order it created them.
QList<ImportRunContact> ImportRunContacts(const std::shared_ptr<DataAccess::Connection> &db, const QString &runId);
