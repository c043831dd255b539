#include "store/TemplateStore.h"

#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "platform/DataAccess.h"
#include "source/FileTypes.h"
#include "store/TemplateRecords.h"

#include <QDateTime>

using namespace DataAccess;

namespace {

const QString kSystemUser = QStringLiteral("SYSTEM");

QString text(const RecordSet &rs, const char *field)
{
    return rs.value(QLatin1String(field)).toString(); // an empty column reads as ""
}

bool flag(const RecordSet &rs, const char *field)
{
    return rs.value(QLatin1String(field)).toBool();
}

Table mappingTableSchema(const QString &name)
{
    Table table{name, {}, {}};
    table.columns = {Column{QStringLiteral("TMP_SRCCOLNUM"), adSmallInt, 0, 0},
                     Column{QStringLiteral("TMP_SRCCOLNAME"), adWChar, 50, adColNullable},
                     Column{QStringLiteral("TMP_DISPCOLNAME"), adWChar, 50, adColNullable},
                     Column{QStringLiteral("TMP_OLKEY"), adWChar, 50, adColNullable}};
    table.indexes = {Index{QStringLiteral("TMP_SRCCOLNUM"), true, false, {QStringLiteral("TMP_SRCCOLNUM")}},
                     Index{QStringLiteral("TMP_SRCCOLNAME"), false, false, {QStringLiteral("TMP_SRCCOLNAME")}},
                     Index{QStringLiteral("TMP_OLKEY"), false, false, {QStringLiteral("TMP_OLKEY")}}};
    return table;
}

QString selectAllFrom(const QString &table)
{
    return QStringLiteral("Select * from ") + quoteIdentifier(table);
}

// The index columns of the street flags, by address number.
const char *const kStreetLineColumns[] = {"tm_combbaddr", "tm_combmaddr", "tm_combhaddr", "tm_comboaddr"};

// The duplicate policies as the index row keeps them, in the order of DuplicatePolicy.
const QStringList kPolicyNames{QStringLiteral("create"), QStringLiteral("skip"), QStringLiteral("update")};

// An empty text column holds "", not Null.
QString orEmpty(const QString &text)
{
    return text.isNull() ? QString(QLatin1String("")) : text;
}

} // namespace

TemplateIndex TemplateIndex::read(const RecordSet &row)
{
    TemplateIndex index;
    index.id = text(row, "tm_id");
    index.name = text(row, "tm_desc");
    index.fileType = text(row, "tm_filetype");
    index.sheetName = text(row, "tm_shttblname");
    index.columnCount = row.value(QStringLiteral("tm_noofcols")).toInt();
    index.fixedFolder = flag(row, "tm_defaultfolder");
    if (index.fixedFolder) {
        index.folderEntryId = text(row, "tm_entryid");
        index.folderStoreId = text(row, "tm_storeid");
        index.folderName = text(row, "tm_foldername");
    }
    index.customForm = flag(row, "tm_customform");
    if (index.customForm) {
        index.customFieldCount = row.value(QStringLiteral("tm_customfields")).toInt();
        index.customFormName = text(row, "tm_customformname");
    }
    for (size_t a = 0; a < index.streetLines.size(); ++a)
        index.streetLines[a] = flag(row, kStreetLineColumns[a]);
    QString policyName;
    try {
        policyName = text(row, "tm_duplicates");
    } catch (const AppError &) {
        // a database made before the column that could not be given it: the plain import
    }
    const qsizetype policy = kPolicyNames.indexOf(policyName);
    index.duplicates = policy < 0 ? DuplicatePolicy::Create : DuplicatePolicy(policy);
    return index;
}

void TemplateIndex::write(RecordSet &row) const
{
    row.setValue(QStringLiteral("tm_desc"), name);
    row.setValue(QStringLiteral("tm_shttblname"), sheetName);
    row.setValue(QStringLiteral("tm_filetype"), fileType);
    row.setValue(QStringLiteral("tm_noofcols"), columnCount);
    row.setValue(QStringLiteral("tm_customform"), customForm);
    row.setValue(QStringLiteral("tm_customformname"), orEmpty(customFormName));
    row.setValue(QStringLiteral("tm_customfields"), customFieldCount);
    for (size_t a = 0; a < streetLines.size(); ++a)
        row.setValue(QLatin1String(kStreetLineColumns[a]), streetLines[a]);
    if (FileTypeCode::family(fileType) != FileTypeCode::Family::None)
        row.setValue(QStringLiteral("tm_hdrsyn"), FileTypeCode::hasHeader(fileType));
    row.setValue(QStringLiteral("tm_duplicates"), kPolicyNames[int(duplicates)]);
    row.setValue(QStringLiteral("tm_defaultfolder"), fixedFolder);
    row.setValue(QStringLiteral("tm_storeid"), orEmpty(folderStoreId));
    row.setValue(QStringLiteral("tm_entryid"), orEmpty(folderEntryId));
    row.setValue(QStringLiteral("tm_foldername"), orEmpty(folderName));
}

void RememberDuplicatePolicy(AppState &state)
{
    state.connection->execute(QStringLiteral("UPDATE tblTmpltIndex SET TM_DUPLICATES = ? WHERE TM_ID = ?"),
                              {kPolicyNames[int(state.duplicatePolicy)], state.mappingTable});
}

void EnsureDuplicatePolicyColumn(const std::shared_ptr<DataAccess::Connection> &db)
{
    if (!db->scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'tblTmpltIndex'"))
             .toString()
             .contains(QLatin1String("TM_DUPLICATES"), Qt::CaseInsensitive))
        db->execute(QStringLiteral("ALTER TABLE tblTmpltIndex ADD COLUMN TM_DUPLICATES TEXT"));
}

QString TemplateTableName(int number)
{
    return QStringLiteral("Tmplt") + QStringLiteral("%1").arg(number, 4, 10, QLatin1Char('0'));
}

bool FindTemplate(AppState &state, Services &services, FindMode mode)
{
    // The name is bound as a parameter: any name, quotes included, is looked up as it stands.
    Records(state).indexRecord = RecordSet();
    Records(state).indexRecord.open(state.connection, QStringLiteral("SELECT * FROM tblTmpltIndex where tm_desc = ?"),
                                    {state.templateName});
    const bool found = !Records(state).indexRecord.eof();

    if (mode == FindMode::Check) {
        if (!found)
            return true;
        services.boxes().show(QStringLiteral("A template by this name already exists"), MessageBoxes::Buttons::Ok,
                              MessageBoxes::Icon::Critical);
        return false;
    }
    if (mode == FindMode::Read && !found) {
        services.boxes().show(QStringLiteral("The info for this template no longer exists in the database"),
                              MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Critical);
        return false;
    }

    const TemplateIndex index = TemplateIndex::read(Records(state).indexRecord);
    state.loadMode = LoadMode::Update;
    state.mappingTable = index.id;
    state.fileType = index.fileType;
    state.sheetName = index.sheetName;
    state.columnCount = qint16(index.columnCount);
    state.defaultFolder = index.fixedFolder;
    if (index.fixedFolder) {
        state.folderEntryId = index.folderEntryId;
        state.folderStoreId = index.folderStoreId;
        state.folderName = index.folderName;
    }
    state.customForm = index.customForm;
    if (index.customForm) {
        state.templateFieldCount = qint16(index.customFieldCount);
        state.customFormName = index.customFormName;
    }
    for (size_t a = 0; a < state.street.size(); ++a)
        state.street[a].streetLines = index.streetLines[a];
    state.duplicatePolicy = index.duplicates;
    return true;
}

bool OpenTemplateTable(AppState &state, Services &services)
{
    try {
        Records(state).mappingRecords = RecordSet();
        // Ordered, so that rows pair with list rows by position.
        Records(state).mappingRecords.open(state.connection, selectAllFrom(text(Records(state).indexRecord, "tm_id")) +
                                                                 QStringLiteral(" ORDER BY tmp_srccolnum"));
        return true;
    } catch (const std::exception &e) {
        const ErrorInfo error = TrappedError(e);
        QString id;
        try {
            id = text(Records(state).indexRecord, "tm_id");
        } catch (const std::exception &) {
            // no current row to name
        }
        services.boxes().show(
            QStringLiteral("Error encountered retrieving Template selected ") + kCrLf +
                QStringLiteral("Template ID: ") + id + QStringLiteral(" ") + kCrLf + QStringLiteral("Err Num = ") +
                QString::number(error.number) + QStringLiteral("  Desc: ") + error.description,
            MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Critical, QStringLiteral("Retrieving Template File Info"));
        return false;
    }
}

void CreateTemplateTable(AppState &state, const QString &tableName)
{
    Catalog catalog;
    catalog.setActiveConnection(state.connection);
    catalog.appendTable(mappingTableSchema(tableName));
}

bool WriteMappingRows(AppState &state, Services &services, const MappingRows &list, LoadMode mode)
{
    try {
        RecordSet &rows = Records(state).mappingRecords;
        if (mode == LoadMode::Add) {
            rows = RecordSet();
            rows.open(state.connection, selectAllFrom(state.mappingTable));
            for (const MappingRow &row : list) {
                rows.addNew();
                rows.setValue(QStringLiteral("tmp_srccolnum"), row.sourceColumnNumber);
                rows.setValue(QStringLiteral("tmp_srccolname"), row.sourceColumnName);
                rows.setValue(QStringLiteral("tmp_dispcolname"), row.displayName);
                rows.setValue(QStringLiteral("tmp_olkey"), row.key);
                rows.update();
            }
        } else if (mode == LoadMode::Update) {
            // Paired by position; the column numbers stay as stored.
            rows.moveFirst();
            for (const MappingRow &row : list) {
                rows.setValue(QStringLiteral("tmp_srccolname"), row.sourceColumnName);
                rows.setValue(QStringLiteral("tmp_dispcolname"), row.displayName);
                rows.setValue(QStringLiteral("tmp_olkey"), row.key);
                rows.update();
                rows.moveNext();
            }
        }
        return true;
    } catch (const std::exception &e) {
        ReportFileError(services.boxes(), TrappedError(e));
        return false;
    }
}

bool WriteTemplateIndex(AppState &state, Services &services, LoadMode mode, const QString &fileType,
                        const MappingRows &list)
{
    try {
        RecordSet &row = Records(state).indexRecord;
        if (mode == LoadMode::Add) {
            row.addNew();
            row.setValue(QStringLiteral("tm_id"), state.mappingTable);
            row.setValue(QStringLiteral("Status"), QStringLiteral("A"));
        }
        TemplateIndex index;
        index.name = state.templateName;
        index.sheetName = state.sheetName;
        index.fileType = fileType;
        index.columnCount = int(list.size());
        // The form of the folder the template names now; a plain folder, or none, has no custom form.
        index.customForm = state.defaultFolder && state.customForm;
        if (index.customForm) {
            index.customFormName = state.customFormName;
            index.customFieldCount = state.customFieldCount;
        }
        for (size_t a = 0; a < state.street.size(); ++a)
            index.streetLines[a] = state.street[a].streetLines;
        index.duplicates = state.duplicatePolicy;
        index.fixedFolder = state.defaultFolder;
        if (index.fixedFolder) {
            index.folderStoreId = state.folderStoreId;
            index.folderEntryId = state.folderEntryId;
            index.folderName = state.folderName;
        }
        index.write(row);
        if (FileTypeCode::family(fileType) == FileTypeCode::Family::None)
            services.boxes().show(QStringLiteral("Unknown File Type"));
        row.setValue(QStringLiteral("tm_chkprov"), false);
        row.setValue(QStringLiteral("tm_chkcntry"), false);
        if (mode == LoadMode::Add) {
            row.setValue(QStringLiteral("add_User"), kSystemUser);
            row.setValue(QStringLiteral("add_date"), QDateTime::currentDateTime());
        } else {
            row.setValue(QStringLiteral("chg_user"), kSystemUser);
            row.setValue(QStringLiteral("chg_date"), QDateTime::currentDateTime());
        }
        row.update();
        row.close();
        state.editPending = false;
        return true;
    } catch (const std::exception &e) {
        ReportFileError(services.boxes(), TrappedError(e));
        return false;
    }
}

bool DeleteTemplate(AppState &state, Services &services, const QString &tableName)
{
    try {
        Records(state).indexRecord.deleteCurrent();
        Catalog catalog;
        catalog.setActiveConnection(state.connection);
        catalog.deleteTable(tableName);
        return true;
    } catch (const std::exception &e) {
        const ErrorInfo error = TrappedError(e);
        services.boxes().show(QStringLiteral("Err Num: ") + QString::number(error.number) +
                                  QStringLiteral(" - Desc: ") + error.description,
                              MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Critical,
                              QStringLiteral("Deleting Template Info"));
        return false;
    }
}

void ReopenTemplateRecords(AppState &state)
{
    Records(state).indexRecord = RecordSet();
    Records(state).indexRecord.open(state.connection, QStringLiteral("SELECT * FROM tblTmpltIndex where tm_id = ?"),
                                    {state.mappingTable});
    Records(state).mappingRecords = RecordSet();
    Records(state).mappingRecords.open(state.connection,
                                       selectAllFrom(state.mappingTable) + QStringLiteral(" ORDER BY tmp_srccolnum"));
}

QString AllocateTemplateTable(AppState &state)
{
    RecordSet &system = Records(state).systemRecord;
    const int next = system.value(QStringLiteral("SYS_CURTMPLTNUM")).toInt() + 1;
    state.mappingTable = TemplateTableName(next);
    system.setValue(QStringLiteral("SYS_CURTMPLTNUM"), next);
    system.setValue(QStringLiteral("chg_user"), kSystemUser);
    system.setValue(QStringLiteral("chg_date"), QDateTime::currentDateTime());
    system.update();
    return state.mappingTable;
}
