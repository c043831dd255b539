#include "source/MappingGrid.h"

#include "catalog/FieldCatalog.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "source/CReadFile.h"
#include "source/FileTypes.h"
#include "store/TemplateRecords.h"

namespace {

bool digitsOnly(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (!c.isDigit())
            return false;
    return true;
}

void showHeadersMessage(Services &services)
{
    services.boxes().show(QStringLiteral("The file you have selected does not have valid names ") + kCrLf +
                              QStringLiteral("in the first line of the file. Select a file type that ") + kCrLf +
                              QStringLiteral("is not designated as having <Headers>") + kCrLf +
                              QStringLiteral("This process is being cancelled"),
                          MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Critical,
                          QStringLiteral("Retrieving Sample Input File"));
}

} // namespace

void MappingGrid::addRow(const MappingRow &row)
{
    if (digitsOnly(row.sourceColumnName))
        throw AppError(kErrInvalidKey, QStringLiteral("Invalid key: %1").arg(row.sourceColumnName));
    if (find(row.sourceColumnName) >= 0)
        throw AppError(kErrKeyNotUnique,
                       QStringLiteral("Key is not unique in collection: the column name '%1' stands twice.")
                           .arg(row.sourceColumnName));
    appendRow(row);
}

void MemoryMappingGrid::setMapping(int index, const QString &displayName, const QString &key)
{
    m_rows[index].displayName = displayName;
    m_rows[index].key = key;
}

int MemoryMappingGrid::find(const QString &columnName) const
{
    for (int i = 0; i < m_rows.size(); ++i)
        if (m_rows[i].sourceColumnName == columnName)
            return i;
    return -1;
}

bool LoadMappingGrid(AppState &state, Services &services, MappingGrid &grid, const QString &fileType)
{
    try {
        grid.clear();
        if (state.loadMode == LoadMode::Add) {
            CReadFile reader;
            std::unique_ptr<SourceTable> table;
            switch (FileTypeCode::family(fileType)) {
            case FileTypeCode::Family::Text:
                table = reader.Read_TextFile(state.filePath, state.fileTitle, fileType);
                break;
            case FileTypeCode::Family::Excel:
                table = reader.Read_Excel(state.filePath, state.sheetName, fileType);
                break;
            default:
                break;
            }
            if (!table)
                throw AppError(ErrorCode::ObjectMissing,
                               QStringLiteral("The file '%1' could not be read as the file type '%2'.")
                                   .arg(state.filePath, fileType));
            for (int i = 0; i < table->fieldCount(); ++i)
                grid.addRow(MappingRow{i + 1, table->fieldName(i), QString(), QString()});
            AutoMapByName(services, grid);
        } else {
            DataAccess::RecordSet &rows = Records(state).mappingRecords;
            rows.moveFirst();
            for (; !rows.eof(); rows.moveNext())
                grid.addRow(MappingRow{rows.value(QStringLiteral("tmp_srccolnum")).toInt(),
                                       rows.value(QStringLiteral("tmp_srccolname")).toString(),
                                       rows.value(QStringLiteral("tmp_dispcolname")).toString(),
                                       rows.value(QStringLiteral("tmp_olkey")).toString()});
        }
        return true;
    } catch (const std::exception &e) {
        const ErrorInfo error = TrappedError(e);
        if (error.number == MappingGrid::kErrInvalidKey)
            showHeadersMessage(services);
        else
            ReportError(services.boxes(), error);
        return false;
    }
}

bool AutoMapByName(Services &services, MappingGrid &grid)
{
    try {
        const QList<CatalogNode> &nodes = FieldCatalog::nodes();
        for (int i = 0; i < grid.rowCount(); ++i) {
            const QString name = grid.row(i).sourceColumnName;
            for (const CatalogNode &node : nodes) {
                if (node.text == name && !FieldCatalog::isGroupKey(node.key)) { // a group is no field
                    grid.setMapping(i, node.text, node.key);
                    break;
                }
            }
        }
        return true;
    } catch (const std::exception &e) {
        ReportFileError(services.boxes(), TrappedError(e));
        return false;
    }
}
