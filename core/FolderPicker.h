#pragma once

#include "core/AppState.h"

#include <memory>
#include <optional>

namespace outlook {
class Folder;
class Namespace;
} // namespace outlook

// The folder picker: the open stores and their folders.
class FolderPicker {
public:
    virtual ~FolderPicker() = default;
    // The chosen folder, or nullptr when the user cancels.
    virtual std::shared_ptr<outlook::Folder> pickFolder(outlook::Namespace &ns) = 0;
    // What to do with the people the folder holds already, where the picker asks it: the
    // choice shown first, and the one made with the folder.
    virtual void offerDuplicatePolicy(DuplicatePolicy) {}
    virtual std::optional<DuplicatePolicy> chosenDuplicatePolicy() const { return std::nullopt; }
};
