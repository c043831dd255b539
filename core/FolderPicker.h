#pragma once

#include <memory>

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
};
