#include "store/TemplateStore.h"

#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "platform/DataAccess.h"
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

} // namespace

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

    const RecordSet &row = Records(state).indexRecord;
    state.loadMode = LoadMode::Update;
    state.mappingTable = text(row, "tm_id");
    state.fileType = text(row, "tm_filetype");
    state.sheetName = text(row, "tm_shttblname");
    state.columnCount = qint16(row.value(QStringLiteral("tm_noofcols")).toInt());
    if (flag(row, "tm_defaultfolder")) {
        state.defaultFolder = true;
        state.folderEntryId = text(row, "tm_entryid");
        state.folderStoreId = text(row, "tm_storeid");
        state.folderName = text(row, "tm_foldername");
    } else {
        state.defaultFolder = false;
    }
    if (flag(row, "tm_customform")) {
        state.customForm = true;
        state.templateFieldCount = qint16(row.value(QStringLiteral("tm_customfields")).toInt());
        state.customFormName = text(row, "tm_customformname");
    } else {
        state.customForm = false;
    }
    state.business.streetLines = flag(row, "tm_combbaddr");
    state.mailing.streetLines = flag(row, "tm_combmaddr");
    state.home.streetLines = flag(row, "tm_combhaddr");
    state.other.streetLines = flag(row, "tm_comboaddr");
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
        row.setValue(QStringLiteral("tm_desc"), state.templateName);
        row.setValue(QStringLiteral("tm_shttblname"), state.sheetName);
        row.setValue(QStringLiteral("tm_filetype"), fileType);
        row.setValue(QStringLiteral("tm_noofcols"), int(list.size()));
        // The form of the folder the template names now; a plain folder, or none, has no custom form.
        const bool customForm = state.defaultFolder && state.customForm;
        row.setValue(QStringLiteral("tm_customform"), customForm);
        row.setValue(QStringLiteral("tm_customformname"),
                     customForm ? state.customFormName : QString(QLatin1String("")));
        row.setValue(QStringLiteral("tm_customfields"), customForm ? int(state.customFieldCount) : 0);
        row.setValue(QStringLiteral("tm_combbaddr"), state.business.streetLines);
        row.setValue(QStringLiteral("tm_combmaddr"), state.mailing.streetLines);
        row.setValue(QStringLiteral("tm_combhaddr"), state.home.streetLines);
        row.setValue(QStringLiteral("tm_comboaddr"), state.other.streetLines);
        if (fileType == QLatin1String("XLH") || fileType == QLatin1String("CSH"))
            row.setValue(QStringLiteral("tm_hdrsyn"), true);
        else if (fileType == QLatin1String("XLN") || fileType == QLatin1String("CSN"))
            row.setValue(QStringLiteral("tm_hdrsyn"), false);
        else
            services.boxes().show(QStringLiteral("Unknown File Type"));
        if (state.defaultFolder) {
            row.setValue(QStringLiteral("tm_defaultfolder"), true);
            row.setValue(QStringLiteral("tm_storeid"), state.folderStoreId);
            row.setValue(QStringLiteral("tm_entryid"), state.folderEntryId);
            row.setValue(QStringLiteral("tm_foldername"), state.folderName);
        } else {
            row.setValue(QStringLiteral("tm_defaultfolder"), false);
            row.setValue(QStringLiteral("tm_storeid"), QString(QLatin1String("")));
            row.setValue(QStringLiteral("tm_entryid"), QString(QLatin1String("")));
            row.setValue(QStringLiteral("tm_foldername"), QString(QLatin1String("")));
        }
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
