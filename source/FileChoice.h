#pragma once

#include <QString>

struct AppState;
struct Services;

// The open-file dialog.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen file's full path, or "" when the dialog was cancelled.
    virtual QString getOpenFileName(const QString &filter) = 0;
};

// Asks for the source file of a file type (code or list text) until one is chosen or the user
// confirms that none is wanted. Sets filePath and fileTitle.
bool ChooseSourceFile(AppState &state, Services &services, const QString &callerCaption, const QString &fileType);
