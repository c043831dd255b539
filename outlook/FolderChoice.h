#pragma once

#include "outlook/ContactStore.h"

#include "core/CustomFormPrompt.h"
#include "core/FolderPicker.h"
#include <QString>

struct AppState;
struct Services;

// The name shown for a user-defined field type: "Text", "Numbers", ... or "Unknown <n>".
QString UserFieldTypeName(int type);

// Makes the contact store connection when there is none. False after a reported failure.
bool EnsureContactConnection(AppState &state, Services &services);

// Lets the user pick a contact folder and, for one whose items use a custom form, decide
// whether to use it. Records the folder and its form in AppState.
bool ChooseContactFolder(AppState &state, Services &services);

// Lists the user-defined fields of a blank item of the folder's form, and for a custom form
// builds the notice shown with them.
void ListUserDefinedFields(AppState &state, const outlook::UserProperties &fields);
