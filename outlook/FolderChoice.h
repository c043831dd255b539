#pragma once

#include "outlook/ContactStore.h"

#include <QString>

struct AppState;
struct Services;

// The folder picker: the open stores and their folders.
class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    // The chosen folder, or nullptr when the user cancels.
    virtual std::shared_ptr<outlook::Folder> pickFolder(outlook::Namespace &ns) = 0;
};

// The custom form information window: shows customFormNotice and userDefinedFields and sets
// useCustomFolder from the user's answer.
class CustomFormPrompt {
public:
    virtual ~CustomFormPrompt() = default;
    virtual void ask(AppState &state) = 0;
};

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
