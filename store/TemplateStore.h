#pragma once

#include "core/AppState.h"
#include "store/MappingRow.h"

#include <QString>
#include <array>

struct Services;
namespace DataAccess {
class RecordSet;
} // namespace DataAccess

// Reading and writing templates: the index row in tblTmpltIndex and the template's own
// mapping table. The operations work on the connection and record sets held in AppState.

// One template's row of tblTmpltIndex: what the template is, apart from its mapping rows.
struct TemplateIndex {
    QString id;        // tm_id, the name of its mapping table
    QString name;      // tm_desc
    QString fileType;  // "CSH", "CSN", "XLH" or "XLN"
    QString sheetName; // the worksheet an Excel template reads
    int columnCount = 0;
    bool fixedFolder = false; // the folder below is the template's own
    QString folderEntryId;
    QString folderStoreId;
    QString folderName;
    bool customForm = false; // the fixed folder's custom form, below
    QString customFormName;
    int customFieldCount = 0;
    std::array<bool, 4> streetLines{};                    // an address's lines are joined, by address number
    DuplicatePolicy duplicates = DuplicatePolicy::Create; // chosen with the folder of its last run

    static TemplateIndex read(const DataAccess::RecordSet &row);
    // Writes every field but the id, the status and the user and date stamps.
    void write(DataAccess::RecordSet &row) const;
};

enum class FindMode {
    Check, // is the name free?
    Read,  // read the stored template
};

// Looks up templateName (letter case ignored). Check: True when the name is free. Read: True when
// found, with the template's values copied into AppState. Failures of the database reach the
// caller as AppError.
bool FindTemplate(AppState &state, Services &services, FindMode mode);

// Opens the mapping rows of the template under indexRecord, in column order.
bool OpenTemplateTable(AppState &state, Services &services);

// Creates an empty mapping table. Failures reach the caller as AppError.
void CreateTemplateTable(AppState &state, const QString &tableName);

// Add: adds one row per list row to mappingTable. Update: rewrites the open mapping rows in list
// order, leaving their column numbers as they are.
bool WriteMappingRows(AppState &state, Services &services, const MappingRows &list, LoadMode mode);

// Add: adds the index row of a new template; Update: updates the row under indexRecord.
bool WriteTemplateIndex(AppState &state, Services &services, LoadMode mode, const QString &fileType,
                        const MappingRows &list);

// Deletes the index row under indexRecord and drops the mapping table. False after its message.
bool DeleteTemplate(AppState &state, Services &services, const QString &tableName);

// Opens the index row and the mapping rows of the template in mappingTable again, leaving the
// template's values in AppState as they are (a save that failed is tried again on them).
void ReopenTemplateRecords(AppState &state);

// Keeps the duplicate policy in AppState with the template in mappingTable, for its next run.
// Failures reach the caller as AppError.
void RememberDuplicatePolicy(AppState &state);
// Gives tblTmpltIndex the column of the duplicate policy in a database made before it.
void EnsureDuplicatePolicyColumn(const std::shared_ptr<DataAccess::Connection> &db);

// The mapping table name for the next template number; raises the stored counter by one
// through systemRecord. Numbers are never reused. Failures reach the caller as AppError.
QString AllocateTemplateTable(AppState &state);
QString TemplateTableName(int number);
