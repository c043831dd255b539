#pragma once

#include "core/AppState.h"

#include <QString>

class MappingGrid;
struct Services;

// Labels of the counters, as the progress window and the batch importer show them.
QString ImportCounterLabel(ImportCounter counter);

// A run saves its contacts in batches of this many, each made to last as a whole before its
// contacts count (and before any question of the run, and at its end). Each batch takes two
// syncs of the file system, 30 ms or more: measured on ext4 (bench/run) while the run still
// waited for them, a 100,000-row import waited 3.5 s in batches of 1000, 2.7 s in batches of 2000
// and 1.7 s in batches of 5000, against 1.3 s for syncing once at its end. As a batch is made to last while the next one
// is written, a run that is killed loses the counting of at most twice this many contacts and
// leaves at most as many temporary files, which the next one removes.
constexpr int kContactsPerBatch = 5000;

// Where the row loop shows its progress: the progress window, or a terminal.
class ImportProgress {
public:
    virtual ~ImportProgress() = default;
    virtual void showTotal(int rows) = 0;
    virtual void showRowNumber(int row) = 0;
    virtual void showCounter(ImportCounter counter, int value) = 0;
    // The rows skipped or the contacts updated as the folder held their person already.
    virtual void showDuplicates(DuplicatePolicy, int) {}
    // Brings what is shown up to date at once; the run calls it before each of its questions.
    virtual void showNow() {}
};

// Reads the template (templateName), lets the user choose the input file and checks that its
// columns are the template's, by number and by name (letter case counts). On success the rows
// are kept in AppState and the grid holds the template's mapping; True.
bool VerifyInputFile(AppState &state, Services &services, MappingGrid &grid, const QString &callerCaption);

// Before a run: a fresh contact store connection when the template names no folder, then the
// folder choice. False when no folder was chosen.
bool PrepareImportRun(AppState &state, Services &services);

// The row loop: one contact per source row with data, into the chosen folder. True when it ran
// to the last row; False when it was aborted (after its message) or could not start.
bool CreateContacts(AppState &state, Services &services, const MappingGrid &grid, ImportProgress &progress);

// Ends a run: the contact store connection is released.
void ReleaseContactConnection(AppState &state);
