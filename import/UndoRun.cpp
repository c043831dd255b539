#include "import/UndoRun.h"

#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "outlook/ContactStore.h"
#include "store/ImportJournal.h"

bool UndoImportRun(AppState &state, Services &services, const QString &runId, UndoCounts &counts)
{
    counts = UndoCounts();
    try {
        const QList<ImportRunRecord> runs = ImportRuns(state.connection);
        const auto run = std::find_if(runs.begin(), runs.end(), [&](const auto &r) { return r.id == runId; });
        if (run == runs.end()) {
            services.boxes().show(QStringLiteral("There is no import run ") + runId + QStringLiteral("."));
            return false;
        }
        if (run->outcome == QLatin1String("undone"))
            return true;
        const std::shared_ptr<outlook::Folder> folder = state.outlookNamespace->GetFolderFromID(run->entryId);
        for (const ImportRunContact &contact : ImportRunContacts(state.connection, runId)) {
            switch (folder->RemoveIfUnchanged(contact.uid, contact.stamp)) {
            case outlook::RemoveOutcome::Removed:
                ++counts.removed;
                break;
            case outlook::RemoveOutcome::Changed:
                ++counts.changed;
                break;
            case outlook::RemoveOutcome::Gone:
                ++counts.gone;
                break;
            }
        }
        folder->SyncRemovals();
        MarkImportRunUndone(state.connection, runId);
        return true;
    } catch (const std::exception &e) {
        ReportError(services.boxes(), TrappedError(e));
        return false;
    }
}
