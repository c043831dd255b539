#pragma once

#include "store/MappingRow.h"

#include <QString>

struct AppState;
struct Services;

// Whole operations on one template, each kept together or not at all: what the template
// editor does when the user saves, deletes or opens a template. Every failure is shown to the
// user before the operation returns.

// The stored template open in the editor: a save in place writes this one and no other.
struct OpenedTemplate {
    QString id;   // tm_id, the name of its mapping table; empty while none is open
    QString name; // tm_desc as it was opened
};

// What is saved. The sheet, the folder and its custom form are the ones AppState holds now;
// the street flags are the ones AppState holds (the editor sets them from the rows first).
struct TemplateDraft {
    QString name;     // the name of a new template; a save in place keeps the opened one's
    QString fileType; // "CSH", "CSN", "XLH" or "XLN"
    MappingRows rows;
};

enum class SaveOutcome {
    Saved,
    NameRefused, // a new template's name is empty, too long or taken
    NotSaved,    // nothing was open to save in place, or the store failed
};

// Saves a new template (opened == nullptr): the name is checked, the template counter raised,
// the mapping table created and filled and the index row added. Or saves in place the template
// that was opened, by its id and name whatever AppState holds now: its rows rewritten and its
// index row updated. Nothing of a failed save stays in the store.
SaveOutcome SaveTemplate(AppState &state, Services &services, const TemplateDraft &draft, const OpenedTemplate *opened);

// Deletes the template under the index record: its index row and its mapping table together.
bool DeleteOpenTemplate(AppState &state, Services &services);

enum class OpenOutcome {
    Missing,        // no template by this name (or the store failed): AppState is as it was
    RowsUnreadable, // its values are in AppState, its mapping rows could not be opened
    Opened,         // its values are in AppState and its mapping rows open in mappingRecords
};

// Reads the template by this name into AppState, its folder choice and custom form included,
// and opens its mapping rows.
OpenOutcome OpenTemplate(AppState &state, Services &services, const QString &name);

// Sets the street flags of the four addresses from the rows' keys: an address whose lines are
// mapped joins them at import; one whose full street is mapped refuses its lines.
void SetStreetFlags(AppState &state, const MappingRows &rows);
