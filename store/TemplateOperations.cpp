#include "store/TemplateOperations.h"

#include "catalog/MappingKey.h"
#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "store/StoreTransaction.h"
#include "store/TemplateRecords.h"
#include "store/TemplateStore.h"

namespace {

// A new template needs a name of at most 30 characters.
bool nameAccepted(Services &services, const QString &name)
{
    if (name.isEmpty()) {
        services.boxes().show(QStringLiteral("Please Enter a Description for this new template"));
        return false;
    }
    if (name.size() >= 31) {
        services.boxes().show(QStringLiteral("Template Name cannot exceed 30 characters"));
        return false;
    }
    return true;
}

} // namespace

SaveOutcome SaveTemplate(AppState &state, Services &services, const TemplateDraft &draft, const OpenedTemplate *opened)
{
    if (!opened) {
        if (!nameAccepted(services, draft.name))
            return SaveOutcome::NameRefused;
        state.editPending = true; // the entries stay unsaved until the save is whole
    } else if (opened->id.isEmpty()) {
        return SaveOutcome::NotSaved; // no stored template is open: there is nothing to save in place
    }
    // The counter, the table, its rows and the index row are kept together or not at all.
    try {
        StoreTransaction transaction(state);
        if (!opened) {
            state.templateName = draft.name;
            if (!FindTemplate(state, services, FindMode::Check))
                return SaveOutcome::NameRefused;
            state.loadMode = LoadMode::Add;
            AllocateTemplateTable(state);
            CreateTemplateTable(state, state.mappingTable);
        } else {
            state.loadMode = LoadMode::Update;
            state.mappingTable = opened->id;
            state.templateName = opened->name;
            ReopenTemplateRecords(state);
        }
        if (WriteMappingRows(state, services, draft.rows, state.loadMode) &&
            WriteTemplateIndex(state, services, state.loadMode, draft.fileType, draft.rows)) {
            transaction.commit();
            return SaveOutcome::Saved;
        }
    } catch (const std::exception &e) {
        ReportError(services.boxes(), TrappedError(e));
    }
    return SaveOutcome::NotSaved; // the store has said why
}

bool DeleteOpenTemplate(AppState &state, Services &services)
{
    try {
        StoreTransaction transaction(state);
        const QString id = Records(state).indexRecord.value(QStringLiteral("tm_id")).toString();
        if (DeleteTemplate(state, services, id)) {
            transaction.commit();
            return true;
        }
    } catch (const std::exception &e) {
        ReportError(services.boxes(), TrappedError(e));
    }
    return false;
}

OpenOutcome OpenTemplate(AppState &state, Services &services, const QString &name)
{
    state.templateName = name;
    try {
        if (!FindTemplate(state, services, FindMode::Read))
            return OpenOutcome::Missing;
    } catch (const std::exception &e) {
        ReportError(services.boxes(), TrappedError(e));
        return OpenOutcome::Missing;
    }
    state.customFieldCount = state.customForm ? state.templateFieldCount : 0;
    if (state.defaultFolder) {
        state.suppressFolderChoice = true; // the stored folder is shown, not chosen again
    } else {
        state.folderName.clear();
        state.folderStoreId.clear();
    }
    if (!OpenTemplateTable(state, services))
        return OpenOutcome::RowsUnreadable;
    state.loadMode = LoadMode::Update;
    return OpenOutcome::Opened;
}

void SetStreetFlags(AppState &state, const MappingRows &rows)
{
    state.street.fill({});
    for (const MappingRow &row : rows) {
        const MappingKey::Parsed parsed = MappingKey::parse(row.key);
        if (parsed.kind == MappingKey::Kind::StreetLine)
            state.street[parsed.address].streetLines = true;
        else if (parsed.kind == MappingKey::Kind::FullStreet)
            state.street[parsed.address].fullStreet = true;
    }
}
