#pragma once

#include <QString>

struct AppState;
struct Services;

// What an undo did with the contacts of a run.
struct UndoCounts {
    int removed = 0;
    int changed = 0; // changed since the run saved them: kept
    int gone = 0;    // no longer there
};

// Undoes the import run runId: removes each contact it created that is unchanged since, from
// the run's folder through the contact store in AppState, and marks the run undone. A run undone
// before changes nothing. False, after its message, when the run is unknown or its folder cannot
// be opened; a contact that cannot be removed stops the undo there, the run not marked.
bool UndoImportRun(AppState &state, Services &services, const QString &runId, UndoCounts &counts);
